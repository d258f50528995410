#include "engine/sqlite_db.h"

#include <windows.h>

#include <sqlite3.h>

#include <cstring>
#include <cwchar>
#include <optional>
#include <utility>

#include "engine/plain_paths.h"

SqliteConnection::SqliteConnection(const std::wstring& path) : m_path(path) {}

SqliteConnection::~SqliteConnection() { Close(); }

int SqliteConnection::Open() {
    std::optional<std::string> bytes = ReadFileLimited(m_path, kMaxDatabaseBytes);
    if (!bytes) {
        if (m_db != nullptr && !Close()) return SQLITE_BUSY;
        return SQLITE_CANTOPEN;
    }
    return OpenBytes(std::move(*bytes));
}

int SqliteConnection::OpenBytes(std::string bytes) {
    if (m_db != nullptr && !Close()) return SQLITE_BUSY;
    m_bytes = std::move(bytes);
    // An in-memory database holding nothing but these bytes: SQLite never
    // looks for a file, so it never replays a journal into them.
    int result = sqlite3_open_v2(":memory:", &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr);
    if (result != SQLITE_OK) return result;
    const auto size = static_cast<sqlite3_int64>(m_bytes.size());
    result = sqlite3_deserialize(m_db, "main", reinterpret_cast<unsigned char*>(m_bytes.data()), size, size,
                                 SQLITE_DESERIALIZE_READONLY);
    return result;
}

bool SqliteConnection::Close() {
    if (m_db == nullptr) return true;
    if (sqlite3_close(m_db) != SQLITE_OK) return false;
    m_db = nullptr;
    return true;
}

SqliteQuery::SqliteQuery(const SqliteConnection& connection, const std::wstring& sql) {
    if (connection.handle() == nullptr) {
        m_prepareResult = SQLITE_MISUSE;
        return;
    }
    const int sqlBytes = static_cast<int>(sql.size() * sizeof(wchar_t));
    m_prepareResult = sqlite3_prepare16_v2(connection.handle(), sql.c_str(), sqlBytes, &m_stmt, nullptr);
    if (m_prepareResult != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        return;
    }
    m_columnCount = m_stmt != nullptr ? sqlite3_column_count(m_stmt) : 0;
}

SqliteQuery::~SqliteQuery() { Finish(); }

bool SqliteQuery::Step() {
    if (m_stmt == nullptr) return false;
    const int result = sqlite3_step(m_stmt);
    m_reachedEnd = (result == SQLITE_DONE);
    return result == SQLITE_ROW;
}

void SqliteQuery::Finish() {
    if (m_stmt != nullptr) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

bool SqliteRow::InRange(int column) const {
    return m_query.statement() != nullptr && column >= 0 && column < m_query.columnCount();
}

int SqliteRow::ColumnIndex(const wchar_t* name) const {
    if (name == nullptr || m_query.statement() == nullptr) return -1;
    for (int i = 0; i < m_query.columnCount(); ++i) {
        const auto* columnName = static_cast<const wchar_t*>(sqlite3_column_name16(m_query.statement(), i));
        if (columnName != nullptr && ::lstrcmpW(columnName, name) == 0) return i;
    }
    return -1;
}

bool SqliteRow::IsNull(int column) const {
    return !InRange(column) || sqlite3_column_type(m_query.statement(), column) == SQLITE_NULL;
}

int SqliteRow::GetText(int column, wchar_t* buffer, int bufferChars) const {
    if (IsNull(column) || buffer == nullptr || bufferChars <= 0) return 0;
    const auto* text = static_cast<const wchar_t*>(sqlite3_column_text16(m_query.statement(), column));
    if (text == nullptr) return 0;
    const int length = sqlite3_column_bytes16(m_query.statement(), column) / static_cast<int>(sizeof(wchar_t));
    const int copied = length < bufferChars - 1 ? length : bufferChars - 1;
    std::wmemcpy(buffer, text, static_cast<size_t>(copied));
    buffer[copied] = L'\0';
    return length;
}

int SqliteRow::GetBytes(int column) const {
    if (IsNull(column)) return 0;
    return sqlite3_column_bytes(m_query.statement(), column);
}

int SqliteRow::GetBlob(int column, void* buffer, int maxBytes) const {
    if (IsNull(column) || buffer == nullptr || maxBytes <= 0) return 0;
    const void* blob = sqlite3_column_blob(m_query.statement(), column);
    const int size = sqlite3_column_bytes(m_query.statement(), column);
    if (blob == nullptr || size <= 0) return 0;
    const int copied = size < maxBytes ? size : maxBytes;
    std::memcpy(buffer, blob, static_cast<size_t>(copied));
    return copied;
}

int SqliteRow::GetInt(int column) const {
    if (!InRange(column)) return 0;
    return sqlite3_column_int(m_query.statement(), column);
}

std::optional<int64_t> SqliteRow::GetStoredInt64(int column) const {
    if (!InRange(column) || sqlite3_column_type(m_query.statement(), column) != SQLITE_INTEGER) return std::nullopt;
    return sqlite3_column_int64(m_query.statement(), column);
}
