// The update worker thread: closes the client, waits for the caller, in
// hidden mode relaunches the client for a later copy, runs the engine and the
// chores after a successful update, and reports the outcome.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <memory>

#include "app/download_deadline.h"
#include "app/program_start.h"
#include "app/update_dlg.h"
#include "diag/catching_call.h"
#include "diag/command_line_quote.h"
#include "diag/statistics.h"
#include "diag/unit_log.h"
#include "engine/auto_updater.h"
#include "engine/plain_paths.h"

namespace {

constexpr size_t kMaxCopyParameterChars = 1023;

}  // namespace

std::wstring BuildCopyParameters(const std::wstring& updaterPath, const std::wstring& installDir,
                                 const std::wstring& stagingDir, DWORD pid, const std::wstring& relatedExes) {
    std::wstring baseDir = installDir;
    const size_t cut = baseDir.rfind(L'\\');
    if (cut != std::wstring::npos) baseDir.resize(cut);
    std::wstring parameters = L"-copy";
    AppendQuotedArgument(parameters, updaterPath);
    AppendQuotedArgument(parameters, installDir + stagingDir);
    AppendQuotedArgument(parameters, baseDir);
    parameters += L" " + std::to_wstring(pid);
    AppendQuotedArgument(parameters, relatedExes);
    return parameters;
}

void CUpdateDlg::OnEngineStatus(const FileUpdateStatus* status, void* userData) {
    if (userData == nullptr || status == nullptr) return;
    auto* copy = new FileUpdateStatus;
    std::memcpy(copy, status, sizeof(FileUpdateStatus));
    auto* self = static_cast<CUpdateDlg*>(userData);
    if (status->status == FUS_COPYSTART && self->m_downloadDeadline != nullptr) {
        self->m_downloadDeadline->CopyPhaseStarted();
    }
    if (!::PostMessageW(self->m_hWnd, WM_UPDATE_STATUS, 0, reinterpret_cast<LPARAM>(copy))) delete copy;
}

DWORD WINAPI CUpdateDlg::UpdateThreadProc(LPVOID param) {
    auto* self = static_cast<CUpdateDlg*>(param);
    // An exception would end the process with the installation half done and
    // no one to restart the client; it fails the run instead.
    std::string error;
    velisk::CallCatching(
        [self] {
            self->DoUpdate();
            return true;
        },
        false, &error);
    if (!error.empty()) {
        UPDATEDLG_LOG(ERROR) << "update thread crash " << error;
        if (!self->m_outcomeSent) {
            velisk::CallCatching(
                [self] {
                    self->SendUpdateOutcome(false);
                    return true;
                },
                false, nullptr);
        }
    }
    ::PostMessageW(self->m_hWnd, WM_UPDATE_DONE, 0, 0);
    UPDATEDLG_LOG(INFO) << "update thread over";
    return 0;
}

void CUpdateDlg::WaitForCaller() {
    velisk::UniqueKernelHandle caller(::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(m_waitPid)));
    if (!caller) return;  // a process that cannot be opened counts as ended
    // Woken every 50 ms to see whether the user has asked to stop.
    while (!m_stopRequested && ::WaitForSingleObject(caller.get(), 50) == WAIT_TIMEOUT) {
    }
}

bool CUpdateDlg::RelaunchClientForCopy() {
    if (m_targetExe.empty()) {
        UPDATEDLG_LOG(ERROR) << "client not started for the copy: no usable target";
        m_stagingDir += L"\\";
        return false;
    }
    const std::wstring parameters = BuildCopyParameters(UpdateProgramPath(), m_installDir, m_stagingDir,
                                                        ::GetCurrentProcessId(), m_relatedExes);
    // By its full path in the installation, never found by the search order.
    const std::wstring client = m_installDir + m_targetExe;
    HINSTANCE result = nullptr;
    const bool fits = parameters.size() <= kMaxCopyParameterChars;
    if (fits) {
        result = ::ShellExecuteW(nullptr, L"open", client.c_str(), parameters.c_str(), m_installDir.c_str(),
                                 SW_SHOW);
    }
    const INT_PTR code = reinterpret_cast<INT_PTR>(result);
    m_stagingDir += L"\\";
    StatPoint point("imstartup_pc");
    point.AddString("process", m_targetExe);
    point.AddString("cmd", parameters);
    point.AddString("dir", m_installDir);
    point.AddInt("o_ret", static_cast<int>(code));
    UPDATEDLG_LOG(INFO) << "point imstartup_pc: " << point.Send();
    // ShellExecute reports success with a value above 32.
    if (code > 32) return true;
    UPDATEDLG_LOG(ERROR) << "client not started for the copy: "
                         << (fits ? "ShellExecute returned " + std::to_string(code) : std::string("parameters too long"));
    return false;
}

void CUpdateDlg::DoUpdate() {
    std::unique_ptr<DownloadDeadline> deadline;
    if (m_hidden) {
        deadline = std::make_unique<DownloadDeadline>(m_updater, &m_stopRequested, kHiddenDownloadDeadlineMs);
        m_downloadDeadline = deadline.get();
    }
    // The pointer is cleared on every way out, a thrown exception included,
    // so the status callback never reaches a deadline that is gone.
    struct ClearDeadline {
        DownloadDeadline*& pointer;
        ~ClearDeadline() { pointer = nullptr; }
    } clear{m_downloadDeadline};
    RunUpdate();
}

void CUpdateDlg::RunUpdate() {
    if (!m_targetExe.empty()) CloseTargetClient(m_targetExe);
    WaitForCaller();
    const bool copyHandedOver = !m_hidden || RelaunchClientForCopy();
    if (m_stopRequested) return;
    if (!m_installationRepaired || !copyHandedOver) {
        // Nothing is downloaded for an installation that is not whole, nor
        // staged when no one will copy it: the run fails as it is.
        if (m_hidden) RemoveStagingFolder();
        UPDATEDLG_LOG(INFO) << "BeginUpdate over " << false;
        SendUpdateOutcome(false);
        return;
    }

    PluginOptions options = {};
    const wchar_t* searchDirs[] = {m_installDir.c_str()};
    options.pluginDir = m_pluginDir.c_str();
    options.searchDirs = searchDirs;
    options.searchDirCount = 1;
    options.silent = m_hidden ? 1 : 0;
    options.updateNotes = m_updateNotes.c_str();
    ::GetPrivateProfileStringW(L"update", L"versionName", L"", options.versionName, 256, m_newIniPath.c_str());
    m_updater->SetPluginOptions(&options);

    // The run counts as done only with the new version.ini in place.
    const bool ok = m_updater->BeginUpdate(m_databaseUrl.c_str(), 1, m_newIniPath.c_str()) && InstallNewVersionIni();
    if (ok) {
        if (!m_hidden) {
            DeleteUselessFiles(m_installDir, m_uselessFiles, m_targetExe);
            UpdateDisplayVersion(m_newIniPath);
            RefreshShortcut();
        }
    }
    UPDATEDLG_LOG(INFO) << "BeginUpdate over " << ok;
    SendUpdateOutcome(ok);
}

void CUpdateDlg::RemoveStagingFolder() {
    std::wstring staging = m_installDir + m_stagingDir;
    while (!staging.empty() && (staging.back() == L'\\' || staging.back() == L'/')) staging.pop_back();
    if (staging.size() > m_installDir.size()) RemoveTreeNoFollow(staging);
}

void CUpdateDlg::SendUpdateOutcome(bool ok) {
    m_outcomeSent = true;
    StatPoint point("update_ifsucc");
    point.AddInt("is_u", m_hidden ? 1 : 0);
    point.AddString("bu_pp", m_databaseUrl);
    point.AddString("bu_np", m_givenIniPath);
    point.AddInt("is_succ", ok ? 1 : 0);
    UPDATEDLG_LOG(INFO) << "point update_ifsucc: " << point.Send();
}
