#include <gtest/gtest.h>

#include <string>

#include "diag/utf8.h"

namespace {

TEST(EncodeUtf8, EncodesEveryLengthAndReplacesUnpairedSurrogates) {
    const struct {
        const char* name;
        std::wstring text;
        std::string utf8;
        bool roundTrips;  // decoding gives the text back
    } cases[] = {
        {"empty", L"", "", true},
        {"ASCII", L"update_command", "update_command", true},
        {"two bytes", L"\x00E9", "\xC3\xA9", true},
        {"three bytes", L"\x4EE5\x592A\x7F51", "\xE4\xBB\xA5\xE5\xA4\xAA\xE7\xBD\x91", true},
        {"a surrogate pair is one four-byte character", L"\xD83D\xDE00", "\xF0\x9F\x98\x80", true},
        {"a lone high surrogate", L"a\xD83Dz", "a\xEF\xBF\xBDz", false},
        {"a lone low surrogate", L"\xDE00", "\xEF\xBF\xBD", false},
        {"a high surrogate at the end", L"a\xD83D", "a\xEF\xBF\xBD", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EncodeUtf8(c.text), c.utf8);
        if (c.roundTrips) {
            EXPECT_EQ(DecodeUtf8(c.utf8.data(), c.utf8.size()), c.text);
        }
    }
}

}  // namespace
