// The visible update window of the real Update.exe at 100, 125, 150 and 200 %
// scaling (Wine's LogPixels 96, 120, 144, 192): one window per scale, saved
// as a screenshot and read back pixel by pixel. The notes box shows its last
// line whole (or has its scroll bar), and the progress bar and the status
// line lie inside the window, which is laid out for the scale.
//
// Runs in a Wine prefix and on an X display of its own (dpi_layout.sh), since
// it changes the prefix's scale and reads the screen.
#include <gtest/gtest.h>

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/res/resource.h"
#include "support/test_support.h"
#include "support/update_sandbox.h"
#include "velisk/handles.h"

namespace {

using testing_support::ChildProcess;
using testing_support::BinFile;
using update_sandbox::UpdateSandbox;

// Sets the scale that Wine gives new processes; 96 again at the end.
class ScaleSetting {
public:
    explicit ScaleSetting(DWORD dpi) { Write(dpi); }
    ~ScaleSetting() { Write(96); }

private:
    static void Write(DWORD dpi) {
        for (const auto& [root, path] : {std::pair{HKEY_CURRENT_USER, L"Control Panel\\Desktop"},
                                         std::pair{HKEY_CURRENT_CONFIG, L"Software\\Fonts"}}) {
            HKEY key = nullptr;
            if (::RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
                ::RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof(dpi));
                ::RegCloseKey(key);
            }
        }
    }
};

struct FindArgs {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND hwnd, LPARAM param) {
    auto* args = reinterpret_cast<FindArgs*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    RECT rect = {};
    ::GetWindowRect(hwnd, &rect);
    if (owner == args->pid && ::IsWindowVisible(hwnd) && rect.right - rect.left > 100) {
        args->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The screen's pixels in `rect` as 0x00RRGGBB, row by row.
struct Shot {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    static int Luma(uint32_t p) { return ((p >> 16 & 0xFF) * 3 + (p >> 8 & 0xFF) * 6 + (p & 0xFF)) / 10; }
};

Shot CaptureScreen(const RECT& rect, const std::wstring& pngPath) {
    Shot shot;
    shot.width = rect.right - rect.left;
    shot.height = rect.bottom - rect.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = shot.width;
    info.bmiHeader.biHeight = -shot.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, shot.width, shot.height, screen, rect.left, rect.top, SRCCOPY);
    ::GdiFlush();
    const auto* raw = static_cast<const uint32_t*>(bits);
    shot.pixels.assign(raw, raw + static_cast<size_t>(shot.width) * shot.height);
    ::SelectObject(memory, previous);
    {
        Gdiplus::Bitmap image(bitmap, nullptr);
        const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
        image.Save(pngPath.c_str(), &png, nullptr);
    }
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return shot;
}

// Horizontal bands of text ("ink": dark pixels) inside `box` of the shot, as
// [top, bottom) rows relative to the shot.
std::vector<std::pair<int, int>> InkBands(const Shot& shot, const RECT& box) {
    std::vector<std::pair<int, int>> bands;
    int start = -1;
    for (int y = box.top; y < box.bottom; ++y) {
        bool ink = false;
        for (int x = box.left; x < box.right && !ink; ++x) ink = Shot::Luma(shot.at(x, y)) < 140;
        if (ink && start < 0) start = y;
        if (!ink && start >= 0) {
            bands.emplace_back(start, y);
            start = -1;
        }
    }
    if (start >= 0) bands.emplace_back(start, box.bottom);
    return bands;
}

// `inner` in coordinates relative to `outer`'s top left.
RECT Relative(const RECT& inner, const RECT& outer) {
    return {inner.left - outer.left, inner.top - outer.top, inner.right - outer.left, inner.bottom - outer.top};
}

bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

class DpiLayout : public ::testing::Test {
protected:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&m_gdiplus, &input, nullptr);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(m_gdiplus); }
    ULONG_PTR m_gdiplus = 0;
};

// Eight notes lines: the most that the box shows without a scroll bar.
const char kNotes[] =
    "[update]\r\nversion=3012\r\nversionName=3.0.12\r\ntarget=VeliskLive.exe\r\n[updateInfo]\r\n"
    "1. 新增：会议室支持屏幕共享与远程协助\r\n2. 优化：大文件传输速度提升约三成\r\n"
    "3. 优化：启动速度与内存占用\r\n4. 修复：部分网络环境下登录失败的问题\r\n"
    "5. 修复：通知栏图标在高分屏下模糊\r\n";

TEST_F(DpiLayout, NotesProgressAndStatusFitTheWindowAtEveryScale) {
    // bin\..\dpi: the screenshots stay in the build tree.
    const std::wstring shots = BinFile(L"..\\dpi");
    ::CreateDirectoryW(shots.c_str(), nullptr);
    for (const DWORD dpi : {96u, 120u, 144u, 192u}) {
        SCOPED_TRACE("LogPixels " + std::to_string(dpi));
        const auto scaled = [dpi](int value) { return ::MulDiv(value, static_cast<int>(dpi), 96); };
        ScaleSetting scale(dpi);
        UpdateSandbox sandbox;
        ASSERT_TRUE(testing_support::WriteBytes(sandbox.newIni, kNotes));
        // The caller that the update waits for keeps the window up.
        ChildProcess caller(L"\"" + BinFile(L"client_standin.exe") + L"\" --no-window");
        ASSERT_NE(caller.pid(), 0u);
        velisk::UniqueKernelHandle updater = sandbox.Start(
            sandbox.UpdateModeArguments(L"http://127.0.0.1/none/ProgramConfig.zip", caller.pid()),
            {{L"VELISK_REPORT_BASE_URL", L"http://127.0.0.1:9"}});
        ASSERT_TRUE(updater) << sandbox.problem();

        FindArgs find{::GetProcessId(updater.get()), nullptr};
        HWND notes = nullptr;
        for (int i = 0; i < 300 && notes == nullptr; ++i) {
            ::Sleep(50);
            find.found = nullptr;
            ::EnumWindows(&FindProcessWindow, reinterpret_cast<LPARAM>(&find));
            if (find.found != nullptr) notes = ::GetDlgItem(find.found, IDC_NOTES);
        }
        ASSERT_NE(notes, nullptr) << "no update window";
        ::Sleep(1500);  // painted, and the scroll bar's first synchronisation done

        RECT window = {};
        ::GetWindowRect(find.found, &window);
        const std::wstring png = shots + L"\\update-window-" + std::to_wstring(dpi) + L".png";
        const Shot shot = CaptureScreen(window, png);

        // Laid out for the scale.
        EXPECT_EQ(window.right - window.left, scaled(630));
        EXPECT_EQ(window.bottom - window.top, scaled(390));

        // The notes: either the skinned scroll bar took the box (its frame
        // carries the id then), or all eight lines show whole: seven of them
        // carry text (the second is empty), the last ends above the box's edge.
        wchar_t cls[64] = {};
        ::GetClassNameW(notes, cls, 64);
        const bool scrollBar = std::wstring(cls) == L"VeliskSkinScrollFrame";
        if (!scrollBar) {
            RECT box = {};
            ::GetWindowRect(notes, &box);
            box = Relative(box, window);
            ASSERT_TRUE(Inside(box, {0, 0, shot.width, shot.height}));
            const RECT inner = {box.left + 2, box.top + 1, box.right - 2, box.bottom};
            const auto bands = InkBands(shot, inner);
            ASSERT_EQ(bands.size(), 7u) << "lines of text seen in the notes box";
            EXPECT_LT(bands.back().second, inner.bottom - 1) << "the last line is cut by the box";
        }

        // The progress bar: a child of the window, inside it, below the notes,
        // and drawn (not the background) where it lies.
        HWND progress = ::GetDlgItem(find.found, IDC_PROGRESS);
        ASSERT_NE(progress, nullptr);
        RECT bar = {};
        ::GetWindowRect(progress, &bar);
        EXPECT_TRUE(Inside(bar, window));
        EXPECT_EQ(bar.bottom - bar.top, scaled(8));
        // The status line's band, between the notes box and the progress bar,
        // lies inside the window too.
        const RECT status = {window.left + scaled(30), window.top + scaled(324), window.left + scaled(600),
                             window.top + scaled(341)};
        EXPECT_TRUE(Inside(status, window));
        EXPECT_LE(status.bottom, bar.top);

        ::TerminateProcess(updater.get(), 0);
        ::WaitForSingleObject(updater.get(), 10000);
        caller.Terminate();
        std::printf("screenshot: %ls\n", png.c_str());
    }
}

}  // namespace
