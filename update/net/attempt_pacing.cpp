// Pauses between download attempts that make no progress.
#include "net/attempt_pacing.h"

#include <algorithm>

namespace {

// Size of the file at `path`; 0 when there is none or no path.
uint64_t FileBytes(const wchar_t* path) {
    if (path == nullptr || path[0] == L'\0') return 0;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

AttemptPacer::AttemptPacer(HttpCancelCallback cancel, void* userData) : m_cancel(cancel), m_userData(userData) {}

void AttemptPacer::AttemptStarting(const wchar_t* localPath) {
    m_attemptStart = ::GetTickCount64();
    m_bytesAtStart = FileBytes(localPath);
}

bool AttemptPacer::PauseAfterFailure(const wchar_t* localPath) {
    // A first attempt truncates the file, so any size it leaves is new bytes;
    // a later one appends, or restarts the file when the server ignores the
    // range, in which case a larger file still means bytes came in.
    if (FileBytes(localPath) > m_bytesAtStart) {
        m_pauseMs = kFirstAttemptPauseMs;
        return true;
    }
    const ULONGLONG resume = m_attemptStart + m_pauseMs;
    m_pauseMs = std::min(m_pauseMs * 2, kLongestAttemptPauseMs);
    while (::GetTickCount64() < resume) {
        if (m_cancel != nullptr && m_cancel(m_userData) != 0) return false;
        ::Sleep(1);
    }
    return true;
}
