// The real Update.exe started on installations, launchers and an updater
// folder whose paths hold blanks, brackets and Chinese letters. Every
// program it starts is a recording stand-in; more stand-ins lie at every
// shorter prefix of those paths ("<root>\\Program.exe" for
// "<root>\\Program Files (x86)\\...") and, as netsh.exe, beside Update and in
// the folder it was started from. Only the intended programs may run, each
// with exactly the intended arguments as the program itself splits them.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "app/program_start.h"
#include "support/test_support.h"
#include "velisk/handles.h"

namespace {

using namespace testing_support;

std::vector<std::wstring> Split(const std::wstring& commandLine) {
    velisk::ArgumentList args(commandLine.c_str());
    std::vector<std::wstring> parts;
    for (int i = 0; i < args.count(); ++i) parts.emplace_back(args[i]);
    return parts;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A scratch world with hostile but ordinary folder names.
class HostileTree {
public:
    HostileTree()
        : programDir(m_root / L"Update 程序 [1]"),
          installDir(m_root / L"Program Files (x86)\\Velisk [测试] 客户端"),
          launcherDir(m_root / L"Program Files (x86)\\Velisk 启动器 (x86)"),
          launcherPath(launcherDir + L"\\zuZavozeVororiz.exe"),
          newIni(m_root / L"new ini (2)\\version.ini"),
          startDir(m_root / L"start here"),
          tempDir(m_root / L"temp") {
        for (const auto& dir : {m_root / L"Program Files (x86)", programDir, installDir, launcherDir,
                                m_root / L"new ini (2)", startDir, tempDir}) {
            ::CreateDirectoryW(dir.c_str(), nullptr);
        }
        Copy(BinFile(L"Update.exe"), programDir + L"\\Update.exe");
        Copy(BinFile(L"Lockscan.dll"), programDir + L"\\Lockscan.dll");
        Copy(BinFile(L"client_standin.exe"), ClientPath());
        Copy(BinFile(L"launcher_standin.exe"), launcherPath);
        // The copy mode starts the launcher of the installation folder.
        Copy(BinFile(L"launcher_standin.exe"), installDir + L"\\zuZavozeVororiz.exe");
        // netsh from the search order would be one of these.
        for (const auto& dir : {programDir, startDir, installDir}) {
            Copy(BinFile(L"launcher_standin.exe"), dir + L"\\netsh.exe");
            m_mustNotRun.push_back(dir + L"\\netsh.exe");
        }
        // So would a client found by its bare name.
        for (const auto& dir : {programDir, startDir}) {
            Copy(BinFile(L"launcher_standin.exe"), dir + L"\\VeliskLive.exe");
            m_mustNotRun.push_back(dir + L"\\VeliskLive.exe");
        }
        for (const auto& path : {ClientPath(), launcherPath, programDir + L"\\Update.exe"}) PlantAtPrefixes(path);
    }
    ~HostileTree() {
        for (const auto& r : ReadStartRecords(ClientPath())) {
            velisk::UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, r.pid));
            if (process) {
                ::TerminateProcess(process.get(), 0);
                ::WaitForSingleObject(process.get(), 5000);
            }
        }
    }

    std::wstring ClientPath() const { return installDir + L"\\VeliskLive.exe"; }

    void WriteIni(const std::wstring& path, const std::wstring& update) const {
        ASSERT_TRUE(WriteUtf8(path, L"[update]\r\n" + update));
    }

    // Runs Update.exe, started from startDir, with `arguments`. Its standard
    // error goes to a file: the end sequence runs after the log files are
    // closed, so its lines land there.
    void Run(const std::wstring& arguments) const {
        const std::map<std::wstring, std::wstring> env = {
            {L"TEMP", tempDir}, {L"TMP", tempDir}, {L"VELISK_REPORT_BASE_URL", L"http://127.0.0.1:9"}};
        std::map<std::wstring, std::wstring> saved;
        for (const auto& [name, value] : env) {
            wchar_t old[4096] = {};
            saved[name] = ::GetEnvironmentVariableW(name.c_str(), old, 4096) > 0 ? old : L"";
            ::SetEnvironmentVariableW(name.c_str(), value.c_str());
        }
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        velisk::UniqueFileHandle errors(::CreateFileW((tempDir + L"\\stderr.txt").c_str(), GENERIC_WRITE,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                                      0, nullptr));
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = errors.get();
        startup.hStdError = errors.get();
        PROCESS_INFORMATION info = {};
        std::wstring commandLine = Quoted(programDir + L"\\Update.exe") + L" " + arguments;
        const BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                              startDir.c_str(), &startup, &info);
        for (const auto& [name, value] : saved) {
            ::SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
        }
        ASSERT_TRUE(started);
        velisk::UniqueKernelHandle process(info.hProcess);
        velisk::UniqueKernelHandle thread(info.hThread);
        const bool finished = ::WaitForSingleObject(process.get(), 90000) == WAIT_OBJECT_0;
        if (!finished) ::TerminateProcess(process.get(), 1);
        ASSERT_TRUE(finished);
        ::Sleep(300);  // stand-ins started last record their start
    }

    std::string InfoLog() const { return ReadBytes(tempDir + L"\\VeliskUpdateLog\\update_info.log"); }
    // Every line of the run: the log files and what came after them.
    std::string AllLines() const {
        return InfoLog() + ReadBytes(tempDir + L"\\VeliskUpdateLog\\update_warning.log") +
               ReadBytes(tempDir + L"\\stderr.txt");
    }

    // The split command lines of every start of the stand-in at `path`.
    static std::vector<std::vector<std::wstring>> Starts(const std::wstring& path) {
        std::vector<std::vector<std::wstring>> starts;
        for (const auto& cmd : RecordedCommands(path)) starts.push_back(Split(cmd));
        return starts;
    }

    // No stand-in that only a wrong search would find has run.
    void ExpectNoStrayStarts() const {
        for (const auto& path : m_mustNotRun) {
            EXPECT_TRUE(RecordedCommands(path).empty()) << WideToUtf8String(path);
        }
    }
    size_t strayCount() const { return m_mustNotRun.size(); }

    // The update-mode arguments; folders end with a backslash when asked.
    std::wstring UpdateArguments(bool trailing) const {
        const std::wstring end = trailing ? L"\\" : L"";
        // A trailing backslash before the closing quote, as a careless
        // caller writes it, is an escaped quote: give it doubled.
        const std::wstring quotedEnd = trailing ? L"\\\\" : L"";
        return Quoted(installDir + quotedEnd) + L" \"http://localhost/program-start-tests/none/ProgramConfig.zdb.zip\" " +
               Quoted(newIni) + L" 0 " + Quoted(launcherDir + quotedEnd) + L" " + Quoted(launcherPath);
    }

private:
    void Copy(const std::wstring& from, const std::wstring& to) {
        EXPECT_TRUE(::CopyFileW(from.c_str(), to.c_str(), FALSE)) << WideToUtf8String(to);
    }
    // A stand-in at "<prefix>.exe" for every blank of `path` below the root.
    void PlantAtPrefixes(const std::wstring& path) {
        for (size_t blank = path.find(L' ', m_root.path().size()); blank != std::wstring::npos;
             blank = path.find(L' ', blank + 1)) {
            const std::wstring planted = path.substr(0, blank) + L".exe";
            if (FileExists(planted)) continue;
            if (::CopyFileW(BinFile(L"launcher_standin.exe").c_str(), planted.c_str(), TRUE)) {
                m_mustNotRun.push_back(planted);
            }
        }
    }

    ScratchDir m_root{L"ps"};
    std::vector<std::wstring> m_mustNotRun;

public:
    const std::wstring programDir;
    const std::wstring installDir;  // without a trailing separator
    const std::wstring launcherDir;
    const std::wstring launcherPath;
    const std::wstring newIni;
    const std::wstring startDir;
    const std::wstring tempDir;
};

// The folder arguments as callers write them: with and without a trailing
// backslash.
const struct FolderForm {
    const char* name;
    bool trailingBackslash;
} kFolderForms[] = {
    {"folders without a trailing backslash", false},
    {"folders with a trailing backslash", true},
};

TEST(ProgramStart, VisibleRunStartsClientLauncherAndSystemNetshByFullPath) {
    for (const auto& c : kFolderForms) {
        SCOPED_TRACE(c.name);
        HostileTree tree;
        // <root>\Program.exe, <root>\Program Files.exe, ...\Velisk.exe,
        // ...\Velisk [测试].exe, <root>\Update.exe, netsh and client stand-ins.
        ASSERT_GE(tree.strayCount(), 10u);
        tree.WriteIni(tree.installDir + L"\\version.ini", L"version=5\r\nfirewall=Velisk-beta Live_2.0\r\n");
        tree.WriteIni(tree.newIni, L"version=6\r\n");
        tree.Run(tree.UpdateArguments(c.trailingBackslash));

        EXPECT_EQ(HostileTree::Starts(tree.ClientPath()),
                  (std::vector<std::vector<std::wstring>>{{tree.ClientPath(), L"--noupdate"}}));
        const std::wstring launcherDirArgument = tree.launcherDir + (c.trailingBackslash ? L"\\" : L"");
        EXPECT_EQ(HostileTree::Starts(tree.launcherPath),
                  (std::vector<std::vector<std::wstring>>{{tree.launcherPath, L"-d", launcherDirArgument}}));
        tree.ExpectNoStrayStarts();

        // The firewall rule through the system's netsh (Wine has one).
        const std::wstring netsh = SystemProgramPath(L"netsh.exe");
        ASSERT_TRUE(FileExists(netsh)) << WideToUtf8String(netsh);
        const std::string log = tree.AllLines();
        const std::string quotedNetsh = "started: \"" + WideToUtf8String(netsh) + "\" ";
        EXPECT_TRUE(Contains(log, quotedNetsh + "advfirewall firewall delete rule name=\"Velisk-beta Live_2.0\""))
            << log;
        EXPECT_TRUE(Contains(log, quotedNetsh + "advfirewall firewall add rule name=\"Velisk-beta Live_2.0\" dir=in "
                                                "action=allow program=\"" +
                                      WideToUtf8String(tree.ClientPath()) + "\""))
            << log;
    }
}

TEST(ProgramStart, HiddenRunHandsTheClientACopyCommandItSplitsBackExactly) {
    // version.ini values are read in the system's code page: ASCII names.
    const std::wstring related = L"[\"vk_service.exe\", \"helper [x] (2).exe\"]";
    for (const auto& c : kFolderForms) {
        SCOPED_TRACE(c.name);
        HostileTree tree;
        tree.WriteIni(tree.installDir + L"\\version.ini", L"version=200\r\ncanHide=1\r\n");
        tree.WriteIni(tree.newIni, L"version=201\r\nhide=1\r\nminHideVersion=100\r\nrelated=" + related + L"\r\n");
        tree.Run(tree.UpdateArguments(c.trailingBackslash));

        const auto starts = HostileTree::Starts(tree.ClientPath());
        ASSERT_EQ(starts.size(), 1u);
        const auto& argv = starts[0];
        ASSERT_EQ(argv.size(), 7u) << WideToUtf8String(RecordedCommands(tree.ClientPath())[0]);
        EXPECT_EQ(argv[0], tree.ClientPath());
        EXPECT_EQ(argv[1], L"-copy");
        EXPECT_EQ(argv[2], tree.programDir + L"\\Update.exe");
        EXPECT_EQ(argv[3].rfind(tree.installDir + L"\\update", 0), 0u) << WideToUtf8String(argv[3]);
        EXPECT_EQ(argv[4], tree.installDir);
        EXPECT_EQ(argv[6], related);
        EXPECT_EQ(ReadStartRecords(tree.ClientPath())[0].cwd.rfind(tree.installDir, 0), 0u);
        // Nothing else starts in a hidden run.
        EXPECT_TRUE(RecordedCommands(tree.launcherPath).empty());
        tree.ExpectNoStrayStarts();
    }
}

TEST(ProgramStart, CopyModeStartsTheInstallationsLauncherAndClientByFullPath) {
    for (const auto& c : kFolderForms) {
        SCOPED_TRACE(c.name);
        HostileTree tree;
        const std::wstring staging = tree.installDir + L"\\update 12345";
        tree.WriteIni(tree.installDir + L"\\version.ini", L"version=5\r\n");
        tree.WriteIni(staging + L"\\version.ini", L"version=6\r\nfirewall=Velisk Live\r\n");
        const std::wstring dst = tree.installDir + (c.trailingBackslash ? L"\\" : L"");
        tree.Run(L"-copy " + Quoted(staging) + L" " + Quoted(tree.installDir + (c.trailingBackslash ? L"\\\\" : L"")) +
                 L" -restart");

        EXPECT_EQ(HostileTree::Starts(tree.ClientPath()),
                  (std::vector<std::vector<std::wstring>>{{tree.ClientPath()}}));
        EXPECT_EQ(HostileTree::Starts(tree.installDir + L"\\zuZavozeVororiz.exe"),
                  (std::vector<std::vector<std::wstring>>{{dst + L"\\zuZavozeVororiz.exe", L"-d", tree.programDir}}));
        EXPECT_TRUE(RecordedCommands(tree.launcherPath).empty());
        tree.ExpectNoStrayStarts();
        EXPECT_TRUE(Contains(tree.InfoLog(), "advfirewall firewall add rule name=\"Velisk Live\""));
    }
}

// A copy command naming a folder outside the installation, as a planted
// caller would hand it: nothing of it is copied in, and it is not removed.
TEST(ProgramStart, CopyModeLeavesAStagingFolderOutsideTheInstallationAlone) {
    HostileTree tree;
    const std::wstring staging = tree.startDir + L"\\update 12345";
    tree.WriteIni(tree.installDir + L"\\version.ini", L"version=5\r\n");
    tree.WriteIni(staging + L"\\version.ini", L"version=6\r\n");
    ASSERT_TRUE(WriteBytes(staging + L"\\VeliskLive.exe", "planted"));
    const std::string client = ReadBytes(tree.ClientPath());

    tree.Run(L"-copy " + Quoted(staging) + L" " + Quoted(tree.installDir));

    EXPECT_TRUE(Contains(tree.AllLines(), "copy refused: staging folder not inside the installation: ")) << tree.AllLines();
    EXPECT_EQ(ReadBytes(tree.ClientPath()), client);
    EXPECT_EQ(ReadBytes(staging + L"\\VeliskLive.exe"), "planted");
    EXPECT_TRUE(Contains(ReadBytes(tree.installDir + L"\\version.ini"), "version=5"));
}

// A URL scheme that only the hostile rows name.
const std::wstring kScheme = L"veliskhostile" + std::to_wstring(::GetCurrentProcessId());

TEST(ProgramStart, HostileValuesOfTheNewVersionIniAreRefusedAndTheRunGoesOn) {
    const struct {
        const char* name;
        std::wstring installedIni;
        std::wstring newIni;
        const char* warning;
        bool clientStarted;
    } cases[] = {
        {"target with a path", L"version=5\r\n", L"version=6\r\ntarget=..\\..\\evil.exe\r\n",
         "target refused, not a plain file name: ..\\..\\evil.exe", false},
        {"target with a quote", L"version=5\r\n", L"version=6\r\ntarget=a\" b.exe\r\n", "target refused", false},
        {"firewall name with a quote", L"version=5\r\nfirewall=x\" dir=out action=block name=\"y\r\n",
         L"version=6\r\n", "firewall rule name refused: ", true},
        {"related name with a path", L"version=5\r\n", L"version=6\r\nrelated=[\"..\\\\x.exe\"]\r\n",
         "related name refused: ..\\x.exe", true},
        {"firewall name with netsh's words", L"version=5\r\nfirewall=x dir=out\r\n", L"version=6\r\n",
         "firewall rule name refused: ", true},
        {"firewall rule named all", L"version=5\r\nfirewall=All\r\n", L"version=6\r\n",
         "firewall rule name refused: ", true},
        {"appCode that names a file type's command", L"version=5\r\n",
         L"version=6\r\n[regKey]\r\nappCode=txtfile\\shell\\open\\command\r\nprotocol=cmd /c start C:\\evil.exe\r\n"
         L"target=VeliskLive.exe\r\n",
         "appCode of regKey refused, not a URL scheme name: txtfile\\shell\\open\\command", true},
        {"protocol with a control character", L"version=5\r\n",
         L"version=6\r\n[regKey]\r\nappCode=" + kScheme + L"\r\nprotocol=URL:Velisk\tx\r\ntarget=VeliskLive.exe\r\n",
         "protocol of regKey refused, control character: ", true},
        {"related program of that name outside the installation", L"version=5\r\n",
         L"version=6\r\nrelated=[\"victim.exe\"]\r\n", "process left alone, not inside the installation: victim.exe", true},
        {"client of that name outside the installation", L"version=5\r\n", L"version=6\r\ntarget=victim.exe\r\n",
         "process left alone, not inside the installation: victim.exe", false},
    };
    velisk::UniqueRegKey classes;  // every Windows user has it; a new Wine prefix may not
    ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr, classes.receive(),
                      nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HostileTree tree;
        tree.WriteIni(tree.installDir + L"\\version.ini", c.installedIni);
        tree.WriteIni(tree.newIni, c.newIni);
        ClientStandIn victim(tree.startDir + L"\\victim.exe", L"--no-window");
        ASSERT_TRUE(victim.running());
        tree.Run(tree.UpdateArguments(false));
        EXPECT_TRUE(victim.running());
        for (const std::wstring& key : {std::wstring(L"txtfile\\shell\\open\\command"), kScheme}) {
            velisk::UniqueRegKey written;
            EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + key).c_str(), 0, KEY_READ,
                                      written.receive()),
                      ERROR_SUCCESS)
                << WideToUtf8String(key);
        }

        // The run went on to its end: the launcher is started (a loaded
        // machine may take longer than the run's grace to record it).
        EXPECT_TRUE(WaitFor([&] { return RecordedCommands(tree.launcherPath).size() == 1u; }));
        if (c.clientStarted) WaitFor([&] { return !RecordedCommands(tree.ClientPath()).empty(); });
        const std::string lines = tree.AllLines();
        EXPECT_TRUE(Contains(lines, c.warning)) << lines;
        EXPECT_EQ(RecordedCommands(tree.ClientPath()).size(), c.clientStarted ? 1u : 0u);
        EXPECT_FALSE(Contains(lines, "advfirewall"));
        tree.ExpectNoStrayStarts();
    }
}

}  // namespace
