"""docs/version-ini.md against the code: the key table must name exactly the
version.ini keys that the updater's sources read, and the release tool's
--set must accept exactly those."""

import glob
import os
import re
import sys
import unittest

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SECTIONS = {"kUpdate": "update", "kRegKey": "regKey", 'L"update"': "update", 'L"regKey"': "regKey"}
SECTION = r'(kUpdate|kRegKey|L"update"|L"regKey")'
READS = [
    # ReadIniString(path, section, key, ...) and ReadIniInt(path, section, key, ...)
    re.compile(r'\bReadIni(?:String|Int)\(\s*[^,()]+(?:\([^()]*\))?[^,]*,\s*' + SECTION + r',\s*L"(\w+)"'),
    # The profile functions and the UTF-8 reader take the section first.
    re.compile(r'\b(?:GetProfileStringUtf8|GetPrivateProfileStringW|GetPrivateProfileIntW)\(\s*' + SECTION +
               r',\s*L"(\w+)"'),
]
# The statistics context reads [update] keys through its own two helpers.
STAT_READS = re.compile(r'\bReadProfile(?:Text|Int)\(\s*\w+,\s*L"(\w+)"')


def keys_in_code():
    found = set()
    for path in glob.glob(os.path.join(REPO, "update", "**", "*.cpp"), recursive=True):
        with open(path, encoding="utf-8") as f:
            text = f.read()
        for pattern in READS:
            for section, key in pattern.findall(text):
                found.add((SECTIONS[section], key))
        found.update(("update", key) for key in STAT_READS.findall(text))
        if '"[updateInfo]"' in text:
            found.add(("updateInfo", "(every line)"))
    return found


def keys_in_docs():
    rows = set()
    with open(os.path.join(REPO, "docs", "version-ini.md"), encoding="utf-8") as f:
        for line in f:
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if len(cells) == 7 and cells[0] not in ("Section",) and not set(cells[0]) <= set("-"):
                rows.add((cells[0], cells[1]))
    return rows


class VersionIniKeysTest(unittest.TestCase):
    def test_the_table_names_exactly_the_keys_the_code_reads(self):
        code, docs = keys_in_code(), keys_in_docs()
        self.assertGreater(len(code), 15, "the scan of the sources found too few reads")
        self.assertEqual(sorted(code - docs), [], "read by the code, missing in docs/version-ini.md")
        self.assertEqual(sorted(docs - code), [], "in docs/version-ini.md, not read by the code")

    def test_the_release_tool_sets_exactly_those_keys(self):
        sys.path.insert(0, os.path.join(REPO, "tools", "make_release"))
        import ini_keys  # noqa: E402
        documented = {k for k in keys_in_docs() if k[0] != "updateInfo"}
        self.assertEqual(sorted(set(ini_keys.KEYS)), sorted(documented))


if __name__ == "__main__":
    unittest.main()
