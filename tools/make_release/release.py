"""Builds the server tree of one release from a folder of client files.

Layout under the output folder, which is published at the download base URL:

    <version>/<name>.zip              one archive per file, holding the file
                                      under its bare name
    <version>/ProgramConfig.zdb.zip   the manifest archive
    <version>/version.ini             the release's version.ini
"""

import fnmatch
import os
import shutil
import tempfile

import archives
import digests
import manifest
import signing
from version_ini import VersionIni

MANIFEST_ARCHIVE = manifest.MANIFEST_NAME + ".zip"
INI_NAME = "version.ini"
# Top-level files of the client folder that a release delivers by other means.
ALWAYS_EXCLUDED = (manifest.MANIFEST_NAME, INI_NAME)

MAX_NAME_CHARS = 255     # width of the updater's name slots
MAX_URL_CHARS = 254      # [update] url is read into 255 characters
_WINDOWS_FORBIDDEN = set('<>:"\\|?*')
_URL_UNSAFE = set(" #%")


class ReleaseError(Exception):
    pass


def _relative_names(source, excludes):
    names = []
    for folder, subfolders, files in os.walk(source):
        subfolders.sort()
        for file_name in sorted(files):
            full = os.path.join(folder, file_name)
            if not os.path.isfile(full):
                continue
            name = os.path.relpath(full, source).replace(os.sep, "/")
            if name in ALWAYS_EXCLUDED or any(fnmatch.fnmatchcase(name, p) for p in excludes):
                continue
            names.append(name)
    return sorted(names)


def check_names(names):
    """Returns warnings; raises ReleaseError for names the updater cannot
    deliver (it unpacks ASCII entry names, keeps names in 255-character
    slots, and installs onto a file system that ignores case)."""
    problems, warnings = [], []
    seen = {}
    for name in names:
        if any(ord(c) > 127 for c in name):
            problems.append("%s: not ASCII" % name)
        if len(name) > MAX_NAME_CHARS:
            problems.append("%s: longer than %d characters" % (name, MAX_NAME_CHARS))
        bad = sorted(c for c in set(name) if c in _WINDOWS_FORBIDDEN or ord(c) < 32)
        if bad:
            problems.append("%s: characters Windows forbids in names: %r" % (name, "".join(bad)))
        if any(part.rstrip(". ") == "" for part in name.split("/")):
            problems.append("%s: a component of only dots or blanks" % name)
        unsafe = sorted(c for c in set(name) if c in _URL_UNSAFE)
        if unsafe:
            warnings.append("%s: characters %r are sent unescaped in the download URL"
                            % (name, "".join(unsafe)))
        folded = name.lower()
        if folded in seen:
            problems.append("%s: differs from %s only in letter case" % (name, seen[folded]))
        seen.setdefault(folded, name)
    if problems:
        raise ReleaseError("names the updater cannot deliver:\n  " + "\n  ".join(problems))
    return warnings


def _read_template(path):
    if path and os.path.isfile(path):
        with open(path, "r", encoding="utf-8-sig", newline="") as f:
            return f.read()
    return ""


def build_ini(template_path, version, base_url, version_name, notes_path, settings):
    ini = VersionIni(_read_template(template_path))
    ini.set("update", "version", str(version))
    ini.set("update", "url", base_url)
    ini.set("update", "versionName", version_name)
    for section, key, value in settings:
        ini.set(section, key, value)
    if notes_path:
        with open(notes_path, "r", encoding="utf-8-sig") as f:
            ini.set_notes(f.read().splitlines())
    return ini.text()


def make_release(source, version, base_url, out, *, version_name=None, ini_template=None,
                 notes=None, settings=(), servers=(), excludes=(), force=False, sign_key=None,
                 log=print):
    """Writes the release tree; returns a dict of what was written. With
    `sign_key` (a P-256 private key in PEM) the manifest archive also holds
    ProgramConfig.zdb.sig, the signature of the manifest's exact bytes."""
    if not os.path.isdir(source):
        raise ReleaseError("no client folder at %s" % source)
    if not 0 <= version <= 0x7FFFFFFF:
        raise ReleaseError("the version must be a number from 0 to 2147483647")
    if not base_url.endswith("/"):
        raise ReleaseError("the download base URL must end with '/' (the version follows it directly)")
    if len(base_url) > MAX_URL_CHARS:
        raise ReleaseError("the download base URL is longer than %d characters" % MAX_URL_CHARS)

    if sign_key:
        signing.check_private_key(sign_key)  # before anything is written
    names = _relative_names(source, excludes)
    if not names:
        raise ReleaseError("the client folder holds no files to publish")
    warnings = check_names(names)

    release_dir = os.path.join(out, str(version))
    if os.path.exists(release_dir):
        if not force:
            raise ReleaseError("%s exists (use --force to replace it)" % release_dir)
        shutil.rmtree(release_dir)
    os.makedirs(release_dir)

    rows, total_bytes = [], 0
    for name in names:
        path = os.path.join(source, *name.split("/"))
        size = os.path.getsize(path)
        if size == 0:
            warnings.append("%s: empty; the updater cannot unpack empty files, so "
                            "installations without it cannot receive it" % name)
        digest = digests.file_digest(path)
        archive_path = os.path.join(release_dir, *name.split("/")) + ".zip"
        archive_size = archives.write_file_archive(path, archive_path)
        if archive_size >= archives.ARCHIVE_LIMIT:
            warnings.append("%s: its archive reaches 4 GiB, which the updater cannot read" % name)
        rows.append((name, digest, size, archive_size))
        total_bytes += size
        log("wrote %s" % archive_path)

    with tempfile.TemporaryDirectory() as scratch:
        database = os.path.join(scratch, manifest.MANIFEST_NAME)
        manifest.write_manifest(database, rows, list(servers) or [base_url], version)
        signature = signing.sign_file(database, sign_key) if sign_key else None
        manifest_archive = os.path.join(release_dir, MANIFEST_ARCHIVE)
        archives.write_manifest_archive(database, signature, manifest_archive)
    log("wrote %s (%s)" % (manifest_archive, "signed" if sign_key else "not signed"))

    ini_path = os.path.join(release_dir, INI_NAME)
    template = ini_template if ini_template is not None else os.path.join(source, INI_NAME)
    text = build_ini(template, version, base_url, version_name or "v%d" % version, notes, settings)
    with open(ini_path, "w", encoding="utf-8", newline="") as f:
        f.write(text)
    log("wrote %s" % ini_path)

    for warning in warnings:
        log("warning: %s" % warning)
    manifest_url = "%s%d/%s" % (base_url, version, MANIFEST_ARCHIVE)
    log("files: %d (%d bytes)" % (len(rows), total_bytes))
    log("manifest archive URL: %s" % manifest_url)
    log("version.ini URL: %s%d/%s" % (base_url, version, INI_NAME))
    return {"release_dir": release_dir, "files": rows, "manifest_archive": manifest_archive,
            "manifest_url": manifest_url, "ini": ini_path, "warnings": warnings,
            "signed": bool(sign_key)}
