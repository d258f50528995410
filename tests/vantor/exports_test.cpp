// The three exports and the factory: engine type and runtime version checks,
// the last-error code, the downcast, the one static factory.

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "vantor_fixture.h"

namespace vantor_test {
namespace {

constexpr DWORD kRefused = 0xFFFFFFFF;

using ExportsTest = VantorTest;

TEST_F(ExportsTest, EngineTypeAndRuntimeVersionDecideSupport) {
    struct Case {
        const char* name;
        int engine;
        const wchar_t* version;  // null: no runtime installed
        bool supported;
    };
    const Case cases[] = {
        {"engine type 1", 1, L"120.0.2210.91", false},
        {"engine type 3", 3, L"120.0.2210.91", false},
        {"runtime 108", 2, L"108.0.1462.54", false},
        {"runtime 109", 2, L"109.0.1518.52", true},
        {"runtime 1000", 2, L"1000.0.0.0", true},
        {"channel suffix after the version", 2, L"115.0.1901.183 beta", true},
        {"bare major number", 2, L"120", false},
        {"starts with a dot", 2, L".120.0", false},
        {"no digits before the dot", 2, L"v120.0", false},
        {"major beyond 32 bits", 2, L"99999999999.0.0.0", false},
        {"empty text", 2, L"", false},
        {"no runtime installed", 2, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_stub.SetVersion(c.version);

        ::SetLastError(12345);
        EXPECT_EQ(m_vantor.IsSupportedWebViewEngine(c.engine, nullptr), c.supported ? 1 : 0);
        EXPECT_EQ(::GetLastError(), c.supported ? 0u : kRefused);

        ::SetLastError(12345);
        CefWebView::IWebView* view = m_vantor.GetWebViewFactory()->CreateWebView(
            c.engine, m_window->hwnd(), RECT{0, 0, 10, 10}, L"https://x.test/", reinterpret_cast<void*>(7));
        EXPECT_EQ(::GetLastError(), c.supported ? 0u : kRefused);
        EXPECT_EQ(view != nullptr, c.supported);
        if (view != nullptr) view->Close();
    }
}

TEST_F(ExportsTest, TheRuntimeIsAskedAgainOnEveryCall) {
    m_stub.SetVersion(L"108.0.0.0");
    EXPECT_EQ(m_vantor.IsSupportedWebViewEngine(2, nullptr), 0);
    m_stub.SetVersion(L"110.0.0.0");
    EXPECT_EQ(m_vantor.IsSupportedWebViewEngine(2, nullptr), 1);
    m_stub.SetVersion(nullptr);
    EXPECT_EQ(m_vantor.GetWebViewFactory()->CreateWebView(2, m_window->hwnd(), RECT{}, nullptr, nullptr), nullptr);
    int asked = 0;
    for (int i = 0; i < m_stub.LogCount(); ++i) {
        if (std::wstring(m_stub.LogLine(i)) == L"GetAvailableCoreWebView2BrowserVersionString") ++asked;
    }
    EXPECT_EQ(asked, 3);
}

TEST_F(ExportsTest, TheFactoryIsOneStaticObject) {
    CefWebView::IWebViewFactory* factory = m_vantor.GetWebViewFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->Initialize(), 1);
    factory->DeleteThis(1);  // never destroys the factory
    RecordingHandler handler;
    CefWebView::IWebView* view = factory->CreateWebView(2, m_window->hwnd(), RECT{0, 0, 5, 5}, nullptr, nullptr);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(m_vantor.GetWebViewFactory(), factory);
    view->Create(&handler);
    ASSERT_TRUE(PumpUntil([&] { return m_stub.WebViewCount() == 1; }));
    view->Close();
    EXPECT_EQ(m_vantor.GetWebViewFactory(), factory);
    EXPECT_EQ(factory->Initialize(), 1);
}

TEST_F(ExportsTest, TheExtendedInterfaceIsTheSameLiveView) {
    EXPECT_EQ(m_vantor.IWebViewToIWebViewEx(nullptr), nullptr);
    CefWebView::IWebView* view =
        m_vantor.GetWebViewFactory()->CreateWebView(2, m_window->hwnd(), RECT{0, 0, 5, 5}, nullptr, nullptr);
    ASSERT_NE(view, nullptr);
    CefWebView::IWebViewEx* ex = m_vantor.IWebViewToIWebViewEx(view);
    EXPECT_EQ(static_cast<CefWebView::IWebView*>(ex), view);
    view->Close();  // never started: ends at once
    EXPECT_EQ(m_vantor.IWebViewToIWebViewEx(view), nullptr);
}

// Without WebView2Loader.dll beside it the library serves nothing; a copy of
// Vantor.dll alone in a folder of its own is loaded instead of the bin one.
TEST(ExportsWithoutLoader, NoLoaderMeansNoEngine) {
    testing_support::ScratchDir dir(L"noloader");
    const std::wstring copy = dir / L"Vantor.dll";
    ASSERT_TRUE(::CopyFileW(testing_support::BinFile(L"Vantor.dll").c_str(), copy.c_str(), FALSE));
    {
        VantorLibrary vantor;
        ASSERT_TRUE(vantor.Load(copy));
        ::SetLastError(0);
        EXPECT_EQ(vantor.IsSupportedWebViewEngine(2, nullptr), 0);
        EXPECT_EQ(::GetLastError(), kRefused);
        EXPECT_EQ(vantor.GetWebViewFactory()->CreateWebView(2, nullptr, RECT{}, nullptr, nullptr), nullptr);
        EXPECT_EQ(::GetModuleHandleW(L"WebView2Loader.dll"), nullptr) << "the loader is not taken from elsewhere";
    }
}

}  // namespace
}  // namespace vantor_test
