"""One-file zip archives in the form the updater unpacks."""

import os
import zipfile

# Archives are read through 32-bit positions; at 4 GiB they cannot be read.
ARCHIVE_LIMIT = 0xFFFFFFFF


def write_file_archive(source, archive_path):
    """Writes `archive_path` holding the file `source` under its bare name.

    The entry is deflated and carries the file's own attributes (never the
    folder attribute alone, which the updater takes for a folder entry).
    Returns the archive's size in bytes.
    """
    os.makedirs(os.path.dirname(archive_path), exist_ok=True)
    with zipfile.ZipFile(archive_path, "w", compression=zipfile.ZIP_DEFLATED,
                         strict_timestamps=False) as archive:
        archive.write(source, arcname=os.path.basename(source))
    return os.path.getsize(archive_path)


def write_manifest_archive(database, signature, archive_path):
    """Writes the manifest archive: the database under its bare name and,
    when `signature` is a path, the signature file as a second entry under
    its bare name (the database's name + ".sig"). Returns the archive's size.
    """
    os.makedirs(os.path.dirname(archive_path), exist_ok=True)
    with zipfile.ZipFile(archive_path, "w", compression=zipfile.ZIP_DEFLATED,
                         strict_timestamps=False) as archive:
        archive.write(database, arcname=os.path.basename(database))
        if signature:
            archive.write(signature, arcname=os.path.basename(signature))
    return os.path.getsize(archive_path)
