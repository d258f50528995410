"""Writes the version.ini that describes a release.

Keeps every line of a template and sets keys of its sections; the
[updateInfo] section (the release notes) is always the last one, because
every line after its header is read as notes.
"""

import re

NOTES_SECTION = "updateInfo"


class VersionIni:
    def __init__(self, text=""):
        self.preamble = []   # lines before the first section header
        self.sections = []   # [name, [lines]] in file order
        current = self.preamble
        for line in text.splitlines():
            header = re.fullmatch(r"\[([^\]]*)\]", line)
            if header and not self._in_notes():
                self.sections.append([header.group(1), []])
                current = self.sections[-1][1]
            else:
                current.append(line)

    def _in_notes(self):
        return bool(self.sections) and self.sections[-1][0].lower() == NOTES_SECTION.lower()

    def _section(self, name):
        for section in self.sections:
            if section[0].lower() == name.lower():
                return section
        section = [name, []]
        self.sections.append(section)
        return section

    def set(self, section_name, key, value):
        """Sets key=value in the section (names matched without case, like
        the profile functions), replacing the first line of that key."""
        if "\n" in value or "\r" in value:
            raise ValueError("a version.ini value cannot span lines: %s" % key)
        lines = self._section(section_name)[1]
        pattern = re.compile(r"\s*" + re.escape(key) + r"\s*=", re.IGNORECASE)
        for i, line in enumerate(lines):
            if pattern.match(line):
                lines[i] = "%s=%s" % (key, value)
                return
        insert_at = len(lines)
        while insert_at > 0 and not lines[insert_at - 1].strip():
            insert_at -= 1
        lines.insert(insert_at, "%s=%s" % (key, value))

    def set_notes(self, notes_lines):
        self._section(NOTES_SECTION)[1] = list(notes_lines)

    def text(self):
        ordered = [s for s in self.sections if s[0].lower() != NOTES_SECTION.lower()]
        ordered += [s for s in self.sections if s[0].lower() == NOTES_SECTION.lower()]
        out = list(self.preamble)
        for name, lines in ordered:
            out.append("[%s]" % name)
            out.extend(lines)
        return "\r\n".join(out) + "\r\n"
