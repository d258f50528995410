"""Writes ProgramConfig.zdb, the SQLite manifest of one version."""

import sqlite3

MANIFEST_NAME = "ProgramConfig.zdb"

_SCHEMA = """
CREATE TABLE FileVersion (SectionName TEXT NOT NULL, SHA1 BLOB NOT NULL);
CREATE TABLE ConfigServer (SectionName TEXT NOT NULL);
CREATE TABLE ProgramVersion (SectionName TEXT NOT NULL, Version INTEGER NOT NULL);
"""


def write_manifest(path, files, servers, version):
    """Creates the database at `path` (which must not exist).

    files: (name, digest) pairs, name relative with "/" between levels and
    digest 20 bytes in the manifest layout; rows keep the given order.
    servers: download server base URLs; version: the release number.
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
    finally:
        connection.close()
