// The update window in this process, with the real resources, a real worker
// thread and a real process that the worker waits for.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cwchar>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/update_dlg.h"
#include "engine/auto_updater.h"
#include "support/idle_engine.h"
#include "support/log_capture.h"
#include "support/test_support.h"
#include "velisk/handles.h"

namespace {

using namespace testing_support;

TEST(UpdateDialogText, NotesHeadingProgressAndCopyParameters) {
    EXPECT_EQ(ComposeUpdateNotes(L"V2.0", {L"a", L"b"}),
              L"本次更新内容：\r\n\r\n最新版本：V2.0\r\na\r\nb\r\n");
    EXPECT_EQ(ComposeUpdateNotes(L"V", {L"a"}), L"本次更新内容：\r\n\r\na\r\n");
    EXPECT_EQ(ComposeUpdateNotes(L"V2.0", {}), L"");

    struct Case {
        int index, total, percent;
    };
    for (const Case& c : {Case{1, 4, 25}, Case{3, 4, 75}, Case{1, 3, 33}, Case{2, 3, 66}, Case{4, 4, 100},
                          Case{0, 0, 0}}) {
        EXPECT_EQ(ProgressPercent(c.index, c.total), c.percent) << c.index << "/" << c.total;
    }

    // The related list's quotes are escaped, so the client splits it back whole.
    EXPECT_EQ(BuildCopyParameters(L"C:\\Tools\\Update.exe", L"C:\\App\\", L"update123", 77, L"[\"a.exe\"]"),
              L"-copy \"C:\\Tools\\Update.exe\" \"C:\\App\\update123\" \"C:\\App\" 77 \"[\\\"a.exe\\\"]\"");
}

// A process that the worker waits for, ended by the test.
class CallerProcess : public ChildProcess {
public:
    CallerProcess() : ChildProcess(L"\"" + BinFile(L"client_standin.exe") + L"\" --no-window") {}
    void End() { Terminate(); }
};

// The dialog's installation is `dir`, its new version.ini `dir`\new.ini.
void UseScratchInstallation(CUpdateDlg& dlg, const ScratchDir& dir) {
    dlg.m_installDir = dir.path() + L"\\";
    dlg.m_newIniPath = dir / L"new.ini";
}

// Runs this thread's messages as the dialog's modal loop does (through its
// PreTranslateMessage when given) until `done` holds or `ms` pass.
template <typename Done>
bool PumpUntil(Done done, DWORD ms = 10000, fw::CDialogEx* dialog = nullptr) {
    const ULONGLONG end = ::GetTickCount64() + ms;
    while (!done()) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (dialog != nullptr && dialog->PreTranslateMessage(&msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (::GetTickCount64() >= end) return false;
        ::Sleep(5);
    }
    return true;
}

std::string NotesIni(int lines) {
    std::string text = "[update]\r\nversionName=V2.0\r\n[updateInfo]\r\n";
    for (int i = 1; i <= lines; ++i) text += "line " + std::to_string(i) + "\r\n";
    return text;
}

FileUpdateStatus* NewStatus(int code, int index, int total, const wchar_t* name) {
    auto* status = new FileUpdateStatus{};
    status->status = code;
    status->index = index;
    status->total = total;
    std::wcsncpy(status->fileName, name, 255);
    return status;
}

TEST(UpdateDialog, ShowsStatusAndProgressKeepsOpenOnKeysAndEndsWhenTheWorkerEnds) {
    ScratchDir dir(L"dlg");
    ASSERT_TRUE(WriteBytes(dir / L"new.ini", NotesIni(4)));
    CallerProcess caller;
    ASSERT_NE(caller.pid(), 0u);

    CUpdateDlg dlg;
    UseScratchInstallation(dlg, dir);
    dlg.m_versionName = L"V2.0";
    dlg.m_waitPid = static_cast<long>(caller.pid());
    ASSERT_TRUE(dlg.Create(IDD_UPDATE_DIALOG));
    HWND window = dlg.m_hWnd;

    // Four short lines under the long heading make 8 edit lines: no scroll bar.
    HWND edit = ::GetDlgItem(window, IDC_NOTES);
    EXPECT_EQ(::SendMessageW(edit, EM_GETLINECOUNT, 0, 0), 8);
    EXPECT_EQ(::GetWindowLongPtrW(edit, GWL_STYLE) & WS_VSCROLL, 0);
    EXPECT_TRUE(::IsWindowVisible(edit));
    RECT rect;
    ::GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right - rect.left, 630);
    EXPECT_EQ(rect.bottom - rect.top, 390);
    // Dragging the minimised window shows the program's icon.
    ASSERT_NE(dlg.m_hIcon, nullptr);
    EXPECT_EQ(::SendMessageW(window, WM_QUERYDRAGICON, 0, 0), reinterpret_cast<LRESULT>(dlg.m_hIcon));

    HWND progress = ::GetDlgItem(window, IDC_PROGRESS);
    dlg.OnUpdateStatus(0, reinterpret_cast<LPARAM>(NewStatus(FUS_DOWNLOADING, 0, 4, L"bin/a.dll")));
    EXPECT_EQ(dlg.statusText(), L"正在下载(1/4)：bin/a.dll");
    EXPECT_EQ(::SendMessageW(progress, PBM_GETPOS, 0, 0), 25);

    // The worker's path: a copy posted by the engine callback.
    FileUpdateStatus verify = *NewStatus(FUS_VERIFYFILE, 3, 4, L"c.dat");
    CUpdateDlg::OnEngineStatus(&verify, &dlg);
    ASSERT_TRUE(PumpUntil([&] { return dlg.statusText() == L"正在校验(3/4)：c.dat"; }));
    EXPECT_EQ(::SendMessageW(progress, PBM_GETPOS, 0, 0), 75);
    EXPECT_EQ(dlg.OnUpdateStatus(0, 0), 1);  // a null record is ignored

    EXPECT_TRUE(dlg.restartOnCrash());
    dlg.OnUpdateStatus(0, reinterpret_cast<LPARAM>(NewStatus(FUS_COPYSTART, 0, 0, L"")));
    EXPECT_FALSE(dlg.restartOnCrash());
    dlg.OnUpdateStatus(0, reinterpret_cast<LPARAM>(NewStatus(FUS_COPYEND, 0, 0, L"")));
    EXPECT_TRUE(dlg.restartOnCrash());

    for (WPARAM key : {static_cast<WPARAM>(VK_RETURN), static_cast<WPARAM>(VK_ESCAPE)}) {
        ::PostMessageW(edit, WM_KEYDOWN, key, 0);
    }
    PumpUntil([] { return false; }, 300, &dlg);
    EXPECT_TRUE(::IsWindow(window));
    EXPECT_FALSE(dlg.isEnded());

    // Once the caller's process ends, the worker runs the (failing) engine,
    // posts its end and the dialog ends.
    caller.End();
    ASSERT_TRUE(PumpUntil([&] { return dlg.isEnded(); }));
    EXPECT_FALSE(::IsWindow(window));
}

TEST(UpdateDialog, FiveNotesLinesNeedTheScrollBarAndNoNotesHideTheBox) {
    ScratchDir dir(L"dlg");
    struct Case {
        const char* name;
        std::string ini;
        bool notesShown;
        bool scrollSkin;
    };
    const Case cases[] = {
        {"five lines", NotesIni(5), true, true},
        {"no notes section", "[update]\r\nversionName=V2.0\r\n", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteBytes(dir / L"new.ini", c.ini));
        CallerProcess caller;
        CUpdateDlg dlg;
        UseScratchInstallation(dlg, dir);
        dlg.m_versionName = L"V2.0";
        dlg.m_waitPid = static_cast<long>(caller.pid());
        ASSERT_TRUE(dlg.Create(IDD_UPDATE_DIALOG));
        // The edit itself (the skinned scroll frame takes over its id).
        HWND edit = dlg.m_notesEdit.m_hWnd;
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(::IsWindowVisible(edit) != FALSE, c.notesShown);
        EXPECT_EQ(dlg.m_scrollSkin != nullptr, c.scrollSkin);
        if (c.scrollSkin) {
            EXPECT_EQ(::SendMessageW(edit, EM_GETLINECOUNT, 0, 0), 9);
        }
        EXPECT_EQ(dlg.updateNotes().empty(), !c.notesShown);
        caller.End();
        ASSERT_TRUE(PumpUntil([&] { return dlg.isEnded(); }));
    }
}

}  // namespace

namespace {

BOOL CALLBACK FindOwnPrompt(HWND hwnd, LPARAM param) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    wchar_t cls[16] = {}, title[16] = {};
    ::GetClassNameW(hwnd, cls, 16);
    ::GetWindowTextW(hwnd, title, 16);
    if (owner != ::GetCurrentProcessId() || std::wstring(cls) != L"#32770" || std::wstring(title) != L"中断提醒") {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(param) = hwnd;
    return FALSE;
}

// Presses `button` (IDYES or IDNO) of this process's interruption prompt once
// it shows (other test programs may show theirs at the same time).
void PressPromptButtonWhenShown(int button, std::atomic<bool>* pressed) {
    for (int i = 0; i < 500 && !*pressed; ++i) {
        HWND box = nullptr;
        ::EnumWindows(&FindOwnPrompt, reinterpret_cast<LPARAM>(&box));
        if (box != nullptr) {
            ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
            *pressed = true;
            return;
        }
        ::Sleep(20);
    }
}

TEST(UpdateDialog, InterruptionPromptNoLetsTheUpdateGoOnYesCancelsEndsAndRestartsTheClient) {
    ScratchDir dir(L"dlg");
    ASSERT_TRUE(WriteBytes(dir / L"new.ini", NotesIni(2)));
    // A name of its own: tests running at the same time end "VeliskLive.exe" by name.
    const std::wstring clientName = L"VeliskDlg_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    const std::wstring client = dir / clientName;
    ASSERT_TRUE(::CopyFileW(BinFile(L"client_standin.exe").c_str(), client.c_str(), FALSE));
    CallerProcess caller;
    {
        CUpdateDlg dlg;
        UseScratchInstallation(dlg, dir);
        dlg.m_targetExe = clientName;
        dlg.m_waitPid = static_cast<long>(caller.pid());
        ASSERT_TRUE(dlg.Create(IDD_UPDATE_DIALOG));
        HWND window = dlg.m_hWnd;

        std::atomic<bool> pressed{false};
        std::thread no([&] { PressPromptButtonWhenShown(IDNO, &pressed); });
        dlg.OnCloseButton();  // runs the prompt's own loop until the button is pressed
        no.join();
        EXPECT_TRUE(pressed);
        EXPECT_TRUE(::IsWindow(window));
        EXPECT_FALSE(dlg.isEnded());

        pressed = false;
        std::thread yes([&] { PressPromptButtonWhenShown(IDYES, &pressed); });
        dlg.OnCloseButton();  // cancels, waits for the worker, ends the dialog
        yes.join();
        EXPECT_TRUE(pressed);
        EXPECT_TRUE(dlg.isEnded());
        EXPECT_FALSE(::IsWindow(window));
        EXPECT_TRUE(ReadStartRecords(client).empty());
    }
    // The end sequence starts the client again, told not to update.
    ASSERT_TRUE(WaitFor([&] { return !ReadStartRecords(client).empty(); }));
    const auto starts = ReadStartRecords(client);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].cmd.substr(starts[0].cmd.size() - 11), L" --noupdate");
    velisk::UniqueKernelHandle restarted(::OpenProcess(PROCESS_TERMINATE, FALSE, starts[0].pid));
    if (restarted) ::TerminateProcess(restarted.get(), 0);
}

}  // namespace

namespace {

// An engine whose BeginUpdate throws; counts its destructions.
class ThrowingEngine final : public testing_support::IdleEngine {
public:
    ThrowingEngine(std::function<void()> raise, int* deletions) : m_raise(std::move(raise)), m_deletions(deletions) {}
    void DeleteThis(unsigned int) override {
        ++*m_deletions;
        delete this;
    }
    bool BeginUpdate(const wchar_t*, int, const wchar_t*) override {
        m_raise();
        return true;
    }

private:
    std::function<void()> m_raise;
    int* m_deletions;
};

// What the worker's engine throws ends neither the process nor the dialog
// early: the worker logs it under its label, the run counts as failed (no
// chore runs: the new version.ini is not installed) and the dialog ends as
// after any run, deleting the engine once.
TEST(UpdateDialog, AnExceptionInTheWorkerFailsTheRunAndTheDialogEnds) {
    const struct {
        const char* name;
        std::function<void()> raise;
        const char* logged;
    } rows[] = {
        {"standard exception", [] { throw std::runtime_error("engine fault"); }, "update thread crash engine fault"},
        {"other exception", [] { throw 7; }, "update thread crash unknown exception"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir dir(L"dlw");
        ASSERT_TRUE(WriteBytes(dir / L"new.ini", NotesIni(2)));
        LogCapture log;
        int deletions = 0;
        {
            CUpdateDlg dlg;
            UseScratchInstallation(dlg, dir);
            dlg.m_updater = new ThrowingEngine(row.raise, &deletions);
            ASSERT_TRUE(dlg.Create(IDD_UPDATE_DIALOG));
            ASSERT_TRUE(PumpUntil([&] { return dlg.isEnded(); }));
            EXPECT_EQ(log.Count(row.logged, google::GLOG_ERROR), 1);
            EXPECT_EQ(log.Count("point update_ifsucc: "), 1);
            EXPECT_FALSE(FileExists(dir / L"version.ini"));
            EXPECT_EQ(deletions, 0);
        }
        EXPECT_EQ(deletions, 1);
    }
}

}  // namespace
