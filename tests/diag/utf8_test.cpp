#include <gtest/gtest.h>

#include <string>

#include "diag/utf8.h"

namespace {

TEST(DecodeUtf8, DecodesValidTextAndReplacesEachMalformedSubsequenceOnce) {
    struct Case {
        const char* name;
        std::string bytes;
        std::wstring expected;
    };
    const Case cases[] = {
        {"ascii", "abc", L"abc"},
        {"two, three and four byte forms", "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", L"\x00E9\x4E2D\xD83D\xDE00"},
        {"stray continuation byte", "a\x80z", L"a\xFFFDz"},
        {"invalid lead bytes C0, C1, F5, FF", "\xC0\xC1\xF5\xFF", L"\xFFFD\xFFFD\xFFFD\xFFFD"},
        {"truncated three-byte sequence at the end", "ab\xE4\xB8", L"ab\xFFFD"},
        {"truncated sequence before ascii", "\xE4\xB8x", L"\xFFFDx"},
        {"overlong two-byte slash", "\xC0\xAF", L"\xFFFD\xFFFD"},
        {"overlong three-byte form", "\xE0\x80\xAF", L"\xFFFD\xFFFD\xFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", L"\xFFFD\xFFFD\xFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", L"\xFFFD\xFFFD\xFFFD\xFFFD"},
        {"last valid code point", "\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF"},
        {"lone lead byte at the end", "\xF0", L"\xFFFD"},
        {"embedded NUL is kept", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodeUtf8(c.bytes.data(), c.bytes.size()), c.expected);
    }
    EXPECT_EQ(DecodeUtf8(nullptr, 5), L"");
}

}  // namespace
