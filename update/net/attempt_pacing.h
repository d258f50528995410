// Pacing of the attempt loop of one download. An attempt that ends without
// a single new byte (a 404 or other refusal, a target file that cannot be
// opened, a URL that cannot be split) would otherwise be followed at once by
// the next, spinning and filling the log; such attempts are paced instead.
#pragma once

#include <windows.h>

#include <cstdint>

#include "net/http_download.h"

// Pause steps: from the first to the longest, doubling.
constexpr DWORD kFirstAttemptPauseMs = 1000;
constexpr DWORD kLongestAttemptPauseMs = 60000;
// Test builds only (VELISK_TEST_HOOKS): the variable VELISK_ATTEMPT_PAUSE_MS,
// a number of milliseconds from 1 to 60000, replaces every pause, so that
// tests of the attempt bound do not wait minutes. Shipped builds read none.

class AttemptPacer {
public:
    // `cancel` and `userData` are the request's poll, answered during pauses.
    AttemptPacer(HttpCancelCallback cancel, void* userData);

    // Call before each attempt with the local file's path as known so far
    // (empty before the first): notes the time and the bytes on disk.
    void AttemptStarting(const wchar_t* localPath);

    // True when the attempt that AttemptStarting began left more bytes in the
    // file at `localPath` than it found there.
    bool AddedBytes(const wchar_t* localPath) const;

    // Call after an attempt that failed and was not cancelled. When it added
    // no byte to the file, the next attempt starts no earlier than the pause
    // after this one's start (1 s, doubling up to 60 s); an attempt that added
    // bytes lets the next one follow at once and starts the pauses afresh.
    // Waits that long, polling the cancel callback every millisecond.
    // Returns false when the poll asked to stop (no further attempt).
    bool PauseAfterFailure(const wchar_t* localPath);

private:
    HttpCancelCallback m_cancel;
    void* m_userData;
    DWORD m_firstPauseMs;
    DWORD m_longestPauseMs;
    DWORD m_pauseMs;
    ULONGLONG m_attemptStart = 0;
    uint64_t m_bytesAtStart = 0;
};
