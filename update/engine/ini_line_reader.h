// Line reader of the updater's own version.ini readers: reads a UTF-8 file
// line by line in text mode, shared for reading and writing with others.
#pragma once

#include <cstdio>
#include <string>

class IniLineReader {
public:
    // Line buffer size in bytes: the longest line accepted is one byte
    // shorter (2047 bytes without its line end).
    static constexpr int kBufferBytes = 2048;

    explicit IniLineReader(const wchar_t* path);
    ~IniLineReader();
    IniLineReader(const IniLineReader&) = delete;
    IniLineReader& operator=(const IniLineReader&) = delete;

    bool isOpen() const { return m_file != nullptr; }

    // Reads the next line, decoded from UTF-8 (malformed bytes become
    // U+FFFD), without its line break. Returns false at the end of the file
    // and for a line that does not fit the buffer, which ends the scan.
    bool Next(std::wstring& line);

private:
    FILE* m_file = nullptr;
    bool m_done = false;
};
