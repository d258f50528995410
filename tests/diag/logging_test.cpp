#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using namespace testing_support;

const std::vector<std::wstring> kAllFour = {L"update_error.log", L"update_fatal.log", L"update_info.log",
                                            L"update_warning.log"};

// Runs the probe with %TEMP% pointing at `temp`; returns the log folder.
std::wstring RunProbe(const std::wstring& temp, const std::wstring& severities) {
    const ProcessResult r = RunProcess(L"\"" + BinFile(L"logging_probe.exe") + L"\" " + severities, L"",
                                       {{L"TEMP", temp}, {L"TMP", temp}});
    EXPECT_TRUE(r.finished);
    return temp + L"\\VeliskUpdateLog";
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

TEST(Logging, WritesOneFilePerSeverityUnderFixedNamesAndEachRunStartsAfresh) {
    ScratchDir temp(L"log");
    // The folder and a missing parent are created: %TEMP% itself is missing.
    const std::wstring missingTemp = temp / L"not\\yet";
    const std::wstring folder = RunProbe(missingTemp, L"info warning error fatal");

    ASSERT_EQ(ListDir(folder), kAllFour);
    const std::string info = ReadBytes(folder + L"\\update_info.log");
    EXPECT_TRUE(Contains(info, "Log file created at: ")) << info;
    EXPECT_TRUE(Contains(info, "probe info line"));
    EXPECT_TRUE(Contains(info, "probe fatal line"));
    EXPECT_FALSE(Contains(ReadBytes(folder + L"\\update_warning.log"), "probe info line"));
    EXPECT_TRUE(Contains(ReadBytes(folder + L"\\update_error.log"), "probe fatal line"));
    EXPECT_FALSE(Contains(ReadBytes(folder + L"\\update_error.log"), "probe warning line"));
    EXPECT_TRUE(Contains(ReadBytes(folder + L"\\update_fatal.log"), "probe fatal line"));

    // The second run removes all four files of the first and starts anew.
    RunProbe(missingTemp, L"info");
    ASSERT_EQ(ListDir(folder), std::vector<std::wstring>{L"update_info.log"});
    const std::string second = ReadBytes(folder + L"\\update_info.log");
    EXPECT_TRUE(Contains(second, "probe info line"));
    EXPECT_FALSE(Contains(second, "probe fatal line"));
    EXPECT_FALSE(Contains(second, "probe warning line"));
}

// A user's temporary folder with Chinese letters (a Chinese user name is
// common for this client's users) and a space: the four files appear there
// under their exact names, and nowhere else.
TEST(Logging, FilesAppearInATemporaryFolderWithChineseLetters) {
    const struct {
        const char* name;
        const wchar_t* folder;
    } rows[] = {
        {"Chinese user name", L"Users\\张伟\\AppData\\Local\\Temp"},
        {"Chinese letters and a space", L"临时 文件夹"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir root(L"lgc");
        const std::wstring temp = root / row.folder;
        const std::wstring folder = RunProbe(temp, L"info warning error fatal");
        ASSERT_EQ(ListDir(folder), kAllFour);
        EXPECT_TRUE(Contains(ReadBytes(folder + L"\\update_info.log"), "probe info line"));
        EXPECT_TRUE(Contains(ReadBytes(folder + L"\\update_fatal.log"), "probe fatal line"));
        // No file was made under a garbled name beside the folder.
        EXPECT_EQ(ListDir(temp), std::vector<std::wstring>{L"VeliskUpdateLog"});

        // A second run still finds and removes the first run's files.
        RunProbe(temp, L"info");
        EXPECT_EQ(ListDir(folder), std::vector<std::wstring>{L"update_info.log"});
    }
}

}  // namespace
