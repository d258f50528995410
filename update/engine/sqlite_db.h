// A small read layer over SQLite's UTF-16 interface: a connection, a query
// and the current row of a query. Used by the manifest checker. A database
// is always read from a private copy of its bytes in memory, read-only: no
// journal, WAL or other file beside it can change what is read, and nothing
// is ever written to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// Largest database read into memory (the manifest limit).
constexpr uint64_t kMaxDatabaseBytes = 256ull * 1024 * 1024;

// One database. Nothing is opened at construction; the destructor closes the
// handle if one is still held.
class SqliteConnection {
public:
    explicit SqliteConnection(const std::wstring& path);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // Reads the file at the path (at most kMaxDatabaseBytes) and opens those
    // bytes as OpenBytes does. A missing, unreadable or larger file opens
    // nothing (SQLITE_CANTOPEN) and is never created. Returns SQLite's result
    // code: 0 on success. Even on failure a handle may be held; Close
    // releases it.
    int Open();
    // Opens `bytes` (for example the bytes whose signature was checked) as a
    // read-only database in memory; the connection keeps them. The path is
    // only the name used in log lines. Same result as Open.
    int OpenBytes(std::string bytes);
    // Closes the handle. True when it was closed or none was held; on
    // failure (statements still open) the handle is kept.
    bool Close();

    sqlite3* handle() const { return m_db; }
    const std::wstring& path() const { return m_path; }

private:
    std::wstring m_path;
    std::string m_bytes;  // the database; outlives m_db
    sqlite3* m_db = nullptr;
};

class SqliteQuery;

// The row a query stands on. Valid until the query moves on or finishes.
// Column arguments out of range read as NULL values.
class SqliteRow {
public:
    explicit SqliteRow(const SqliteQuery& query) : m_query(query) {}

    // Index of the column named exactly `name` (with case), -1 when absent.
    int ColumnIndex(const wchar_t* name) const;
    // True when the value is SQL NULL (or the column does not exist).
    bool IsNull(int column) const;
    // Copies the value as text into `buffer` (`bufferChars` wide characters):
    // at most bufferChars - 1 characters and a NUL. A NULL value copies
    // nothing and leaves the buffer as it was. Returns the characters of the
    // whole value (more than were copied when it was cut).
    int GetText(int column, wchar_t* buffer, int bufferChars) const;
    // Size of the value in bytes (blob or text), 0 for NULL.
    int GetBytes(int column) const;
    // Copies at most `maxBytes` bytes of the value as a blob into `buffer`.
    // A NULL value copies nothing. Returns the bytes copied.
    int GetBlob(int column, void* buffer, int maxBytes) const;
    // The value as a 32-bit integer (0 for NULL).
    int GetInt(int column) const;
    // The value when it is stored as an integer; nothing for NULL, text,
    // a blob or a real number (no conversion is guessed at).
    std::optional<int64_t> GetStoredInt64(int column) const;

private:
    bool InRange(int column) const;
    const SqliteQuery& m_query;
};

// One prepared statement over a connection. A statement that fails to
// prepare (no connection, no such table, a file that is not a database)
// simply has no rows.
class SqliteQuery {
public:
    SqliteQuery(const SqliteConnection& connection, const std::wstring& sql);
    ~SqliteQuery();
    SqliteQuery(const SqliteQuery&) = delete;
    SqliteQuery& operator=(const SqliteQuery&) = delete;

    // True when the statement was prepared.
    bool prepared() const { return m_stmt != nullptr; }
    // SQLite's result of the prepare step (0 when prepared).
    int prepareResult() const { return m_prepareResult; }
    int columnCount() const { return m_columnCount; }

    // Steps to the first or next row. True while a row is available; any
    // other step result (done, error, no statement) ends the rows.
    bool FirstRow() { return Step(); }
    bool NextRow() { return Step(); }
    // True when the last step found the regular end of the rows; false
    // after a read error (for example a damaged file) or before any step.
    bool reachedEnd() const { return m_reachedEnd; }
    // The current row (valid after FirstRow/NextRow returned true).
    SqliteRow row() const { return SqliteRow(*this); }
    // Finalizes the statement; later steps return false.
    void Finish();

    sqlite3_stmt* statement() const { return m_stmt; }

private:
    bool Step();
    sqlite3_stmt* m_stmt = nullptr;
    int m_columnCount = 0;
    int m_prepareResult = 0;
    bool m_reachedEnd = false;
};
