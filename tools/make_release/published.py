"""What is already published in an output folder: its release numbers and,
for one release, each file's digest and archive size (for the guard rails
and the change summary of a new release)."""

import os
import sqlite3
import tempfile
import zipfile

import manifest

MANIFEST_ARCHIVE = manifest.MANIFEST_NAME + ".zip"


def published_versions(out):
    """Release numbers of OUT/<number>/ folders that hold a manifest archive, ascending."""
    if not os.path.isdir(out):
        return []
    versions = []
    for name in os.listdir(out):
        if name.isdigit() and os.path.isfile(os.path.join(out, name, MANIFEST_ARCHIVE)):
            versions.append(int(name))
    return sorted(versions)


def published_files(out, version):
    """{name: (digest, archive size or None)} of release `version` in OUT,
    read from its manifest archive; empty when it cannot be read."""
    release = os.path.join(out, str(version))
    try:
        with zipfile.ZipFile(os.path.join(release, MANIFEST_ARCHIVE)) as archive:
            data = archive.read(manifest.MANIFEST_NAME)
    except (OSError, KeyError, zipfile.BadZipFile):
        return {}
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, manifest.MANIFEST_NAME)
        with open(path, "wb") as f:
            f.write(data)
        connection = sqlite3.connect(path)
        try:
            rows = connection.execute("SELECT SectionName, SHA1 FROM FileVersion").fetchall()
        except sqlite3.DatabaseError:
            rows = []
        finally:
            connection.close()
    files = {}
    for name, digest in rows:
        archive_path = os.path.join(release, *name.split("/")) + ".zip"
        size = os.path.getsize(archive_path) if os.path.isfile(archive_path) else None
        files[name] = (bytes(digest), size)
    return files


def change_summary(old_version, old_files, new_rows, archive_sizes, manifest_archive_size):
    """Lines that say what a release changes against the newest published one.

    old_files: published_files() of that release (empty for a first release);
    new_rows: (name, digest, ...) rows of the new release; archive_sizes: {name: size}.
    """
    new = {row[0]: row[1] for row in new_rows}
    added = sorted(n for n in new if n not in old_files)
    changed = sorted(n for n in new if n in old_files and old_files[n][0] != new[n])
    removed = sorted(n for n in old_files if n not in new)
    against = "version %d" % old_version if old_version is not None else "nothing published"
    lines = ["summary against %s: %d new, %d changed, %d removed, %d unchanged"
             % (against, len(added), len(changed), len(removed), len(new) - len(added) - len(changed))]
    for label, names in (("new", added), ("changed", changed)):
        for name in names:
            lines.append("  %-8s %s (%d bytes archived)" % (label, name, archive_sizes.get(name, 0)))
    for name in removed:
        lines.append("  %-8s %s" % ("removed", name))
    fetched = sum(archive_sizes.get(n, 0) for n in added + changed) + manifest_archive_size
    lines.append("a user of %s fetches %d bytes (the manifest archive and %d file archives)"
                 % (against if old_version is not None else "no earlier version", fetched,
                    len(added) + len(changed)))
    return lines
