// Building command lines that the started program splits back into exactly
// the arguments meant, under the rules of CommandLineToArgvW and the C
// runtime: one helper for every program start of the updater.
#pragma once

#include <string>

// `argument` in double quotes, escaped so that CommandLineToArgvW gives it
// back unchanged: a run of backslashes before a double quote or before the
// closing quote is doubled, and each inner double quote gets a backslash.
// "C:\\Client\\" becomes "\"C:\\Client\\\\\"", never an escaped closing quote.
std::wstring QuoteArgument(const std::wstring& argument);

// `commandLine` + a blank (unless it is empty) + QuoteArgument(argument).
void AppendQuotedArgument(std::wstring& commandLine, const std::wstring& argument);
