#include "recording_handler.h"

namespace {
std::wstring Text(const wchar_t* text) { return text != nullptr ? text : L"<null>"; }
}  // namespace

RecordingHandler::RecordingHandler(std::function<void(const std::wstring&)> onLine) : m_onLine(std::move(onLine)) {}

void RecordingHandler::Record(CefWebView::IWebView* view, const std::wstring& line) {
    std::wstring entry = (m_expected != nullptr && view != m_expected) ? L"wrong view: " + line : line;
    m_lines.push_back(entry);
    if (m_onLine) m_onLine(entry);
}

void RecordingHandler::OnNavigationStarting(CefWebView::IWebView* view) {
    Record(view, L"NavigationStarting");
    if (m_onNavigationStarting) m_onNavigationStarting();
}

void RecordingHandler::OnLoadFailed(CefWebView::IWebView* view, const wchar_t* address, int code) {
    Record(view, L"LoadFailed " + Text(address) + L" " + std::to_wstring(code));
}

void RecordingHandler::OnLoadSucceeded(CefWebView::IWebView* view) { Record(view, L"LoadSucceeded"); }

void RecordingHandler::OnSourceChanged(CefWebView::IWebView* view, const wchar_t* address) {
    Record(view, L"SourceChanged " + Text(address));
}

void RecordingHandler::OnTitleChanged(CefWebView::IWebView* view, const wchar_t* title) {
    Record(view, L"TitleChanged " + Text(title));
}

void RecordingHandler::OnNewWindowRequested(CefWebView::IWebView* view, const wchar_t* address) {
    Record(view, L"NewWindowRequested " + Text(address));
}
