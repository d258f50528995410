#include "diag/text_format.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

int WideToUtf8(const wchar_t* text, int count, char* buffer, int bufferSize) {
    if (text == nullptr || buffer == nullptr) return -1;
    if (bufferSize <= 0) return 0;
    std::memset(buffer, 0, static_cast<size_t>(bufferSize));
    if (count < 0) count = static_cast<int>(std::wcslen(text));
    if (count == 0) return 0;

    // Each UTF-16 unit needs at most 3 bytes (a surrogate pair 4 for two
    // units), so (count + 1) * 5 bytes always fit; below that, measure.
    if (static_cast<long long>(bufferSize) < (static_cast<long long>(count) + 1) * 5) {
        const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text, count, nullptr, 0, nullptr, nullptr);
        if (needed >= bufferSize) {
            count = bufferSize / 5 - 1;
            if (count <= 0) return 0;
        }
    }
    // bufferSize - 1 keeps the final NUL of the zero fill.
    return ::WideCharToMultiByte(CP_UTF8, 0, text, count, buffer, bufferSize - 1, nullptr, nullptr);
}

int BytesToHex(const unsigned char* data, int length, char* buffer, int bufferSize) {
    if (data == nullptr || buffer == nullptr) return -1;
    if (bufferSize <= 0) return 0;
    std::memset(buffer, 0, static_cast<size_t>(bufferSize));
    static const char kDigits[] = "0123456789ABCDEF";
    int converted = 0;
    int textLength = 0;
    while (converted < length && textLength < bufferSize - 3) {
        const unsigned char byte = data[converted];
        buffer[textLength++] = kDigits[byte >> 4];
        buffer[textLength++] = kDigits[byte & 0x0F];
        ++converted;
    }
    return converted;
}

std::string WideToUtf8Log(const std::wstring& text) {
    char buffer[768];
    WideToUtf8(text.c_str(), static_cast<int>(text.size()), buffer, sizeof(buffer));
    return buffer;
}
