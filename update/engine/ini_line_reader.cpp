#include "engine/ini_line_reader.h"

#include <share.h>

#include <cstring>

#include "diag/utf8.h"

IniLineReader::IniLineReader(const wchar_t* path) {
    if (path != nullptr) m_file = ::_wfsopen(path, L"rt", _SH_DENYNO);
}

IniLineReader::~IniLineReader() {
    if (m_file != nullptr) std::fclose(m_file);
}

bool IniLineReader::Next(std::wstring& line) {
    if (m_file == nullptr || m_done) return false;
    char buffer[kBufferBytes];
    if (std::fgets(buffer, sizeof(buffer), m_file) == nullptr) {
        m_done = true;
        return false;
    }
    size_t length = std::strlen(buffer);
    if (length > 0 && buffer[length - 1] == '\n') {
        --length;
    } else if (!std::feof(m_file)) {
        // The buffer is full. A line of exactly kBufferBytes - 1 bytes still
        // fits when its line end (or the end of the file) follows; anything
        // longer ends the scan.
        const int next = std::fgetc(m_file);
        if (next != '\n' && next != EOF) {
            m_done = true;
            return false;
        }
    }
    line = DecodeUtf8(buffer, length);
    return true;
}
