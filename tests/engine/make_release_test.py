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


def run_tool(*args, unsigned=True, env=None):
    """Runs the tool; a publishing call without a key gets --unsigned unless
    `unsigned` is false."""
    extra = []
    if unsigned and len(args) >= 4 and "--sign-key" not in args:
        extra = ["--unsigned"]
    return subprocess.run([sys.executable, TOOL, *args, *extra], capture_output=True, text=True,
                          env=dict(os.environ, **(env or {})))


def tree(folder):
    """{relative path: bytes} of every file below `folder`."""
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            with open(os.path.join(root, name), "rb") as f:
                files[os.path.relpath(os.path.join(root, name), folder)] = f.read()
    return files


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
        # Each file's size and its archive's size, the bounds of the updater.
        sizes = db.execute("SELECT SectionName, FileSize, ArchiveSize FROM FileVersion").fetchall()
        for name, size, archive_size in sizes:
            self.assertEqual(size, os.path.getsize(os.path.join(self.src, *name.split("/"))))
            self.assertEqual(archive_size, os.path.getsize(os.path.join(release, *name.split("/")) + ".zip"))
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
            "top-level folder named like a backup": ({"UPDATE.Backup.12/a.txt": b"x"}, ["http://h/"]),
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

    def test_guard_rails_of_the_version_and_a_failed_run_leave_the_published_tree_alone(self):
        write(os.path.join(self.src, "a.txt"), b"a")
        self.assertEqual(run_tool(self.src, "7", "http://h/", self.out).returncode, 0)
        published = tree(self.out)
        older = run_tool(self.src, "5", "http://h/", self.out)
        self.assertEqual(older.returncode, 1)
        self.assertIn("older than version 7", older.stderr)
        notes = os.path.join(self.scratch.name, "missing-notes.txt")
        failed = run_tool(self.src, "7", "http://h/", self.out, "--force", "--notes", notes)
        self.assertEqual(failed.returncode, 1)
        self.assertEqual(tree(self.out), published, "a failed run changed the published tree")
        dry = run_tool(self.src, "8", "http://h/", self.out, "--dry-run")
        self.assertEqual(dry.returncode, 0, dry.stderr)
        self.assertIn("dry run: nothing written", dry.stdout)
        self.assertEqual(tree(self.out), published, "a dry run wrote")
        allowed = run_tool(self.src, "5", "http://h/", self.out, "--allow-older")
        self.assertEqual(allowed.returncode, 0, allowed.stderr)
        self.assertIn("warning: version 5 is older than version 7", allowed.stdout)

    def test_summary_counts_new_changed_and_removed_files(self):
        for name, data in (("same.txt", b"s"), ("changed.txt", b"old"), ("gone.txt", b"g")):
            write(os.path.join(self.src, name), data)
        self.assertEqual(run_tool(self.src, "1", "http://h/", self.out).returncode, 0)
        os.remove(os.path.join(self.src, "gone.txt"))
        write(os.path.join(self.src, "changed.txt"), b"new bytes")
        write(os.path.join(self.src, "bin", "new.dll"), b"n" * 100)
        result = run_tool(self.src, "2", "http://h/", self.out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("summary against version 1: 1 new, 1 changed, 1 removed, 1 unchanged", result.stdout)
        for line in ("new      bin/new.dll", "changed  changed.txt", "removed  gone.txt"):
            self.assertIn(line, result.stdout)
        self.assertIn("fetches", result.stdout)


def der_signature(raw):
    """DER form of a raw r || s signature, for openssl's verification."""
    def integer(value):
        value = value.lstrip(b"\x00") or b"\x00"
        if value[0] & 0x80:
            value = b"\x00" + value
        return b"\x02" + bytes([len(value)]) + value
    body = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


class SignedReleaseTest(unittest.TestCase):
    """Signing with --sign-key and key pairs from --make-key-pair; openssl
    checks the signatures independently of the tool."""

    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.dir = self.scratch.name
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")
        write(os.path.join(self.src, "bin", "x.dll"), b"x" * 5000)
        result = run_tool("--make-key-pair", os.path.join(self.dir, "keys", "pub"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.private = os.path.join(self.dir, "keys", "pub.private.pem")
        self.public = os.path.join(self.dir, "keys", "pub.public.pem")

    def tearDown(self):
        self.scratch.cleanup()

    def manifest_entries(self, version):
        with zipfile.ZipFile(os.path.join(self.out, version, "ProgramConfig.zdb.zip")) as archive:
            return {name: archive.read(name) for name in archive.namelist()}

    def openssl_verifies(self, data, raw_signature):
        for name, content in (("data", data), ("sig.der", der_signature(raw_signature))):
            write(os.path.join(self.dir, name), content)
        done = subprocess.run(["openssl", "dgst", "-sha256", "-verify", self.public, "-signature",
                               os.path.join(self.dir, "sig.der"), os.path.join(self.dir, "data")],
                              capture_output=True, text=True)
        return done.returncode == 0 and "Verified OK" in done.stdout

    def test_key_pair_is_p256_with_an_owner_only_private_key_and_never_replaced(self):
        self.assertEqual(os.stat(self.private).st_mode & 0o777, 0o600)
        with open(self.public) as f:
            self.assertIn("BEGIN PUBLIC KEY", f.read())
        again = run_tool("--make-key-pair", os.path.join(self.dir, "keys", "pub"))
        self.assertEqual(again.returncode, 1)
        self.assertIn("exists", again.stderr)

    def test_signed_manifest_archive_holds_the_manifest_and_its_raw_signature(self):
        result = run_tool(self.src, "4", "http://h/", self.out, "--sign-key", self.private)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("(signed)", result.stdout)
        entries = self.manifest_entries("4")
        self.assertEqual(sorted(entries), ["ProgramConfig.zdb", "ProgramConfig.zdb.sig"])
        signature = entries["ProgramConfig.zdb.sig"]
        self.assertEqual(len(signature), 64)
        self.assertTrue(self.openssl_verifies(entries["ProgramConfig.zdb"], signature))
        changed = bytearray(entries["ProgramConfig.zdb"])
        changed[100] ^= 1
        self.assertFalse(self.openssl_verifies(bytes(changed), signature))

    def test_version_ini_is_signed_beside_itself(self):
        result = run_tool(self.src, "4", "http://h/", self.out, "--sign-key", self.private)
        self.assertEqual(result.returncode, 0, result.stderr)
        ini = os.path.join(self.out, "4", "version.ini")
        self.assertIn("wrote %s.sig (signed)" % ini, result.stdout)
        with open(ini, "rb") as f:
            data = f.read()
        with open(ini + ".sig", "rb") as f:
            signature = f.read()
        self.assertEqual(len(signature), 64)
        self.assertTrue(self.openssl_verifies(data, signature))
        self.assertFalse(self.openssl_verifies(data.replace(b"version=4", b"version=9"), signature))

    def test_a_release_without_a_key_needs_unsigned_and_a_configured_key_signs_by_default(self):
        refused = run_tool(self.src, "4", "http://h/", self.out, unsigned=False)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("--unsigned", refused.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.out, "4")))
        signed = run_tool(self.src, "4", "http://h/", self.out, unsigned=False,
                          env={"VELISK_RELEASE_SIGN_KEY": self.private})
        self.assertEqual(signed.returncode, 0, signed.stderr)
        self.assertEqual(sorted(self.manifest_entries("4")), ["ProgramConfig.zdb", "ProgramConfig.zdb.sig"])

    def test_unsigned_release_keeps_the_single_entry(self):
        self.assertEqual(run_tool(self.src, "4", "http://h/", self.out).returncode, 0)
        self.assertEqual(list(self.manifest_entries("4")), ["ProgramConfig.zdb"])
        self.assertFalse(os.path.exists(os.path.join(self.out, "4", "version.ini.sig")))

    def test_set_takes_only_keys_the_updater_reads(self):
        for setting, accepted in (("update.hide=1", True), ("regKey.protocol=URL:Velisk", True),
                                  ("update.Hide=1", False), ("update.colour=red", False),
                                  ("updateInfo.line=x", False), ("other.version=3", False)):
            result = run_tool(self.src, "4", "http://h/", self.out, "--force", "--set", setting)
            self.assertEqual(result.returncode == 0, accepted, (setting, result.stderr))

    def test_keys_that_are_not_p256_private_keys_are_refused_before_anything_is_written(self):
        p384 = os.path.join(self.dir, "p384.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-384",
                        "-out", p384], check=True, capture_output=True)
        for key in (p384, self.public, os.path.join(self.dir, "missing.pem")):
            result = run_tool(self.src, "4", "http://h/", self.out, "--sign-key", key)
            self.assertEqual(result.returncode, 1, key)
            self.assertIn("make_release:", result.stderr)
            self.assertFalse(os.path.exists(os.path.join(self.out, "4")), key)

    def test_build_key_table_takes_p256_public_keys_only(self):
        script = os.path.join(os.path.dirname(os.path.abspath(TOOL)), "..", "cmake",
                              "make_manifest_key_table.py")
        table = os.path.join(self.dir, "keys.cpp")
        ok = subprocess.run([sys.executable, script, table, self.public], capture_output=True, text=True)
        self.assertEqual(ok.returncode, 0, ok.stderr)
        with open(table) as f:
            self.assertEqual(f.read().count("0x"), 64)
        for wrong in ([self.private], [self.public, self.public]):
            bad = subprocess.run([sys.executable, script, "--check"] + wrong, capture_output=True, text=True)
            self.assertEqual(bad.returncode, 1, wrong)


if __name__ == "__main__":
    unittest.main()
