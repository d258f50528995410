// The overall deadline of a hidden run's download phase. A hidden run has no
// one to press cancel: when the network or the server never lets it finish,
// the deadline ends it as a cancel of the user would, so no updater lingers
// for days holding the installation's lock.
#pragma once

#include <windows.h>

#include <atomic>

class IVkAutoUpdater;

// How long a hidden run may spend before its files start to be copied.
constexpr DWORD kHiddenDownloadDeadlineMs = 4 * 60 * 60 * 1000;

class DownloadDeadline {
public:
    // Arms a timer of `ms`. When it fires before CopyPhaseStarted, it sets
    // `*stopRequested` and calls `engine->CancelUpdate()` (engine may be
    // null), logging one WARNING line. Not armed when the timer cannot be
    // created (logged).
    DownloadDeadline(IVkAutoUpdater* engine, std::atomic<bool>* stopRequested, DWORD ms);
    // Stops the timer and waits for a callback that is running.
    ~DownloadDeadline();
    DownloadDeadline(const DownloadDeadline&) = delete;
    DownloadDeadline& operator=(const DownloadDeadline&) = delete;

    // From here on the run is copying: the deadline no longer cancels it.
    void CopyPhaseStarted() { m_copyStarted.store(true); }
    // True once the deadline has cancelled the run.
    bool expired() const { return m_expired.load(); }

private:
    static void CALLBACK OnTimer(PVOID self, BOOLEAN fired);

    IVkAutoUpdater* m_engine;
    std::atomic<bool>* m_stopRequested;
    std::atomic<bool> m_copyStarted{false};
    std::atomic<bool> m_expired{false};
    HANDLE m_timer = nullptr;  // owned: deleted (and awaited) by the destructor
};
