// The text conventions between page script and host functions: how the
// parameter text of a page's Execute call becomes the host function's
// arguments, how the host's answer is wrapped, and how the host's arguments
// become the one payload text of a page function call.
#pragma once

#include <string>
#include <vector>

namespace vantor {

// Name under which a page hands over a file's content, passed on unchanged.
constexpr const wchar_t* kPutFileFunction = L"wvputFile";
// Name under which the host hands a file's content to a page, unchanged.
constexpr const wchar_t* kGetFileFunction = L"wvgetFile";

// Turns the parameter text of Execute into the host function's arguments.
// `jsonParam` (may be null; `length` characters, embedded NULs kept) is
// handled as follows:
//   - null: no arguments;
//   - `funcName` "wvputFile": the text itself, unchanged;
//   - otherwise the text in the process's ANSI code page: empty gives no
//     arguments; JSON null gives none; a JSON object gives one argument per
//     member in ascending byte order of the member names (a string its text,
//     a real number "%f", an integer or boolean its value as an unsigned
//     32-bit number); any other text (not JSON, an array, a number, a string)
//     is one argument, the whole text, read back with the thread's ANSI
//     code page.
// Returns false, leaving `args` empty, when an object member is null, an
// array, an object, or an integer outside 0..4294967295.
bool ConvertExecuteParameters(const std::wstring& funcName, const wchar_t* jsonParam, size_t length,
                              std::vector<std::wstring>* args);

// The answer of Execute for a host function's result: {"r1":"<result>"} with
// the result inserted unchanged (no JSON escaping).
std::wstring WrapExecuteAnswer(const wchar_t* result);

// The one text argument of a page function call, built from the host's
// `count` arguments (`args` may be null; null entries count as empty texts):
//   - "wvgetFile": the first argument, unchanged;
//   - a single argument that begins with "{": that argument, unchanged;
//   - otherwise {"p1":"<a1>","p2":"<a2>",...} with the arguments unchanged.
// Returns false (no payload) when `count` is 0 or less or `args` is null.
bool BuildPagePayload(const std::wstring& name, const wchar_t* const* args, int count, std::wstring* payload);

}  // namespace vantor
