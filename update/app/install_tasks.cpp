// Installation chores and the copy mode's job.
#include <glog/logging.h>

#include "app/update_dlg.h"

void CUpdateDlg::CopyStagedUpdate(const std::wstring& src, const std::wstring& dst, bool restart) {
    LOG(INFO) << "CopyStagedUpdate: the staged copy is not built yet";
}

void CUpdateDlg::InstallNewVersionIni() {
    LOG(INFO) << "InstallNewVersionIni: not built yet";
}

void CUpdateDlg::DeleteUselessFiles(std::wstring folder, const std::wstring& uselessFilesJson) {
    LOG(INFO) << "DeleteUselessFiles: not built yet";
}

void CUpdateDlg::UpdateFirewallRule(const std::wstring& iniPath, const std::wstring& programPath) {
    LOG(INFO) << "UpdateFirewallRule: not built yet";
}

bool CUpdateDlg::RegisterUrlProtocol() {
    LOG(INFO) << "RegisterUrlProtocol: not built yet";
    return false;
}

bool CUpdateDlg::UpdateDisplayVersion(const std::wstring& iniPath) {
    LOG(INFO) << "UpdateDisplayVersion: not built yet";
    return false;
}

void CUpdateDlg::RefreshShortcut() { LOG(INFO) << "RefreshShortcut: not built yet"; }
