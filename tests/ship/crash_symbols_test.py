#!/usr/bin/env python3
"""A real crash of a stripped program resolved through its split symbols:

    crash_symbols_test.py --bin DIR --work DIR --wine-run SCRIPT --prefix DIR

crash_probe.exe (which sets up crash reporting as the updater does) is split
into a stripped copy and a symbols file the way the release bundle does it,
and the stripped copy runs under Wine with the crash-reporting stand-in and
faults on purpose. The stand-in's report gives the faulting module and offset
and where the crash callback lies; addr2line must find the faulting function
and the updater's crash callback in the symbols file.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "scripts", "bundle"))
import make_bundle  # noqa: E402
import pe_facts  # noqa: E402

ARGS = None


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class CrashAddress(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        work = os.path.join(ARGS.work, "crash symbols \u5d29\u6e83")
        shutil.rmtree(work, ignore_errors=True)
        cls.program = os.path.join(work, "program")
        cls.install = os.path.join(work, "install")
        os.makedirs(cls.program)
        os.makedirs(cls.install)
        built = os.path.join(ARGS.bin, "crash_probe.exe")
        cls.symbols = os.path.join(work, "crash_probe.exe.debug")
        cls.stripped = os.path.join(cls.program, "crash_probe.exe")
        make_bundle.split_debug_info(built, cls.stripped, cls.symbols)
        shutil.copyfile(os.path.join(ARGS.bin, "crashrpt_stub", "full", "CrashRpt1403.dll"),
                        os.path.join(cls.install, "CrashRpt1403.dll"))
        with open(os.path.join(cls.install, "crashrpt_lang.ini"), "w") as f:
            f.write("[Lang]\r\n")
        with open(os.path.join(cls.install, "CrashSender1403.exe"), "w") as f:
            f.write("MZ sender")
        env = dict(os.environ)
        env.pop("CRASHRPT_STUB", None)
        cls.run_result = subprocess.run(
            [ARGS.wine_run, "--prefix=" + os.path.abspath(ARGS.prefix), cls.stripped, "--program", windows(cls.program),
             "--install", windows(cls.install), "--crash"],
            env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        cls.calls = []
        record = os.path.join(cls.program, "CrashRpt1403.dll.record")
        if os.path.exists(record):
            with open(record, encoding="utf-8") as f:
                cls.calls = [json.loads(line) for line in f if line.strip()]

    def crash(self):
        crashes = [c for c in self.calls if c.get("call") == "crash"]
        self.assertEqual(len(crashes), 1, "calls: %s; output: %s" % (self.calls, self.run_result.stdout))
        return crashes[0]

    def test_the_stripped_program_carries_no_symbols(self):
        pe = pe_facts.PeFile(self.stripped)
        self.assertEqual(pe.symbol_count, 0)
        self.assertEqual(pe_facts.debug_link(self.stripped)[1], pe_facts.file_crc32(self.symbols))

    def test_the_crash_went_through_the_crash_callback(self):
        names = [c["call"] for c in self.calls]
        self.assertIn("crash", names)
        self.assertEqual([n for n in names[names.index("crash") + 1:] if n != "collect"],
                         ["callback", "callback", "terminate"])
        self.assertEqual(self.crash()["code"], 0xC0000005)

    def test_addresses_resolve_through_the_symbols_file(self):
        crash = self.crash()
        base = pe_facts.PeFile(self.symbols).image_base
        rows = (("fault", "FaultAfterStart", "crash_probe.cpp"),
                ("callback", "CrashCallback", "crash_reporter.cpp"))
        for key, function, source in rows:
            with self.subTest(key):
                self.assertEqual(crash.get(key + "Module"), "crash_probe.exe", crash)
                name, location = pe_facts.resolve(self.symbols, base + crash[key + "Offset"])
                print("%s at offset 0x%x: %s %s" % (key, crash[key + "Offset"], name, location))
                self.assertIn(function, name)
                self.assertRegex(location, re.escape(source) + r":[1-9]\d*")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--bin", "--work", "--wine-run", "--prefix"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
