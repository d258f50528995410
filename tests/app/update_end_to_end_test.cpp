// The real Update.exe brings a scratch installation from version 6 to 7 of the
// pipeline fixture, served by the shared test server, with every chore of an
// update at once: a visible run, a visible run the user cancels, and a hidden
// run followed by the copy mode.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/res/resource.h"
#include "pipeline/pipeline_fixture.h"
#include "pipeline/update_run.h"
#include "signing/signing_fixture.h"
#include "support/test_support.h"
#include "support/update_sandbox.h"
#include "velisk/handles.h"

namespace {

using namespace testing_support;
using pipeline_testing::Fixture;
using update_sandbox::UpdateSandbox;

const std::map<std::wstring, std::wstring> kLocalStatistics = {{L"VELISK_REPORT_BASE_URL", L"http://127.0.0.1:9"}};

std::wstring Unique(const std::wstring& base) { return base + std::to_wstring(::GetCurrentProcessId()); }

std::wstring JsonPath(const std::wstring& path) {
    std::wstring json;
    for (wchar_t c : path) json += (c == L'\\') ? std::wstring(L"\\\\") : std::wstring(1, c);
    return json;
}

// Ends a process when the test leaves, so that a failed test leaves no
// stand-in behind (CTest would wait for it).
class EndedAtExit {
public:
    explicit EndedAtExit(HANDLE process) : m_process(process) {}
    ~EndedAtExit() { ::TerminateProcess(m_process, 1); }

private:
    HANDLE m_process;
};

// Registry keys a run writes, removed again at the end of the test.
class RegistryTraces {
public:
    RegistryTraces() : scheme(Unique(L"veliskE2E")), product(Unique(L"Velisk E2E ")) {
        velisk::UniqueRegKey key;
        // Every Windows user has Software\Classes; a fresh Wine prefix may not.
        ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr, key.receive(),
                          nullptr);
        key.reset();
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, uninstallKey().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          key.receive(), nullptr);
    }
    ~RegistryTraces() {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, schemeKey().c_str());
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, uninstallKey().c_str());
    }
    std::wstring schemeKey() const { return L"Software\\Classes\\" + scheme; }
    std::wstring uninstallKey() const {
        return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product;
    }
    std::wstring DisplayVersion() const { return ReadRegString(HKEY_LOCAL_MACHINE, uninstallKey(), L"DisplayVersion"); }

    const std::wstring scheme;
    const std::wstring product;
};

// An update of the sandbox's installation from version 6 to version 7, with
// version 7 published in a private folder of the shared server.
class EndToEnd {
public:
    // `program` is Update.exe, or UpdateSigned.exe (built with the test keys),
    // for which the new version.ini is signed as a release tool would sign it.
    explicit EndToEnd(const std::wstring& program = L"Update.exe")
        : sandbox(program), signs(program == L"UpdateSigned.exe"), netsh(sandbox.programDir + L"\\netsh.exe") {
        pipeline_testing::CopyTree(Fixture(L"v1/install"), sandbox.installDir);
        for (const std::wstring& name : pipeline_testing::ListTree(Fixture(L"v2/server/a/b"))) {
            std::wstring path = Fixture(L"v2/server/a/b/" + name);
            for (auto& c : path) c = (c == L'/') ? L'\\' : c;
            served.Put("a/b/" + WideToUtf8String(name), ReadBytes(path));
        }
        // Version 7's manifest as the signing fixture signed it.
        if (signs) {
            served.Put("a/b/7/ProgramConfig.zdb.zip",
                       ReadBytes(signing_testing::SigningFixture(L"manifests/first.zip")));
        }
        // CreateProcess with a bare name would find this one before the system's.
        ::CopyFileW(BinFile(L"launcher_standin.exe").c_str(), netsh.c_str(), FALSE);
        WriteBytes(sandbox.installDir + L"\\logs\\old.log", "useless");
        WriteBytes(sandbox.installDir + L"\\logs\\keep.log", "kept");
    }

    // Version 6 and 7 of the delta fixture instead: bin/core.dll besides,
    // and version 7 published with patches from 6.
    void UseDeltaRelease() {
        pipeline_testing::CopyTree(Fixture(L"delta/v1/install"), sandbox.installDir);
        for (const std::wstring& name : pipeline_testing::ListTree(Fixture(L"delta/v2/server/a/b"))) {
            std::wstring path = Fixture(L"delta/v2/server/a/b/" + name);
            for (auto& c : path) c = (c == L'/') ? L'\\' : c;
            served.Put("a/b/" + WideToUtf8String(name), ReadBytes(path));
        }
    }

    // Version 7's version.ini with every chore's keys; `extra` adds lines to [update].
    void WriteNewIni(const std::wstring& extra) const {
        WriteUtf8(sandbox.newIni,
                  L"[update]\r\nversion=7\r\nurl=" + (baseUrl.empty() ? served.Url("a/b/") : baseUrl) +
                      L"\r\nversionName=V5.2.1\r\ntarget=VeliskLive.exe\r\nproductName=" + registry.product +
                      L"\r\nfirewall=Velisk E2E\r\nuselessFiles=[\"logs/old.log\", \"logs\", \"VeliskLive.exe\", "
                      L"\"zuZavozeVororiz.exe\", \"ProgramConfig.zdb\", \"bin/x.dll\", \"" +
                      JsonPath(sandbox.installDir) + L"\\\\version.ini\"]\r\nrelated=[\"" + relatedName +
                      L"\"]\r\n" + extra + L"[regKey]\r\nappCode=" + registry.scheme +
                      L"\r\nprotocol=URL:Velisk E2E\r\ntarget=VeliskLive.exe\r\n[updateInfo]\r\n修复了若干问题\r\n");
        if (signs) {
            EXPECT_TRUE(signing_testing::SignFile(sandbox.newIni, L"first"));
        }
    }
    std::wstring ManifestUrl() const { return served.Url("a/b/7/ProgramConfig.zdb.zip"); }
    std::wstring Installed(const std::wstring& name) const { return sandbox.installDir + L"\\" + name; }
    std::wstring ClientPath() const { return Installed(L"VeliskLive.exe"); }
    std::wstring FirewallProgram() const { return L"program=\"" + ClientPath() + L"\""; }

    // The installation now holds version 7's files and none that version 7 dropped.
    void ExpectVersion7() const {
        for (const wchar_t* name : {L"change_a.bin", L"bin\\x.dll", L"new.txt", L"keep.txt", L"sub\\keep2.dat"}) {
            EXPECT_TRUE(pipeline_testing::SameBytes(Installed(name), pipeline_testing::UpdateRun::Version7(name)))
                << WideToUtf8String(name);
        }
        EXPECT_FALSE(FileExists(Installed(L"old.txt")));
        EXPECT_EQ(ReadBytes(Installed(L"version.ini")), ReadBytes(sandbox.newIni));
        EXPECT_FALSE(FileExists(Installed(L"logs\\old.log")));
        // uselessFiles never takes the client, the manifest or a file of version 7.
        for (const wchar_t* kept : {L"VeliskLive.exe", L"ProgramConfig.zdb", L"bin\\x.dll"}) {
            EXPECT_TRUE(FileExists(Installed(kept))) << WideToUtf8String(kept);
        }
        EXPECT_TRUE(FileExists(Installed(L"logs\\keep.log")));  // a folder is never deleted
        EXPECT_EQ(registry.DisplayVersion(), L"5.2.1");
    }
    // The rule is renewed by the system's netsh, never by the stand-in
    // beside Update. The end sequence of a visible run comes after the log
    // files are closed: only the copy mode's starts are in the log.
    void ExpectFirewallCommands(bool inLog) const {
        EXPECT_TRUE(RecordedCommands(netsh).empty());
        if (!inLog) return;
        const std::string log = sandbox.Log("info");
        const std::string started = "started: \"" + WideToUtf8String(SystemNetsh()) + "\" ";
        EXPECT_NE(log.find(started + "advfirewall firewall delete rule name=\"Velisk E2E\""), std::string::npos) << log;
        EXPECT_NE(log.find(started + "advfirewall firewall add rule name=\"Velisk E2E\" dir=in action=allow " +
                           WideToUtf8String(FirewallProgram())),
                  std::string::npos)
            << log;
    }
    static std::wstring SystemNetsh() {
        wchar_t folder[MAX_PATH] = {};
        ::GetSystemDirectoryW(folder, MAX_PATH);
        return std::wstring(folder) + L"\\netsh.exe";
    }

    std::wstring baseUrl;  // the download base of the new version.ini; empty: the served folder's a/b/
    RegistryTraces registry;
    UpdateSandbox sandbox;
    const bool signs;  // the new version.ini gets a signature by the first test key
    net_testing::ServedFolder served;
    const std::wstring netsh;
    const std::wstring relatedName = Unique(L"relE2E_") + L".exe";
    ScratchDir others{L"e2eo"};
};

// Line `number` (from 1) of a source file of the project; empty past its end.
std::string SourceLine(const std::string& file, int number) {
    std::istringstream in(ReadBytes(WinePath(VELISK_SOURCE_DIR, Utf8ToWide(file))));
    std::string line;
    for (int i = 0; i < number && std::getline(in, line);) {
        if (++i == number) return line;
    }
    return {};
}

// Every line of a run's log names one of the updater's source units, and a
// line's number is that of the statement in the source file that wrote it.
void ExpectEveryLineNamesItsUnit(const std::string& log) {
    const std::set<std::string> units = {"updater.cpp",      "UpdateDlg.cpp",     "httpdownload.cpp",
                                         "FileSHA1.cpp",     "CrashReporter.cpp", "database.cpp"};
    const std::regex prefix(R"(^[IWEF]\d{4,8} [0-9:.]+ +\d+ ([^ :]+):(\d+)\] (.*)$)");
    struct Statement {
        const char* label;   // the start of a message of the run
        const char* unit;    // the unit its line names
        const char* source;  // the file that holds the statement
    };
    const Statement statements[] = {
        {"cmdline= ", "UpdateDlg.cpp", "update/app/command_line.cpp"},
        {"BeginUpdate over ", "UpdateDlg.cpp", "update/app/update_worker.cpp"},
        {"HttpDownloadImpl over ret=", "httpdownload.cpp", "update/net/http_download.cpp"},
        {"CalFileSHA1:", "FileSHA1.cpp", "update/engine/file_sha1.cpp"},
        {"IsNeedUpdate: ", "database.cpp", "update/engine/database_checker.cpp"},
        {"start copy file ", "updater.cpp", "update/engine/install_copy.cpp"},
    };
    std::set<std::string> seen;
    std::istringstream lines(log);
    std::string line;
    int parsed = 0;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::smatch m;
        if (!std::regex_match(line, m, prefix)) continue;
        ++parsed;
        EXPECT_EQ(units.count(m[1]), 1u) << line;
        for (const Statement& s : statements) {
            if (m[3].str().rfind(s.label, 0) != 0 || !seen.insert(s.label).second) continue;
            EXPECT_EQ(m[1].str(), s.unit) << line;
            EXPECT_NE(SourceLine(s.source, std::stoi(m[2])).find(s.label), std::string::npos)
                << s.source << ":" << m[2] << " does not write: " << line;
        }
    }
    EXPECT_GT(parsed, 50);
    for (const Statement& s : statements) EXPECT_EQ(seen.count(s.label), 1u) << "no line starts with " << s.label;
}

TEST(UpdateEndToEnd, VisibleUpdateWithEveryChore) {
    EndToEnd run;
    run.WriteNewIni(L"");
    // The related program and the client's child run from the installation;
    // a program of the related name elsewhere is no program of the client.
    ClientStandIn related(run.Installed(run.relatedName), L"--no-window");
    ClientStandIn namesake(run.others / run.relatedName, L"--no-window");
    const std::wstring childPath = run.Installed(L"clientChild.exe");
    ASSERT_TRUE(::CopyFileW(BinFile(L"client_standin.exe").c_str(), childPath.c_str(), FALSE));
    ClientStandIn client(run.ClientPath(), L"--spawn \"" + childPath + L"\"");
    ASSERT_TRUE(WaitFor([&] { return ReadStartRecords(childPath).size() == 1; }));
    velisk::UniqueKernelHandle child(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                                                   FALSE, ReadStartRecords(childPath)[0].pid));
    ASSERT_TRUE(child);
    const EndedAtExit childEnded(child.get());
    ClientStandIn caller(run.others / L"caller.exe", L"--no-window");

    velisk::UniqueKernelHandle update =
        run.sandbox.Start(run.sandbox.UpdateModeArguments(run.ManifestUrl(), caller.pid()), kLocalStatistics);
    ASSERT_TRUE(update) << run.sandbox.problem();

    // The related process ends; the client's child is ended before the client,
    // which is asked to quit (it exits with its own code 0).
    EXPECT_TRUE(related.Wait(10000));
    EXPECT_TRUE(namesake.running());
    ASSERT_TRUE(client.Wait(10000));
    EXPECT_EQ(client.exitCode(), 0u);
    ASSERT_EQ(::WaitForSingleObject(child.get(), 0), WAIT_OBJECT_0);
    DWORD childCode = 0;
    ::GetExitCodeProcess(child.get(), &childCode);
    EXPECT_EQ(childCode, 0xFFFFFFFFu);

    // Nothing is fetched while the caller still runs.
    ::Sleep(1500);
    EXPECT_EQ(::WaitForSingleObject(update.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(run.served.Requests().empty());
    EXPECT_TRUE(FileExists(run.Installed(L"old.txt")));
    caller.Terminate();
    ASSERT_EQ(::WaitForSingleObject(update.get(), 120000), WAIT_OBJECT_0);

    EXPECT_FALSE(run.served.Requests().empty());
    run.ExpectVersion7();
    // An absolute useless-file name is refused, so the new version.ini stays.
    EXPECT_NE(run.sandbox.Log("warning").find("delete useless file refused: "), std::string::npos);
    run.ExpectFirewallCommands(false);
    ExpectEveryLineNamesItsUnit(run.sandbox.Log("info"));

    const std::wstring key = run.registry.schemeKey();
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key, nullptr), L"URL:Velisk E2E");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key, L"URL Protocol"), run.ClientPath());
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key + L"\\DefaultIcon", nullptr), run.ClientPath() + L", 1");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key + L"\\shell\\open\\command", nullptr),
              L"\"" + run.ClientPath() + L"\" \"%1\"");

    ASSERT_TRUE(WaitFor([&] { return run.sandbox.ClientStarts().size() == 2 && !run.sandbox.LauncherStarts().empty(); }));
    const std::wstring restarted = run.sandbox.ClientStarts()[1].cmd;
    EXPECT_EQ(restarted.substr(restarted.size() - 11), L" --noupdate") << WideToUtf8String(restarted);
    const auto launcher = run.sandbox.LauncherStarts();
    ASSERT_EQ(launcher.size(), 1u);
    EXPECT_EQ(launcher[0].cmd, L"\"" + run.sandbox.launcherPath + L"\" -d \"" + run.sandbox.launcherDir + L"\"");
}

// Moves a file's last write time one day back; false on failure.
bool SetWriteTimeBack(const std::wstring& path) {
    velisk::UniqueFileHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    t.QuadPart -= 24ULL * 3600 * 10000000;
    const FILETIME earlier = {t.LowPart, t.HighPart};
    return file && ::SetFileTime(file.get(), nullptr, nullptr, &earlier);
}

// The staging folders ("update" and a tick count) of the installation.
std::vector<std::wstring> StagingFolders(const std::wstring& installDir) {
    std::vector<std::wstring> found;
    for (const auto& name : ListDir(installDir)) {
        if (name.rfind(L"update", 0) == 0 && DirExists(installDir + L"\\" + name)) found.push_back(name);
    }
    return found;
}

// A hidden update stages version 7 and hands the client the copy command;
// the copy mode that the client would start then puts it in place.
// Makes the next run of `run` a hidden one.
void AskForAHiddenRun(EndToEnd& run) {
    run.WriteNewIni(L"hide=1\r\nminHideVersion=6\r\n");
    ASSERT_TRUE(::WritePrivateProfileStringW(L"update", L"canHide", L"1", run.Installed(L"version.ini").c_str()));
    // Wine's profile cache tells a replaced file from the one it read by its
    // write time alone; both files were written within one clock tick here.
    ASSERT_TRUE(SetWriteTimeBack(run.Installed(L"version.ini")));
}

void HiddenUpdateThenCopyMode(bool restart, const std::wstring& program = L"Update.exe", bool patched = false) {
    EndToEnd run(program);
    if (patched) run.UseDeltaRelease();
    AskForAHiddenRun(run);
    const std::wstring installedLauncher = run.Installed(L"zuZavozeVororiz.exe");
    ASSERT_TRUE(::CopyFileW(BinFile(L"launcher_standin.exe").c_str(), installedLauncher.c_str(), FALSE));

    ASSERT_TRUE(run.sandbox.Run(run.sandbox.UpdateModeArguments(run.ManifestUrl(), 0), kLocalStatistics))
        << run.sandbox.problem();
    // The client gets its copy command before the engine starts.
    const std::string hiddenLog = run.sandbox.Log("info");
    const size_t handedAt = hiddenLog.find("point imstartup_pc: ");
    const size_t engineAt = hiddenLog.find("] UpdateDatabaseFile");
    EXPECT_NE(handedAt, std::string::npos);
    EXPECT_NE(engineAt, std::string::npos);
    EXPECT_LT(handedAt, engineAt);
    const auto staged = StagingFolders(run.sandbox.installDir);
    ASSERT_EQ(staged.size(), 1u) << hiddenLog;
    const std::wstring staging = run.Installed(staged[0]);
    for (const wchar_t* name : {L"change_a.bin", L"bin\\x.dll", L"new.txt"}) {
        EXPECT_TRUE(pipeline_testing::SameBytes(staging + L"\\" + name, pipeline_testing::UpdateRun::Version7(name)))
            << WideToUtf8String(name);
    }
    EXPECT_EQ(ReadBytes(staging + L"\\version.ini"), ReadBytes(run.sandbox.newIni));
    const bool signedBuild = program == L"UpdateSigned.exe";
    EXPECT_EQ(FileExists(staging + L"\\ProgramConfig.zdb.sig"), signedBuild);  // for the copy mode's check
    const std::wstring patchedCore = Fixture(L"delta/v2/source/bin/core.dll");
    if (patched) {
        EXPECT_NE(hiddenLog.find("patched bin/core.dll"), std::string::npos);
        EXPECT_TRUE(pipeline_testing::SameBytes(staging + L"\\bin\\core.dll", patchedCore));
    }
    // The installation itself is untouched until the copy.
    EXPECT_TRUE(pipeline_testing::SameBytes(run.Installed(L"change_a.bin"), Fixture(L"v1/install/change_a.bin")));
    EXPECT_TRUE(FileExists(run.Installed(L"old.txt")));
    EXPECT_TRUE(FileExists(run.Installed(L"logs\\old.log")));
    EXPECT_EQ(run.registry.DisplayVersion(), L"<missing>");
    EXPECT_TRUE(RecordedCommands(run.netsh).empty());
    EXPECT_TRUE(run.sandbox.LauncherStarts().empty());

    // The client got the copy command; it is still running.
    ASSERT_EQ(run.sandbox.ClientStarts().size(), 1u);
    const std::wstring handed = run.sandbox.ClientStarts()[0].cmd;
    const size_t copyAt = handed.find(L"-copy ");
    ASSERT_NE(copyAt, std::wstring::npos) << WideToUtf8String(handed);
    velisk::ArgumentList copyArgs((L"client " + handed.substr(copyAt)).c_str());
    ASSERT_EQ(copyArgs.count(), 7);
    EXPECT_EQ(std::wstring(copyArgs[2]), run.sandbox.programDir + L"\\Update.exe");
    EXPECT_EQ(std::wstring(copyArgs[3]), staging);
    EXPECT_EQ(std::wstring(copyArgs[4]), run.sandbox.installDir);
    // The related list comes back whole, its quotes escaped for the split.
    const std::wstring relatedTail = L" \"[\\\"" + run.relatedName + L"\\\"]\"";
    EXPECT_EQ(handed.substr(handed.size() - relatedTail.size()), relatedTail) << WideToUtf8String(handed);
    EXPECT_EQ(std::wstring(copyArgs[6]), L"[\"" + run.relatedName + L"\"]");

    std::wstring copyCommand = L"-copy \"" + std::wstring(copyArgs[3]) + L"\" \"" + copyArgs[4] + L"\"";
    if (restart) copyCommand += L" -restart";
    ASSERT_TRUE(run.sandbox.Run(copyCommand, kLocalStatistics)) << run.sandbox.problem();
    EXPECT_NE(run.sandbox.Log("info").find("point imcopy_ifsucc: "), std::string::npos);
    EXPECT_EQ(run.sandbox.Log("info").find("staged update checked: ") != std::string::npos, signedBuild);

    EXPECT_FALSE(DirExists(staging));
    run.ExpectVersion7();
    if (patched) {
        EXPECT_TRUE(pipeline_testing::SameBytes(run.Installed(L"bin\\core.dll"), patchedCore));
    }
    run.ExpectFirewallCommands(true);
    // The launcher beside the installation, told Update's own working folder.
    ASSERT_TRUE(WaitFor([&] { return !ReadStartRecords(installedLauncher).empty(); }));
    const auto launcher = ReadStartRecords(installedLauncher);
    ASSERT_EQ(launcher.size(), 1u);
    EXPECT_EQ(launcher[0].cmd, L"\"" + installedLauncher + L"\" -d \"" + run.sandbox.programDir + L"\"");
    EXPECT_TRUE(run.sandbox.LauncherStarts().empty());

    // The client that got the copy command was closed; only "-restart" starts
    // it again, without parameters, in the installation.
    if (restart) {
        ASSERT_TRUE(WaitFor([&] { return run.sandbox.ClientStarts().size() == 2; }));
        const StartRecord again = run.sandbox.ClientStarts()[1];
        EXPECT_EQ(again.cwd, run.sandbox.installDir);
        EXPECT_EQ(again.cmd.find(L"-copy"), std::wstring::npos) << WideToUtf8String(again.cmd);
        EXPECT_EQ(again.cmd.find(L"--noupdate"), std::wstring::npos) << WideToUtf8String(again.cmd);
    } else {
        ::Sleep(500);
        EXPECT_EQ(run.sandbox.ClientStarts().size(), 1u);
    }
}

TEST(UpdateEndToEnd, HiddenUpdateThenCopyModeWithoutRestart) { HiddenUpdateThenCopyMode(false); }

TEST(UpdateEndToEnd, HiddenUpdateThenCopyModeWithRestart) { HiddenUpdateThenCopyMode(true); }

// With keys built in, the hidden run stages the verified version.ini with its
// signature, and the copy mode checks them again before it copies.
TEST(UpdateEndToEnd, SignedHiddenUpdateThenCopyMode) { HiddenUpdateThenCopyMode(true, L"UpdateSigned.exe"); }
// Without a client to hand the copy command to, nothing would ever copy what
// a hidden run stages: the run downloads and stages nothing and fails.
TEST(UpdateEndToEnd, HiddenRunWhoseClientCannotBeStartedFailsAndStagesNothing) {
    EndToEnd run;
    AskForAHiddenRun(run);
    ASSERT_TRUE(::DeleteFileW(run.ClientPath().c_str()));

    ASSERT_TRUE(run.sandbox.Run(run.sandbox.UpdateModeArguments(run.ManifestUrl(), 0), kLocalStatistics))
        << run.sandbox.problem();

    const std::string errors = run.sandbox.Log("error");
    EXPECT_NE(errors.find("client not started for the copy: ShellExecute returned "), std::string::npos) << errors;
    const std::regex errorLine("(^|\n)E\\d{4}");
    EXPECT_EQ(std::distance(std::sregex_iterator(errors.begin(), errors.end(), errorLine), std::sregex_iterator()), 1)
        << errors;  // one ERROR line
    const std::string info = run.sandbox.Log("info");
    EXPECT_NE(info.find("BeginUpdate over 0"), std::string::npos) << info;
    EXPECT_EQ(info.find("Auto update success"), std::string::npos) << info;
    EXPECT_TRUE(StagingFolders(run.sandbox.installDir).empty());
    EXPECT_TRUE(pipeline_testing::SameBytes(run.Installed(L"change_a.bin"), Fixture(L"v1/install/change_a.bin")));
    EXPECT_TRUE(run.served.Requests().empty());  // nothing downloaded
}

TEST(UpdateEndToEnd, HiddenUpdateWithPatchesThenCopyMode) { HiddenUpdateThenCopyMode(true, L"Update.exe", true); }

struct WindowSearch {
    DWORD pid;
    const wchar_t* title;  // null: any
    HWND found;
};

BOOL CALLBACK FindDialogOf(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    wchar_t cls[16] = {}, title[64] = {};
    ::GetClassNameW(hwnd, cls, 16);
    ::GetWindowTextW(hwnd, title, 64);
    if (owner != search->pid || std::wstring(cls) != L"#32770" || !::IsWindowVisible(hwnd)) return TRUE;
    if (search->title != nullptr && search->title != std::wstring(title)) return TRUE;
    search->found = hwnd;
    return FALSE;
}

// A visible top-level dialog of process `pid` (with `title` when given).
HWND FindDialog(DWORD pid, const wchar_t* title) {
    WindowSearch search{pid, title, nullptr};
    ::EnumWindows(&FindDialogOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The user closes the window during a slow download and confirms: the engine
// stops at once, nothing of the installation changes, the client comes back.
TEST(UpdateEndToEnd, ConfirmedCloseDuringTheDownloadCancelsItAndRestartsTheClient) {
    EndToEnd run;
    run.baseUrl = run.served.FaultUrl("trickle=2048:100", "a/b/");  // about 20 KB/s
    run.WriteNewIni(L"");
    const std::string installedIni = ReadBytes(run.Installed(L"version.ini"));
    velisk::UniqueKernelHandle update =
        run.sandbox.Start(run.sandbox.UpdateModeArguments(run.ManifestUrl(), 0), kLocalStatistics);
    ASSERT_TRUE(update) << run.sandbox.problem();
    const DWORD pid = ::GetProcessId(update.get());

    auto downloading = [&] {
        for (const auto& r : run.served.Requests()) {
            if (r.path.find("/fault/") == 0) return true;
        }
        return false;
    };
    ASSERT_TRUE(WaitFor(downloading, 60000));
    ::Sleep(1000);
    HWND window = FindDialog(pid, nullptr);
    ASSERT_NE(window, nullptr);
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_BTN_CLOSE, BN_CLICKED), 0);
    HWND prompt = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (prompt = FindDialog(pid, L"中断提醒")) != nullptr; }));
    ::PostMessageW(prompt, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    ASSERT_EQ(::WaitForSingleObject(update.get(), 30000), WAIT_OBJECT_0);

    EXPECT_NE(run.sandbox.Log("info").find("BeginUpdate over 0"), std::string::npos);
    EXPECT_TRUE(pipeline_testing::SameBytes(run.Installed(L"change_a.bin"), Fixture(L"v1/install/change_a.bin")));
    EXPECT_TRUE(FileExists(run.Installed(L"old.txt")));
    EXPECT_FALSE(FileExists(run.Installed(L"new.txt")));
    EXPECT_EQ(ReadBytes(run.Installed(L"version.ini")), installedIni);
    EXPECT_TRUE(FileExists(run.Installed(L"logs\\old.log")));
    ASSERT_TRUE(WaitFor([&] { return !run.sandbox.ClientStarts().empty() && !run.sandbox.LauncherStarts().empty(); }));
    const std::wstring restarted = run.sandbox.ClientStarts()[0].cmd;
    EXPECT_EQ(restarted.substr(restarted.size() - 11), L" --noupdate") << WideToUtf8String(restarted);
}

// A file that the server never delivers (every attempt answers 404): after
// the attempt bound the visible run fails like any failed run, on its own.
// The pauses between attempts are shortened (test builds only); the count of
// attempts is the shipped one.
TEST(UpdateEndToEnd, VisibleRunWhoseFileNeverComesEndsAndRestartsTheClient) {
    EndToEnd run;
    run.baseUrl = run.served.FaultUrl("status=404", "a/b/");
    run.WriteNewIni(L"");
    const std::string installedIni = ReadBytes(run.Installed(L"version.ini"));
    std::map<std::wstring, std::wstring> environment = kLocalStatistics;
    environment[L"VELISK_ATTEMPT_PAUSE_MS"] = L"20";
    velisk::UniqueKernelHandle update =
        run.sandbox.Start(run.sandbox.UpdateModeArguments(run.ManifestUrl(), 0), environment);
    ASSERT_TRUE(update) << run.sandbox.problem();
    ASSERT_EQ(::WaitForSingleObject(update.get(), 120000), WAIT_OBJECT_0);

    size_t attempts = 0;
    for (const auto& r : run.served.Requests()) attempts += r.path.find("/a/b/7/bin/x.dll.zip") != std::string::npos;
    EXPECT_EQ(attempts, 16u);  // 8 over HTTPS, 8 over HTTP
    const std::string warnings = run.sandbox.Log("warning");
    EXPECT_NE(warnings.find("download given up after failed attempts without progress=8"), std::string::npos);
    const std::string log = run.sandbox.Log("info");
    EXPECT_NE(log.find("BeginUpdate over 0"), std::string::npos);
    EXPECT_NE(log.find("point update_ifsucc: "), std::string::npos);
    EXPECT_TRUE(pipeline_testing::SameBytes(run.Installed(L"change_a.bin"), Fixture(L"v1/install/change_a.bin")));
    EXPECT_TRUE(FileExists(run.Installed(L"old.txt")));
    EXPECT_FALSE(FileExists(run.Installed(L"new.txt")));
    EXPECT_EQ(ReadBytes(run.Installed(L"version.ini")), installedIni);
    ASSERT_TRUE(WaitFor([&] { return !run.sandbox.ClientStarts().empty(); }));
    const std::wstring restarted = run.sandbox.ClientStarts()[0].cmd;
    EXPECT_EQ(restarted.substr(restarted.size() - 11), L" --noupdate") << WideToUtf8String(restarted);
}

}  // namespace
