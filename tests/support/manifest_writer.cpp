#include "support/manifest_writer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace testing_support {

const std::string kManifestTables =
    "CREATE TABLE FileVersion (SectionName TEXT, SHA1 BLOB);"
    "CREATE TABLE ConfigServer (SectionName TEXT);"
    "CREATE TABLE ProgramVersion (SectionName TEXT, Version INTEGER);";

void WriteManifest(const std::wstring& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open16(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    EXPECT_EQ(result, SQLITE_OK) << (error != nullptr ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

void WriteManifestListing(const std::wstring& path, const std::vector<std::string>& names) {
    std::string sql = kManifestTables;
    for (const std::string& name : names) {
        sql += "INSERT INTO FileVersion VALUES ('" + name + "', X'" + std::string(40, '0') + "');";
    }
    WriteManifest(path, sql);
}

}  // namespace testing_support
