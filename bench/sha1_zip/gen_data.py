"""Writes the benchmark's client files: TOTAL bytes in files of mixed sizes,
half of them random (incompressible) and half text-like (compressible).

    gen_data.py OUT_DIR TOTAL_BYTES
"""

import os
import random
import sys

KIB, MIB = 1024, 1024 * 1024
# (share of the total, smallest, largest file size)
CLASSES = [(0.25, 1 * KIB, 1 * MIB), (0.35, 1 * MIB, 8 * MIB), (0.40, 24 * MIB, 96 * MIB)]
WORDS = b"update engine manifest digest archive version client folder install verify".split()


def text_block(rng, size):
    out = bytearray()
    while len(out) < size:
        out += b" ".join(rng.choice(WORDS) for _ in range(12)) + b" %d\n" % rng.randrange(1 << 20)
    return bytes(out[:size])


def write_file(path, size, rng, compressible):
    block = text_block(rng, min(size, MIB)) if compressible else None
    with open(path, "wb") as f:
        left = size
        while left > 0:
            n = min(left, MIB)
            f.write(block[:n] if compressible else rng.randbytes(n))
            left -= n


def main(out, total):
    rng = random.Random(1234)
    os.makedirs(out, exist_ok=True)
    sizes = [4 * MIB, 4 * MIB + 1] if total >= 64 * MIB else []  # the read-block boundary
    rest = total - sum(sizes)
    for share, low, high in CLASSES:
        budget = int(rest * share)
        while budget > 0:
            size = min(rng.randint(low, high), budget)
            sizes.append(size)
            budget -= size
    for i, size in enumerate(sizes):
        folder = os.path.join(out, "d%02d" % (i % 16))
        os.makedirs(folder, exist_ok=True)
        write_file(os.path.join(folder, "f%05d.bin" % i), max(size, 1), rng, i % 2 == 0)
    print("%d files, %d bytes" % (len(sizes), sum(max(s, 1) for s in sizes)))


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]))
