"""Builds the release that the engine tests read: a client folder with files
of the sizes that matter to the readers, published by tools/make_release.

    make_release_fixture.py TOOL_DIR OUT_DIR
"""

import os
import random
import shutil
import subprocess
import sys
import zipfile

FOUR_MIB = 4 * 1024 * 1024


def main(tool, out):
    shutil.rmtree(out, ignore_errors=True)
    source = os.path.join(out, "source")
    os.makedirs(os.path.join(source, "bin"))
    rng = random.Random(20240607)
    files = {
        "abc.txt": b"abc",
        "empty.dat": b"",
        "four_mib.bin": rng.randbytes(FOUR_MIB),
        "four_mib_plus_one.bin": rng.randbytes(FOUR_MIB + 1),
        "bin/plugin.dll": rng.randbytes(70000),
    }
    for name, data in files.items():
        with open(os.path.join(source, *name.split("/")), "wb") as f:
            f.write(data)
    subprocess.run([sys.executable, tool, source, "7", "http://127.0.0.1/velisk/",
                    os.path.join(out, "server"), "--unsigned"], check=True, stdout=subprocess.DEVNULL)
    with zipfile.ZipFile(os.path.join(out, "server", "7", "ProgramConfig.zdb.zip")) as archive:
        archive.extractall(os.path.join(out, "manifest"))
    open(os.path.join(out, "stamp"), "w").close()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
