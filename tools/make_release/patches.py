"""Per-file zstd patches against the files of earlier releases.

A patch turns one earlier version of a file into this release's version. It
is a plain zstd frame made with the earlier file as its reference
(`zstd --patch-from`), published as

    <version>/<name>.<hex>.zst

where <hex> is the 40 lower-case hex digits of the earlier file's digest in
the manifest layout (the bytes of FilePatch.FromSHA1, in stored order). It is
kept only when it is smaller than PATCH_SHARE of the file's full archive, and
only for files the updater patches (both versions at most
MAX_PATCHED_FILE_BYTES, so that the decoder's window stays within
2^MAX_WINDOW_LOG). Needs the `zstd` command (Debian package zstd).
"""

import os
import shutil
import subprocess
import tempfile
import zipfile

import digests
import published

PATCH_SHARE = 0.60
MAX_PATCHED_FILE_BYTES = 96 * 1024 * 1024   # the updater's limit (update/engine/patch_apply.h)
MAX_WINDOW_LOG = 27                         # the updater decodes windows up to 2^27
LEVEL = "-19"
LONG = "--long=30"   # zstd sets the window from the file size in --patch-from mode


class PatchError(Exception):
    pass


def zstd_command():
    path = shutil.which("zstd")
    if path is None:
        raise PatchError("patches need the zstd command (Debian package zstd)")
    return path


def frame_window_log(patch_path):
    """Window log that decoding the frame at `patch_path` needs (its frame
    header's window descriptor, or the content size of a single-segment
    frame rounded up to a power of two)."""
    with open(patch_path, "rb") as f:
        header = f.read(18)
    if len(header) < 6 or header[:4] != b"\x28\xb5\x2f\xfd":
        raise PatchError("%s is not a zstd frame" % patch_path)
    descriptor = header[4]
    single_segment = descriptor & 0x20
    if not single_segment:
        window = header[5]
        exponent, mantissa = window >> 3, window & 7
        base = 1 << (10 + exponent)
        size = base + (base // 8) * mantissa
    else:
        dict_bytes = (0, 1, 2, 4)[descriptor & 3]
        size_bytes = (1, 2, 4, 8)[descriptor >> 6]
        start = 5 + dict_bytes
        size = int.from_bytes(header[start:start + size_bytes], "little")
        if size_bytes == 2:
            size += 256
    return max(10, (size - 1).bit_length())


class PatchBase:
    """The files of one earlier release: name -> (path, digest)."""

    def __init__(self, label, files):
        self.label = label
        self.files = files


def base_from_folder(folder):
    """An earlier release given as its client folder."""
    if not os.path.isdir(folder):
        raise PatchError("no earlier release folder at %s" % folder)
    files = {}
    for parent, subfolders, names in os.walk(folder):
        subfolders.sort()
        for file_name in names:
            path = os.path.join(parent, file_name)
            name = os.path.relpath(path, folder).replace(os.sep, "/")
            if os.path.isfile(path) and os.path.getsize(path) > 0:
                files[name] = (path, None)
    return PatchBase(folder, files)


def base_from_published(out, earlier, scratch):
    """An earlier release as published in OUT/<earlier>: the files its
    manifest lists, unpacked from their archives into `scratch`, each checked
    against the listed digest."""
    release = os.path.join(out, str(earlier))
    files = {}
    for name, (digest, _) in published.published_files(out, earlier).items():
        archive = os.path.join(release, *name.split("/")) + ".zip"
        if not os.path.isfile(archive):
            continue
        target = os.path.join(scratch, *name.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with zipfile.ZipFile(archive) as z, z.open(os.path.basename(name)) as src, open(target, "wb") as dst:
            shutil.copyfileobj(src, dst)
        if os.path.getsize(target) > 0 and digests.file_digest(target) == digest:
            files[name] = (target, digest)
    return PatchBase("%s (published)" % release, files)


def patch_bases(out, version, folders, published_count, scratch):
    """The bases to patch from: each client folder of `folders`, then the
    `published_count` latest releases below `version` published in OUT
    (unpacked below `scratch`)."""
    bases = [base_from_folder(folder) for folder in folders]
    earlier = [v for v in published.published_versions(out) if v < version]
    for release in reversed(earlier[len(earlier) - published_count:] if published_count > 0 else []):
        bases.append(base_from_published(out, release, os.path.join(scratch, str(release))))
    return bases


def _make_patch(zstd, old, new, patch_path):
    subprocess.run([zstd, "-q", "-f", LEVEL, LONG, "--patch-from=" + old, new, "-o", patch_path],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _check_patch(zstd, old, patch_path, digest):
    """Decodes the patch as the updater will and compares the result."""
    if frame_window_log(patch_path) > MAX_WINDOW_LOG:
        return False
    with tempfile.TemporaryDirectory() as scratch:
        result = os.path.join(scratch, "result")
        subprocess.run([zstd, "-q", "-d", "-f", "--long=%d" % MAX_WINDOW_LOG, "--patch-from=" + old,
                        patch_path, "-o", result], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        return digests.file_digest(result) == digest


def write_patches(bases, name, path, digest, archive_size, release_dir, log):
    """Writes the patches of one file of the release from every base that has
    another version of it. Returns FilePatch rows
    (name, from_digest, patch_size, target_size, archive_size)."""
    size = os.path.getsize(path)
    if size == 0 or size > MAX_PATCHED_FILE_BYTES:
        return []
    zstd = zstd_command()
    rows, seen = [], set()
    for base in bases:
        entry = base.files.get(name)
        if entry is None:
            continue
        old, old_digest = entry
        if os.path.getsize(old) > MAX_PATCHED_FILE_BYTES:
            continue
        old_digest = old_digest or digests.file_digest(old)
        if old_digest == digest or old_digest in seen:
            continue
        seen.add(old_digest)
        patch_path = os.path.join(release_dir, *name.split("/")) + "." + old_digest.hex() + ".zst"
        try:
            _make_patch(zstd, old, path, patch_path)
            usable = _check_patch(zstd, old, patch_path, digest)
        except subprocess.CalledProcessError as error:
            raise PatchError("zstd failed on %s: %s" % (name, error.stderr.decode(errors="replace").strip()))
        patch_size = os.path.getsize(patch_path)
        if not usable or patch_size >= PATCH_SHARE * archive_size:
            os.remove(patch_path)
            log("no patch for %s from %s: %d bytes against an archive of %d" %
                (name, base.label, patch_size, archive_size))
            continue
        rows.append((name, old_digest, patch_size, size, archive_size))
        log("wrote %s (%d bytes, archive %d)" % (patch_path, patch_size, archive_size))
    return rows
