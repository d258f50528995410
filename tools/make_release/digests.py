"""File digests in the byte layout the updater's manifests store.

SHA-1 ends with five 32-bit state words h0..h4; the updater stores them in
this order, each least significant byte first. Compared with the usual
SHA-1 byte string every group of four bytes is reversed.
"""

import hashlib

DIGEST_BYTES = 20
EMPTY_FILE_DIGEST = bytes(DIGEST_BYTES)
_CHUNK = 1 << 20


def to_manifest_layout(sha1_digest: bytes) -> bytes:
    """Reorders a standard 20-byte SHA-1 digest into the manifest layout."""
    if len(sha1_digest) != DIGEST_BYTES:
        raise ValueError("a SHA-1 digest has 20 bytes")
    return b"".join(sha1_digest[i:i + 4][::-1] for i in range(0, DIGEST_BYTES, 4))


def bytes_digest(data: bytes) -> bytes:
    """Manifest-layout digest of `data`."""
    return to_manifest_layout(hashlib.sha1(data).digest())


def file_digest(path) -> bytes:
    """Manifest-layout digest of the file at `path`.

    An empty file gets 20 zero bytes: the updater computes no digest for an
    empty file and compares a cleared one, so that is the only value under
    which an installed empty file counts as up to date.
    """
    hasher = hashlib.sha1()
    size = 0
    with open(path, "rb") as f:
        while True:
            block = f.read(_CHUNK)
            if not block:
                break
            size += len(block)
            hasher.update(block)
    if size == 0:
        return EMPTY_FILE_DIGEST
    return to_manifest_layout(hasher.digest())
