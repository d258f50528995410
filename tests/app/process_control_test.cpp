// Ending related processes and the client, against real processes.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/process_control.h"
#include "app/update_dlg.h"
#include "support/log_capture.h"
#include "support/test_support.h"
#include "velisk/handles.h"

namespace {

using namespace testing_support;

std::wstring Unique(const std::wstring& base) { return base + std::to_wstring(::GetCurrentProcessId()) + L".exe"; }

TEST(RelatedProcesses, ListIsAJsonArrayOrTheDefaultList) {
    struct Case {
        const char* name;
        std::wstring json;
        bool parsed;
        std::vector<std::wstring> names;
    };
    const Case cases[] = {
        {"array in document order", L"[\"b.exe\", \"a.exe\"]", true, {L"b.exe", L"a.exe"}},
        {"object: keys are ignored", L"{\"x\": \"c.exe\", \"y\": \"d.exe\"}", true, {L"c.exe", L"d.exe"}},
        {"empty array", L"[]", true, {}},
        {"not json", L"vk_service.exe", false, {L"vk_service.exe", L"QtWebEngineProcess.exe"}},
        {"lone bracket", L"[", false, {L"vk_service.exe", L"QtWebEngineProcess.exe"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        bool parsed = !c.parsed;
        EXPECT_EQ(ParseRelatedExes(c.json, &parsed), c.names);
        EXPECT_EQ(parsed, c.parsed);
        EXPECT_EQ(log.Count("killRelatedExe", google::GLOG_ERROR), c.parsed ? 0 : 1);
    }
}

TEST(RelatedProcesses, HelperParameterListsTheIdsThatSurvived) {
    EXPECT_EQ(BuildHaltrixParameter({1204, 88}), L"--pids \"[1204,88]\"");
    EXPECT_EQ(BuildHaltrixParameter({7}), L"--pids \"[7]\"");
    EXPECT_EQ(BuildHaltrixParameter({}), L"");
}

TEST(RelatedProcesses, ListedProcessesEndByExactNameAndNoHelperIsNeeded) {
    ScratchDir dir(L"kill");
    const std::wstring a = Unique(L"relA_"), b = Unique(L"relB_");
    ClientStandIn procA(dir / a), procB(dir / b);
    std::wstring upper = Unique(L"RELC_");
    ClientStandIn procUpper(dir / upper);
    ASSERT_TRUE(procA.running() && procB.running() && procUpper.running());

    CUpdateDlg dlg;
    dlg.m_installDir = dir.path() + L"\\";
    // relc_ in lower case does not match the running RELC_ (exact match).
    std::wstring lowerC = upper;
    for (auto& ch : lowerC) ch = static_cast<wchar_t>(towlower(ch));
    dlg.m_relatedExes = L"[\"" + a + L"\",\"" + b + L"\",\"" + lowerC + L"\"]";
    LogCapture log;
    dlg.killRelatedExe();
    EXPECT_TRUE(procA.Wait(2000));
    EXPECT_TRUE(procB.Wait(2000));
    EXPECT_EQ(procA.exitCode(), 0u);
    EXPECT_TRUE(procUpper.running());
    EXPECT_EQ(log.Count("cmd = "), 0);
    EXPECT_EQ(log.Count("o_ret"), 0);
}

TEST(RelatedProcesses, ShortOrMalformedListsEndNothingOrTheDefaults) {
    ScratchDir dir(L"kill");
    ClientStandIn service(dir / L"vk_service.exe");
    ASSERT_TRUE(service.running());

    CUpdateDlg dlg;
    dlg.m_installDir = dir.path() + L"\\";
    for (const wchar_t* shortList : {L"", L"["}) {
        dlg.m_relatedExes = shortList;
        LogCapture log;
        dlg.killRelatedExe();
        EXPECT_EQ(log.Count("killRelatedExe"), 0);
    }
    EXPECT_TRUE(service.running());

    dlg.m_relatedExes = L"[\"unterminated";
    LogCapture log;
    dlg.killRelatedExe();
    EXPECT_EQ(log.Count("killRelatedExe", google::GLOG_ERROR), 1);
    EXPECT_TRUE(service.Wait(2000));
}

TEST(ClientProcess, ChildrenEndFirstThenTheClientWhateverTheNameCase) {
    ScratchDir dir(L"client");
    const std::wstring childName = Unique(L"clientChild_");
    ::CopyFileW(BinFile(L"client_standin.exe").c_str(), (dir / childName).c_str(), FALSE);
    ClientStandIn client(dir / Unique(L"ClientMain_"), L"--spawn \"" + (dir / childName) + L"\"");
    ASSERT_TRUE(WaitFor([&] { return FindProcessByName(childName) > 0; }));
    const long childPid = FindProcessByName(childName);
    velisk::UniqueKernelHandle child(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                                   static_cast<DWORD>(childPid)));
    ASSERT_TRUE(child);

    std::wstring upperName = Unique(L"CLIENTMAIN_");
    CloseClientProcess(upperName, {dir.path()});
    EXPECT_EQ(::WaitForSingleObject(child.get(), 2000), WAIT_OBJECT_0);
    DWORD childCode = 0;
    ::GetExitCodeProcess(child.get(), &childCode);
    EXPECT_EQ(childCode, 0xFFFFFFFFu);
    EXPECT_TRUE(client.Wait(2000));
    EXPECT_EQ(FindProcessByName(upperName), -1);
}

TEST(ClientProcess, ClientWithoutWindowIsTerminated) {
    ScratchDir dir(L"client");
    ClientStandIn client(dir / Unique(L"Windowless_"), L"--no-window");
    ASSERT_TRUE(client.running());
    CloseClientProcess(Unique(L"Windowless_"), {dir.path()});
    EXPECT_TRUE(client.Wait(2000));
    EXPECT_EQ(client.exitCode(), 0xFFFFFFFFu);
    // A client that is not running is left alone.
    CloseClientProcess(Unique(L"NotRunning_"), {dir.path()});
}

// A name in a version.ini ends only the installation's own programs: a
// program of that name anywhere else (a victim.exe, explorer.exe) runs on.
// The folder may be spelt with "/", a trailing separator or other case.
TEST(ProcessConfinement, OnlyProgramsInsideTheInstallationAreEnded) {
    ScratchDir install(L"安装 目录"), elsewhere(L"victim");
    const std::wstring name = Unique(L"victim_"), client = Unique(L"Client_");
    std::wstring folder = install.path() + L"\\";
    for (auto& c : folder) c = (c == L'\\') ? L'/' : static_cast<wchar_t>(towupper(c));
    // The client row runs only the program outside: the inside one would be
    // found first and closed, and the outside one never looked at.
    struct Row {
        const char* name;
        bool client;  // CloseClientProcess instead of KillProcessesByName
    };
    for (const Row row : {Row{"related list", false}, Row{"client", true}}) {
        SCOPED_TRACE(row.name);
        const std::wstring exe = row.client ? client : name;
        ClientStandIn outside(elsewhere / exe, L"--no-window");
        std::unique_ptr<ClientStandIn> inside;
        if (!row.client) inside = std::make_unique<ClientStandIn>(install / exe, L"--no-window");
        ASSERT_TRUE(outside.running() && (!inside || inside->running()));
        LogCapture log;
        if (row.client) {
            CloseClientProcess(exe, {folder});
        } else {
            KillProcessesByName({exe}, {folder});
        }
        if (inside) {
            EXPECT_TRUE(inside->Wait(3000));
        }
        EXPECT_TRUE(outside.running());
        EXPECT_EQ(log.Count("process left alone, not inside the installation: " + WideToUtf8String(exe),
                            google::GLOG_WARNING), 1);
        EXPECT_EQ(log.Count("cmd = "), 0);  // the elevated helper is never handed it
    }
}

TEST(Haltrix, EndsTheProcessesGivenInItsIdList) {
    ScratchDir dir(L"haltrix");
    ClientStandIn first(dir / Unique(L"haltA_")), second(dir / Unique(L"haltB_"));
    const std::wstring parameter = BuildHaltrixParameter({first.pid(), second.pid()});
    const ProcessResult r = RunProcess(L"\"" + BinFile(L"Haltrix.exe") + L"\" " + parameter);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(first.Wait(2000));
    EXPECT_TRUE(second.Wait(2000));
}

// Sets the current folder for the life of the object.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::wstring& dir) {
        ::GetCurrentDirectoryW(MAX_PATH, m_previous);
        ::SetCurrentDirectoryW(dir.c_str());
    }
    ~CurrentFolder() { ::SetCurrentDirectoryW(m_previous); }

private:
    wchar_t m_previous[MAX_PATH] = {};
};

// Processes whose access list denies every opener cannot be ended here; the
// helper beside the updater (the real Haltrix.exe beside this test) gets all
// of them at once, by its full path: a Haltrix.exe in the current folder (a
// recording stand-in) is never started.
TEST(Haltrix, ProcessesThatCannotBeEndedAreHandedToTheHelperBesideTheUpdaterOnce) {
    ScratchDir dir(L"guard");
    const std::wstring guardedA = Unique(L"guardA_"), guardedB = Unique(L"guardB_"), plain = Unique(L"plainC_");
    ClientStandIn a(dir / guardedA, L"--guarded --no-window"), b(dir / guardedB, L"--guarded --no-window");
    ClientStandIn c(dir / plain, L"--no-window");
    ASSERT_TRUE(a.running() && b.running() && c.running());
    ASSERT_FALSE(velisk::UniqueKernelHandle(::OpenProcess(PROCESS_TERMINATE, FALSE, a.pid())));

    ScratchDir helperDir(L"helper");
    const std::wstring planted = helperDir / L"Haltrix.exe";
    ASSERT_TRUE(::CopyFileW(BinFile(L"launcher_standin.exe").c_str(), planted.c_str(), FALSE));
    LogCapture log;
    {
        CurrentFolder inHelperDir(helperDir.path());
        KillProcessesByName({guardedA, plain, guardedB}, {dir.path()});
    }
    EXPECT_TRUE(c.Wait(2000));
    // Guarded processes deny the helper too.
    EXPECT_TRUE(a.running());
    EXPECT_TRUE(b.running());

    EXPECT_TRUE(ReadStartRecords(planted).empty());
    const std::string ab = "cmd = --pids \"[" + std::to_string(a.pid()) + "," + std::to_string(b.pid()) + "]\"";
    const std::string ba = "cmd = --pids \"[" + std::to_string(b.pid()) + "," + std::to_string(a.pid()) + "]\"";
    EXPECT_EQ(log.Count(ab) + log.Count(ba), 1);
    // Started (a result above 32) and awaited.
    int started = 0;
    for (const auto& line : log.lines()) {
        if (line.text.rfind("o_ret", 0) == 0) started = std::stoi(line.text.substr(5));
    }
    EXPECT_GT(started, 32);
}

}  // namespace
