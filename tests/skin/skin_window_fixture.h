// Fixtures of the skin window tests: GDI+, message pumping, pixels read back
// from real windows, the real update dialog with a given number of notes
// lines, and a test dialog made from the same template.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/framework/dialog.h"
#include "app/skin/controls.h"
#include "app/update_dlg.h"
#include "support/test_support.h"

namespace skin_test {

// Starts GDI+ for the test's lifetime.
class GdiplusSession {
public:
    GdiplusSession();
    ~GdiplusSession();

private:
    ULONG_PTR m_token = 0;
};

// Dispatches this thread's messages for `ms` milliseconds.
void Pump(DWORD ms);
// Dispatches messages until `done` holds or `timeoutMs` passes; true when it held.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
// Repaints `window` and its children now and lets pending messages run.
void Repaint(HWND window);

// Pixels of a window's client area as shown on the screen.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> data;  // row by row

    COLORREF at(int x, int y) const { return data[static_cast<size_t>(y) * width + x]; }
    // Number of pixels in the rectangle [x0, x1) x [y0, y1) that satisfy `match`.
    int Count(int x0, int y0, int x1, int y1, const std::function<bool(COLORREF)>& match) const;
    int CountColor(int x0, int y0, int x1, int y1, COLORREF color) const;
};

// Reads the client area of `window` from its device context.
Pixels Capture(HWND window);

// Writes pixels as a binary PPM picture (for looking at a failure).
void SavePixels(const Pixels& pixels, const std::wstring& path);

// "r,g,b" for failure messages.
std::string ColorText(COLORREF color);

// The real update dialog, created modeless in this process with release
// notes of `noteLines` short lines under the long heading. The worker waits
// for this very process, so the engine never starts while the test runs.
class UpdateDialogRun {
public:
    explicit UpdateDialogRun(int noteLines);
    ~UpdateDialogRun();

    CUpdateDlg& dialog() { return *m_dialog; }
    HWND window() const { return m_dialog->m_hWnd; }
    HWND notes() const { return m_dialog->m_notesEdit.m_hWnd; }
    bool created() const { return m_created; }

private:
    testing_support::ScratchDir m_dir;
    std::unique_ptr<CUpdateDlg> m_dialog;
    bool m_created = false;
};

// A dialog from the update window's template with the controls bound to the
// skinned classes, over a plain background of kBackground.
class ControlsDialog : public fw::CDialogEx {
public:
    static constexpr COLORREF kBackground = RGB(40, 60, 90);

    ControlsDialog();
    ~ControlsDialog() override;

    CMyProgressCtrl progress;
    CMyButton closeButton;
    CMyButton startButton;
    CMyLink link;
    CEditEx notes;

protected:
    void DoDataExchange() override;
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override;
};

// Keeps the mouse pointer at a screen point far from the test windows, so no
// real pointer movement reaches them.
void ParkPointer();

}  // namespace skin_test
