// vantor_host: a small host application for Vantor.dll, used by tests.
//
//   vantor_host.exe [--data-folder NAME] [--url ADDRESS] [--views N]
//                   [--log FILE] [--quit-event NAME] [--timeout-ms N]
//
// Loads Vantor.dll from its own folder, opens a window, creates N views in it
// (each with data folder NAME through "set_edge_log_path"), starts them and
// runs the message loop until the named event is set (or the time-out, 60 s
// by default, passes). Every notification of every view is appended to FILE
// as "<view number> <line>" (see RecordingHandler). Exit codes: 0 after the
// quit event, 1 for bad arguments or a missing library, 2 when the engine is
// not supported, 3 after the time-out.

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "recording_handler.h"
#include "vantor_library.h"
#include "velisk/handles.h"

namespace {

struct Options {
    std::wstring dataFolder;
    std::wstring url;
    int views = 1;
    std::wstring logFile;
    std::wstring quitEvent;
    DWORD timeoutMs = 60000;
};

bool ParseOptions(Options* options) {
    velisk::ArgumentList args(::GetCommandLineW());
    for (int i = 1; i < args.count(); ++i) {
        const std::wstring name = args[i];
        if (i + 1 >= args.count()) return false;
        const std::wstring value = args[++i];
        if (name == L"--data-folder") {
            options->dataFolder = value;
        } else if (name == L"--url") {
            options->url = value;
        } else if (name == L"--views") {
            options->views = _wtoi(value.c_str());
        } else if (name == L"--log") {
            options->logFile = value;
        } else if (name == L"--quit-event") {
            options->quitEvent = value;
        } else if (name == L"--timeout-ms") {
            options->timeoutMs = static_cast<DWORD>(_wtoi(value.c_str()));
        } else {
            return false;
        }
    }
    return options->views >= 1;
}

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L"\\/") + 1);
}

// Appends UTF-8 lines to the log file, flushed after each.
class LineLog {
public:
    explicit LineLog(const std::wstring& path) {
        if (!path.empty()) m_file = _wfopen(path.c_str(), L"ab");
    }
    ~LineLog() {
        if (m_file != nullptr) std::fclose(m_file);
    }
    void Write(const std::wstring& line) {
        if (m_file == nullptr) return;
        const int n = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
        if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8.data(), n, nullptr, nullptr);
        std::fprintf(m_file, "%s\n", utf8.c_str());
        std::fflush(m_file);
    }

private:
    FILE* m_file = nullptr;
};

HWND CreateHostWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VantorHostWindow";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    ::RegisterClassW(&wc);
    return ::CreateWindowExW(0, wc.lpszClassName, L"vantor_host", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                             nullptr, nullptr, wc.hInstance, nullptr);
}

// Runs the message loop until `quit` is set (true) or `timeoutMs` passes.
bool RunUntil(HANDLE quit, DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) return false;
        const DWORD count = quit != nullptr ? 1 : 0;
        const DWORD wait = ::MsgWaitForMultipleObjects(count, &quit, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        if (count == 1 && wait == WAIT_OBJECT_0) return true;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

}  // namespace

int wmain() {
    Options options;
    if (!ParseOptions(&options)) return 1;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    VantorLibrary vantor;
    if (!vantor.Load(OwnFolder() + L"Vantor.dll")) return 1;
    if (!vantor.IsSupportedWebViewEngine(VANTOR_ENGINE_WEBVIEW2, nullptr)) return 2;

    velisk::UniqueKernelHandle quit;
    if (!options.quitEvent.empty()) quit.reset(::CreateEventW(nullptr, TRUE, FALSE, options.quitEvent.c_str()));
    LineLog log(options.logFile);
    HWND window = CreateHostWindow();

    struct HostedView {
        std::unique_ptr<RecordingHandler> handler;
        CefWebView::IWebView* view = nullptr;
    };
    std::vector<HostedView> views;
    CefWebView::IWebViewFactory* factory = vantor.GetWebViewFactory();
    for (int i = 0; i < options.views; ++i) {
        HostedView hosted;
        const std::wstring prefix = std::to_wstring(i + 1) + L" ";
        hosted.handler = std::make_unique<RecordingHandler>([&log, prefix](const std::wstring& line) {
            log.Write(prefix + line);
        });
        RECT bounds = {0, 0, 640, 480};
        hosted.view = factory->CreateWebView(VANTOR_ENGINE_WEBVIEW2, window, bounds,
                                             options.url.empty() ? nullptr : options.url.c_str(), nullptr);
        if (hosted.view == nullptr) return 2;
        CefWebView::IWebViewEx* ex = vantor.IWebViewToIWebViewEx(hosted.view);
        if (ex != nullptr && !options.dataFolder.empty()) ex->SetProperty(L"set_edge_log_path", options.dataFolder.c_str(), 0);
        hosted.handler->ExpectView(hosted.view);
        hosted.view->Create(hosted.handler.get());
        views.push_back(std::move(hosted));
    }

    const bool quitSeen = RunUntil(quit.get(), options.timeoutMs);
    for (auto& hosted : views) hosted.view->Close();
    RunUntil(nullptr, 100);  // let callbacks still queued reach the closed views
    ::DestroyWindow(window);
    return quitSeen ? 0 : 3;
}
