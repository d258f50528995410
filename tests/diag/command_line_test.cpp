// Quoting of arguments and the checks of outside values, read back the way
// every started program reads its command line: with CommandLineToArgvW.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "diag/command_line_quote.h"
#include "diag/command_values.h"
#include "velisk/handles.h"

namespace {

std::vector<std::wstring> Split(const std::wstring& commandLine) {
    velisk::ArgumentList args(commandLine.c_str());
    std::vector<std::wstring> parts;
    for (int i = 0; i < args.count(); ++i) parts.emplace_back(args[i]);
    return parts;
}

TEST(QuoteArgument, EveryArgumentComesBackUnchangedFromTheSplit) {
    const struct {
        const char* name;
        std::wstring argument;
        std::wstring quoted;
    } cases[] = {
        {"plain word", L"-d", L"\"-d\""},
        {"folder with blanks and brackets", L"C:\\Program Files (x86)\\Velisk [beta]",
         L"\"C:\\Program Files (x86)\\Velisk [beta]\""},
        {"folder with a trailing backslash", L"C:\\Client\\", L"\"C:\\Client\\\\\""},
        {"folder with two trailing backslashes", L"C:\\Client\\\\", L"\"C:\\Client\\\\\\\\\""},
        {"drive root", L"D:\\", L"\"D:\\\\\""},
        {"inner quote", L"say \"hi\"", L"\"say \\\"hi\\\"\""},
        {"backslashes before an inner quote", L"a\\\\\"b", L"\"a\\\\\\\\\\\"b\""},
        {"backslashes inside a name stay single", L"C:\\a\\b c", L"\"C:\\a\\b c\""},
        {"empty", L"", L"\"\""},
        {"Chinese letters", L"D:\\软件\\客户端 测试\\", L"\"D:\\软件\\客户端 测试\\\\\""},
        {"tab", L"a\tb", L"\"a\tb\""},
        {"JSON list", L"[\"vk_service.exe\",\"a b.exe\"]", L"\"[\\\"vk_service.exe\\\",\\\"a b.exe\\\"]\""},
        {"UNC folder", L"\\\\server\\share\\", L"\"\\\\server\\share\\\\\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(QuoteArgument(c.argument), c.quoted);
        // The argument between two others, as a program would receive it.
        std::wstring commandLine = L"\"C:\\x\\prog.exe\"";
        AppendQuotedArgument(commandLine, c.argument);
        AppendQuotedArgument(commandLine, L"next");
        EXPECT_EQ(Split(commandLine), (std::vector<std::wstring>{L"C:\\x\\prog.exe", c.argument, L"next"}));
    }
}

TEST(QuoteArgument, AValueAfterAnEqualsSignIsOneArgumentWithItsName) {
    const std::wstring commandLine = QuoteArgument(L"C:\\w\\netsh.exe") + L" add rule name=" +
                                     QuoteArgument(L"Velisk Live\\") + L" program=" +
                                     QuoteArgument(L"C:\\Program Files\\V\\VeliskLive.exe");
    EXPECT_EQ(Split(commandLine), (std::vector<std::wstring>{L"C:\\w\\netsh.exe", L"add", L"rule",
                                                             L"name=Velisk Live\\",
                                                             L"program=C:\\Program Files\\V\\VeliskLive.exe"}));
}

TEST(CommandValues, QuotesAndControlCharactersAreRefused) {
    const struct {
        const char* name;
        std::wstring text;
        bool refused;
    } cases[] = {
        {"plain", L"Velisk Live", false},
        {"Chinese and brackets", L"客户端 [x] (y)", false},
        {"empty", L"", false},
        {"double quote", L"a\" dir=out", true},
        {"line feed", L"a\nb", true},
        {"carriage return", L"a\rb", true},
        {"tab", L"a\tb", true},
        {"escape", L"a\x1b", true},
        {"delete", L"a\x7f", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HasQuoteOrControl(c.text), c.refused);
    }
}

TEST(CommandValues, OnlyPlainFileNamesNameAProgram) {
    const struct {
        const char* name;
        std::wstring text;
        bool plain;
    } cases[] = {
        {"client", L"VeliskLive.exe", true},
        {"blanks, brackets and Chinese letters", L"客户端 [测试] (x86).exe", true},
        {"no extension", L"Velisk", true},
        {"empty", L"", false},
        {"relative path", L"bin\\VeliskLive.exe", false},
        {"forward slash", L"bin/VeliskLive.exe", false},
        {"parent folder", L"..\\..\\Windows\\evil.exe", false},
        {"absolute path", L"C:\\Windows\\evil.exe", false},
        {"drive-relative", L"C:evil.exe", false},
        {"dot", L".", false},
        {"dot dot", L"..", false},
        {"double quote", L"a\".exe", false},
        {"wildcard", L"*.exe", false},
        {"control character", L"a\x01.exe", false},
        {"trailing dot", L"VeliskLive.exe.", false},
        {"trailing blank", L"VeliskLive.exe ", false},
        {"device name", L"NUL", false},
        {"device name with extension", L"con.exe", false},
        {"numbered device", L"COM1.exe", false},
        {"not a device", L"COM10.exe", true},
        {"too long", std::wstring(256, L'a'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsPlainFileName(c.text), c.plain);
    }
}

TEST(CommandValues, OnlyDriveAndUncPathsAreAbsolute) {
    const struct {
        const char* name;
        std::wstring text;
        bool absolute;
    } cases[] = {
        {"drive folder", L"C:\\Program Files (x86)\\Velisk", true},
        {"drive folder with trailing backslash", L"C:\\Client\\", true},
        {"forward slashes", L"D:/Apps/Client/", true},
        {"drive root", L"C:\\", true},
        {"UNC share", L"\\\\server\\share\\App", true},
        {"Chinese folder", L"E:\\软件\\客户端", true},
        {"empty", L"", false},
        {"relative", L"Client", false},
        {"dot relative", L".\\Client", false},
        {"root of the current drive", L"\\Client", false},
        {"drive-relative", L"C:Client", false},
        {"bare drive", L"C:", false},
        {"UNC server without share", L"\\\\server", false},
        {"UNC server and empty share", L"\\\\server\\", false},
        {"three leading separators", L"\\\\\\server\\share", false},
        {"non-Latin drive letter", L"中:\\x", false},
        {"quote inside", L"C:\\a\"b", false},
        {"line feed inside", L"C:\\a\nb", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsAbsolutePath(c.text), c.absolute);
    }
}

}  // namespace
