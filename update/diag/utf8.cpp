#include "diag/utf8.h"

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Valid range of the second byte for each lead byte (Unicode Table 3-7); the
// narrowed ranges exclude overlong forms, surrogates and values past U+10FFFF.
bool SecondByteValid(unsigned char lead, unsigned char b) {
    switch (lead) {
        case 0xE0: return b >= 0xA0 && b <= 0xBF;
        case 0xED: return b >= 0x80 && b <= 0x9F;
        case 0xF0: return b >= 0x90 && b <= 0xBF;
        case 0xF4: return b >= 0x80 && b <= 0x8F;
        default: return IsContinuation(b);
    }
}

void AppendCodePoint(std::wstring& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<wchar_t>(cp));
    }
}

}  // namespace

std::wstring DecodeUtf8(const char* bytes, size_t length) {
    std::wstring out;
    if (bytes == nullptr) return out;
    out.reserve(length);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    size_t i = 0;
    while (i < length) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        int extra;
        char32_t cp;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            cp = lead & 0x07;
        } else {
            // C0, C1, F5..FF and stray continuation bytes.
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        size_t j = i + 1;
        int taken = 0;
        bool complete = true;
        while (taken < extra) {
            if (j >= length) {
                complete = false;
                break;
            }
            const unsigned char b = p[j];
            const bool ok = taken == 0 ? SecondByteValid(lead, b) : IsContinuation(b);
            if (!ok) {
                complete = false;
                break;
            }
            cp = (cp << 6) | (b & 0x3F);
            ++j;
            ++taken;
        }
        if (complete) {
            AppendCodePoint(out, cp);
        } else {
            out.push_back(kReplacement);  // the maximal subpart i..j-1
        }
        i = j;
    }
    return out;
}

std::string EncodeUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = static_cast<char16_t>(text[i]);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
            const char32_t low = static_cast<char16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = kReplacement;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}
