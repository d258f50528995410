// Runs the real Update.exe with stand-ins of the client and the launcher in a
// scratch installation and reads back which programs it started.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "app/update_dlg.h"
#include "support/test_support.h"
#include "velisk/handles.h"

namespace {

using namespace testing_support;

void EndProcess(DWORD pid) {
    velisk::UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (process) {
        ::TerminateProcess(process.get(), 0);
        ::WaitForSingleObject(process.get(), 5000);
    }
}

// A scratch installation: install\ with the client stand-in, launcher\ with
// the launcher stand-in, new\version.ini, and a private %TEMP% for the logs.
class UpdateRun {
public:
    UpdateRun()
        : m_root(L"upd"),
          installDir(m_root / L"install"),
          launcherDir(m_root / L"launcher"),
          launcherPath(m_root / L"launcher\\zuZavozeVororiz.exe"),
          newIni(m_root / L"new\\version.ini"),
          tempDir(m_root / L"temp") {
        ::CreateDirectoryW(installDir.c_str(), nullptr);
        ::CreateDirectoryW(launcherDir.c_str(), nullptr);
        ::CreateDirectoryW(tempDir.c_str(), nullptr);
        EXPECT_TRUE(::CopyFileW(BinFile(L"launcher_standin.exe").c_str(), launcherPath.c_str(), FALSE));
    }
    ~UpdateRun() {
        for (const auto& r : clientRecords()) EndProcess(r.pid);
    }

    void InstallClient(const std::wstring& name) {
        EXPECT_TRUE(::CopyFileW(BinFile(L"client_standin.exe").c_str(), (installDir + L"\\" + name).c_str(), FALSE));
        m_clientPath = installDir + L"\\" + name;
    }

    // Runs Update.exe with `arguments` after its own quoted path.
    ProcessResult Run(const std::wstring& arguments) {
        return RunProcess(CommandLine(arguments), L"", Environment(), 90000);
    }
    std::wstring CommandLine(const std::wstring& arguments) const {
        return L"\"" + BinFile(L"Update.exe") + L"\" " + arguments;
    }
    // Statistics go to a closed local port, so sending fails at once.
    std::map<std::wstring, std::wstring> Environment() const {
        return {{L"TEMP", tempDir}, {L"TMP", tempDir}, {L"VELISK_REPORT_BASE_URL", L"http://127.0.0.1:9"}};
    }

    std::wstring UpdateModeArguments(const std::wstring& launcher, DWORD waitPid = 0) const {
        return L"\"" + installDir + L"\" \"http://localhost/update-process-tests/missing/ProgramConfig.zdb.zip\" \"" + newIni + L"\" " +
               std::to_wstring(waitPid) + L" \"" + launcherDir + L"\" \"" + launcher + L"\"";
    }

    std::string InfoLog() const { return ReadBytes(tempDir + L"\\VeliskUpdateLog\\update_info.log"); }
    std::vector<StartRecord> clientRecords() const {
        return m_clientPath.empty() ? std::vector<StartRecord>{} : ReadStartRecords(m_clientPath);
    }
    std::vector<StartRecord> launcherRecords() const { return ReadStartRecords(launcherPath); }

private:
    ScratchDir m_root;
    std::wstring m_clientPath;

public:
    const std::wstring installDir;
    const std::wstring launcherDir;
    const std::wstring launcherPath;
    const std::wstring newIni;
    const std::wstring tempDir;
};

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

TEST(UpdateProcess, CommandLinesWithoutAModeStartNothingAndShowNothing) {
    struct Case {
        const char* name;
        const wchar_t* arguments;
        bool copyMode;
    };
    const Case cases[] = {
        {"no arguments", L"", false},
        {"-copy with one argument", L"-copy a", false},
        {"-COPY is not the copy switch and four arguments are too few for an update", L"-COPY a b", false},
        {"five arguments are too few for an update", L"a b c d e", false},
        // Relative or empty folders would be resolved against whatever folder
        // is current (an empty one became the drive root): refused like a
        // command line that is too short.
        {"-copy with relative folders", L"-copy a b", false},
        {"-copy with an empty installation folder", L"-copy C:\\VeliskNoSuchStaging \"\"", false},
        {"update with an empty installation folder",
         L"\"\" http://localhost/x.zip C:\\new\\version.ini 0 C:\\L C:\\L\\zuZavozeVororiz.exe", false},
        {"update with a relative installation folder",
         L"Client http://localhost/x.zip C:\\new\\version.ini 0 C:\\L C:\\L\\zuZavozeVororiz.exe", false},
        {"update with a relative version.ini",
         L"C:\\VeliskNoSuchClient http://localhost/x.zip version.ini 0 C:\\L C:\\L\\zuZavozeVororiz.exe", false},
        {"update with an empty launcher folder",
         L"C:\\VeliskNoSuchClient http://localhost/x.zip C:\\new\\version.ini 0 \"\" C:\\L\\zuZavozeVororiz.exe",
         false},
        {"-copy with absolute source and destination is the copy mode",
         L"-copy C:\\VeliskNoSuchStaging C:\\VeliskNoSuchInstall", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateRun run;
        run.InstallClient(L"VeliskLive.exe");
        const ProcessResult result = run.Run(c.arguments);
        ASSERT_TRUE(result.finished);
        const std::string log = run.InfoLog();
        EXPECT_TRUE(Contains(log, "cmdline= ")) << log;
        EXPECT_EQ(Contains(log, "point imcopy_ifsucc: "), c.copyMode) << log;
        EXPECT_FALSE(Contains(log, "update thread over")) << log;
        ::Sleep(300);
        EXPECT_TRUE(run.clientRecords().empty());
        EXPECT_TRUE(run.launcherRecords().empty());
    }
}

// excludexp only excludes systems older than Windows 6.0, so the update runs.
TEST(UpdateProcess, VisibleUpdateRestartsClientWithNoUpdateAndStartsLauncherWithFolder) {
    UpdateRun run;
    run.InstallClient(L"Velisk Client.exe");
    ASSERT_TRUE(WriteUtf8(run.newIni, L"[update]\r\ntarget=Velisk Client.exe\r\nversion=12\r\nexcludexp=1\r\n"));
    const ProcessResult result = run.Run(run.UpdateModeArguments(run.launcherPath));
    ASSERT_TRUE(result.finished);
    EXPECT_TRUE(Contains(run.InfoLog(), "update thread over"));

    ASSERT_TRUE(WaitFor([&] { return !run.launcherRecords().empty() && !run.clientRecords().empty(); }));
    const auto launcher = run.launcherRecords();
    ASSERT_EQ(launcher.size(), 1u);
    EXPECT_EQ(launcher[0].cmd, L"\"" + run.launcherPath + L"\" -d \"" + run.launcherDir + L"\"");

    const auto client = run.clientRecords();
    ASSERT_EQ(client.size(), 1u);
    const std::wstring& cmd = client[0].cmd;
    EXPECT_NE(cmd.find(L"Velisk Client.exe"), std::wstring::npos) << testing::PrintToString(cmd);
    EXPECT_EQ(cmd.substr(cmd.size() - 11), L" --noupdate") << testing::PrintToString(cmd);
}

// A running updater holds the installation's lock while it waits for its
// caller (this test): a second one for the same installation, and this
// process, find the lock held.
TEST(UpdateProcess, LockHeldByARunningUpdaterRefusesTheSecond) {
    UpdateRun run;
    run.InstallClient(L"VeliskLive.exe");
    ASSERT_TRUE(WriteUtf8(run.newIni, L"[update]\r\nversion=12\r\n"));
    ChildProcess first(run.CommandLine(run.UpdateModeArguments(run.launcherPath, ::GetCurrentProcessId())), L"",
                       run.Environment());
    ASSERT_TRUE(first.started());
    const std::wstring lockName = UsableLockName(InstallLockName(WithTrailingSeparator(run.installDir)));
    ASSERT_TRUE(WaitFor([&] {
        return static_cast<bool>(velisk::UniqueKernelHandle(::OpenMutexW(SYNCHRONIZE, FALSE, lockName.c_str())));
    }));

    CUpdateDlg here;
    here.m_installDir = WithTrailingSeparator(run.installDir);
    EXPECT_FALSE(here.AcquireInstallLock());

    // Logs of its own: the first updater still writes to its files.
    ScratchDir secondTemp(L"upd2");
    auto env = run.Environment();
    env[L"TEMP"] = env[L"TMP"] = secondTemp.path();
    const ProcessResult second = RunProcess(run.CommandLine(run.UpdateModeArguments(run.launcherPath)), L"", env);
    ASSERT_TRUE(second.finished);
    const std::string secondLog = ReadBytes(secondTemp / L"VeliskUpdateLog\\update_info.log");
    EXPECT_TRUE(Contains(secondLog, "install lock held by another updater: ")) << secondLog;
    // The second shows nothing and starts only the launcher.
    ASSERT_TRUE(WaitFor([&] { return !run.launcherRecords().empty(); }));
    EXPECT_TRUE(run.clientRecords().empty());
    first.Terminate();
}

TEST(UpdateProcess, LauncherNamedWithoutFolderIsNotStarted) {
    UpdateRun run;
    run.InstallClient(L"VeliskLive.exe");
    ASSERT_TRUE(WriteUtf8(run.newIni, L"[update]\r\nversion=12\r\n"));
    // The launcher's name at position 0 of the path does not count.
    ASSERT_TRUE(run.Run(run.UpdateModeArguments(L"zuZavozeVororiz.exe")).finished);
    ASSERT_TRUE(WaitFor([&] { return !run.clientRecords().empty(); }));
    ::Sleep(300);
    EXPECT_TRUE(run.launcherRecords().empty());
}

TEST(UpdateProcess, SecondUpdaterOfALockedInstallationEndsRelatedProcessesAndStartsOnlyTheLauncher) {
    UpdateRun run;
    run.InstallClient(L"VeliskLive.exe");
    // A related process that the second updater still ends before it gives up.
    const std::wstring related = L"relLock_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    const std::wstring relatedPath = run.installDir + L"\\" + related;
    ASSERT_TRUE(::CopyFileW(BinFile(L"client_standin.exe").c_str(), relatedPath.c_str(), FALSE));
    std::wstring relatedCmd = L"\"" + relatedPath + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(::CreateProcessW(nullptr, relatedCmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &info));
    velisk::UniqueKernelHandle relatedProcess(info.hProcess);
    ::CloseHandle(info.hThread);
    ASSERT_TRUE(WaitFor([&] { return FileExists(relatedPath + L".record"); }));

    ASSERT_TRUE(WriteUtf8(run.newIni, L"[update]\r\nversion=12\r\nrelated=[\"" + related + L"\"]\r\n"));
    // This test process plays the first updater: it holds the installation's lock.
    velisk::UniqueKernelHandle lock(
        ::CreateMutexW(nullptr, FALSE, InstallLockName(WithTrailingSeparator(run.installDir)).c_str()));
    ASSERT_TRUE(lock);

    ASSERT_TRUE(run.Run(run.UpdateModeArguments(run.launcherPath)).finished);
    EXPECT_EQ(::WaitForSingleObject(relatedProcess.get(), 5000), WAIT_OBJECT_0);
    const std::string log = run.InfoLog();
    EXPECT_FALSE(Contains(log, "update thread over")) << log;
    ASSERT_TRUE(WaitFor([&] { return !run.launcherRecords().empty(); }));
    ::Sleep(300);
    EXPECT_TRUE(run.clientRecords().empty());
}

TEST(UpdateProcess, HiddenUpdateStartsNeitherClientNorLauncherAtTheEnd) {
    UpdateRun run;
    run.InstallClient(L"VeliskLive.exe");
    ASSERT_TRUE(WriteUtf8(run.installDir + L"\\version.ini", L"[update]\r\ncanHide=1\r\nversion=30\r\n"));
    ASSERT_TRUE(WriteUtf8(run.newIni, L"[update]\r\nhide=1\r\nminHideVersion=30\r\nversion=31\r\n"));
    ASSERT_TRUE(run.Run(run.UpdateModeArguments(run.launcherPath)).finished);
    const std::string log = run.InfoLog();
    EXPECT_TRUE(Contains(log, "currentVersion= 30")) << log;
    EXPECT_TRUE(Contains(log, "update thread over")) << log;
    ::Sleep(500);
    EXPECT_TRUE(run.launcherRecords().empty());
    for (const auto& r : run.clientRecords()) {
        EXPECT_EQ(r.cmd.find(L"--noupdate"), std::wstring::npos) << testing::PrintToString(r.cmd);
    }
}

}  // namespace

namespace {

struct WindowCensus {
    DWORD pid;
    int windows = 0;
    int visibleWithArea = 0;
    int withTaskbarStyle = 0;
};

BOOL CALLBACK CountWindows(HWND hwnd, LPARAM param) {
    auto* census = reinterpret_cast<WindowCensus*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if (owner != census->pid) return TRUE;
    wchar_t cls[16] = {};
    ::GetClassNameW(hwnd, cls, 16);
    if (std::wstring(cls) != L"#32770") return TRUE;  // the update dialog only
    ++census->windows;
    RECT r;
    ::GetWindowRect(hwnd, &r);
    if (::IsWindowVisible(hwnd) && r.right > r.left && r.bottom > r.top) ++census->visibleWithArea;
    if (::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW) ++census->withTaskbarStyle;
    return TRUE;
}

TEST(UpdateProcess, HiddenUpdateNeverShowsAWindowAndHandsTheClientTheCopyCommand) {
    UpdateRun run;
    run.InstallClient(L"VeliskLive.exe");
    ASSERT_TRUE(WriteUtf8(run.installDir + L"\\version.ini", L"[update]\r\ncanHide=1\r\nversion=30\r\n"));
    ASSERT_TRUE(WriteUtf8(run.newIni, L"[update]\r\nhide=1\r\nminHideVersion=30\r\nversion=31\r\n"
                                      L"related=[\"vk_service.exe\"]\r\n[updateInfo]\r\nnote\r\n"));
    ChildProcess caller(L"\"" + BinFile(L"client_standin.exe") + L"\" --no-window");
    ASSERT_TRUE(caller.started());
    ChildProcess update(run.CommandLine(run.UpdateModeArguments(run.launcherPath, caller.pid())), L"",
                        run.Environment());
    ASSERT_TRUE(update.started());

    // While the worker waits for the caller, the updater has its window but
    // never shows it; once initialised it has no task-bar button.
    int visibleSamples = 0;
    ASSERT_TRUE(WaitFor([&] {
        WindowCensus census{update.pid()};
        ::EnumWindows(&CountWindows, reinterpret_cast<LPARAM>(&census));
        visibleSamples += census.visibleWithArea;
        return census.windows > 0 && census.withTaskbarStyle == 0;
    }));
    EXPECT_EQ(visibleSamples, 0);
    for (int i = 0; i < 20; ++i) {
        WindowCensus census{update.pid()};
        ::EnumWindows(&CountWindows, reinterpret_cast<LPARAM>(&census));
        EXPECT_EQ(census.visibleWithArea, 0);
        EXPECT_EQ(census.withTaskbarStyle, 0);
        ::Sleep(25);
    }
    EXPECT_TRUE(run.clientRecords().empty());

    caller.Terminate();
    ASSERT_TRUE(update.Wait(60000));
    const auto client = run.clientRecords();
    ASSERT_EQ(client.size(), 1u);
    const std::wstring installNoSep = run.installDir;
    const std::wstring expectedStart = L"-copy \"" + BinFile(L"Update.exe") + L"\" \"" + run.installDir + L"\\update";
    EXPECT_NE(client[0].cmd.find(expectedStart), std::wstring::npos) << testing::PrintToString(client[0].cmd);
    const std::wstring expectedEnd = L"\" \"" + installNoSep + L"\" " + std::to_wstring(update.pid()) +
                                     L" \"[\\\"vk_service.exe\\\"]\"";  // quotes escaped for the split
    EXPECT_EQ(client[0].cmd.substr(client[0].cmd.size() - expectedEnd.size()), expectedEnd)
        << testing::PrintToString(client[0].cmd);
    EXPECT_EQ(client[0].cwd + L"\\", WithTrailingSeparator(run.installDir));
    const std::string log = run.InfoLog();
    EXPECT_TRUE(Contains(log, "point imstartup_pc: ")) << log;
    EXPECT_TRUE(Contains(log, "point update_ifsucc: ")) << log;
}

}  // namespace
