#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "engine/version_ini.h"
#include "support/test_support.h"

namespace {

using testing_support::ScratchDir;
using testing_support::WriteBytes;

struct Utf8Read {
    int result;
    std::wstring value;
};

Utf8Read ReadUtf8(const std::wstring& path, const wchar_t* section, const wchar_t* key, int size = 256,
                  const wchar_t* def = L"dflt") {
    std::vector<wchar_t> buffer(static_cast<size_t>(size) + 8, L'#');
    Utf8Read r;
    r.result = GetProfileStringUtf8(section, key, def, buffer.data(), size, path.c_str());
    r.value = buffer.data();
    return r;
}

std::wstring ReadPlatform(const std::wstring& path, const wchar_t* section, const wchar_t* key) {
    wchar_t buffer[256] = {};
    ::GetPrivateProfileStringW(section, key, L"dflt", buffer, 256, path.c_str());
    return buffer;
}

TEST(Utf8ProfileReader, FollowsItsOwnRulesWhereThePlatformReaderDiffers) {
    ScratchDir dir(L"ini");
    const std::wstring ini = dir / L"version.ini";
    ASSERT_TRUE(WriteBytes(ini,
                           "[update]\r\n"
                           "version=12\r\n"
                           "productName = Name \r\n"
                           "Shortcut=Velisk\r\n"
                           "Target=App.exe\r\n"
                           "\r\n"
                           "\tshortcutX =tabbed\r\n"
                           "chinese=\xE5\xAE\xA2\xE6\x88\xB7\xE7\xAB\xAF\r\n"
                           "emoji=\xF0\x9F\x98\x80!\r\n"
                           "broken=a\xC3(\xFF" "b\r\n"
                           "[regKey]\r\n"
                           "protocol=velisk\r\n"));
    struct Case {
        const char* name;
        const wchar_t* section;
        const wchar_t* key;
        int result;
        const wchar_t* value;
    };
    const Case cases[] = {
        {"blanks around '=' dropped, trailing blank kept", L"update", L"productName", 5, L"Name "},
        {"keys compare with case", L"update", L"shortcut", 0, L"dflt"},
        {"exact key found", L"update", L"Shortcut", 6, L"Velisk"},
        {"leading tab before the key", L"update", L"shortcutX", 6, L"tabbed"},
        {"chinese text", L"update", L"chinese", 3, L"\x5BA2\x6237\x7AEF"},
        {"a character above U+FFFF becomes a surrogate pair", L"update", L"emoji", 3, L"\xD83D\xDE00!"},
        {"malformed bytes become U+FFFD", L"update", L"broken", 5, L"a\xFFFD(\xFFFD" L"b"},
        {"the next section ends the search", L"update", L"protocol", 0, L"dflt"},
        {"second section", L"regKey", L"protocol", 6, L"velisk"},
        {"sections compare with case", L"RegKey", L"protocol", 0, L"dflt"},
        {"missing section", L"nope", L"version", 0, L"dflt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Utf8Read r = ReadUtf8(ini, c.section, c.key);
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.value, c.value);
    }
    // The platform's reader, on the same file, ignores case and drops blanks.
    EXPECT_EQ(ReadPlatform(ini, L"update", L"target"), L"App.exe");
    EXPECT_EQ(ReadPlatform(ini, L"UPDATE", L"productname"), L"Name");
}

TEST(Utf8ProfileReader, CutsToTheBufferAndRejectsBadArguments) {
    ScratchDir dir(L"ini");
    const std::wstring ini = dir / L"version.ini";
    ASSERT_TRUE(WriteBytes(ini, "[update]\nshortcut=abcdefghij\n"));

    Utf8Read r = ReadUtf8(ini, L"update", L"shortcut", 5);
    EXPECT_EQ(r.result, 4);
    EXPECT_EQ(r.value, L"abcd");
    r = ReadUtf8(ini, L"update", L"missing", 3, L"default");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.value, L"de");

    wchar_t untouched[4] = {L'x', L'y', L'z', 0};
    EXPECT_EQ(GetProfileStringUtf8(L"update", L"shortcut", L"d", untouched, 0, ini.c_str()), 0);
    EXPECT_EQ(GetProfileStringUtf8(nullptr, L"shortcut", L"d", untouched, 4, ini.c_str()), 0);
    EXPECT_EQ(GetProfileStringUtf8(L"update", L"shortcut", L"d", untouched, 4, nullptr), 0);
    EXPECT_STREQ(untouched, L"xyz");

    r = ReadUtf8(dir / L"missing.ini", L"update", L"shortcut", 16);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.value, L"dflt");
    // A key that is not a valid pattern is simply not found.
    r = ReadUtf8(ini, L"update", L"short(cut", 16);
    EXPECT_EQ(r.result, 0);
}

TEST(Utf8ProfileReader, HeaderWithBlanksOrByteOrderMarkIsNotRecognised) {
    struct Case {
        const char* name;
        std::string text;
        int result;
    };
    const Case cases[] = {
        {"plain header", "[update]\nshortcut=v\n", 1},
        {"blank before the header", " [update]\nshortcut=v\n", 0},
        {"blank after the header", "[update] \nshortcut=v\n", 0},
        {"byte-order mark before the first header", "\xEF\xBB\xBF[update]\nshortcut=v\n", 0},
        {"crlf line ends", "[update]\r\nshortcut=v\r\n", 1},
        {"last line without line end", "[update]\nshortcut=v", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir(L"ini");
        ASSERT_TRUE(WriteBytes(dir / L"v.ini", c.text));
        EXPECT_EQ(ReadUtf8(dir / L"v.ini", L"update", L"shortcut").result, c.result);
    }
}

TEST(IniLineReaders, ALineOfMoreThan2047BytesEndsTheScan) {
    ScratchDir dir(L"ini");
    const std::wstring ini = dir / L"v.ini";
    const std::string fits = "first=" + std::string(2041, 'x');  // 2047 bytes
    const std::string tooLong = "long=" + std::string(2043, 'y');  // 2048 bytes
    ASSERT_TRUE(WriteBytes(ini, "[update]\n" + fits + "\n" + tooLong + "\nafter=1\n[updateInfo]\nnote\n"));
    EXPECT_EQ(ReadUtf8(ini, L"update", L"first", 4096).result, 2041);
    EXPECT_EQ(ReadUtf8(ini, L"update", L"after").result, 0);
    EXPECT_TRUE(ReadReleaseNotes(ini.c_str()).empty());

    ASSERT_TRUE(WriteBytes(ini, "[updateInfo]\n" + std::string(2047, 'n') + "\nnext\n"));
    EXPECT_EQ(ReadReleaseNotes(ini.c_str()), (std::vector<std::wstring>{std::wstring(2047, L'n'), L"next"}));
    ASSERT_TRUE(WriteBytes(ini, "[updateInfo]\n" + std::string(2048, 'n') + "\nnext\n"));
    EXPECT_TRUE(ReadReleaseNotes(ini.c_str()).empty());
}

TEST(ReleaseNotes, AreEveryLineAfterTheUpdateInfoHeader) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::wstring> notes;
    };
    const Case cases[] = {
        {"no section", "[update]\nversion=1\n", {}},
        {"header is the last line", "[update]\n[updateInfo]\n", {}},
        {"header compared without case, blank lines and headers kept",
         "[update]\nversion=1\n[UPDATEINFO]\n1. Faster\n\n[update]\nhide=1\n\xE4\xBF\xAE\xE5\xA4\x8D\n",
         {L"1. Faster", L"", L"[update]", L"hide=1", L"\x4FEE\x590D"}},
        {"malformed bytes replaced", "[updateInfo]\nx\xE4\xBFy\n", {L"x\xFFFDy"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir(L"notes");
        ASSERT_TRUE(WriteBytes(dir / L"v.ini", c.text));
        EXPECT_EQ(ReadReleaseNotes((dir / L"v.ini").c_str()), c.notes);
    }
    EXPECT_TRUE(ReadReleaseNotes(L"C:\\no\\such\\file.ini").empty());
}

TEST(VersionIni, KeyLinesAfterTheNotesHeaderAreNotesNotKeys) {
    ScratchDir dir(L"ini");
    const std::wstring ini = dir / L"v.ini";
    ASSERT_TRUE(WriteBytes(ini, "[update]\nversion=5\n[updateInfo]\nshortcut=Late\n"));
    EXPECT_EQ(ReadUtf8(ini, L"update", L"shortcut").result, 0);
    EXPECT_EQ(ReadReleaseNotes(ini.c_str()), std::vector<std::wstring>{L"shortcut=Late"});
    EXPECT_EQ(ReadIniInt(ini, L"update", L"version", 0), 5);
    EXPECT_EQ(ReadIniString(ini, L"update", L"url", L"none", 255), L"none");
}

}  // namespace
