"""Facts the release tests read from Windows PE files on the host: the
VERSIONINFO resource, the COFF symbol count, the debug link, the image base,
and symbol lookups through MinGW's binutils."""

import re
import struct
import subprocess
import zlib

RT_VERSION = 16


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        if self.data[:2] != b"MZ":
            raise ValueError("%s is not a PE file" % path)
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("%s has no PE header" % path)
        self.machine, sections, _, self.symbol_table, self.symbol_count, optional_size, _ = \
            struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", self.data, optional)[0]
        self.is_64bit = magic == 0x20B
        if self.is_64bit:
            self.image_base = struct.unpack_from("<Q", self.data, optional + 24)[0]
            directories = optional + 112
        else:
            self.image_base = struct.unpack_from("<I", self.data, optional + 28)[0]
            directories = optional + 96
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            raw_name, vsize, va, raw_size, raw_ptr = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((self._section_name(raw_name), va, vsize, raw_ptr, raw_size))

    def _section_name(self, raw):
        name = raw.rstrip(b"\0").decode("ascii", "replace")
        if name.startswith("/") and self.symbol_table:
            # A long name lives in the string table after the symbols.
            strings = self.symbol_table + 18 * self.symbol_count
            start = strings + int(name[1:])
            return self.data[start:self.data.index(b"\0", start)].decode("ascii", "replace")
        return name

    def section_names(self):
        return [s[0] for s in self.sections]

    def section_data(self, name):
        for section_name, _, vsize, raw_ptr, raw_size in self.sections:
            if section_name == name:
                return self.data[raw_ptr:raw_ptr + min(vsize, raw_size) if vsize else raw_size]
        return None

    def _offset(self, rva):
        for _, va, vsize, raw_ptr, raw_size in self.sections:
            if va <= rva < va + max(vsize, raw_size):
                return raw_ptr + rva - va
        raise ValueError("address 0x%x lies in no section" % rva)

    def certificate_table_size(self):
        return self.directories[4][1]

    def version_resource(self):
        """The bytes of the first RT_VERSION resource, or None."""
        rva, size = self.directories[2]
        if not size:
            return None
        base = self._offset(rva)

        def entries(table):
            named, numbered = struct.unpack_from("<HH", self.data, table + 12)
            for i in range(named + numbered):
                yield struct.unpack_from("<II", self.data, table + 16 + 8 * i)

        for ident, target in entries(base):
            if ident != RT_VERSION:
                continue
            node = target
            while node & 0x80000000:  # name, then language level
                node = next(entries(base + (node & 0x7FFFFFFF)))[1]
            data_rva, data_size = struct.unpack_from("<II", self.data, base + node)
            start = self._offset(data_rva)
            return self.data[start:start + data_size]
        return None


def _read_block(data, pos):
    """One VERSIONINFO block at `pos`: (key, value bytes, children, end)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, pos)
    end = pos + length
    key_start = pos + 6
    key_end = key_start
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_start:key_end].decode("utf-16-le")
    value_start = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = data[value_start:value_start + value_bytes]
    children = []
    child = (value_start + value_bytes + 3) & ~3
    while child < end:
        block = _read_block(data, child)
        children.append(block)
        child = (block[3] + 3) & ~3
    return key, value, children, end


def version_info(path):
    """{'FileVersion#': (a, b, c, d), 'ProductVersion#': ..., and every
    string of the StringFileInfo tables}; empty when there is none."""
    resource = PeFile(path).version_resource()
    if resource is None:
        return {}
    key, value, children, _ = _read_block(resource, 0)
    facts = {}
    if key == "VS_VERSION_INFO" and len(value) >= 52:
        signature, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", value, 0)
        if signature == 0xFEEF04BD:
            facts["FileVersion#"] = (fms >> 16, fms & 0xFFFF, fls >> 16, fls & 0xFFFF)
            facts["ProductVersion#"] = (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)
    for child_key, _, tables, _ in children:
        if child_key != "StringFileInfo":
            continue
        for _, _, strings, _ in tables:
            for name, text, _, _ in strings:
                facts[name] = text.decode("utf-16-le").rstrip("\0")
    return facts


def debug_link(path):
    """(file name, CRC-32) of the .gnu_debuglink section, or None."""
    data = PeFile(path).section_data(".gnu_debuglink")
    if data is None:
        return None
    name_end = data.index(b"\0")
    crc_at = (name_end + 4) & ~3
    return data[:name_end].decode(), struct.unpack_from("<I", data, crc_at)[0]


def file_crc32(path):
    with open(path, "rb") as f:
        return zlib.crc32(f.read()) & 0xFFFFFFFF


def triplet(path):
    return "x86_64-w64-mingw32" if PeFile(path).machine == 0x8664 else "i686-w64-mingw32"


def function_address(debug_file, pattern):
    """The address of the first function symbol in `debug_file` whose
    demangled name matches the regular expression `pattern`."""
    listing = subprocess.run([triplet(debug_file) + "-nm", "-C", debug_file], check=True,
                             stdout=subprocess.PIPE, text=True).stdout
    for line in listing.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[1] in "Tt" and re.search(pattern, parts[2]):
            return int(parts[0], 16)
    return None


def resolve(debug_file, address):
    """(function, source file:line) that addr2line finds for `address`."""
    out = subprocess.run([triplet(debug_file) + "-addr2line", "-f", "-C", "-e", debug_file, "0x%x" % address],
                         check=True, stdout=subprocess.PIPE, text=True).stdout.splitlines()
    return (out[0], out[1]) if len(out) >= 2 else ("??", "??:0")
