// Crash reporting with the stand-in library (tools/crashrpt_stub): the set-up
// of every failure row from a probe process, and real crashes of Update.exe.
#include <gtest/gtest.h>

#include <windows.h>

#include <json/reader.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "diag/report_endpoints.h"
#include "diag/stat_server_client.h"
#include "support/update_sandbox.h"
#include "support/test_support.h"
#include "velisk/version.h"

namespace {

using namespace testing_support;
using update_sandbox::LogMessages;
using update_sandbox::UpdateSandbox;

constexpr const wchar_t* kLibraryFiles[] = {L"CrashRpt1403.dll", L"crashrpt_lang.ini", L"CrashSender1403.exe"};

// The stand-in's record: one JSON object per call.
std::vector<Json::Value> ReadStubRecord(const std::wstring& dllPath) {
    std::vector<Json::Value> calls;
    const std::string text = ReadBytes(dllPath + L".record");
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        Json::Value call;
        std::string errors;
        if (reader->parse(text.data() + pos, text.data() + end, &call, &errors)) calls.push_back(call);
        pos = end + 1;
    }
    return calls;
}

std::vector<std::string> CallNames(const std::vector<Json::Value>& calls) {
    std::vector<std::string> names;
    for (const auto& c : calls) names.push_back(c["call"].asString());
    return names;
}

// Puts the library's three files into `installDir`: the stand-in of
// `variant` (or the text "garbage" as the library), a language file and a
// sender program, leaving out the files named in `missing`.
void InstallLibraryFiles(const std::wstring& installDir, const std::wstring& variant,
                         const std::wstring& missing = L"") {
    if (missing != L"CrashRpt1403.dll") {
        if (variant == L"garbage") {
            ASSERT_TRUE(WriteBytes(installDir + L"\\CrashRpt1403.dll", "not a library"));
        } else {
            ASSERT_TRUE(::CopyFileW(BinFile(L"crashrpt_stub\\" + variant + L"\\CrashRpt1403.dll").c_str(),
                                    (installDir + L"\\CrashRpt1403.dll").c_str(), FALSE));
        }
    }
    if (missing != L"crashrpt_lang.ini") {
        ASSERT_TRUE(WriteBytes(installDir + L"\\crashrpt_lang.ini", "[Lang]\r\n"));
    }
    if (missing != L"CrashSender1403.exe") {
        ASSERT_TRUE(WriteBytes(installDir + L"\\CrashSender1403.exe", "MZ sender"));
    }
}

TEST(CrashReporter, StartLogsOneErrorLinePerFailureAndGoesOnWithoutReporting) {
    const std::string idle = "stand-in: nothing failed yet";
    const struct {
        const char* name;
        const wchar_t* variant;
        const wchar_t* missing;
        const wchar_t* switches;
        const wchar_t* options;
        std::vector<std::string> errors;          // "@" stands for the copied library's path
        std::vector<std::string> calls;           // the stand-in's record
        std::vector<const wchar_t*> copied;       // files in the program folder afterwards
    } cases[] = {
        {"no installation folder", L"full", L"", L"", L"--no-install", {"invaid parameter"}, {}, {}},
        {"no application name", L"full", L"", L"", L"--null-name", {"invaid parameter"}, {}, {}},
        {"no version", L"full", L"", L"", L"--null-version", {"invaid parameter"}, {}, {}},
        {"no restart record", L"full", L"", L"", L"--null-info", {"invaid parameter"}, {}, {}},
        {"no sender program: the other two files are copied, nothing is loaded or logged", L"full",
         L"CrashSender1403.exe", L"", L"", {}, {}, {L"CrashRpt1403.dll", L"crashrpt_lang.ini"}},
        {"no library file: nothing is copied after it", L"full", L"CrashRpt1403.dll", L"", L"", {}, {}, {}},
        {"a library that cannot be loaded", L"garbage", L"", L"", L"",
         {"load CrashRpt1403.dll fail, path:@"}, {}, {kLibraryFiles[0], kLibraryFiles[1], kLibraryFiles[2]}},
        {"no install function", L"without_install", L"", L"", L"",
         {"crInstallW function pointer is error: " + idle}, {}, {kLibraryFiles[0], kLibraryFiles[1], kLibraryFiles[2]}},
        {"no install function and no error text function", L"without_install_errmsg", L"", L"", L"", {}, {},
         {kLibraryFiles[0], kLibraryFiles[1], kLibraryFiles[2]}},
        {"install refused", L"full", L"", L"fail-install", L"",
         {"crInstallW installStatus: 1, error: stand-in: install refused"}, {"crInstallW"},
         {kLibraryFiles[0], kLibraryFiles[1], kLibraryFiles[2]}},
        {"no callback function: the log files are still attached", L"without_callback", L"", L"", L"",
         {"crSetCrashCallbackW function pointer is error: " + idle}, {"crInstallW", "crAddFile2W"},
         {kLibraryFiles[0], kLibraryFiles[1], kLibraryFiles[2]}},
        {"no add-file function", L"without_addfile", L"", L"", L"",
         {"crAddFile2W function pointer is error: " + idle}, {"crInstallW", "crSetCrashCallbackW"},
         {kLibraryFiles[0], kLibraryFiles[1], kLibraryFiles[2]}},
        {"adding the log files refused", L"full", L"", L"fail-add-file", L"",
         {"crAddFile2W error:stand-in: add file refused"}, {"crInstallW", "crSetCrashCallbackW", "crAddFile2W"},
         {kLibraryFiles[0], kLibraryFiles[1], kLibraryFiles[2]}},
        {"everything in place", L"full", L"", L"", L"", {}, {"crInstallW", "crSetCrashCallbackW", "crAddFile2W"},
         {kLibraryFiles[0], kLibraryFiles[1], kLibraryFiles[2]}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir root(L"crp");
        const std::wstring program = root / L"program";
        const std::wstring install = root / L"install";
        const std::wstring temp = root / L"temp";
        for (const auto& d : {program, install, temp}) ::CreateDirectoryW(d.c_str(), nullptr);
        InstallLibraryFiles(install, c.variant, c.missing);
        const std::wstring installArgument = std::wstring(c.options) == L"--no-install" ? L"" : install;
        const std::wstring cmd = L"\"" + BinFile(L"crash_probe.exe") + L"\" --program \"" + program +
                                 L"\" --install \"" + installArgument + L"\" " + c.options;
        const ProcessResult run = RunProcess(cmd, L"", {{L"TEMP", temp}, {L"TMP", temp}, {L"CRASHRPT_STUB", c.switches}});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 0u);

        std::vector<std::string> errors = c.errors;
        for (auto& e : errors) {
            const size_t at = e.find('@');
            if (at != std::string::npos) e.replace(at, 1, WideToUtf8String(program + L"\\CrashRpt1403.dll"));
        }
        const std::string errorLog = ReadBytes(temp + L"\\VeliskUpdateLog\\update_error.log");
        EXPECT_EQ(LogMessages(errorLog, "CrashReporter.cpp"), errors) << errorLog;
        EXPECT_EQ(CallNames(ReadStubRecord(program + L"\\CrashRpt1403.dll")), c.calls);
        for (const wchar_t* file : kLibraryFiles) {
            const bool expected = std::find_if(c.copied.begin(), c.copied.end(), [&](const wchar_t* f) {
                                      return std::wstring(f) == file;
                                  }) != c.copied.end();
            EXPECT_EQ(FileExists(program + L"\\" + file), expected) << WideToUtf8String(file);
            if (expected) {
                EXPECT_EQ(ReadBytes(program + L"\\" + file), ReadBytes(install + L"\\" + file));
            }
        }
    }
}

TEST(CrashReporter, InstallsWithTheFixedRecordAndAttachesTheLogFolder) {
    ScratchDir root(L"cri");
    const std::wstring program = root / L"program";
    const std::wstring install = root / L"install";
    const std::wstring temp = root / L"temp";
    for (const auto& d : {program, install, temp}) ::CreateDirectoryW(d.c_str(), nullptr);
    InstallLibraryFiles(install, L"full");
    const ProcessResult run = RunProcess(L"\"" + BinFile(L"crash_probe.exe") + L"\" --program \"" + program +
                                             L"\" --install \"" + install + L"\"",
                                         L"", {{L"TEMP", temp}, {L"TMP", temp}});
    ASSERT_TRUE(run.finished);
    const auto calls = ReadStubRecord(program + L"\\CrashRpt1403.dll");
    ASSERT_EQ(CallNames(calls), (std::vector<std::string>{"crInstallW", "crSetCrashCallbackW", "crAddFile2W"}));

    const Json::Value& install_ = calls[0];
    EXPECT_EQ(install_["cb"], install_["recordSize"]);
    EXPECT_EQ(install_["pszAppName"].asString(), "Velisk\xE5\xAE\xA2\xE6\x88\xB7\xE7\xAB\xAF\xE6\x9B\xB4\xE6\x96\xB0"
                                                 "\xE7\xA8\x8B\xE5\xBA\x8F");
    EXPECT_EQ(install_["pszAppVersion"].asString(), VELISK_VERSION_STRING);
    EXPECT_EQ(install_["pszUrl"].asString(), WideToUtf8String(DefaultCrashReportUrl()));
    EXPECT_EQ(install_["dwFlags"].asUInt(), 0x103FFFu);
    EXPECT_EQ(install_["uMiniDumpType"].asUInt(), 0u);
    EXPECT_TRUE(install_["unusedFieldsZero"].asBool());

    EXPECT_TRUE(calls[1]["callback"].asBool());
    EXPECT_TRUE(calls[1]["userParam"].asBool());

    wchar_t tempPath[MAX_PATH] = {};
    ::GetFullPathNameW((temp + L"\\").c_str(), MAX_PATH, tempPath, nullptr);
    EXPECT_EQ(calls[2]["file"].asString(), WideToUtf8String(std::wstring(tempPath) + L"VeliskUpdateLog\\*.log"));
    EXPECT_TRUE(calls[2]["destFile"].isNull());
    EXPECT_EQ(calls[2]["description"].asString(), "log file");
    EXPECT_EQ(calls[2]["flags"].asUInt(), 0u);
}

std::wstring TrimSeparator(std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    std::transform(path.begin(), path.end(), path.begin(), [](wchar_t c) { return std::towlower(c); });
    return path;
}

// The stand-in crashes Update.exe when the test signals its event, while
// Update waits for the answer to "update_command", after the hidden decision
// has set the dialog's restart-on-crash flag.
TEST(CrashReporter, RealCrashOfUpdateFlushesLogsSendsThemAndRestartsClientOnlyWhenAllowed) {
    const struct {
        const char* name;
        int installedVersion;
        bool restartsClient;
    } cases[] = {
        {"visible update", 119, true},
        {"hidden update", 120, false},
    };
    static std::atomic<int> counter{0};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateSandbox sandbox;
        InstallLibraryFiles(sandbox.installDir, L"full");
        ASSERT_TRUE(WriteBytes(sandbox.installDir + L"\\version.ini",
                               "[update]\r\ncanHide=1\r\nversion=" + std::to_string(c.installedVersion) + "\r\n"));
        ASSERT_TRUE(WriteBytes(sandbox.newIni, "[update]\r\nhide=1\r\nminHideVersion=120\r\nversion=121\r\n"));
        stat_server::SessionOptions hold;
        hold.hold = true;
        stat_server::StatSession server(hold);
        ASSERT_EQ(server.error(), "");
        const std::wstring event =
            L"velisk_crash_test_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(counter++);
        velisk::UniqueKernelHandle crashNow(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
        ASSERT_TRUE(crashNow);

        velisk::UniqueKernelHandle update = sandbox.Start(
            sandbox.UpdateModeArguments(),
            {{L"VELISK_REPORT_BASE_URL", server.baseUrl()}, {L"CRASHRPT_STUB", L"crash-on=" + event}});
        ASSERT_TRUE(update) << sandbox.problem();
        ASSERT_TRUE(server.WaitForRequests(1, 30000)) << "update_command never arrived";
        ::SetEvent(crashNow.get());
        ASSERT_EQ(::WaitForSingleObject(update.get(), 30000), WAIT_OBJECT_0);
        DWORD exitCode = 0;
        ::GetExitCodeProcess(update.get(), &exitCode);
        server.Release();
        EXPECT_EQ(exitCode, 0xC0000005u);

        const std::wstring library = sandbox.programDir + L"\\CrashRpt1403.dll";
        const auto calls = ReadStubRecord(library);
        const std::vector<std::string> names = CallNames(calls);
        const auto crashAt = std::find(names.begin(), names.end(), "crash");
        ASSERT_NE(crashAt, names.end()) << testing::PrintToString(names);
        EXPECT_EQ(calls[0]["pszUrl"].asString(), WideToUtf8String(server.baseUrl() + L"/tool/report/send"));
        // Stage 10 answered "call again", the log files were collected, then stage 20.
        std::vector<std::string> afterCrash(crashAt + 1, names.end());
        afterCrash.erase(std::remove(afterCrash.begin(), afterCrash.end(), "collect"), afterCrash.end());
        EXPECT_EQ(afterCrash, (std::vector<std::string>{"callback", "callback", "terminate"}));
        std::vector<std::string> collected;
        for (const auto& call : calls) {
            if (call["call"] == "callback") {
                EXPECT_EQ(call["result"].asInt(), 2);
            }
            if (call["call"] == "collect") collected.push_back(call["file"].asString());
        }
        EXPECT_NE(std::find(collected.begin(), collected.end(), "update_info.log"), collected.end());

        // The lines logged before the crash reached the files before the
        // report took them, and the files on disk.
        const std::string reported = ReadBytes(library + L".report\\update_info.log");
        const std::string expectedLine = "currentVersion= " + std::to_string(c.installedVersion);
        EXPECT_NE(reported.find(expectedLine), std::string::npos) << reported;
        EXPECT_NE(sandbox.Log("info").find(expectedLine), std::string::npos);

        if (c.restartsClient) {
            ASSERT_TRUE(WaitFor([&] { return !sandbox.ClientStarts().empty(); }));
        }
        ::Sleep(500);
        const auto starts = sandbox.ClientStarts();
        ASSERT_EQ(starts.size(), c.restartsClient ? 1u : 0u);
        if (c.restartsClient) {
            EXPECT_EQ(TrimSeparator(starts[0].cwd), TrimSeparator(sandbox.installDir));
            const std::wstring& cmd = starts[0].cmd;
            EXPECT_NE(cmd.find(L"VeliskLive.exe"), std::wstring::npos) << WideToUtf8String(cmd);
            EXPECT_EQ(cmd.substr(cmd.size() - 11), L" --noupdate") << WideToUtf8String(cmd);
        }
        EXPECT_TRUE(sandbox.LauncherStarts().empty());  // the end sequence never ran
    }
}

}  // namespace
