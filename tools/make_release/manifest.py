"""Writes ProgramConfig.zdb, the SQLite manifest of one version."""

import sqlite3

MANIFEST_NAME = "ProgramConfig.zdb"

_SCHEMA = """
CREATE TABLE ConfigServer (SectionName TEXT NOT NULL);
CREATE TABLE ProgramVersion (SectionName TEXT NOT NULL, Version INTEGER NOT NULL);
"""
# Updaters bound each download by ArchiveSize and each unpacked file by
# FileSize; older updaters ignore the extra columns.
_FILES_WITH_SIZES = ("CREATE TABLE FileVersion (SectionName TEXT NOT NULL, SHA1 BLOB NOT NULL, "
                     "FileSize INTEGER NOT NULL, ArchiveSize INTEGER NOT NULL);")
# The table as releases made before the sizes had it.
_FILES_WITHOUT_SIZES = "CREATE TABLE FileVersion (SectionName TEXT NOT NULL, SHA1 BLOB NOT NULL);"


def write_manifest(path, files, servers, version):
    """Creates the database at `path` (which must not exist).

    files: (name, digest, size, archive_size) rows, name relative with "/"
    between levels, digest 20 bytes in the manifest layout, size the file's
    bytes and archive_size its archive's bytes; rows keep the given order.
    (name, digest) pairs instead make the manifest of an older release,
    without the size columns.
    servers: download server base URLs; version: the release number.
    """
    files = list(files)
    with_sizes = all(len(row) == 4 for row in files)
    if not with_sizes and not all(len(row) == 2 for row in files):
        raise ValueError("file rows must all have sizes or none")
    connection = sqlite3.connect(str(path))
    try:
        with connection:
            connection.executescript(_SCHEMA + (_FILES_WITH_SIZES if with_sizes else _FILES_WITHOUT_SIZES))
            if with_sizes:
                connection.executemany(
                    "INSERT INTO FileVersion (SectionName, SHA1, FileSize, ArchiveSize) VALUES (?, ?, ?, ?)",
                    [(name, sqlite3.Binary(digest), size, archive_size)
                     for name, digest, size, archive_size in files])
            else:
                connection.executemany(
                    "INSERT INTO FileVersion (SectionName, SHA1) VALUES (?, ?)",
                    [(name, sqlite3.Binary(digest)) for name, digest in files])
            connection.executemany(
                "INSERT INTO ConfigServer (SectionName) VALUES (?)",
                [(server,) for server in servers])
            connection.execute(
                "INSERT INTO ProgramVersion (SectionName, Version) VALUES ('ProgramVer', ?)",
                (version,))
    finally:
        connection.close()
