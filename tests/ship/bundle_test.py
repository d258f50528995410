#!/usr/bin/env python3
"""The release bundle, built from the two trees with a throw-away code-signing
certificate made here into the work folder (never kept anywhere else):

    bundle_test.py --source DIR --i686 TREE --x86_64 TREE --work DIR --version V
                   --wine-run SCRIPT --prefix DIR

Checks that the zip holds exactly the listed files, that every shipped binary
is signed (osslsigncode verify against the test CA), carries VERSIONINFO with
the project's version, is stripped and links to its symbols file, that a
known function resolves through each symbols file, that a tampered binary no
longer verifies, that a failed signing leaves the file as it was, and that a
signed, stripped Update.exe still runs (its copy mode, under Wine). And the
manifest keys: no bundle without keys unless asked for (then named
-unsigned-manifests), none whose Update.exe lacks the named keys, the key
table check on real binaries, the README's fingerprints, and an x86-64
updater built with the same key table (UpdateSigned.exe with the tree's test
keys; the shipped one is 32-bit and cannot run here), split and stripped like
the bundle's, refusing an unsigned release served by the shared test server
that the same updater without keys installs.
Exits 77 (skipped) when the i686 tree is not built.
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "scripts", "bundle"))
import make_bundle  # noqa: E402
import pe_facts  # noqa: E402

ARGS = None
SKIP = 77

SHIPPED = {
    "x86/Update.exe": False, "x86/Haltrix.exe": False, "x86/Lockscan.dll": False, "x86/Vantor.dll": False,
    "x64/Pellix.dll": True,
}
# A function of each binary and the source file it is defined in.
KNOWN_FUNCTIONS = {
    "Update.exe": (r"StartCrashReporter", "crash_reporter.cpp"),
    "Haltrix.exe": (r"^_?wWinMain(@\d+)?$", "haltrix.cpp"),
    "Lockscan.dll": (r"^_?GetLockedFileInfo(@\d+)?$", "lockscan.cpp"),
    "Vantor.dll": (r"^_?GetWebViewFactory(@\d+)?$", "exports.cpp"),
    "Pellix.dll": (r"^DllGetClassObject$", "exports.cpp"),
}


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kwargs)


def make_test_pki(folder):
    """A test CA and a code-signing certificate it issued, as PEM files and a
    password-protected PFX; returns their paths."""
    os.makedirs(folder, exist_ok=True)
    p = {name: os.path.join(folder, name) for name in
         ("ca.key", "ca.pem", "signer.key", "signer.csr", "signer.pem", "signer.pfx", "password.txt", "ext.cnf")}
    with open(p["password.txt"], "w") as f:
        f.write("test only \u5bc6\u7801\n")
    with open(p["ext.cnf"], "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    steps = [
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", p["ca.key"], "-out", p["ca.pem"],
         "-days", "2", "-subj", "/CN=Velisk Test Code Signing CA",
         "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"],
        ["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", p["signer.key"], "-out", p["signer.csr"],
         "-subj", "/CN=Velisk Test Publisher"],
        ["openssl", "x509", "-req", "-in", p["signer.csr"], "-CA", p["ca.pem"], "-CAkey", p["ca.key"],
         "-CAcreateserial", "-days", "2", "-extfile", p["ext.cnf"], "-out", p["signer.pem"]],
        ["openssl", "pkcs12", "-export", "-inkey", p["signer.key"], "-in", p["signer.pem"], "-certfile", p["ca.pem"],
         "-out", p["signer.pfx"], "-passout", "file:" + p["password.txt"]],
    ]
    for step in steps:
        result = run(step)
        if result.returncode != 0:
            raise RuntimeError("%s failed:\n%s" % (" ".join(step[:2]), result.stdout))
    return p


def verify(binary, ca):
    return run(["osslsigncode", "verify", "-CAfile", ca, "-in", binary])


class Bundle(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = os.path.join(ARGS.work, "bundle test \u53d1\u5e03")
        shutil.rmtree(cls.work, ignore_errors=True)
        cls.pki = make_test_pki(os.path.join(cls.work, "pki"))
        out = os.path.join(cls.work, "dist")
        # The tests' i686 tree is built without manifest keys.
        cls.result = run([sys.executable, os.path.join(ARGS.source, "scripts", "bundle", "make_bundle.py"),
                          "--i686", ARGS.i686, "--x86_64", ARGS.x86_64, "--out", out, "--unsigned-manifests",
                          "--pfx", cls.pki["signer.pfx"], "--password-file", cls.pki["password.txt"],
                          "--timestamp", "", "--verify-ca", cls.pki["ca.pem"]])
        cls.top = "velisk-" + ARGS.version
        cls.zip_path = os.path.join(out, cls.top + "-unsigned-manifests.zip")
        cls.unpacked = os.path.join(cls.work, "unpacked")
        if cls.result.returncode == 0:
            with zipfile.ZipFile(cls.zip_path) as z:
                z.extractall(cls.unpacked)
        cls.root = os.path.join(cls.unpacked, cls.top)

    def setUp(self):
        self.assertEqual(self.result.returncode, 0, self.result.stdout)

    def shipped(self, inside):
        return os.path.join(self.root, *inside.split("/"))

    def symbols(self, inside):
        return os.path.join(self.root, "symbols", os.path.basename(inside) + ".debug")

    def test_holds_exactly_the_listed_files(self):
        tool = sorted("tools/make_release/" + n for n in os.listdir(os.path.join(ARGS.source, "tools", "make_release"))
                      if n.endswith(".py"))
        expected = sorted(list(SHIPPED) + ["symbols/" + os.path.basename(n) + ".debug" for n in SHIPPED] +
                          ["x64/Pellix.reg", "x64/REGISTRATION.md", "README.txt"] + tool)
        with zipfile.ZipFile(self.zip_path) as z:
            names = sorted(n[len(self.top) + 1:] for n in z.namelist() if not n.endswith("/"))
            self.assertTrue(all(n.startswith(self.top + "/") for n in z.namelist()), z.namelist())
        self.assertEqual(names, expected)
        with open(os.path.join(self.root, "README.txt"), encoding="utf-8") as f:
            readme = f.read()
        self.assertIn("Velisk " + ARGS.version, readme)
        self.assertIn("NONE. This Update.exe was built without manifest keys", readme)

    def test_binaries_are_32_or_64_bit_as_listed(self):
        for inside, is_64bit in SHIPPED.items():
            with self.subTest(inside):
                self.assertEqual(pe_facts.PeFile(self.shipped(inside)).is_64bit, is_64bit)

    def test_every_binary_verifies_against_the_test_ca(self):
        for inside in SHIPPED:
            with self.subTest(inside):
                result = verify(self.shipped(inside), self.pki["ca.pem"])
                self.assertEqual(result.returncode, 0, result.stdout)
                self.assertIn("Signature verification: ok", result.stdout)
                self.assertIn("Velisk Test Publisher", result.stdout)

    def test_a_tampered_binary_no_longer_verifies(self):
        for inside, where in (("x86/Update.exe", "code"), ("x64/Pellix.dll", "tail of the image")):
            with self.subTest(inside=inside, where=where):
                copy = os.path.join(self.work, "tampered-" + os.path.basename(inside))
                shutil.copyfile(self.shipped(inside), copy)
                pe = pe_facts.PeFile(copy)
                text = [s for s in pe.sections if s[0] == ".text"][0]
                offset = text[3] + 0x40 if where == "code" else text[3] + text[4] - 1
                with open(copy, "r+b") as f:
                    f.seek(offset)
                    byte = f.read(1)
                    f.seek(offset)
                    f.write(bytes([byte[0] ^ 0x01]))
                result = verify(copy, self.pki["ca.pem"])
                self.assertNotEqual(result.returncode, 0, result.stdout)

    def test_signature_from_an_untrusted_ca_does_not_verify(self):
        other = make_test_pki(os.path.join(self.work, "other pki"))
        result = verify(self.shipped("x86/Update.exe"), other["ca.pem"])
        self.assertNotEqual(result.returncode, 0, result.stdout)

    def test_every_binary_carries_the_project_version(self):
        version = tuple(int(p) for p in ARGS.version.split("."))
        for inside in SHIPPED:
            with self.subTest(inside):
                facts = pe_facts.version_info(self.shipped(inside))
                self.assertEqual(facts.get("FileVersion#"), version, facts)
                self.assertEqual(facts.get("ProductVersion#"), version, facts)
                self.assertEqual(facts.get("FileVersion"), ARGS.version)
                self.assertEqual(facts.get("ProductVersion"), ARGS.version)
                self.assertEqual(facts.get("OriginalFilename"), os.path.basename(inside))
                self.assertTrue(facts.get("ProductName", "").startswith("Velisk"), facts)
                self.assertTrue(facts.get("FileDescription"), facts)

    def test_binaries_are_stripped_and_link_to_their_symbols(self):
        for inside in SHIPPED:
            with self.subTest(inside):
                pe = pe_facts.PeFile(self.shipped(inside))
                self.assertEqual(pe.symbol_count, 0)
                self.assertEqual([n for n in pe.section_names() if n.startswith(".debug")], [])
                link = pe_facts.debug_link(self.shipped(inside))
                self.assertIsNotNone(link)
                self.assertEqual(link[0], os.path.basename(inside) + ".debug")
                self.assertEqual(link[1], pe_facts.file_crc32(self.symbols(inside)))

    def test_a_known_function_resolves_through_each_symbols_file(self):
        for inside in SHIPPED:
            name = os.path.basename(inside)
            pattern, source_file = KNOWN_FUNCTIONS[name]
            with self.subTest(name):
                debug = self.symbols(inside)
                self.assertIn(".debug_info", pe_facts.PeFile(debug).section_names())
                address = pe_facts.function_address(debug, pattern)
                self.assertIsNotNone(address, "no symbol matching %s in %s" % (pattern, debug))
                function, location = pe_facts.resolve(debug, address)
                # addr2line leaves i686 C++ names (with their extra "_") mangled:
                # the Update.exe pattern matches either form.
                self.assertRegex(function, pattern)
                self.assertIn(source_file, location)

    def test_failed_signing_leaves_the_file_unchanged(self):
        target = os.path.join(self.work, "unsigned Haltrix.exe")
        shutil.copyfile(os.path.join(ARGS.i686, "bin", "Haltrix.exe"), target)
        with open(target, "rb") as f:
            before = f.read()
        wrong = os.path.join(self.work, "wrong password.txt")
        with open(wrong, "w") as f:
            f.write("not the password\n")
        cases = (("wrong password", ["--pfx", self.pki["signer.pfx"], "--password-file", wrong]),
                 ("no certificate", []),
                 ("missing certificate file", ["--pfx", os.path.join(self.work, "none.pfx")]))
        for name, options in cases:
            with self.subTest(name):
                result = run(["bash", os.path.join(ARGS.source, "scripts", "sign.sh")] + options + [target])
                self.assertNotEqual(result.returncode, 0, result.stdout)
                with open(target, "rb") as f:
                    self.assertEqual(f.read(), before)
                self.assertEqual([n for n in os.listdir(self.work) if n.startswith(".signing")], [])

    def test_signed_stripped_update_still_runs_its_copy_mode(self):
        # Only 64-bit Wine runs here: the x86_64 Update.exe, split, stripped
        # and signed like the bundle's, moves a staged file into place.
        program = os.path.join(self.work, "program")
        os.makedirs(program)
        for name in ("Update.exe", "Lockscan.dll"):
            make_bundle.split_debug_info(os.path.join(ARGS.x86_64, "bin", name), os.path.join(program, name),
                                         os.path.join(program, name + ".debug"))
        signed = run(["bash", os.path.join(ARGS.source, "scripts", "sign.sh"), "--cert", self.pki["signer.pem"],
                      "--key", self.pki["signer.key"], "--timestamp", "", "--verify-ca", self.pki["ca.pem"],
                      os.path.join(program, "Update.exe")])
        self.assertEqual(signed.returncode, 0, signed.stdout)
        self.assertGreater(pe_facts.PeFile(os.path.join(program, "Update.exe")).certificate_table_size(), 0)
        install = os.path.join(self.work, "install \u5b89\u88c5")
        staging = os.path.join(install, "update \u66f4\u65b0")  # a hidden run stages inside the installation
        os.makedirs(staging)
        # A client name of its own: the copy mode ends the target client by name.
        ini = "[update]\r\nversion=2\r\ntarget=bundle_test_client.exe\r\n"
        for folder in (staging, install):
            with open(os.path.join(folder, "version.ini"), "w") as f:
                f.write(ini)
        with open(os.path.join(staging, "payload.txt"), "w") as f:
            f.write("staged by the signed updater test\n")
        env = dict(os.environ, VELISK_REPORT_BASE_URL="http://127.0.0.1:9")
        windows = lambda p: "Z:" + p.replace("/", "\\")  # noqa: E731
        result = subprocess.run([ARGS.wine_run, "--prefix=" + os.path.abspath(ARGS.prefix), os.path.join(program, "Update.exe"),
                                 "-copy", windows(staging), windows(install)],
                                env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        self.assertTrue(os.path.exists(os.path.join(install, "payload.txt")),
                        "the signed Update.exe did not copy the staged file (exit %d)" % result.returncode)


def test_key(name):
    return os.path.join(ARGS.x86_64, "test-keys", name + ".public.pem")


class ManifestKeys(unittest.TestCase):
    def make_bundle(self, *options, env=None):
        out = os.path.join(ARGS.work, "keys dist")
        shutil.rmtree(out, ignore_errors=True)
        result = run(["bash", os.path.join(ARGS.source, "scripts", "bundle.sh"), "--no-build", "--i686", ARGS.i686,
                      "--x86_64", ARGS.x86_64, "--out", out] + list(options), env=env)
        return result, (os.listdir(out) if os.path.isdir(out) else [])

    def test_no_bundle_without_keys_or_with_keys_its_update_exe_lacks(self):
        not_a_key = os.path.join(ARGS.work, "not a key.pem")
        with open(not_a_key, "w") as f:
            f.write("-----BEGIN CERTIFICATE-----\n")
        no_keys = {k: v for k, v in os.environ.items() if k != "VELISK_MANIFEST_PUBLIC_KEYS"}
        cases = (("no keys", [], no_keys, "no manifest signing key: name the publisher's public keys with "
                  "--manifest-keys a.pem,b.pem (or VELISK_MANIFEST_PUBLIC_KEYS)"),
                 ("keys the tree was not built with",
                  ["--manifest-keys", test_key("first") + "," + test_key("second")], None,
                  "does not carry the key table of"),
                 ("keys from the variable", [], dict(no_keys, VELISK_MANIFEST_PUBLIC_KEYS=test_key("first")),
                  "does not carry the key table of"),
                 ("not a key", ["--manifest-keys", not_a_key], None, "not a PEM public key"),
                 ("not text", ["--manifest-keys", os.path.join(ARGS.source, "README.md")], None, "manifest key: "))
        for name, options, env, message in cases:
            with self.subTest(name):
                result, written = self.make_bundle(*options, env=env)
                self.assertNotEqual(result.returncode, 0, result.stdout)
                self.assertIn(message, result.stdout)
                self.assertEqual([n for n in written if n.endswith(".zip")], [])

    def test_key_table_check_and_fingerprints_on_real_binaries(self):
        both = make_bundle.key_points([test_key("first"), test_key("second")])
        signed = os.path.join(ARGS.x86_64, "bin", "UpdateSigned.exe")
        plain = os.path.join(ARGS.x86_64, "bin", "Update.exe")
        self.assertTrue(make_bundle.carries_key_table(signed, both))
        self.assertFalse(make_bundle.carries_key_table(plain, both))
        self.assertFalse(make_bundle.carries_key_table(signed, both[::-1]))
        self.assertFalse(make_bundle.carries_key_table(
            signed, make_bundle.key_points([test_key("first"), test_key("outsider")])))
        for name in ("first", "second"):
            der = subprocess.run(["openssl", "pkey", "-pubin", "-in", test_key(name), "-outform", "DER"],
                                 stdout=subprocess.PIPE, check=True).stdout
            self.assertEqual(make_bundle.key_fingerprint(test_key(name)), hashlib.sha256(der).hexdigest())
        lines = make_bundle.key_lines([test_key("first"), test_key("second")])
        self.assertIn("1. first.public.pem  SHA-256 " + make_bundle.key_fingerprint(test_key("first")), lines)

    def test_updater_with_the_key_table_refuses_an_unsigned_release(self):
        # Served by the shared test server (port 80, as the downloader uses).
        base = "ship%d" % os.getpid()
        www = os.path.join(ARGS.x86_64, "test_server", "www", base)
        shutil.rmtree(www, ignore_errors=True)
        work = os.path.join(ARGS.work, "unsigned release")
        shutil.rmtree(work, ignore_errors=True)
        source = os.path.join(work, "source")
        os.makedirs(source)
        with open(os.path.join(source, "payload.txt"), "w") as f:
            f.write("version 2\n")
        made = run([sys.executable, os.path.join(ARGS.source, "tools", "make_release"), source, "2",
                    "http://localhost/%s/" % base, www, "--unsigned"])
        self.assertEqual(made.returncode, 0, made.stdout)
        windows = lambda p: "Z:" + p.replace("/", "\\")  # noqa: E731
        for program, installs in (("UpdateSigned.exe", False), ("Update.exe", True)):
            with self.subTest(program):
                folder = os.path.join(work, program + " program")
                install = os.path.join(work, program + " install")
                os.makedirs(folder)
                os.makedirs(install)
                for name, shipped in ((program, "Update.exe"), ("Lockscan.dll", "Lockscan.dll")):
                    make_bundle.split_debug_info(os.path.join(ARGS.x86_64, "bin", name),
                                                 os.path.join(folder, shipped), os.path.join(folder, name + ".debug"))
                with open(os.path.join(install, "version.ini"), "w") as f:
                    f.write("[update]\r\nversion=1\r\n")
                with open(os.path.join(install, "payload.txt"), "w") as f:
                    f.write("version 1\n")
                env = dict(os.environ, VELISK_REPORT_BASE_URL="http://127.0.0.1:9")
                subprocess.run([ARGS.wine_run, "--prefix=" + os.path.abspath(ARGS.prefix),
                                os.path.join(folder, "Update.exe"), windows(install),
                                "http://localhost/%s/2/ProgramConfig.zdb.zip" % base,
                                windows(os.path.join(www, "2", "version.ini")), "0", windows(install),
                                windows(os.path.join(install, "launcher.exe"))],
                               env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
                with open(os.path.join(install, "payload.txt")) as f:
                    self.assertEqual(f.read(), "version 2\n" if installs else "version 1\n")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--source", "--i686", "--x86_64", "--work", "--version", "--wine-run", "--prefix"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    missing = [n for n in ("Update.exe", "Haltrix.exe", "Lockscan.dll", "Vantor.dll")
               if not os.path.isfile(os.path.join(ARGS.i686, "bin", n))]
    if missing:
        print("bundle_test: the i686 tree %s is not built (missing %s): run scripts/configure.sh i686; skipped"
              % (ARGS.i686, ", ".join(missing)))
        return SKIP
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
