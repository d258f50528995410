#include "app/skin/gdiplus_fonts.h"

// A GDI+ font of `face`, `pixels` high. Where this system lacks the face, the
// face of the font selected into `dc` at that size and style takes its place,
// so text always shows.
std::unique_ptr<Gdiplus::Font> MakeFont(HDC dc, const wchar_t* face, float pixels, INT style) {
    Gdiplus::FontFamily family(face);
    if (family.GetLastStatus() == Gdiplus::Ok && family.IsAvailable()) {
        auto font = std::make_unique<Gdiplus::Font>(&family, pixels, style, Gdiplus::UnitPixel);
        if (font->GetLastStatus() == Gdiplus::Ok) return font;
    }
    LOGFONTW logFont = {};
    ::GetObjectW(::GetCurrentObject(dc, OBJ_FONT), sizeof(logFont), &logFont);
    logFont.lfHeight = -static_cast<LONG>(pixels);
    logFont.lfWidth = 0;
    logFont.lfWeight = (style & Gdiplus::FontStyleBold) ? FW_BOLD : FW_NORMAL;
    logFont.lfItalic = (style & Gdiplus::FontStyleItalic) ? TRUE : FALSE;
    logFont.lfUnderline = (style & Gdiplus::FontStyleUnderline) ? TRUE : FALSE;
    logFont.lfStrikeOut = (style & Gdiplus::FontStyleStrikeout) ? TRUE : FALSE;
    return std::make_unique<Gdiplus::Font>(dc, &logFont);
}
