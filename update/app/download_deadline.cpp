// A timer-queue timer that cancels a run that is still downloading.
#include "app/download_deadline.h"

#include "diag/unit_log.h"
#include "engine/auto_updater.h"

DownloadDeadline::DownloadDeadline(IVkAutoUpdater* engine, std::atomic<bool>* stopRequested, DWORD ms)
    : m_engine(engine), m_stopRequested(stopRequested) {
    if (!::CreateTimerQueueTimer(&m_timer, nullptr, &DownloadDeadline::OnTimer, this, ms, 0,
                                 WT_EXECUTEONLYONCE)) {
        UPDATEDLG_LOG(WARNING) << "download deadline not armed, error " << ::GetLastError();
        m_timer = nullptr;
    }
}

DownloadDeadline::~DownloadDeadline() {
    // INVALID_HANDLE_VALUE: return only once a running callback has ended.
    if (m_timer != nullptr) ::DeleteTimerQueueTimer(nullptr, m_timer, INVALID_HANDLE_VALUE);
}

void CALLBACK DownloadDeadline::OnTimer(PVOID param, BOOLEAN) {
    auto* self = static_cast<DownloadDeadline*>(param);
    if (self->m_copyStarted.load()) return;
    UPDATEDLG_LOG(WARNING) << "download deadline passed, the hidden run ends";
    self->m_expired.store(true);
    if (self->m_stopRequested != nullptr) self->m_stopRequested->store(true);
    if (self->m_engine != nullptr) self->m_engine->CancelUpdate();
}
