// A view's life against the stand-in runtime: creation, set-up, events,
// re-creation, closing, properties and options.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "vantor_fixture.h"
#include "velisk/handles.h"

namespace vantor_test {
namespace {

using velisk::ComPtr;
using Lines = std::vector<std::wstring>;

std::wstring HexHandle(HWND hwnd) {
    wchar_t text[32];
    swprintf(text, 32, L"%llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)));
    return text;
}

const wchar_t* const kDocumentScript =
    L"window.addEventListener('contextmenu', window => {window.preventDefault();});"
    L"window.addEventListener('dragover',function(e){e.preventDefault();},false);"
    L"window.addEventListener('drop',function(e){e.preventDefault();console.log(e.dataTransfer);"
    L"console.log(e.dataTransfer.files[0])}, false);";

const Lines kEventRemovals = {
    L"webview1.remove_ProcessFailed",   L"webview1.remove_NewWindowRequested", L"webview1.remove_DocumentTitleChanged",
    L"webview1.remove_NavigationCompleted", L"webview1.remove_SourceChanged", L"webview1.remove_NavigationStarting",
};

class WebViewTest : public VantorTest {
protected:
    // Log lines from index `from` on.
    Lines LogFrom(int from) const {
        Lines all = RuntimeLog();
        return Lines(all.begin() + (from < 0 ? 0 : from), all.end());
    }
    // True when `expected` appear in this order (not necessarily adjacent).
    bool LogHasInOrder(const Lines& expected, int from = 0) const {
        int at = from;
        for (const auto& line : expected) {
            at = FindLog(line, at);
            if (at < 0) return false;
            ++at;
        }
        return true;
    }
    bool IsLive(CefWebView::IWebView* view) const { return m_vantor.IWebViewToIWebViewEx(view) != nullptr; }
    std::wstring UserDataFolderOfCreation(int n) const {
        int at = -1;
        for (int i = 0; i < n; ++i) {
            at = FindLog(L"CreateCoreWebView2EnvironmentWithOptions", at + 1);
            if (at < 0) return {};
        }
        const std::wstring line = m_stub.LogLine(at);
        const size_t start = line.find(L"userData=") + 9;
        return line.substr(start, line.find(L" options=") - start);
    }
};

TEST_F(WebViewTest, ABrowserStartsOnTheBlankPageSetUpInOrder) {
    RecordingHandler handler;
    auto* view = NewView(nullptr, {10, 20, 650, 500});
    ASSERT_NE(view, nullptr);
    StartBrowser(view, &handler);

    const std::wstring userData = UserDataFolderOfCreation(1);
    EXPECT_EQ(userData, m_data.HostFolder(L"vantor_tests") + L"\\cache0");
    const Lines expected = {
        L"CreateCoreWebView2EnvironmentWithOptions userData=" + userData + L" options=none",
        L"environment1.CreateCoreWebView2Controller parent=" + HexHandle(m_window->hwnd()),
        L"controller1.put_ShouldDetectMonitorScaleChanges 0",
        L"settings1.put_IsScriptEnabled 1",
        L"settings1.put_AreDefaultScriptDialogsEnabled 1",
        L"settings1.put_IsWebMessageEnabled 1",
        L"settings1.put_IsStatusBarEnabled 0",
        L"controller1.put_Bounds 10,20,650,500",
        L"webview1.Navigate about:blank",
        L"webview1.add_NavigationStarting",
        L"webview1.add_SourceChanged",
        L"webview1.add_NavigationCompleted",
        L"webview1.add_DocumentTitleChanged",
        L"webview1.add_NewWindowRequested",
        L"webview1.add_ProcessFailed",
        L"webview1.AddScriptToExecuteOnDocumentCreated " + std::wstring(kDocumentScript),
    };
    const int start = FindLog(L"CreateCoreWebView2EnvironmentWithOptions");
    ASSERT_GE(start, 0);
    EXPECT_EQ(LogFrom(start), expected);
    EXPECT_TRUE(handler.lines().empty()) << "nothing is reported before the page does something";
    view->Close();
}

TEST_F(WebViewTest, TheStartAddressAndHighDpiChoiceReachTheBrowser) {
    RecordingHandler handler;
    auto* view = NewView(L"https://start.test/page");
    ASSERT_NE(view, nullptr);
    const int32_t on = 1;
    ASSERT_EQ(view->SetProperty(L"enable_high_dpi", &on, sizeof(on)), S_OK);
    StartBrowser(view, &handler);
    EXPECT_GE(FindLog(L"controller1.put_ShouldDetectMonitorScaleChanges 1"), 0);
    EXPECT_GE(FindLog(L"webview1.Navigate https://start.test/page"), 0);
    view->Close();
}

TEST_F(WebViewTest, EventsReachTheHandlerWithTheirArguments) {
    struct Case {
        const char* name;
        std::function<int(StubControl&)> fire;
        std::wstring expected;
    };
    const Case cases[] = {
        {"navigation starts", [](StubControl& s) { return s.FireNavigationStarting(0); }, L"NavigationStarting"},
        {"source changes", [](StubControl& s) { return s.FireSourceChanged(0, L"https://a.test/x"); },
         L"SourceChanged https://a.test/x"},
        {"navigation succeeds", [](StubControl& s) { return s.FireNavigationCompleted(0, TRUE); }, L"LoadSucceeded"},
        {"navigation fails: the start address is reported",
         [](StubControl& s) { return s.FireNavigationCompleted(0, FALSE); }, L"LoadFailed https://start.test/ 0"},
        {"title changes", [](StubControl& s) { return s.FireDocumentTitleChanged(0, L"Title \x4E2D"); },
         L"TitleChanged Title \x4E2D"},
        {"a browser process fails", [](StubControl& s) { return s.FireProcessFailed(0); },
         L"LoadFailed https://start.test/ 0"},
    };
    RecordingHandler handler;
    auto* view = NewView(L"https://start.test/");
    ASSERT_NE(view, nullptr);
    handler.ExpectView(view);
    StartBrowser(view, &handler);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        handler.Clear();
        EXPECT_EQ(c.fire(m_stub), 1);
        EXPECT_EQ(handler.lines(), Lines{c.expected});
    }

    view->SetHandler(nullptr);  // detached: events are taken but not reported
    handler.Clear();
    EXPECT_EQ(m_stub.FireNavigationCompleted(0, TRUE), 1);
    EXPECT_TRUE(handler.lines().empty());
    view->Close();
}

TEST_F(WebViewTest, ANewWindowRequestIsReportedAndHandledWithoutAWindow) {
    RecordingHandler handler;
    auto* view = NewView(L"https://start.test/");
    ASSERT_NE(view, nullptr);
    StartBrowser(view, &handler);
    BOOL handled = FALSE;
    EXPECT_EQ(m_stub.FireNewWindowRequested(0, L"https://popup.test/", &handled), 1);
    EXPECT_TRUE(handled);
    EXPECT_EQ(handler.lines(), Lines{L"NewWindowRequested https://popup.test/"});
    EXPECT_GE(FindLog(L"newWindowArgs.put_Handled 1"), 0);
    EXPECT_LT(FindLog(L"newWindowArgs.put_NewWindow"), 0);
    EXPECT_EQ(m_stub.WebViewCount(), 1) << "no second browser";

    view->SetHandler(nullptr);  // still marked handled without a handler
    handled = FALSE;
    m_stub.FireNewWindowRequested(0, L"https://popup.test/2", &handled);
    EXPECT_TRUE(handled);
    view->Close();
}

TEST_F(WebViewTest, EveryNavigationStartBringsAFreshHostObject) {
    RecordingHandler handler;
    auto* view = NewView(L"https://start.test/");
    ASSERT_NE(view, nullptr);
    StartBrowser(view, &handler);
    RecordingFunction early;
    view->RegisterHostFunction(L"f", &early);  // before any page: ignored
    EXPECT_EQ(early.releases, 0);

    std::vector<IDispatch*> seenInHandler;
    handler.OnNavigationStartingDo([&] {
        IDispatch* current = HostObject();
        seenInHandler.push_back(current);
        if (current != nullptr) current->Release();  // only the identity is compared
    });
    ASSERT_EQ(m_stub.FireNavigationStarting(0), 1);
    ComPtr<IDispatch> first = ComPtr<IDispatch>::Attach(HostObject());
    ASSERT_TRUE(first);
    RecordingFunction f(L"ok");
    view->RegisterHostFunction(L"f", &f);
    EXPECT_EQ(InvokeExecute(first.get(), L"f", L"x"), S_OK);

    const int before = m_stub.LogCount();
    ASSERT_EQ(m_stub.FireNavigationStarting(0), 1);
    EXPECT_EQ(LogFrom(before), (Lines{L"webview1.RemoveHostObjectFromScript asexternal",
                                      L"webview1.AddHostObjectToScript asexternal"}));
    ComPtr<IDispatch> second = ComPtr<IDispatch>::Attach(HostObject());
    ASSERT_TRUE(second);
    EXPECT_NE(second.get(), first.get());
    EXPECT_EQ(InvokeExecute(second.get(), L"f", L"x"), E_NOTIMPL) << "registrations do not carry over";
    EXPECT_EQ(f.releases, 0) << "the page still holds the old object";
    first.reset();
    EXPECT_EQ(f.releases, 1) << "the old object let its host functions go with it";

    ASSERT_EQ(seenInHandler.size(), 2u);
    EXPECT_NE(seenInHandler[0], nullptr);
    EXPECT_EQ(seenInHandler[1], second.get()) << "the new object is in place when the handler hears of it";
    EXPECT_EQ(handler.lines(), (Lines{L"NavigationStarting", L"NavigationStarting"}));
    view->Close();
}

TEST_F(WebViewTest, CallingAPageFunctionBeforeAnyPageDoesNothing) {
    RecordingHandler handler;
    auto* view = NewView();
    ASSERT_NE(view, nullptr);
    RecordingCompletion completion;
    const wchar_t* args[] = {L"a"};
    EXPECT_EQ(view->CallScriptFunction(L"show", &completion, args, 1), S_OK);
    StartBrowser(view, &handler);
    EXPECT_EQ(view->CallScriptFunction(L"show", &completion, args, 1), S_OK);
    EXPECT_TRUE(completion.records.empty());
    view->Close();
}

TEST_F(WebViewTest, LoadUrlReplacesTheBrowser) {
    RecordingHandler handler;
    auto* view = NewView(L"https://start.test/");
    ASSERT_NE(view, nullptr);
    StartBrowser(view, &handler);
    ASSERT_EQ(m_stub.FireNavigationStarting(0), 1);
    RecordingFunction f;
    view->RegisterHostFunction(L"f", &f);

    const int before = m_stub.LogCount();
    EXPECT_EQ(view->LoadUrl(L"https://next.test/", nullptr), TRUE);
    Lines teardown = kEventRemovals;
    teardown.push_back(L"webview1.RemoveHostObjectFromScript asexternal");
    teardown.push_back(L"controller1.Close");
    teardown.push_back(L"CreateCoreWebView2EnvironmentWithOptions");
    EXPECT_TRUE(LogHasInOrder(teardown, before));
    EXPECT_EQ(f.releases, 1);
    ASSERT_TRUE(PumpUntil([&] { return m_stub.WebViewCount() == 2; }));
    PumpPending();
    EXPECT_GE(FindLog(L"webview2.Navigate https://next.test/"), 0);
    EXPECT_EQ(m_stub.FireNavigationStarting(1), 0) << "the old browser has no handlers left";

    handler.Clear();
    EXPECT_EQ(m_stub.FireNavigationStarting(2), 1);
    EXPECT_EQ(handler.lines(), Lines{L"NavigationStarting"});
    ComPtr<IDispatch> object = ComPtr<IDispatch>::Attach(HostObject(2));
    ASSERT_TRUE(object);
    EXPECT_EQ(InvokeExecute(object.get(), L"f", L"x"), E_NOTIMPL);
    EXPECT_EQ(m_stub.FireNavigationCompleted(2, FALSE), 1);
    EXPECT_EQ(handler.lines().back(), L"LoadFailed https://next.test/ 0");
    view->Close();
}

TEST_F(WebViewTest, CloseBeforeTheEnvironmentArrivesEndsTheViewSilently) {
    RecordingHandler handler;
    auto* view = NewView();
    ASSERT_NE(view, nullptr);
    view->Create(&handler);
    view->Close();
    EXPECT_TRUE(IsLive(view)) << "the view waits for its environment callback";
    ASSERT_TRUE(PumpUntil([&] { return !IsLive(view); })) << "the environment callback ends the view";
    PumpPending();
    EXPECT_LT(FindLog(L"environment1.CreateCoreWebView2Controller"), 0);
    EXPECT_EQ(m_stub.WebViewCount(), 0);
    EXPECT_TRUE(handler.lines().empty());
}

TEST_F(WebViewTest, CloseWhileTheControllerIsPendingClosesTheLateController) {
    RecordingHandler handler;
    auto* view = NewView();
    ASSERT_NE(view, nullptr);
    view->Create(&handler);
    ASSERT_TRUE(DispatchUntil([&] { return FindLog(L"environment1.CreateCoreWebView2Controller") >= 0; }));
    view->Close();
    EXPECT_TRUE(IsLive(view));
    ASSERT_TRUE(PumpUntil([&] { return !IsLive(view); }));
    EXPECT_GE(FindLog(L"controller1.Close"), 0);
    EXPECT_LT(FindLog(L"webview1.Navigate"), 0) << "the late browser is not set up";
    EXPECT_TRUE(handler.lines().empty());
}

TEST_F(WebViewTest, CloseDuringARecreationWaitsForItsCallbacks) {
    RecordingHandler handler;
    auto* view = NewView();
    ASSERT_NE(view, nullptr);
    StartBrowser(view, &handler);
    view->LoadUrl(L"https://next.test/", nullptr);
    view->LoadUrl(L"https://third.test/", nullptr);  // supersedes the creation just started
    view->Close();
    EXPECT_TRUE(IsLive(view));
    ASSERT_TRUE(PumpUntil([&] { return !IsLive(view); }));
    PumpPending();
    EXPECT_LT(FindLog(L"environment2.CreateCoreWebView2Controller"), 0);
    EXPECT_LT(FindLog(L"environment3.CreateCoreWebView2Controller"), 0);
    EXPECT_EQ(m_stub.WebViewCount(), 1);
    EXPECT_TRUE(handler.lines().empty());
}

TEST_F(WebViewTest, ARunningViewClosesAtOnce) {
    RecordingHandler handler;
    auto* view = NewView();
    ASSERT_NE(view, nullptr);
    StartBrowser(view, &handler);
    ASSERT_EQ(m_stub.FireNavigationStarting(0), 1);
    const int before = m_stub.LogCount();
    view->Close();
    EXPECT_FALSE(IsLive(view));
    Lines expected = kEventRemovals;
    expected.push_back(L"webview1.RemoveHostObjectFromScript asexternal");
    expected.push_back(L"controller1.Close");
    EXPECT_EQ(LogFrom(before), expected);
    EXPECT_EQ(m_stub.FireNavigationCompleted(0, TRUE), 0);
}

TEST_F(WebViewTest, ACreationFailureIsReportedAndTheViewStaysUsable) {
    struct Case {
        const char* name;
        unsigned int behavior;
    };
    const Case cases[] = {
        {"environment call fails at once", kWvStubFailEnvironmentCall},
        {"no environment delivered", kWvStubNoEnvironment},
        {"controller call fails at once", kWvStubFailControllerCall},
        {"no controller delivered", kWvStubNoController},
    };
    int webviews = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_stub.SetBehavior(c.behavior);
        RecordingHandler handler;
        auto* view = NewView(L"https://start.test/");
        ASSERT_NE(view, nullptr);
        view->Create(&handler);
        ASSERT_TRUE(PumpUntil([&] { return !handler.lines().empty(); }));
        PumpPending();
        EXPECT_EQ(handler.lines(), Lines{L"LoadFailed https://start.test/ 0"});
        EXPECT_EQ(m_stub.WebViewCount(), webviews);

        m_stub.SetBehavior(kWvStubNormal);
        view->LoadUrl(L"https://retry.test/", nullptr);
        ASSERT_TRUE(PumpUntil([&] { return m_stub.WebViewCount() == webviews + 1; })) << "a later LoadUrl works";
        ++webviews;
        PumpPending();
        view->Close();
        EXPECT_FALSE(IsLive(view));
    }
}

TEST_F(WebViewTest, AFailedViewIsReclaimedByClose) {
    m_stub.SetBehavior(kWvStubNoController);
    RecordingHandler handler;
    auto* view = NewView();
    ASSERT_NE(view, nullptr);
    view->Create(&handler);
    ASSERT_TRUE(PumpUntil([&] { return !handler.lines().empty(); }));
    view->Close();
    EXPECT_FALSE(IsLive(view));
}

TEST_F(WebViewTest, DetachingTheHandlerDuringCreationDoesNotEndTheView) {
    RecordingHandler handler;
    auto* view = NewView();
    ASSERT_NE(view, nullptr);
    view->Create(&handler);
    view->SetHandler(nullptr);
    ASSERT_TRUE(PumpUntil([&] { return m_stub.WebViewCount() == 1; }));
    PumpPending();
    EXPECT_TRUE(IsLive(view));
    EXPECT_GE(FindLog(L"webview1.Navigate about:blank"), 0);
    view->SetHandler(&handler);
    EXPECT_EQ(m_stub.FireNavigationCompleted(0, TRUE), 1);
    EXPECT_EQ(handler.lines(), Lines{L"LoadSucceeded"});
    view->Close();
    EXPECT_FALSE(IsLive(view));
}

TEST_F(WebViewTest, PropertiesHaveTheirSizesAndLockOnceTheBrowserExists) {
    RecordingHandler handler;
    auto* view = NewView();
    ASSERT_NE(view, nullptr);
    struct Read {
        const char* name;
        const wchar_t* property;
        DWORD size;
        HRESULT status;
        DWORD sizeAfter;
        uint32_t value;  // expected when the status is 0 and the size became 4
    };
    const uint32_t parent = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m_window->hwnd()));
    const Read reads[] = {
        {"root window in capitals, large buffer", L"ROOT_WINDOW", 8, S_OK, 4, parent},
        {"root window, exact size", L"root_window", 4, S_OK, 4, parent},
        {"root window, too small", L"root_window", 2, E_INVALIDARG, 2, 0},
        {"high dpi off by default", L"Enable_High_Dpi", 4, S_OK, 4, 0},
        {"special command is not readable", L"special_command", 8, S_OK, 8, 0},
        {"unknown name", L"nothing", 8, S_OK, 8, 0},
    };
    for (const auto& r : reads) {
        SCOPED_TRACE(r.name);
        uint32_t buffer[2] = {0xAAAAAAAA, 0xAAAAAAAA};
        DWORD size = r.size;
        EXPECT_EQ(view->GetProperty(r.property, buffer, &size), r.status);
        EXPECT_EQ(size, r.sizeAfter);
        EXPECT_EQ(buffer[1], 0xAAAAAAAAu) << "nothing beyond 4 bytes is written";
        EXPECT_EQ(buffer[0], r.status == S_OK && r.sizeAfter == 4 ? r.value : 0xAAAAAAAAu);
    }

    const int32_t on = 1, off = 0;
    EXPECT_EQ(view->SetProperty(L"enable_high_dpi", &on, 2), E_INVALIDARG);
    EXPECT_EQ(view->SetProperty(L"root_window", &on, 4), S_OK) << "not settable, ignored";
    EXPECT_EQ(view->SetProperty(L"enable_high_dpi", &on, 4), S_OK);
    StartBrowser(view, &handler);

    EXPECT_EQ(view->SetProperty(L"enable_high_dpi", &off, 4), E_ACCESSDENIED);
    EXPECT_EQ(view->SetProperty(L"enable_high_dpi", &off, 2), E_INVALIDARG);
    EXPECT_EQ(view->SetProperty(L"special_command", L"--x", 0), E_ACCESSDENIED);
    EXPECT_EQ(view->SetProperty(L"set_edge_log_path", L"elsewhere", 0), S_OK) << "used at the next creation";
    uint32_t value = 0;
    DWORD size = 4;
    EXPECT_EQ(view->GetProperty(L"enable_high_dpi", &value, &size), S_OK);
    EXPECT_EQ(value, 1u);
    void* extension = &value;
    EXPECT_EQ(view->QueryExtension(1, &extension), E_NOINTERFACE);
    EXPECT_EQ(extension, nullptr);
    view->Close();
}

TEST_F(WebViewTest, TheLastSpecialCommandBecomesTheBrowserArguments) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::wstring, DWORD>> commands;  // text, size (0: up to the NUL)
        std::wstring options;
    };
    const std::wstring tail = L";exclusive=1;target=114.0.1823.32";
    const Case cases[] = {
        {"none: no options object", {}, L"none"},
        {"one command", {{L"--lang=de", 0}}, L"args=--lang=de" + tail},
        {"two commands: the second counts", {{L"--first", 0}, {L"--second", 0}}, L"args=--second" + tail},
        {"a sized command stops at its size", {{L"--cut-here", 10}}, L"args=--cut" + tail},
        {"a size that counts the NUL", {{L"--a", 8}}, L"args=--a" + tail},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_stub.Reset();
        RecordingHandler handler;
        auto* view = NewView();
        ASSERT_NE(view, nullptr);
        for (const auto& [text, size] : c.commands) {
            EXPECT_EQ(view->SetProperty(L"special_command", text.c_str(), size), S_OK);
        }
        view->Create(&handler);
        const int at = FindLog(L"CreateCoreWebView2EnvironmentWithOptions");
        ASSERT_GE(at, 0);
        const std::wstring line = m_stub.LogLine(at);
        EXPECT_EQ(line.substr(line.find(L" options=") + 9), c.options);
        view->Close();
        PumpPending();
    }
}

TEST_F(WebViewTest, VisibilityBoundsAndReloadReachTheBrowserOnlyWhenItExists) {
    RecordingHandler handler;
    auto* view = NewView();
    ASSERT_NE(view, nullptr);
    const int created = m_stub.LogCount();
    const RECT early = {1, 2, 3, 4};
    EXPECT_EQ(view->SetVisible(FALSE), TRUE);
    view->SetBounds(&early);
    EXPECT_EQ(view->Reload(), S_OK);
    EXPECT_EQ(m_stub.LogCount(), created) << "nothing reaches a runtime before the browser exists";

    StartBrowser(view, &handler);
    EXPECT_GE(FindLog(L"controller1.put_Bounds 1,2,3,4"), 0) << "the browser starts with the latest bounds";
    EXPECT_LT(FindLog(L"controller1.put_IsVisible"), 0) << "an earlier SetVisible is not replayed";
    const int before = m_stub.LogCount();
    const RECT later = {5, 6, 70, 80};
    EXPECT_EQ(view->SetVisible(FALSE), TRUE);
    view->SetBounds(&later);
    view->SetBounds(nullptr);
    EXPECT_EQ(view->Reload(), S_OK);
    EXPECT_EQ(LogFrom(before), (Lines{L"controller1.put_IsVisible 0", L"controller1.put_Bounds 5,6,70,80",
                                      L"webview1.Reload"}));
    view->Close();
}

TEST_F(WebViewTest, ASecondViewOfTheSameProcessKeepsItsSlot) {
    RecordingHandler first, second;
    auto* a = NewView();
    auto* b = NewView();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    StartBrowser(a, &first, 1);
    StartBrowser(b, &second, 2);
    const std::wstring slot0 = m_data.HostFolder(L"vantor_tests") + L"\\cache0";
    EXPECT_EQ(UserDataFolderOfCreation(1), slot0);
    EXPECT_EQ(UserDataFolderOfCreation(2), slot0);
    EXPECT_EQ(m_data.SlotHolder(L"vantor_tests", 0), ::GetCurrentProcessId());
    EXPECT_EQ(m_data.SlotHolder(L"vantor_tests", 1), 0u);
    a->Close();
    b->Close();
}

TEST_F(WebViewTest, TheDataFolderNameDefaultsToPelvar) {
    RecordingHandler handler;
    CefWebView::IWebView* view = m_vantor.GetWebViewFactory()->CreateWebView(
        VANTOR_ENGINE_WEBVIEW2, m_window->hwnd(), RECT{0, 0, 100, 100}, nullptr, nullptr);
    ASSERT_NE(view, nullptr);
    view->Create(&handler);
    const std::wstring userData = UserDataFolderOfCreation(1);
    const std::wstring suffix = L"\\pelvar\\edge_cache\\edge_vantor_tests\\cache0";
    ASSERT_GE(userData.size(), suffix.size());
    EXPECT_EQ(userData.substr(userData.size() - suffix.size()), suffix);
    view->Close();
    PumpPending();
    // Remove edge_vantor_tests, then the parents that are left empty.
    std::wstring folder = userData.substr(0, userData.rfind(L'\\'));
    testing_support::RemoveTree(folder);
    folder.resize(folder.rfind(L'\\'));  // ...\pelvar\edge_cache
    ::RemoveDirectoryW((folder + L"\\edge").c_str());
    ::RemoveDirectoryW(folder.c_str());
    ::RemoveDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str());
}

}  // namespace
}  // namespace vantor_test
