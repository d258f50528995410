// Pauses between download attempts that make no progress.
#include "net/attempt_pacing.h"

#include <algorithm>
#include <cwchar>

namespace {

// Size of the file at `path`; 0 when there is none or no path.
uint64_t FileBytes(const wchar_t* path) {
    if (path == nullptr || path[0] == L'\0') return 0;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

#if defined(VELISK_TEST_HOOKS)
// The test build's fixed pause (see the header); 0 without one.
DWORD PauseFromEnvironment() {
    wchar_t value[16] = {};
    const DWORD n = ::GetEnvironmentVariableW(L"VELISK_ATTEMPT_PAUSE_MS", value, 16);
    if (n == 0 || n >= 16) return 0;
    const unsigned long ms = std::wcstoul(value, nullptr, 10);
    return ms <= kLongestAttemptPauseMs ? static_cast<DWORD>(ms) : 0;
}
#else
DWORD PauseFromEnvironment() { return 0; }
#endif

}  // namespace

AttemptPacer::AttemptPacer(HttpCancelCallback cancel, void* userData)
    : m_cancel(cancel), m_userData(userData), m_firstPauseMs(kFirstAttemptPauseMs),
      m_longestPauseMs(kLongestAttemptPauseMs) {
    if (const DWORD fixed = PauseFromEnvironment()) m_firstPauseMs = m_longestPauseMs = fixed;
    m_pauseMs = m_firstPauseMs;
}

void AttemptPacer::AttemptStarting(const wchar_t* localPath) {
    m_attemptStart = ::GetTickCount64();
    m_bytesAtStart = FileBytes(localPath);
}

bool AttemptPacer::AddedBytes(const wchar_t* localPath) const {
    // A first attempt truncates the file, so any size it leaves is new bytes;
    // a later one appends, or restarts the file when the server ignores the
    // range, in which case a larger file still means bytes came in.
    return FileBytes(localPath) > m_bytesAtStart;
}

bool AttemptPacer::PauseAfterFailure(const wchar_t* localPath) {
    if (AddedBytes(localPath)) {
        m_pauseMs = m_firstPauseMs;
        return true;
    }
    const ULONGLONG resume = m_attemptStart + m_pauseMs;
    m_pauseMs = std::min(m_pauseMs * 2, m_longestPauseMs);
    while (::GetTickCount64() < resume) {
        if (m_cancel != nullptr && m_cancel(m_userData) != 0) return false;
        ::Sleep(1);
    }
    return true;
}
