#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "diag/text_format.h"

namespace {

TEST(WideToUtf8, ConvertsWholeTextWhenItFitsAndCutsLongChineseText) {
    struct Case {
        const char* name;
        std::wstring text;
        int bufferSize;
        size_t expectedBytes;
    };
    const Case cases[] = {
        {"200 ascii letters fit", std::wstring(200, L'a'), 768, 200},
        {"200 chinese characters (600 bytes) fit", std::wstring(200, L'\x4E2D'), 768, 600},
        {"300 chinese characters are cut to 152", std::wstring(300, L'\x4E2D'), 768, 152 * 3},
        {"empty text", L"", 768, 0},
        {"text that fits a small buffer with its NUL", L"abcdefghijklmnopqrs", 20, 19},
        {"text one byte too long for a small buffer is cut to size / 5 - 1", L"abcdefghijklmnopqrst", 20, 3},
        {"a buffer under 10 bytes takes nothing of a long text", L"abcdef", 4, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string buffer(static_cast<size_t>(c.bufferSize) + 16, '\x7F');  // guard bytes after
        const int written = WideToUtf8(c.text.c_str(), static_cast<int>(c.text.size()), buffer.data(), c.bufferSize);
        EXPECT_EQ(static_cast<size_t>(written), c.expectedBytes);
        EXPECT_EQ(std::strlen(buffer.data()), c.expectedBytes);
        for (size_t i = static_cast<size_t>(c.bufferSize); i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '\x7F');
    }
}

TEST(WideToUtf8, RejectsNullPointers) {
    char buffer[8];
    EXPECT_EQ(WideToUtf8(nullptr, 3, buffer, sizeof(buffer)), -1);
    EXPECT_EQ(WideToUtf8(L"abc", 3, nullptr, 8), -1);
}

TEST(BytesToHex, WritesUpperCaseHexWhileTextIsShorterThanBufferMinusThree) {
    const unsigned char bytes[] = {0x00, 0xAB, 0x10};
    struct Case {
        const char* name;
        int bufferSize;
        const char* expected;
        int converted;
    };
    const Case cases[] = {
        {"large buffer", 768, "00AB10", 3},
        {"six-byte buffer stops after two bytes", 6, "00AB", 2},
        {"three-byte buffer converts nothing", 3, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string buffer(static_cast<size_t>(c.bufferSize), 'x');
        EXPECT_EQ(BytesToHex(bytes, 3, buffer.data(), c.bufferSize), c.converted);
        EXPECT_STREQ(buffer.c_str(), c.expected);
    }
    unsigned char digest[20];
    for (int i = 0; i < 20; ++i) digest[i] = static_cast<unsigned char>(i * 13);
    char text[768];
    EXPECT_EQ(BytesToHex(digest, 20, text, sizeof(text)), 20);
    EXPECT_EQ(std::strlen(text), 40u);
    EXPECT_EQ(BytesToHex(nullptr, 3, text, sizeof(text)), -1);
    EXPECT_EQ(BytesToHex(bytes, 3, nullptr, 8), -1);
}

}  // namespace
