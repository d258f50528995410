// Quoting of command-line arguments by the Windows splitting rules.
#include "diag/command_line_quote.h"

std::wstring QuoteArgument(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            // Backslashes before a quote stand for half as many: double them,
            // then escape the quote itself.
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    // Before the closing quote, too, the backslashes must be doubled.
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

void AppendQuotedArgument(std::wstring& commandLine, const std::wstring& argument) {
    if (!commandLine.empty()) commandLine += L' ';
    commandLine += QuoteArgument(argument);
}
