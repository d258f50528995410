// Installation chores against real files, the real registry, real shell
// links and stand-ins of netsh and the shortcut tool.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "app/install_tasks.h"
#include "app/program_start.h"
#include "app/update_dlg.h"
#include "support/log_capture.h"
#include "support/manifest_writer.h"
#include "support/test_support.h"
#include "velisk/handles.h"

namespace {

using namespace testing_support;

std::wstring Unique(const std::wstring& base) { return base + std::to_wstring(::GetCurrentProcessId()); }

TEST(UselessFiles, DeletesListedFilesButNeverFolders) {
    ScratchDir dir(L"useless");
    ASSERT_TRUE(WriteBytes(dir / L"a.dll", "a"));
    ASSERT_TRUE(WriteBytes(dir / L"sub/b.dat", "b"));
    ASSERT_TRUE(WriteBytes(dir / L"keep.txt", "k"));
    WriteManifestListing(dir / L"ProgramConfig.zdb", {"keep.txt"});
    CUpdateDlg dlg;
    LogCapture log;
    dlg.DeleteUselessFiles(dir.path(), L"[\"a.dll\", \"sub/b.dat\", \"sub\", \"missing.bin\"]", L"");
    EXPECT_FALSE(FileExists(dir / L"a.dll"));
    EXPECT_FALSE(FileExists(dir / L"sub/b.dat"));
    EXPECT_TRUE(DirExists(dir / L"sub"));
    EXPECT_TRUE(FileExists(dir / L"keep.txt"));
    EXPECT_EQ(log.Count("delete useless file: "), 4);
    EXPECT_EQ(log.Count("delete useless file: " + WideToUtf8String(dir.path()) + "\\a.dll"), 1);
}

TEST(UselessFiles, NamesOutsideTheInstallationAreRefused) {
    ScratchDir dir(L"useless");
    ASSERT_TRUE(WriteBytes(dir / L"outside.txt", "o"));
    ASSERT_TRUE(WriteBytes(dir / L"install/inside.txt", "i"));
    const std::wstring outside = dir / L"outside.txt";
    std::wstring outsideJson;
    for (wchar_t c : outside) outsideJson += (c == L'\\') ? std::wstring(L"\\\\") : std::wstring(1, c);
    const std::wstring json = L"[\"../outside.txt\", \"..\\\\outside.txt\", \"sub/../../outside.txt\", \"" +
                              outsideJson + L"\", \"/outside.txt\", \"inside.txt\"]";
    WriteManifestListing(dir / L"install/ProgramConfig.zdb", {"other.txt"});
    CUpdateDlg dlg;
    LogCapture log;
    dlg.DeleteUselessFiles(dir / L"install", json, L"");
    EXPECT_TRUE(FileExists(outside));
    EXPECT_FALSE(FileExists(dir / L"install/inside.txt"));
    EXPECT_EQ(log.Count("delete useless file refused: ", google::GLOG_WARNING), 5);
    EXPECT_EQ(log.Count("delete useless file: "), 1);
}

TEST(UselessFiles, MalformedOrShortListsDeleteNothingAndALockedFileDoesNotStopTheRest) {
    ScratchDir dir(L"useless");
    ASSERT_TRUE(WriteBytes(dir / L"a.dll", "a"));
    WriteManifestListing(dir / L"ProgramConfig.zdb", {"other.txt"});
    CUpdateDlg dlg;
    struct Case {
        const char* name;
        const wchar_t* json;
        int errors;
    };
    const Case cases[] = {
        {"empty", L"", 0},
        {"one character", L"[", 0},
        {"unterminated array", L"[\"a.dll\"", 1},
        {"not json", L"a.dll", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        dlg.DeleteUselessFiles(dir.path(), c.json, L"");
        EXPECT_EQ(log.Count("read_json fail: ", google::GLOG_ERROR), c.errors);
        EXPECT_TRUE(FileExists(dir / L"a.dll"));
    }

    ASSERT_TRUE(WriteBytes(dir / L"locked.dll", "l"));
    velisk::UniqueFileHandle held(::CreateFileW((dir / L"locked.dll").c_str(), GENERIC_READ, 0, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    LogCapture log;
    dlg.DeleteUselessFiles(dir.path() + L"\\", L"[\"locked.dll\", \"a.dll\"]", L"");
    EXPECT_EQ(log.Count("delete useless fail: ", google::GLOG_ERROR), 1);
    EXPECT_TRUE(FileExists(dir / L"locked.dll"));
    EXPECT_FALSE(FileExists(dir / L"a.dll"));
}

// What the new version still needs and what starts the next update stays,
// however the name is spelt; without a readable manifest nothing is deleted.
TEST(UselessFiles, FilesOfTheVersionTheClientAndTheUpdaterAreKept) {
    ScratchDir dir(L"useless keep");
    const std::vector<std::wstring> kept = {L"VeliskLive.exe", L"zuZavozeVororiz.exe", L"ProgramConfig.zdb",
                                            L"version.ini", L"version.ini.sig", L"bin/keep.dll"};
    WriteManifestListing(dir / L"ProgramConfig.zdb", {"bin/keep.dll"});
    for (const auto& name : kept) {
        if (name != L"ProgramConfig.zdb") {
            ASSERT_TRUE(WriteBytes(dir / name, "k"));
        }
    }
    ASSERT_TRUE(WriteBytes(dir / L"old.dll", "o"));
    struct Row {
        const char* name;
        std::wstring json;
        const char* reason;
    };
    const Row rows[] = {
        {"the client", L"VeliskLive.exe", "the client"},
        {"the client in other case and a trailing dot", L"VELISKLIVE.EXE.", "the client"},
        {"the launcher", L"zuZavozeVororiz.exe", "the launcher"},
        {"the manifest", L"ProgramConfig.zdb", "the manifest"},
        {"version.ini", L"version.ini", "version.ini"},
        {"its signature", L"version.ini.sig", "version.ini"},
        {"a file the new version lists", L"bin/keep.dll", "listed by the manifest"},
        {"the same with backslashes", L"bin\\\\KEEP.dll", "listed by the manifest"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CUpdateDlg dlg;
        LogCapture log;
        dlg.DeleteUselessFiles(dir.path(), L"[\"" + row.json + L"\", \"old.dll\"]", L"VeliskLive.exe");
        EXPECT_EQ(log.Count(std::string("delete useless file refused, ") + row.reason, google::GLOG_WARNING), 1);
        EXPECT_FALSE(FileExists(dir / L"old.dll"));
        ASSERT_TRUE(WriteBytes(dir / L"old.dll", "o"));
    }
    for (const auto& name : kept) EXPECT_TRUE(FileExists(dir / name)) << WideToUtf8String(name);

    ASSERT_TRUE(::DeleteFileW((dir / L"ProgramConfig.zdb").c_str()));
    CUpdateDlg dlg;
    LogCapture log;
    dlg.DeleteUselessFiles(dir.path(), L"[\"old.dll\"]", L"VeliskLive.exe");
    EXPECT_TRUE(FileExists(dir / L"old.dll"));
    EXPECT_EQ(log.Count("useless files not deleted: ", google::GLOG_WARNING), 1);
}

TEST(NewVersionIni, IsCopiedIntoTheInstallationOrItsStagingFolder) {
    ScratchDir dir(L"ini");
    ASSERT_TRUE(WriteBytes(dir / L"new/version.ini", "[update]\nversion=2\n"));
    ASSERT_TRUE(WriteBytes(dir / L"install/version.ini", "[update]\nversion=1\n"));
    CUpdateDlg dlg;
    dlg.m_newIniPath = dir / L"new/version.ini";
    dlg.m_installDir = dir / L"install\\";

    dlg.InstallNewVersionIni();
    EXPECT_EQ(ReadBytes(dir / L"install/version.ini"), "[update]\nversion=2\n");

    dlg.m_stagingDir = L"update1234\\";
    dlg.InstallNewVersionIni();
    EXPECT_EQ(ReadBytes(dir / L"install/update1234/version.ini"), "[update]\nversion=2\n");

    dlg.m_newIniPath = dir / L"new/missing.ini";  // fails quietly
    dlg.InstallNewVersionIni();
    EXPECT_EQ(ReadBytes(dir / L"install/update1234/version.ini"), "[update]\nversion=2\n");
}

TEST(FirewallRule, IsDeletedAndAddedAgainOnlyWhenNamedBySystemNetsh) {
    ScratchDir dir(L"netsh");
    const std::wstring netsh = dir / L"netsh.exe";
    ASSERT_TRUE(::CopyFileW(BinFile(L"launcher_standin.exe").c_str(), netsh.c_str(), FALSE));
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    // A netsh in the current folder is never the one started.
    ASSERT_TRUE(::SetCurrentDirectoryW(dir.path().c_str()));

    ASSERT_TRUE(WriteBytes(dir / L"empty.ini", "[update]\nfirewall=\n"));
    ASSERT_TRUE(WriteBytes(dir / L"named.ini", "[update]\nfirewall=Velisk Live\n"));
    ASSERT_TRUE(WriteBytes(dir / L"quoted.ini", "[update]\nfirewall=Velisk\" dir=out name=\"x\n"));
    const std::string started = "started: \"" + WideToUtf8String(SystemProgramPath(L"netsh.exe")) + "\" ";
    CUpdateDlg dlg;
    LogCapture log;
    dlg.UpdateFirewallRule(dir / L"empty.ini", L"C:\\App\\VeliskLive.exe");
    EXPECT_EQ(log.Count("started: "), 0);

    dlg.UpdateFirewallRule(dir / L"quoted.ini", L"C:\\App\\VeliskLive.exe");
    EXPECT_EQ(log.Count("started: "), 0);
    EXPECT_EQ(log.Count("firewall rule name refused: ", google::GLOG_WARNING), 1);

    dlg.UpdateFirewallRule(dir / L"named.ini", L"C:\\Program Files\\App\\VeliskLive.exe");
    ::SetCurrentDirectoryW(previous);
    EXPECT_TRUE(RecordedCommands(netsh).empty());
    EXPECT_EQ(log.Count(started + "advfirewall firewall delete rule name=\"Velisk Live\""), 1);
    EXPECT_EQ(log.Count(started + "advfirewall firewall add rule name=\"Velisk Live\" dir=in action=allow "
                                  "program=\"C:\\Program Files\\App\\VeliskLive.exe\""),
              1);
}

TEST(UrlProtocol, RegistersTheSchemeWithIconAndOpenCommand) {
    ScratchDir dir(L"proto");
    const std::wstring scheme = Unique(L"veliskTest");
    ASSERT_TRUE(WriteBytes(dir / L"new.ini", "[regKey]\nappCode=" + WideToUtf8String(scheme) +
                                                 "\nprotocol=Velisk \xE5\x8D\x8F\xE8\xAE\xAE\ntarget=VeliskLive.exe\n"));
    // Every Windows user has this key; a fresh Wine prefix may not.
    velisk::UniqueRegKey classes;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr,
                                classes.receive(), nullptr),
              ERROR_SUCCESS);
    CUpdateDlg dlg;
    dlg.m_newIniPath = dir / L"new.ini";
    dlg.m_installDir = L"C:\\App\\";
    ASSERT_TRUE(dlg.RegisterUrlProtocol());

    const std::wstring key = L"Software\\Classes\\" + scheme;
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key, nullptr), L"Velisk \x534F\x8BAE");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key, L"URL Protocol"), L"C:\\App\\VeliskLive.exe");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key + L"\\DefaultIcon", nullptr), L"C:\\App\\VeliskLive.exe, 1");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key + L"\\shell\\open\\command", nullptr),
              L"\"C:\\App\\VeliskLive.exe\" \"%1\"");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());

    struct Case {
        const char* name;
        const char* ini;
        const char* warning;
    };
    const Case cases[] = {
        {"no appCode", "[regKey]\nprotocol=p\ntarget=t.exe\n", "read appCode of regKey fail"},
        {"no protocol", "[regKey]\nappCode=x\ntarget=t.exe\n", "read protocol of regKey fail"},
        {"no target", "[regKey]\nappCode=x\nprotocol=p\n", "read target of regKey fail"},
        {"target outside the installation", "[regKey]\nappCode=x\nprotocol=p\ntarget=..\\..\\evil.exe\n",
         "target of regKey refused: "},
        {"target with a drive", "[regKey]\nappCode=x\nprotocol=p\ntarget=C:\\evil.exe\n", "target of regKey refused: "},
        {"target with a quote", "[regKey]\nappCode=x\nprotocol=p\ntarget=a\" \"b.exe\n", "target of regKey refused: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteBytes(dir / L"bad.ini", c.ini));
        dlg.m_newIniPath = dir / L"bad.ini";
        LogCapture log;
        EXPECT_FALSE(dlg.RegisterUrlProtocol());
        EXPECT_EQ(log.Count(c.warning, google::GLOG_WARNING), 1);
    }
}

TEST(DisplayVersion, IsTheVersionNameWithoutItsFirstCharacter) {
    ScratchDir dir(L"uninst");
    const std::wstring product = Unique(L"Velisk Test ");
    const std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product;
    velisk::UniqueRegKey created;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                created.receive(), nullptr),
              ERROR_SUCCESS);
    CUpdateDlg dlg;
    ASSERT_TRUE(WriteBytes(dir / L"v.ini", "[update]\nproductName=" + WideToUtf8String(product) +
                                               "\nversionName=V5.2.1\n"));
    EXPECT_TRUE(dlg.UpdateDisplayVersion(dir / L"v.ini"));
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key, L"DisplayVersion"), L"5.2.1");

    ASSERT_TRUE(WriteBytes(dir / L"noproduct.ini", "[update]\nversionName=V9.9.9\n"));
    EXPECT_FALSE(dlg.UpdateDisplayVersion(dir / L"noproduct.ini"));
    ASSERT_TRUE(WriteBytes(dir / L"noversion.ini", "[update]\nproductName=" + WideToUtf8String(product) + "\n"));
    EXPECT_FALSE(dlg.UpdateDisplayVersion(dir / L"noversion.ini"));
    ASSERT_TRUE(WriteBytes(dir / L"nokey.ini", "[update]\nproductName=No Such Product 1\nversionName=V1\n"));
    EXPECT_FALSE(dlg.UpdateDisplayVersion(dir / L"nokey.ini"));
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key, L"DisplayVersion"), L"5.2.1");
    created.reset();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
}

// Writes a real shell link "<desktop>\<name>.lnk" pointing at `target`.
bool CreateDesktopLink(const std::wstring& name, const std::wstring& target, std::wstring* linkPath) {
    std::wstring desktop;
    if (!ReadMachineValue(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                          L"Common Desktop", desktop)) {
        return false;
    }
    ::CreateDirectoryW(desktop.c_str(), nullptr);
    *linkPath = desktop + L"\\" + name + L".lnk";
    ::CoInitialize(nullptr);
    bool saved = false;
    {
        velisk::ComPtr<IShellLinkW> link;
        velisk::ComPtr<IPersistFile> file;
        saved = SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                             link.receiveVoid())) &&
                SUCCEEDED(link->SetPath(target.c_str())) &&
                SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.receiveVoid())) &&
                SUCCEEDED(file->Save(linkPath->c_str(), TRUE));
    }
    ::CoUninitialize();
    return saved;
}

TEST(Shortcut, ToolIsStartedOnlyWhenTheDesktopLinkPointsElsewhere) {
    ScratchDir dir(L"link");
    const std::wstring name = Unique(L"Velisk Link ");
    const std::wstring installDir = dir.path() + L"\\App\\";
    const std::wstring tool = installDir + L"Application\\pctools\\Linkwell.exe";
    ASSERT_TRUE(WriteBytes(tool, ""));
    ASSERT_TRUE(::CopyFileW(BinFile(L"launcher_standin.exe").c_str(), tool.c_str(), FALSE));
    ASSERT_TRUE(WriteBytes(dir / L"new.ini", "[update]\nshortcut=" + WideToUtf8String(name) + "\n"));

    CUpdateDlg dlg;
    dlg.m_newIniPath = dir / L"new.ini";
    dlg.m_installDir = installDir;
    dlg.m_targetExe = L"VeliskLive.exe";

    std::wstring link;
    ASSERT_TRUE(CreateDesktopLink(name, installDir + L"VeliskLive.exe", &link));
    EXPECT_TRUE(ShortcutPointsToTarget(name, L"VeliskLive.exe"));
    EXPECT_FALSE(ShortcutPointsToTarget(name, L"velisklive.exe"));  // compared with case
    dlg.RefreshShortcut();
    ::Sleep(500);
    EXPECT_TRUE(RecordedCommands(tool).empty());

    ASSERT_TRUE(CreateDesktopLink(name, installDir + L"OldClient.exe", &link));
    LogCapture log;
    dlg.RefreshShortcut();
    ASSERT_TRUE(WaitFor([&] { return !RecordedCommands(tool).empty(); }));
    const std::wstring cmd = RecordedCommands(tool)[0];
    const std::wstring expected = L"-u \"" + name + L"\" \"" + dir.path() + L"\\App\" \"VeliskLive.exe\" \"" +
                                  installDir + L"Application/pctools/Pinwell.exe\"";
    EXPECT_EQ(cmd.substr(cmd.size() - expected.size()), expected) << WideToUtf8String(cmd);
    EXPECT_EQ(log.Count("runas as Linkwell "), 1);
    ::DeleteFileW(link.c_str());
    EXPECT_FALSE(ShortcutPointsToTarget(name, L"VeliskLive.exe"));
}

}  // namespace
