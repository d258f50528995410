"""Builds the server tree of one release from a folder of client files.

Layout under the output folder, which is published at the download base URL:

    <version>/<name>.zip              one archive per file, holding the file
                                      under its bare name
    <version>/ProgramConfig.zdb.zip   the manifest archive
    <version>/version.ini             the release's version.ini
    <version>/version.ini.sig         its signature (signed releases only)
"""

import fnmatch
import os
import shutil
import tempfile

import archives
import digests
import manifest
import published
import signing
from version_ini import VersionIni

MANIFEST_ARCHIVE = manifest.MANIFEST_NAME + ".zip"
INI_NAME = "version.ini"
# Top-level files of the client folder that a release delivers by other means.
ALWAYS_EXCLUDED = (manifest.MANIFEST_NAME, INI_NAME)

MAX_NAME_CHARS = 255     # width of the updater's name slots
MAX_URL_CHARS = 254      # [update] url is read into 255 characters
# Start of the updater's backup folders in the installation (folded case):
# no top-level name of a release may begin with it, so that no folder of a
# release can ever be taken for a backup.
RESERVED_TOP_LEVEL_PREFIX = "update.backup."
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
        if name.split("/")[0].lower().startswith(RESERVED_TOP_LEVEL_PREFIX):
            problems.append("%s: top-level names starting with %r are the updater's backup folders"
                            % (name, "Update.backup."))
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


def _check_version(out, version, force, allow_older, log):
    """Refuses a release number below the newest published one (unless
    allowed) and an existing one (unless forced); returns the newest."""
    versions = published.published_versions(out)
    newest = versions[-1] if versions else None
    if newest is not None and version < newest:
        if not allow_older:
            raise ReleaseError("version %d is older than version %d, the newest in %s: updaters with keys "
                               "refuse it and updaters without keys would install a downgrade "
                               "(--allow-older publishes it anyway)" % (version, newest, out))
        log("warning: version %d is older than version %d; updaters built with keys will refuse it"
            % (version, newest))
    if os.path.exists(os.path.join(out, str(version))) and not force:
        raise ReleaseError("%s exists (use --force to replace it)" % os.path.join(out, str(version)))
    return newest


def _move_into_place(staging, release_dir):
    """Renames the finished `staging` folder to `release_dir`; an earlier
    release there is moved aside first and removed only afterwards, so a
    failure leaves one complete release in place."""
    previous = None
    if os.path.exists(release_dir):
        previous = tempfile.mkdtemp(prefix="." + os.path.basename(release_dir) + ".old-",
                                    dir=os.path.dirname(release_dir))
        os.rmdir(previous)
        os.rename(release_dir, previous)
    try:
        os.rename(staging, release_dir)
    except OSError:
        if previous:
            os.rename(previous, release_dir)
        raise
    if previous:
        shutil.rmtree(previous, ignore_errors=True)


def make_release(source, version, base_url, out, *, version_name=None, ini_template=None,
                 notes=None, settings=(), servers=(), excludes=(), force=False, sign_key=None,
                 unsigned=False, allow_older=False, dry_run=False, log=print):
    """Writes the release tree; returns a dict of what was written. With
    `sign_key` (a P-256 private key in PEM) the manifest archive also holds
    ProgramConfig.zdb.sig, the signature of the manifest's exact bytes, and
    version.ini gets version.ini.sig; without one the release is refused
    unless `unsigned`. Everything is written into a folder beside
    OUT/VERSION that takes its place only when complete; `dry_run` writes
    nothing and only logs the summary."""
    if not os.path.isdir(source):
        raise ReleaseError("no client folder at %s" % source)
    if not 0 <= version <= 0x7FFFFFFF:
        raise ReleaseError("the version must be a number from 0 to 2147483647")
    if not base_url.endswith("/"):
        raise ReleaseError("the download base URL must end with '/' (the version follows it directly)")
    if len(base_url) > MAX_URL_CHARS:
        raise ReleaseError("the download base URL is longer than %d characters" % MAX_URL_CHARS)
    if not sign_key and not unsigned:
        raise ReleaseError("no signing key: give --sign-key (or VELISK_RELEASE_SIGN_KEY), or --unsigned to "
                           "publish a release that updaters built with keys refuse")

    if sign_key:
        signing.check_private_key(sign_key)  # before anything is written
    names = _relative_names(source, excludes)
    if not names:
        raise ReleaseError("the client folder holds no files to publish")
    warnings = check_names(names)
    newest = _check_version(out, version, force, allow_older, log)

    final_dir = os.path.join(out, str(version))
    if not dry_run:
        os.makedirs(out, exist_ok=True)
    # Beside OUT/VERSION, so that the finished folder is renamed into place;
    # a dry run works in the system's temporary folder and leaves OUT alone.
    scratch_root = tempfile.mkdtemp(prefix=".%d.partial-" % version, dir=None if dry_run else out)
    release_dir = os.path.join(scratch_root, str(version))
    os.makedirs(release_dir)
    def log_final(line):  # paths as they will be once the release is in place
        log(line.replace(release_dir, final_dir))

    try:
        result = _write_release(source, version, base_url, release_dir, names, warnings, version_name,
                                ini_template, notes, settings, servers, sign_key, log_final)
        old_files = published.published_files(out, newest) if newest is not None else {}
        for line in published.change_summary(newest, old_files, result["files"], result["archive_sizes"],
                                             os.path.getsize(result["manifest_archive"])):
            log(line)
        if dry_run:
            log("dry run: nothing written to %s" % out)
        else:
            _move_into_place(release_dir, final_dir)
    finally:
        shutil.rmtree(scratch_root, ignore_errors=True)
    for key in ("manifest_archive", "ini"):
        result[key] = os.path.join(final_dir, os.path.relpath(result[key], release_dir))
    result["release_dir"] = final_dir
    return result


def _write_release(source, version, base_url, release_dir, names, warnings, version_name, ini_template,
                   notes, settings, servers, sign_key, log):
    """Writes every file of the release into `release_dir` (which exists)."""
    rows, total_bytes, archive_sizes = [], 0, {}
    for name in names:
        path = os.path.join(source, *name.split("/"))
        size = os.path.getsize(path)
        if size == 0:
            warnings.append("%s: empty; the updater cannot unpack empty files, so "
                            "installations without it cannot receive it" % name)
        digest = digests.file_digest(path)
        archive_path = os.path.join(release_dir, *name.split("/")) + ".zip"
        archive_size = archives.write_file_archive(path, archive_path)
        archive_sizes[name] = archive_size
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
    log("wrote %s (%s)" % (manifest_archive, "signed" if sign_key else "NOT signed: updaters with keys refuse it"))

    ini_path = os.path.join(release_dir, INI_NAME)
    template = ini_template if ini_template is not None else os.path.join(source, INI_NAME)
    text = build_ini(template, version, base_url, version_name or "v%d" % version, notes, settings)
    with open(ini_path, "w", encoding="utf-8", newline="") as f:
        f.write(text)
    log("wrote %s" % ini_path)
    if sign_key:
        # The client downloads version.ini.sig beside version.ini; an updater
        # with keys reads nothing of a version.ini without a good signature.
        log("wrote %s (signed)" % signing.sign_file(ini_path, sign_key))

    for warning in warnings:
        log("warning: %s" % warning)
    manifest_url = "%s%d/%s" % (base_url, version, MANIFEST_ARCHIVE)
    log("files: %d (%d bytes)" % (len(rows), total_bytes))
    log("manifest archive URL: %s" % manifest_url)
    log("version.ini URL: %s%d/%s" % (base_url, version, INI_NAME))
    return {"release_dir": release_dir, "files": rows, "manifest_archive": manifest_archive,
            "manifest_url": manifest_url, "ini": ini_path, "warnings": warnings,
            "signed": bool(sign_key), "archive_sizes": archive_sizes}
