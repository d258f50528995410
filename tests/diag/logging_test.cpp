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

}  // namespace
