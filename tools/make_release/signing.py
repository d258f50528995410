"""ECDSA P-256 signatures of the manifest, made with the openssl command.

The updater verifies the exact bytes of ProgramConfig.zdb with Windows CNG,
which takes a signature as the raw 64 bytes r || s (each 32 bytes, big-endian)
and a public key as the curve point X, Y. openssl writes and reads DER, so
this module converts between the two; it does no elliptic-curve arithmetic.
"""

import base64
import os
import subprocess

SIGNATURE_SUFFIX = ".sig"
SIGNATURE_BYTES = 64
COORDINATE_BYTES = 32

# DER encodings of the object identifiers of an EC public key on P-256.
_OID_EC_PUBLIC_KEY = bytes.fromhex("2a8648ce3d0201")    # 1.2.840.10045.2.1
_OID_PRIME256V1 = bytes.fromhex("2a8648ce3d030107")     # 1.2.840.10045.3.1.7


class SigningError(Exception):
    pass


def _openssl(args, data=None):
    try:
        done = subprocess.run(["openssl"] + args, input=data, capture_output=True, check=False)
    except FileNotFoundError:
        raise SigningError("the openssl command is needed to sign (Debian package openssl)")
    if done.returncode != 0:
        raise SigningError("openssl %s failed: %s" % (args[0], done.stderr.decode(errors="replace").strip()))
    return done.stdout


def _der_item(data, offset):
    """(tag, content start, content end) of the DER item at `offset`."""
    if offset + 2 > len(data):
        raise SigningError("truncated DER data")
    tag, length = data[offset], data[offset + 1]
    start = offset + 2
    if length & 0x80:
        count = length & 0x7F
        if count == 0 or count > 2 or start + count > len(data):
            raise SigningError("unsupported DER length")
        length = int.from_bytes(data[start:start + count], "big")
        start += count
    end = start + length
    if end > len(data):
        raise SigningError("truncated DER data")
    return tag, start, end


def _der_children(data, start, end):
    items, offset = [], start
    while offset < end:
        item = _der_item(data, offset)
        items.append(item)
        offset = item[2]
    return items


def public_point_from_der(spki):
    """The 64 bytes X || Y of a P-256 SubjectPublicKeyInfo (DER); raises
    SigningError for any other kind of key."""
    tag, start, end = _der_item(spki, 0)
    if tag != 0x30 or end != len(spki):
        raise SigningError("not a public key")
    children = _der_children(spki, start, end)
    if len(children) != 2 or children[0][0] != 0x30 or children[1][0] != 0x03:
        raise SigningError("not a public key")
    algorithm = _der_children(spki, children[0][1], children[0][2])
    oids = [spki[s:e] for t, s, e in algorithm if t == 0x06]
    if oids != [_OID_EC_PUBLIC_KEY, _OID_PRIME256V1]:
        raise SigningError("not an ECDSA P-256 key (the updater verifies P-256 only)")
    bits = spki[children[1][1]:children[1][2]]
    if len(bits) != 2 + 2 * COORDINATE_BYTES or bits[0] != 0 or bits[1] != 0x04:
        raise SigningError("the key's point is not in uncompressed form")
    return bits[2:]


def public_point_from_pem(path):
    """X || Y of the P-256 public key in the PEM file `path` (a public key,
    "BEGIN PUBLIC KEY"). Needs no openssl: the CMake key table uses it."""
    with open(path, "r", encoding="ascii") as f:
        text = f.read()
    begin, end = "-----BEGIN PUBLIC KEY-----", "-----END PUBLIC KEY-----"
    if begin not in text or end not in text:
        raise SigningError("%s: not a PEM public key (BEGIN PUBLIC KEY)" % path)
    body = text.split(begin, 1)[1].split(end, 1)[0]
    try:
        der = base64.b64decode("".join(body.split()), validate=True)
    except ValueError:
        raise SigningError("%s: damaged PEM text" % path)
    try:
        return public_point_from_der(der)
    except SigningError as error:
        raise SigningError("%s: %s" % (path, error))


def raw_signature_from_der(der):
    """r || s (64 bytes) of a DER ECDSA signature (SEQUENCE of two INTEGERs)."""
    tag, start, end = _der_item(der, 0)
    if tag != 0x30 or end != len(der):
        raise SigningError("not a DER signature")
    parts = _der_children(der, start, end)
    if len(parts) != 2 or any(t != 0x02 for t, _, _ in parts):
        raise SigningError("not a DER signature")
    raw = b""
    for _, s, e in parts:
        number = der[s:e].lstrip(b"\x00")
        if len(number) > COORDINATE_BYTES:
            raise SigningError("signature value longer than 32 bytes: not a P-256 signature")
        raw += number.rjust(COORDINATE_BYTES, b"\x00")
    return raw


def check_private_key(private_pem):
    """Raises SigningError unless `private_pem` holds a P-256 private key."""
    spki = _openssl(["pkey", "-in", private_pem, "-pubout", "-outform", "DER"])
    public_point_from_der(spki)


def sign_bytes(data, private_pem):
    """The 64-byte r || s ECDSA P-256 / SHA-256 signature of `data`."""
    check_private_key(private_pem)
    der = _openssl(["dgst", "-sha256", "-sign", private_pem], data)
    return raw_signature_from_der(der)


def sign_file(path, private_pem):
    """Signs the file's exact bytes; writes and returns `path` + ".sig"."""
    with open(path, "rb") as f:
        signature = sign_bytes(f.read(), private_pem)
    signature_path = path + SIGNATURE_SUFFIX
    with open(signature_path, "wb") as f:
        f.write(signature)
    return signature_path


def make_key_pair(prefix):
    """Writes PREFIX.private.pem (readable by its owner only) and
    PREFIX.public.pem; refuses to replace existing files. Returns both paths."""
    private_pem, public_pem = prefix + ".private.pem", prefix + ".public.pem"
    for path in (private_pem, public_pem):
        if os.path.exists(path):
            raise SigningError("%s exists; not replaced" % path)
    key = _openssl(["genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256"])
    folder = os.path.dirname(os.path.abspath(private_pem))
    os.makedirs(folder, exist_ok=True)
    descriptor = os.open(private_pem, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(descriptor, "wb") as f:
        f.write(key)
    public = _openssl(["pkey", "-in", private_pem, "-pubout"])
    with open(public_pem, "wb") as f:
        f.write(public)
    return private_pem, public_pem
