#!/usr/bin/env python3
"""Writes the release bundle velisk-<version>.zip from two built trees.

    make_bundle.py [--i686 TREE] [--x86_64 TREE] [--out DIR] [signing options]

The 32-bit Update.exe, Haltrix.exe, Lockscan.dll and Vantor.dll come from the
i686 tree, the 64-bit Pellix.dll from the x86_64 tree. Each binary's debug
information is split off into symbols/<name>.debug (objcopy --only-keep-debug),
the shipped copy is stripped and given a debug link to that file, and, when a
certificate is given, signed with scripts/sign.sh. The bundle also holds
Pellix's registration sample and notes, the release tool and a README for the
publisher. Nothing is written into DIR unless every step succeeded.

Manifest keys: --manifest-keys a.pem,b.pem (or VELISK_MANIFEST_PUBLIC_KEYS,
comma- or ;-separated) names the publisher's public keys; the i686 Update.exe
must carry exactly that key table (scripts/bundle.sh builds it so), and the
README lists each key's SHA-256 fingerprint. Without keys no bundle is made
unless --unsigned-manifests is given: the zip is then named
velisk-<version>-unsigned-manifests.zip and its Update.exe checks no manifest.

Signing: --pfx FILE or --cert PEM --key PEM, with --password-file,
--timestamp URL (may be empty) and --verify-ca PEM passed on to sign.sh; the
environment variables VELISK_SIGN_PFX, VELISK_SIGN_CERT, VELISK_SIGN_KEY,
VELISK_SIGN_PASSWORD_FILE and VELISK_SIGN_TIMESTAMP give the same.
"""

import argparse
import base64
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# (arch, file in <tree>/bin, folder in the bundle)
BINARIES = (
    ("i686", "Update.exe", "x86"),
    ("i686", "Haltrix.exe", "x86"),
    ("i686", "Lockscan.dll", "x86"),
    ("i686", "Vantor.dll", "x86"),
    ("x86_64", "Pellix.dll", "x64"),
)
# (file in the source tree, path in the bundle)
DOCUMENTS = (
    ("pellix/Pellix.reg", "x64/Pellix.reg"),
    ("pellix/REGISTRATION.md", "x64/REGISTRATION.md"),
)
RELEASE_TOOL = "tools/make_release"
KEY_TOOL = os.path.join(REPO, "tools", "make_release")
README_TEMPLATE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "README.txt.in")


class BundleError(Exception):
    pass


def run(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        raise BundleError("%s failed:\n%s" % (" ".join(command), result.stdout))
    return result.stdout


def tree_version(tree):
    path = os.path.join(tree, "velisk_version.txt")
    if not os.path.isfile(path):
        raise BundleError("%s is not a configured build tree (no velisk_version.txt); "
                          "run scripts/configure.sh first" % tree)
    with open(path, encoding="utf-8") as f:
        return f.read().strip()


def pe_triplet(path):
    """The MinGW-w64 tool prefix for the machine of the PE file at `path`."""
    with open(path, "rb") as f:
        header = f.read(4096)
    if header[:2] != b"MZ":
        raise BundleError("%s is not a Windows binary" % path)
    pe = struct.unpack_from("<I", header, 0x3C)[0]
    machine = struct.unpack_from("<H", header, pe + 4)[0] if pe + 6 <= len(header) else 0
    triplets = {0x14C: "i686-w64-mingw32", 0x8664: "x86_64-w64-mingw32"}
    if header[pe:pe + 4] != b"PE\0\0" or machine not in triplets:
        raise BundleError("%s is not a 32- or 64-bit x86 Windows binary" % path)
    return triplets[machine]


def split_debug_info(source, shipped, debug_file):
    """Keeps the debug information of `source` in `debug_file` and writes a
    stripped copy to `shipped` that names `debug_file` in its debug link."""
    objcopy = pe_triplet(source) + "-objcopy"
    run([objcopy, "--only-keep-debug", source, debug_file])
    run([objcopy, "--strip-all", "--add-gnu-debuglink=" + debug_file, source, shipped])


def release_tool_files():
    folder = os.path.join(REPO, RELEASE_TOOL)
    names = sorted(n for n in os.listdir(folder) if n.endswith(".py"))
    if "__main__.py" not in names:
        raise BundleError("the release tool is missing from %s" % folder)
    return [(os.path.join(folder, n), "tools/make_release/" + n) for n in names]


def manifest_key_files(args):
    """The publisher's public key files (absolute paths), from --manifest-keys
    or VELISK_MANIFEST_PUBLIC_KEYS; an empty list when none are named."""
    text = args.manifest_keys if args.manifest_keys is not None else os.environ.get("VELISK_MANIFEST_PUBLIC_KEYS", "")
    return [os.path.abspath(p.strip()) for p in text.replace(";", ",").split(",") if p.strip()]


def key_points(pems):
    """X || Y of each key, in order; BundleError for a file that is not an
    ECDSA P-256 public key."""
    sys.path.insert(0, KEY_TOOL)
    import signing  # noqa: E402  (the release tool's key reader)
    try:
        return [signing.public_point_from_pem(p) for p in pems]
    except (signing.SigningError, OSError, ValueError) as error:  # ValueError: not even text
        raise BundleError("manifest key: %s" % error)


def key_fingerprint(pem):
    """SHA-256 of the key's DER SubjectPublicKeyInfo, as
    openssl pkey -pubin -in KEY -outform DER | sha256sum prints it."""
    with open(pem, encoding="ascii") as f:
        body = f.read().split("-----BEGIN PUBLIC KEY-----", 1)[1].split("-----END PUBLIC KEY-----", 1)[0]
    return hashlib.sha256(base64.b64decode("".join(body.split()))).hexdigest()


def carries_key_table(binary, points):
    """True when the binary holds the key table built from exactly these keys
    in this order (the generated table is their points back to back)."""
    with open(binary, "rb") as f:
        return b"".join(points) in f.read()


def key_lines(pems):
    if not pems:
        return ("NONE. This Update.exe was built without manifest keys\n"
                "(--unsigned-manifests): it installs whatever manifest a server sends.")
    return "\n".join("%d. %s  SHA-256 %s" % (i + 1, os.path.basename(p), key_fingerprint(p))
                     for i, p in enumerate(pems))


def write_readme(path, version, pems):
    with open(README_TEMPLATE, encoding="utf-8") as f:
        text = f.read().replace("@VERSION@", version).replace("@MANIFEST_KEYS@", key_lines(pems))
    with open(path, "w", encoding="utf-8", newline="\r\n") as f:
        f.write(text)


def signing_command(args):
    """The sign.sh command line without the files, or None when no
    certificate is configured."""
    pfx = args.pfx or os.environ.get("VELISK_SIGN_PFX", "")
    cert = args.cert or os.environ.get("VELISK_SIGN_CERT", "")
    key = args.key or os.environ.get("VELISK_SIGN_KEY", "")
    if not (pfx or cert or key):
        return None
    command = ["bash", os.path.join(REPO, "scripts", "sign.sh")]
    if pfx:
        command += ["--pfx", pfx]
    else:
        command += ["--cert", cert, "--key", key]
    password_file = args.password_file or os.environ.get("VELISK_SIGN_PASSWORD_FILE", "")
    if password_file:
        command += ["--password-file", password_file]
    timestamp = args.timestamp if args.timestamp is not None else os.environ.get("VELISK_SIGN_TIMESTAMP", "")
    command += ["--timestamp", timestamp]
    if args.verify_ca:
        command += ["--verify-ca", args.verify_ca]
    return command


def stage(args, version, staging, pems):
    trees = {"i686": args.i686, "x86_64": args.x86_64}
    shipped = []
    for arch, name, folder in BINARIES:
        source = os.path.join(trees[arch], "bin", name)
        if not os.path.isfile(source):
            raise BundleError("%s is not built (build the %s tree: scripts/configure.sh %s)" % (source, arch, arch))
        os.makedirs(os.path.join(staging, folder), exist_ok=True)
        os.makedirs(os.path.join(staging, "symbols"), exist_ok=True)
        target = os.path.join(staging, folder, name)
        split_debug_info(source, target, os.path.join(staging, "symbols", name + ".debug"))
        shipped.append(target)
    sign = signing_command(args)
    if sign:
        print(run(sign + shipped).strip())
    else:
        print("bundle: no certificate configured; the binaries are NOT signed", file=sys.stderr)
    for source, inside in list(DOCUMENTS) + release_tool_files():
        target = os.path.join(staging, *inside.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(REPO, source), target)
    write_readme(os.path.join(staging, "README.txt"), version, pems)


def write_zip(staging, top, zip_path):
    entries = []
    for root, _, files in os.walk(staging):
        for name in files:
            full = os.path.join(root, name)
            entries.append((os.path.relpath(full, staging).replace(os.sep, "/"), full))
    entries.sort()
    with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as z:
        for inside, full in entries:
            z.write(full, top + "/" + inside)
    return [(inside, os.path.getsize(full)) for inside, full in entries]


def check_manifest_keys(args, pems):
    """Refuses a bundle whose Update.exe would check no manifest signature
    unless that is asked for, and one whose Update.exe does not carry the
    named keys."""
    if pems and args.unsigned_manifests:
        raise BundleError("--unsigned-manifests and manifest keys exclude each other")
    if not pems:
        if not args.unsigned_manifests:
            raise BundleError("no manifest signing key: name the publisher's public keys with "
                              "--manifest-keys a.pem,b.pem (or VELISK_MANIFEST_PUBLIC_KEYS); a bundle whose "
                              "Update.exe checks no manifest signature is made only with --unsigned-manifests")
        print("bundle: --unsigned-manifests: this Update.exe checks NO manifest signature", file=sys.stderr)
        return
    points = key_points(pems)
    update = os.path.join(args.i686, "bin", "Update.exe")
    if os.path.isfile(update) and not carries_key_table(update, points):
        raise BundleError("%s does not carry the key table of %s: build the i686 tree with these keys "
                          "(scripts/bundle.sh --manifest-keys ... does)" % (update, ", ".join(pems)))


def main():
    parser = argparse.ArgumentParser(description="writes the release bundle velisk-<version>.zip")
    parser.add_argument("--i686", default=os.path.join(REPO, "build", "i686"), help="i686 build tree")
    parser.add_argument("--x86_64", default=os.path.join(REPO, "build", "x86_64"), help="x86_64 build tree")
    parser.add_argument("--out", default=os.path.join(REPO, "dist"), help="folder of the zip (default dist/)")
    parser.add_argument("--pfx")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--password-file")
    parser.add_argument("--timestamp", help="RFC 3161 time-stamp URL; empty for none")
    parser.add_argument("--verify-ca", help="check every signature against this CA after signing")
    parser.add_argument("--manifest-keys", help="the publisher's PEM public keys, comma-separated")
    parser.add_argument("--unsigned-manifests", action="store_true",
                        help="make a bundle whose Update.exe checks no manifest signature")
    args = parser.parse_args()
    try:
        pems = manifest_key_files(args)
        check_manifest_keys(args, pems)
        version = tree_version(args.i686)
        other = tree_version(args.x86_64)
        if other != version:
            raise BundleError("the trees were built at different versions: %s (i686), %s (x86_64)" % (version, other))
        top = "velisk-" + version
        os.makedirs(args.out, exist_ok=True)
        zip_path = os.path.join(args.out, top + ("" if pems else "-unsigned-manifests") + ".zip")
        with tempfile.TemporaryDirectory(prefix=".bundle-", dir=args.out) as work:
            staging = os.path.join(work, top)
            stage(args, version, staging, pems)
            partial = os.path.join(work, top + ".zip")
            files = write_zip(staging, top, partial)
            os.replace(partial, zip_path)
    except (BundleError, OSError) as error:
        print("bundle: %s" % error, file=sys.stderr)
        return 1
    print("bundle: wrote %s (%d bytes)" % (zip_path, os.path.getsize(zip_path)))
    for inside, size in files:
        print("  %10d  %s/%s" % (size, top, inside))
    return 0


if __name__ == "__main__":
    sys.exit(main())
