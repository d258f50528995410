// Dialog base class: a dialog from a template resource with a virtual
// message handler, modal (our own loop, so PreTranslateMessage works) or
// modeless.
#pragma once

#include "app/framework/wnd.h"

namespace fw {

class CDialogEx : public CWnd {
public:
    CDialogEx(UINT templateId, CWnd* parent = nullptr);
    ~CDialogEx() override;

    // Creates the dialog from the template and runs the modal loop until
    // EndDialog. Returns the EndDialog result, or -1 when creation failed.
    virtual INT_PTR DoModal();

    // Creates the dialog modeless from `templateId`; the template's
    // WS_VISIBLE style decides whether it shows at once.
    virtual BOOL Create(UINT templateId, CWnd* parent = nullptr);

    // Runs a message loop until EndDialog is called; the window's visibility
    // is left to the caller (a hidden dialog stays hidden).
    INT_PTR RunModalLoop();

    // Ends the loop with `result` and destroys the window.
    void EndDialog(INT_PTR result);

    // Called on WM_INITDIALOG after the controls exist. Return TRUE to let
    // the system set the focus.
    virtual BOOL OnInitDialog();

    // Called for every message of the modal loop before it is dispatched;
    // return TRUE when it was handled. The default runs the dialog's
    // keyboard handling (IsDialogMessage).
    virtual BOOL PreTranslateMessage(MSG* msg);

    // Binds controls to member objects; called at the start of OnInitDialog.
    virtual void DoDataExchange() {}

    // Message handler of the dialog. Set *handled to true and return the
    // message result to handle a message; otherwise the dialog manager's
    // default handling runs.
    virtual LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled);

    UINT templateId() const { return m_templateId; }
    bool isEnded() const { return m_ended; }

private:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);

    UINT m_templateId;
    CWnd* m_parent;
    bool m_ended = false;
    INT_PTR m_result = -1;
};

}  // namespace fw
