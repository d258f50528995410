"""Tests of tools/make_release, run natively (it runs on the publisher's machine)."""

import os
import sqlite3
import subprocess
import sys
import tempfile
import unittest
import zipfile

TOOL = os.environ.get("VELISK_MAKE_RELEASE") or os.path.join(
    os.path.dirname(__file__), "..", "..", "tools", "make_release")


def run_tool(*args):
    return subprocess.run([sys.executable, TOOL, *args], capture_output=True, text=True)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


class MakeReleaseTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.src = os.path.join(self.scratch.name, "src")
        self.out = os.path.join(self.scratch.name, "out")

    def tearDown(self):
        self.scratch.cleanup()

    def test_publishes_archives_manifest_and_ini_from_the_template(self):
        write(os.path.join(self.src, "abc.txt"), b"abc")
        write(os.path.join(self.src, "bin", "x.dll"), b"x" * 1000)
        write(os.path.join(self.src, "ProgramConfig.zdb"), b"stale manifest")
        write(os.path.join(self.src, "version.ini"),
              "\ufeff[update]\r\nVersion=1\r\ntarget=Client.exe\r\n[updateInfo]\r\nold notes\r\n"
              "[regKey]\r\n".encode("utf-8"))
        notes = os.path.join(self.scratch.name, "notes.txt")
        write(notes, "新功能\nline two\n".encode("utf-8"))
        result = run_tool(self.src, "7", "http://h/c/", self.out, "--notes", notes,
                          "--set", "regKey.appCode=velisk", "--server", "http://a/", "--server", "http://b/")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("manifest archive URL: http://h/c/7/ProgramConfig.zdb.zip", result.stdout)

        release = os.path.join(self.out, "7")
        published = sorted(os.path.relpath(os.path.join(d, f), release).replace(os.sep, "/")
                           for d, _, files in os.walk(release) for f in files)
        self.assertEqual(published, ["ProgramConfig.zdb.zip", "abc.txt.zip", "bin/x.dll.zip", "version.ini"])
        for name in published:
            if name != "version.ini":
                self.assertIn("wrote " + os.path.join(release, *name.split("/")), result.stdout)
        with zipfile.ZipFile(os.path.join(release, "bin", "x.dll.zip")) as archive:
            self.assertEqual(archive.namelist(), ["x.dll"])
            self.assertNotEqual(archive.getinfo("x.dll").external_attr & 0xFF, 0x10)

        with zipfile.ZipFile(os.path.join(release, "ProgramConfig.zdb.zip")) as archive:
            self.assertEqual(archive.namelist(), ["ProgramConfig.zdb"])
            archive.extractall(self.scratch.name)
        db = sqlite3.connect(os.path.join(self.scratch.name, "ProgramConfig.zdb"))
        rows = db.execute("SELECT SectionName, SHA1 FROM FileVersion").fetchall()
        self.assertEqual([name for name, _ in rows], ["abc.txt", "bin/x.dll"])
        self.assertEqual(rows[0][1].hex().upper(), "363E99A96A81064771253EBA6CC250789DD8D09C")
        self.assertEqual(db.execute("SELECT SectionName FROM ConfigServer").fetchall(),
                         [("http://a/",), ("http://b/",)])
        self.assertEqual(db.execute("SELECT * FROM ProgramVersion").fetchall(), [("ProgramVer", 7)])
        db.close()

        with open(os.path.join(release, "version.ini"), "rb") as f:
            ini = f.read().decode("utf-8")
        self.assertEqual(ini, "[update]\r\nversion=7\r\ntarget=Client.exe\r\nurl=http://h/c/\r\n"
                              "versionName=v7\r\n[regKey]\r\nappCode=velisk\r\n"
                              "[updateInfo]\r\n新功能\r\nline two\r\n")

    def test_refuses_what_the_updater_cannot_deliver(self):
        cases = {
            "non-ASCII name": ({"数据.dat": b"x"}, ["http://h/"]),
            "names differing in case": ({"A.dll": b"x", "a.dll": b"y"}, ["http://h/"]),
            "name over 255 characters": ({"d" * 200 + "/" + "f" * 60: b"x"}, ["http://h/"]),
            "name with a colon": ({"a:b.txt": b"x"}, ["http://h/"]),
            "base URL without a slash": ({"a.txt": b"x"}, ["http://h"]),
            "no files": ({}, ["http://h/"]),
        }
        for label, (files, base) in cases.items():
            with self.subTest(label), tempfile.TemporaryDirectory() as scratch:
                src = os.path.join(scratch, "src")
                os.makedirs(src)
                for name, data in files.items():
                    write(os.path.join(src, *name.split("/")), data)
                result = run_tool(src, "3", base[0], os.path.join(scratch, "out"))
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn("make_release:", result.stderr)
                self.assertFalse(os.path.exists(os.path.join(scratch, "out", "3")))

    def test_an_existing_release_needs_force_and_empty_files_warn(self):
        write(os.path.join(self.src, "empty.dat"), b"")
        self.assertEqual(run_tool(self.src, "5", "http://h/", self.out).returncode, 0)
        again = run_tool(self.src, "5", "http://h/", self.out)
        self.assertEqual(again.returncode, 1)
        forced = run_tool(self.src, "5", "http://h/", self.out, "--force")
        self.assertEqual(forced.returncode, 0, forced.stderr)
        self.assertIn("warning: empty.dat: empty", forced.stdout)


if __name__ == "__main__":
    unittest.main()
