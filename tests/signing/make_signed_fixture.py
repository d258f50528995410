"""Builds the signed-update tests' server files from the pipeline fixture's
version 7 and the test keys that the build tree made for itself.

    make_signed_fixture.py TOOL_DIR PIPELINE_FIXTURE KEY_DIR OUT_DIR

OUT_DIR afterwards:
    manifests/<case>.zip   manifest archives of version 7's manifest (see
                           manifest_cases); the tests serve one in place of
                           the release's own ProgramConfig.zdb.zip
    unpacked/<case>/       the manifest and signature of each case, unpacked
    attack/new.txt.zip     an attacker's new.txt, listed by manifests/attack.zip
    attack/ProgramConfig.zdb-journal
                           a hot rollback journal whose pages make version 7's
                           manifest the attack manifest when SQLite replays it
    archives/<case>.zip    archives of bin/x.dll (and change_a.bin) with a
                           second entry or another name
    keys/<key>.eccprivate  each test key as a CNG private key blob, for test
                           programs that sign (a new version.ini, say)
The test keys: KEY_DIR/{first,second}.private.pem are built into the test
programs, KEY_DIR/outsider.private.pem is not.
"""

import os
import shutil
import struct
import sys
import tempfile
import warnings
import zipfile

MANIFEST = "ProgramConfig.zdb"


def zip_entries(path, entries):
    """Writes an archive with (name, bytes) entries in order."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    warnings.simplefilter("ignore", UserWarning)  # a name written twice is the point of a case
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            archive.writestr(zipfile.ZipInfo(name, (2024, 1, 1, 0, 0, 0)), data)


def manifest_bytes(manifest, rows, servers, version):
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, MANIFEST)
        manifest.write_manifest(path, rows, servers, 0 if version is None else version)
        if version is None:
            import sqlite3
            connection = sqlite3.connect(path)
            with connection:
                connection.execute("DELETE FROM ProgramVersion")
            connection.close()
        with open(path, "rb") as f:
            return f.read()


def read_rows(path):
    import sqlite3
    connection = sqlite3.connect(path)
    rows = connection.execute("SELECT SectionName, SHA1 FROM FileVersion").fetchall()
    connection.close()
    return [(name, bytes(digest)) for name, digest in rows]


def write_private_blob(signing, pem, path):
    """The key of `pem` as CNG's BCRYPT_ECCPRIVATE_BLOB (magic "ECS2", 32,
    then X, Y and d), so that test programs sign with CNG as the release
    tool signs with openssl."""
    der = signing._openssl(["ec", "-in", pem, "-outform", "DER"])  # SEC1 ECPrivateKey
    _, start, end = signing._der_item(der, 0)
    parts = signing._der_children(der, start, end)
    secret = der[parts[1][1]:parts[1][2]].rjust(32, b"\0")
    tagged = [p for p in parts if p[0] == 0xA1][0]
    _, bits_start, bits_end = signing._der_item(der, tagged[1])
    point = der[bits_start:bits_end][2:]  # unused-bits byte and 0x04
    assert len(secret) == 32 and len(point) == 64, pem
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"ECS2" + (32).to_bytes(4, "little") + point + secret)


def hot_journal(database):
    """A rollback journal, as SQLite leaves one when a transaction is cut off,
    that holds every page of `database`: replaying it turns whatever file it
    lies beside into `database`."""
    page_size = struct.unpack(">H", database[16:18])[0]
    page_size = 65536 if page_size == 1 else page_size
    pages = len(database) // page_size
    nonce, sector = 0x5EC0DE01, 512
    header = bytes.fromhex("d9d505f920a163d7") + struct.pack(">IIIII", pages, nonce, pages, sector, page_size)
    records = [header.ljust(sector, b"\0")]
    for number in range(pages):
        page = database[number * page_size:(number + 1) * page_size]
        checksum = nonce
        for at in range(page_size - 200, 0, -200):
            checksum = (checksum + page[at]) & 0xFFFFFFFF
        records.append(struct.pack(">I", number + 1) + page + struct.pack(">I", checksum))
    return b"".join(records)


def main(tool, pipeline, keys, out):
    shutil.rmtree(out, ignore_errors=True)
    sys.path.insert(0, tool)
    import digests  # noqa: E402  (the release tool's own writers)
    import manifest  # noqa: E402
    import signing  # noqa: E402

    def sign(data, key):
        return signing.sign_bytes(data, os.path.join(keys, key + ".private.pem"))

    with open(os.path.join(pipeline, "v2", "manifest", MANIFEST), "rb") as f:
        v7 = f.read()
    rows = read_rows(os.path.join(pipeline, "v2", "manifest", MANIFEST))
    servers = ["http://localhost/a/b/"]

    tampered = bytearray(v7)
    at = tampered.find(b"http://localhost/a/b/")
    assert at >= 0, "the server row was not found in the manifest"
    tampered[at + len("http://localhost/a/")] ^= 0x02  # "b" becomes "`": one changed byte

    evil = b"an attacker's program\n"
    attack_rows = [(n, digests.bytes_digest(evil) if n == "new.txt" else d) for n, d in rows]
    attack = manifest_bytes(manifest, attack_rows, servers, 7)
    older = manifest_bytes(manifest, rows, servers, 5)
    no_version = manifest_bytes(manifest, rows, servers, None)
    first = sign(v7, "first")
    sig = MANIFEST + ".sig"

    cases = {
        "first": [(MANIFEST, v7), (sig, first)],
        "second": [(MANIFEST, v7), (sig, sign(v7, "second"))],
        "signature_first": [(sig, first), (MANIFEST, v7)],
        "outsider": [(MANIFEST, v7), (sig, sign(v7, "outsider"))],
        "unsigned": [(MANIFEST, v7)],
        "tampered": [(MANIFEST, bytes(tampered)), (sig, first)],
        "truncated": [(MANIFEST, v7), (sig, first[:63])],
        "extra_entry": [(MANIFEST, v7), (sig, first), ("bin/x.dll", b"planted")],
        "older": [(MANIFEST, older), (sig, sign(older, "first"))],
        "no_version": [(MANIFEST, no_version), (sig, sign(no_version, "first"))],
        "attack": [(MANIFEST, attack), (sig, first)],
    }
    for case, entries in cases.items():
        zip_entries(os.path.join(out, "manifests", case + ".zip"), entries)
        unpacked = os.path.join(out, "unpacked", case)  # the same files, for the check alone
        os.makedirs(unpacked)
        for name, data in entries:
            if "/" not in name:
                with open(os.path.join(unpacked, name), "wb") as f:
                    f.write(data)
    zip_entries(os.path.join(out, "attack", "new.txt.zip"), [("new.txt", evil)])
    with open(os.path.join(out, "attack", MANIFEST + "-journal"), "wb") as f:
        f.write(hot_journal(attack))

    with open(os.path.join(pipeline, "v2", "source", "bin", "x.dll"), "rb") as f:
        x = f.read()
    archives = {
        "another_name": [("x.dll", x), ("other.txt", b"other")],
        "climbing_name": [("x.dll", x), ("../climbed.txt", b"climbed")],
        "manifest_name": [("x.dll", x), (MANIFEST, b"not the manifest")],
        "manifest_name_first": [(MANIFEST, b"not the manifest"), ("x.dll", x)],
        "twice": [("x.dll", x), ("x.dll", x)],
        "folder_and_file": [("sub/", b""), ("x.dll", x)],
        "path_of_the_name": [("bin/x.dll", x)],
        "other_case": [("X.DLL", x)],
        "only_the_file": [("x.dll", x)],
    }
    with open(os.path.join(pipeline, "v2", "source", "change_a.bin"), "rb") as f:
        change_a = f.read()
    # Served in place of version 7's change_a.bin.zip: its second entry would
    # land on the open manifest in the download folder. Part of the file
    # keeps the archive within the listed archive size, so that it is
    # downloaded and refused when it is unpacked.
    archives["change_a_with_manifest"] = [("change_a.bin", change_a[:1000]), (MANIFEST, b"planted manifest")]
    for case, entries in archives.items():
        zip_entries(os.path.join(out, "archives", case + ".zip"), entries)
    for key in ("first", "second", "outsider"):
        write_private_blob(signing, os.path.join(keys, key + ".private.pem"),
                           os.path.join(out, "keys", key + ".eccprivate"))
    open(os.path.join(out, "stamp"), "w").close()


if __name__ == "__main__":
    main(*sys.argv[1:5])
