#include "app/framework/dialog.h"

#include "app/framework/win_app.h"

namespace fw {
namespace {

// Messages whose answer is the dialog procedure's return value itself rather
// than DWLP_MSGRESULT (WM_INITDIALOG is answered where it is handled).
bool AnswersWithReturnValue(UINT msg) {
    switch (msg) {
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
            return true;
        default:
            return false;
    }
}

}  // namespace

CDialogEx::CDialogEx(UINT templateId, CWnd* parent) : m_templateId(templateId), m_parent(parent) {}

CDialogEx::~CDialogEx() {
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) {
        HWND hwnd = m_hWnd;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        m_hWnd = nullptr;
        ::DestroyWindow(hwnd);
    }
}

BOOL CDialogEx::Create(UINT templateId, CWnd* parent) {
    m_templateId = templateId;
    m_parent = parent;
    m_ended = false;
    HWND hwnd = ::CreateDialogParamW(CWinApp::ResourceInstance(), MAKEINTRESOURCEW(templateId),
                                     parent ? parent->m_hWnd : nullptr, &CDialogEx::DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    return hwnd != nullptr;
}

INT_PTR CDialogEx::DoModal() {
    HWND owner = m_parent ? m_parent->m_hWnd : nullptr;
    if (!Create(m_templateId, m_parent)) return -1;
    if (owner) ::EnableWindow(owner, FALSE);
    const INT_PTR result = RunModalLoop();
    if (owner) {
        ::EnableWindow(owner, TRUE);
        ::SetActiveWindow(owner);
    }
    return result;
}

INT_PTR CDialogEx::RunModalLoop() {
    MSG msg;
    while (!m_ended) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));  // leave WM_QUIT to the outer loop
            break;
        }
        if (got == -1) break;
        if (!PreTranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return m_result;
}

void CDialogEx::EndDialog(INT_PTR result) {
    m_result = result;
    m_ended = true;
    if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
    ::PostMessageW(nullptr, WM_NULL, 0, 0);  // wake the loop
}

BOOL CDialogEx::OnInitDialog() { return TRUE; }

BOOL CDialogEx::PreTranslateMessage(MSG* msg) {
    return m_hWnd != nullptr && ::IsDialogMessageW(m_hWnd, msg);
}

LRESULT CDialogEx::OnMessage(UINT, WPARAM, LPARAM, bool* handled) {
    *handled = false;
    return 0;
}

INT_PTR CALLBACK CDialogEx::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    CDialogEx* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialogEx*>(lp);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = hwnd;
        self->DoDataExchange();
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CDialogEx*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (self == nullptr) return FALSE;

    // Notifications about a bound control go to that control first.
    HWND control = nullptr;
    if (msg == WM_DRAWITEM) {
        control = reinterpret_cast<const DRAWITEMSTRUCT*>(lp)->hwndItem;
    } else if (msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLORBTN) {
        control = reinterpret_cast<HWND>(lp);
    }
    if (CWnd* target = CWnd::FromHandle(control)) {
        LRESULT reflected = 0;
        if (target->OnReflectedMessage(msg, wp, lp, &reflected)) {
            if (msg == WM_DRAWITEM) {
                ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, reflected);
                return TRUE;
            }
            return static_cast<INT_PTR>(reflected);  // colour messages answer with the brush
        }
    }

    bool handled = false;
    const LRESULT result = self->OnMessage(msg, wp, lp, &handled);
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        self->m_ended = true;
    }
    if (!handled) return FALSE;
    // These messages take the dialog procedure's own return value as their
    // answer; every other one reads DWLP_MSGRESULT.
    if (AnswersWithReturnValue(msg)) return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace fw
