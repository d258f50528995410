#include "app/framework/wnd.h"

#include <commctrl.h>

namespace fw {
namespace {
constexpr UINT_PTR kSubclassId = 0x56454C49;  // "VELI"
const wchar_t kObjectProp[] = L"fw.CWnd";
}  // namespace

CWnd::~CWnd() { UnsubclassWindow(); }

CWnd* CWnd::FromHandle(HWND hwnd) {
    return hwnd ? static_cast<CWnd*>(::GetPropW(hwnd, kObjectProp)) : nullptr;
}

bool CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    if (parent == nullptr || m_subclassed) return false;
    HWND control = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
    if (control == nullptr || FromHandle(control) != nullptr) return false;
    if (!::SetWindowSubclass(control, &CWnd::SubclassThunk, kSubclassId,
                             reinterpret_cast<DWORD_PTR>(this))) {
        return false;
    }
    ::SetPropW(control, kObjectProp, this);
    m_hWnd = control;
    m_subclassed = true;
    return true;
}

void CWnd::UnsubclassWindow() {
    if (!m_subclassed) return;
    ::RemoveWindowSubclass(m_hWnd, &CWnd::SubclassThunk, kSubclassId);
    ::RemovePropW(m_hWnd, kObjectProp);
    m_subclassed = false;
    m_hWnd = nullptr;
}

void CWnd::ModifyStyle(LONG_PTR remove, LONG_PTR add) {
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, (GetStyle() & ~remove) | add);
}

void CWnd::ModifyStyleEx(LONG_PTR remove, LONG_PTR add) {
    ::SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, (GetExStyle() & ~remove) | add);
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp) { return DefSubclassProc(msg, wp, lp); }

LRESULT CWnd::DefSubclassProc(UINT msg, WPARAM wp, LPARAM lp) {
    return ::DefSubclassProc(m_hWnd, msg, wp, lp);
}

LRESULT CALLBACK CWnd::SubclassThunk(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                     DWORD_PTR data) {
    auto* self = reinterpret_cast<CWnd*>(data);
    if (msg == WM_NCDESTROY) {
        const LRESULT result = self->WindowProc(msg, wp, lp);
        self->UnsubclassWindow();
        return result;
    }
    return self->WindowProc(msg, wp, lp);
}

}  // namespace fw
