"""Writes ProgramConfig.zdb, the SQLite manifest of one version."""

import sqlite3

MANIFEST_NAME = "ProgramConfig.zdb"

_SCHEMA = """
CREATE TABLE FileVersion (SectionName TEXT NOT NULL, SHA1 BLOB NOT NULL);
CREATE TABLE ConfigServer (SectionName TEXT NOT NULL);
CREATE TABLE ProgramVersion (SectionName TEXT NOT NULL, Version INTEGER NOT NULL);
"""


# Patches against earlier versions of a file; updaters that do not know the
# table ignore it.
_PATCH_SCHEMA = """
CREATE TABLE FilePatch (SectionName TEXT NOT NULL, FromSHA1 BLOB NOT NULL, PatchSize INTEGER NOT NULL,
                        TargetSize INTEGER NOT NULL, ArchiveSize INTEGER NOT NULL);
"""


def write_manifest(path, files, servers, version, patches=()):
    """Creates the database at `path` (which must not exist).

    files: (name, digest) pairs, name relative with "/" between levels and
    digest 20 bytes in the manifest layout; rows keep the given order.
    servers: download server base URLs; version: the release number.
    patches: FilePatch rows (name, from_digest, patch_size, target_size,
    archive_size); the table is written only when there are some, so a
    release without patches has exactly the manifest it had before.
    """
    connection = sqlite3.connect(str(path))
    try:
        with connection:
            connection.executescript(_SCHEMA)
            connection.executemany(
                "INSERT INTO FileVersion (SectionName, SHA1) VALUES (?, ?)",
                [(name, sqlite3.Binary(digest)) for name, digest in files])
            connection.executemany(
                "INSERT INTO ConfigServer (SectionName) VALUES (?)",
                [(server,) for server in servers])
            connection.execute(
                "INSERT INTO ProgramVersion (SectionName, Version) VALUES ('ProgramVer', ?)",
                (version,))
            if patches:
                connection.executescript(_PATCH_SCHEMA)
                connection.executemany(
                    "INSERT INTO FilePatch (SectionName, FromSHA1, PatchSize, TargetSize, ArchiveSize) "
                    "VALUES (?, ?, ?, ?, ?)",
                    [(name, sqlite3.Binary(digest), patch, target, archive)
                     for name, digest, patch, target, archive in patches])
    finally:
        connection.close()


def read_file_rows(path):
    """The (name, digest) rows of the FileVersion table of the manifest at `path`."""
    connection = sqlite3.connect("file:%s?mode=ro" % path, uri=True)
    try:
        return [(name, bytes(digest)) for name, digest in
                connection.execute("SELECT SectionName, SHA1 FROM FileVersion")]
    finally:
        connection.close()
