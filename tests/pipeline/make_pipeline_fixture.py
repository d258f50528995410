"""Builds the releases that the pipeline tests update between, with
tools/make_release, plus a few broken server files.

    make_pipeline_fixture.py TOOL_DIR OUT_DIR

OUT_DIR afterwards:
    v1/install/             an installation of version 6: its files, its
                            ProgramConfig.zdb and version.ini
    v2/source/              the client files of version 7
    v2/server/a/b/7/...     version 7 published for the base URL .../a/b/
    v2/manifest/ProgramConfig.zdb   version 7's manifest, unpacked
    bad/<case>/ProgramConfig.zdb.zip    manifest archives whose names leave
                            the installation (see HOSTILE)
    bad/installed_outside.zdb   an installed manifest that also lists
                            "../outside.txt"
    bad/wrong_x.dll.zip     an archive of bin/x.dll whose bytes are not the
                            listed ones (of the listed sizes)
    bad/installed_renamed.zdb   version 6's manifest with the names spelt in
                            other cases and separators ("BIN\\X.DLL")
    bad/unsized/ProgramConfig.zdb.zip   version 7's manifest as a release made
                            before the size columns had it
    bad/bomb_change_a.bin.zip   an archive of change_a.bin, smaller than the
                            listed one, whose entry inflates to 200 MiB
    bad/bomb/ProgramConfig.zdb.zip   a manifest archive whose entry inflates
                            to 300 MiB
    interrupted/v1/install/ and interrupted/v2/server/a/b/7/   a pair of
                            versions whose copy phase takes long enough to be
                            cut off (a large file between small ones)
"""

import os
import random
import shutil
import subprocess
import sys
import zipfile

V1_FILES = {
    "keep.txt": b"kept in both versions\n",
    "change_a.bin": b"A1" * 3000,
    "bin/x.dll": b"x-version-1" * 500,
    "old.txt": b"only version 6 has this\n",
    "sub/keep2.dat": b"second kept file\n",
}

# Hostile manifest names, keyed by the case name the tests use.
HOSTILE = {
    "parent": "../evil.txt",
    "nested_parent": "bin/../../evil.txt",
    "drive": "C:/evil.txt",
    "absolute": "/evil.txt",
    "dots_and_blank": "bin/.. /evil.txt",
}


def big_file(rng, size):
    """Bytes that zip well (a 16 KiB block repeated) but differ per call."""
    block = rng.randbytes(16384)
    return block * (size // len(block))


def interrupted_versions(rng):
    v1 = {
        "a_first.txt": b"first file, version 6\n",
        "1033/strings.dll": b"English strings\n",  # locale folders: all digits, yet never backups
        "2052/strings.dll": b"Chinese strings, version 6\n",
        "big.bin": big_file(rng, 24 << 20),
        "keep.txt": b"kept\n",
        "old.txt": b"only version 6\n",
        "zz_last.txt": b"last file, version 6\n",
    }
    v2 = {
        "a_first.txt": b"first file, version 7, longer\n",
        "1033/strings.dll": b"English strings\n",
        "2052/strings.dll": b"Chinese strings, version 7\n",
        "big.bin": big_file(rng, 24 << 20),
        "keep.txt": b"kept\n",
        "new_dir/new.txt": b"new in version 7\n",
        "zz_last.txt": b"last file, version 7\n",
    }
    return v1, v2


def v2_files(rng):
    return {
        "keep.txt": V1_FILES["keep.txt"],
        "change_a.bin": rng.randbytes(300000),  # several chunks of the downloader
        "bin/x.dll": b"x-version-2" * 700,
        "new.txt": b"new in version 7\n",
        "sub/keep2.dat": V1_FILES["sub/keep2.dat"],
    }


def write_tree(root, files):
    for name, data in files.items():
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def publish(tool, source, version, base_url, out):
    subprocess.run([sys.executable, tool, source, str(version), base_url, out, "--unsigned"],
                   check=True, stdout=subprocess.DEVNULL)


def write_zero_bomb(archive_path, entry_name, mebibytes):
    """An archive whose one entry is `mebibytes` MiB of zeros (it deflates
    about a thousandfold)."""
    os.makedirs(os.path.dirname(archive_path), exist_ok=True)
    with zipfile.ZipFile(archive_path, "w", compression=zipfile.ZIP_DEFLATED) as z:
        with z.open(entry_name, "w") as entry:
            block = bytes(1 << 20)
            for _ in range(mebibytes):
                entry.write(block)


def unpack_manifest(archive, folder):
    with zipfile.ZipFile(archive) as z:
        z.extractall(folder)


def main(tool, out):
    shutil.rmtree(out, ignore_errors=True)
    sys.path.insert(0, tool)
    import archives  # noqa: E402  (the release tool's own writers)
    import digests  # noqa: E402
    import manifest  # noqa: E402

    rng = random.Random(20240611)

    # Version 6, installed.
    install = os.path.join(out, "v1", "install")
    write_tree(install, V1_FILES)
    v1_server = os.path.join(out, "v1", "server")
    publish(tool, install, 6, "http://localhost/a/b/", v1_server)
    unpack_manifest(os.path.join(v1_server, "6", "ProgramConfig.zdb.zip"), install)
    shutil.copy(os.path.join(v1_server, "6", "version.ini"), install)

    # Version 7, published.
    source = os.path.join(out, "v2", "source")
    files = v2_files(rng)
    write_tree(source, files)
    server = os.path.join(out, "v2", "server", "a", "b")
    publish(tool, source, 7, "http://localhost/a/b/", server)
    unpack_manifest(os.path.join(server, "7", "ProgramConfig.zdb.zip"), os.path.join(out, "v2", "manifest"))

    # Broken server files.
    bad = os.path.join(out, "bad")
    rows = [(name, digests.bytes_digest(data)) for name, data in sorted(files.items())]
    for case, name in HOSTILE.items():
        folder = os.path.join(bad, case)
        os.makedirs(folder)
        database = os.path.join(folder, manifest.MANIFEST_NAME)
        manifest.write_manifest(database, rows + [(name, digests.bytes_digest(b"evil"))],
                                ["http://localhost/a/b/"], 7)
        archives.write_file_archive(database, database + ".zip")
        os.remove(database)
    v1_rows = [(name, digests.bytes_digest(data)) for name, data in sorted(V1_FILES.items())]
    manifest.write_manifest(os.path.join(bad, "installed_outside.zdb"),
                            v1_rows + [("../outside.txt", digests.bytes_digest(b"outside"))],
                            ["http://localhost/a/b/"], 6)
    wrong = os.path.join(bad, "wrong", "x.dll")
    os.makedirs(os.path.dirname(wrong))
    with open(wrong, "wb") as f:
        # The listed length, and an archive no larger than the listed one.
        f.write(b"x-version-2" * 699 + b"x-version-x")
    archives.write_file_archive(wrong, os.path.join(bad, "wrong_x.dll.zip"))

    renamed = {"bin/x.dll": "BIN\\X.DLL", "change_a.bin": "Change_A.bin", "sub/keep2.dat": "SUB\\Keep2.DAT"}
    manifest.write_manifest(os.path.join(bad, "installed_renamed.zdb"),
                            [(renamed.get(name, name), digest) for name, digest in v1_rows],
                            ["http://localhost/a/b/"], 6)

    unsized = os.path.join(bad, "unsized", manifest.MANIFEST_NAME)
    os.makedirs(os.path.dirname(unsized))
    manifest.write_manifest(unsized, rows, ["http://localhost/a/b/"], 7)
    archives.write_file_archive(unsized, unsized + ".zip")
    os.remove(unsized)
    write_zero_bomb(os.path.join(bad, "bomb_change_a.bin.zip"), "change_a.bin", 200)
    write_zero_bomb(os.path.join(bad, "bomb", manifest.MANIFEST_NAME + ".zip"), manifest.MANIFEST_NAME, 300)

    # A pair of versions for cutting a copy off midway.
    cut_v1, cut_v2 = interrupted_versions(rng)
    cut_install = os.path.join(out, "interrupted", "v1", "install")
    write_tree(cut_install, cut_v1)
    cut_v1_server = os.path.join(out, "interrupted", "v1", "server")
    publish(tool, cut_install, 6, "http://localhost/a/b/", cut_v1_server)
    unpack_manifest(os.path.join(cut_v1_server, "6", "ProgramConfig.zdb.zip"), cut_install)
    shutil.copy(os.path.join(cut_v1_server, "6", "version.ini"), cut_install)
    cut_source = os.path.join(out, "interrupted", "v2", "source")
    write_tree(cut_source, cut_v2)
    cut_server = os.path.join(out, "interrupted", "v2", "server", "a", "b")
    publish(tool, cut_source, 7, "http://localhost/a/b/", cut_server)
    unpack_manifest(os.path.join(cut_server, "7", "ProgramConfig.zdb.zip"),
                    os.path.join(out, "interrupted", "v2", "manifest"))

    open(os.path.join(out, "stamp"), "w").close()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
