// A view handler that records every notification as one line of text, the
// way the host program and the tests watch a view.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "CefWebView.h"

// Lines: "NavigationStarting", "LoadFailed <address> <code>", "LoadSucceeded",
// "SourceChanged <address>", "TitleChanged <title>",
// "NewWindowRequested <address>". A notification for a view other than the
// expected one (when set) gets the prefix "wrong view: ".
class RecordingHandler final : public CefWebView::IWebViewHandler {
public:
    // `onLine` (may be empty) is called with each new line.
    explicit RecordingHandler(std::function<void(const std::wstring&)> onLine = {});

    // Notifications must name this view; null accepts any.
    void ExpectView(CefWebView::IWebView* view) { m_expected = view; }
    // Called during OnNavigationStarting, after the line is recorded.
    void OnNavigationStartingDo(std::function<void()> action) { m_onNavigationStarting = std::move(action); }

    const std::vector<std::wstring>& lines() const { return m_lines; }
    void Clear() { m_lines.clear(); }

    void OnNavigationStarting(CefWebView::IWebView* view) override;
    void OnLoadFailed(CefWebView::IWebView* view, const wchar_t* address, int code) override;
    void OnLoadSucceeded(CefWebView::IWebView* view) override;
    void OnSourceChanged(CefWebView::IWebView* view, const wchar_t* address) override;
    void OnTitleChanged(CefWebView::IWebView* view, const wchar_t* title) override;
    void OnNewWindowRequested(CefWebView::IWebView* view, const wchar_t* address) override;

private:
    void Record(CefWebView::IWebView* view, const std::wstring& line);

    std::function<void(const std::wstring&)> m_onLine;
    std::function<void()> m_onNavigationStarting;
    CefWebView::IWebView* m_expected = nullptr;
    std::vector<std::wstring> m_lines;
};
