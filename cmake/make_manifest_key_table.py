"""Writes the C++ table of trusted manifest keys from PEM public keys.

    make_manifest_key_table.py --check PEM...     only validate the keys
    make_manifest_key_table.py OUT.cpp PEM...     write the table

Each PEM must be an ECDSA P-256 public key ("BEGIN PUBLIC KEY"); its curve
point becomes one ManifestPublicKey (X, Y big-endian: the body of a
BCRYPT_ECCPUBLIC_BLOB). No keys give an empty table.
"""

import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "make_release"))

from signing import SigningError, public_point_from_pem  # noqa: E402


def c_bytes(data):
    return ", ".join("0x%02x" % b for b in data)


def table_source(pems, points):
    lines = ["// Generated at build time by cmake/make_manifest_key_table.py; do not edit.",
             "// Keys: " + (", ".join(os.path.basename(p) for p in pems) or "none"),
             '#include "engine/manifest_keys.h"', ""]
    if points:
        lines.append("namespace {")
        lines.append("constexpr ManifestPublicKey kKeys[] = {")
        for point in points:
            lines.append("    {{%s},\n     {%s}}," % (c_bytes(point[:32]), c_bytes(point[32:])))
        lines.append("};")
        lines.append("}  // namespace")
        lines.append("")
        lines.append("std::span<const ManifestPublicKey> TrustedManifestKeys() { return kKeys; }")
    else:
        lines.append("std::span<const ManifestPublicKey> TrustedManifestKeys() { return {}; }")
    return "\n".join(lines) + "\n"


def main(argv):
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    check = argv[0] == "--check"
    out, pems = (None, argv[1:]) if check else (argv[0], argv[1:])
    try:
        points = [public_point_from_pem(p) for p in pems]
    except (SigningError, OSError) as error:
        print("manifest key: %s" % error, file=sys.stderr)
        return 1
    if len(set(points)) != len(points):
        print("manifest key: the same key is named twice", file=sys.stderr)
        return 1
    if check:
        return 0
    text = table_source(pems, points)
    if os.path.exists(out):
        with open(out, "r", encoding="utf-8") as f:
            if f.read() == text:
                return 0
    with open(out, "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
