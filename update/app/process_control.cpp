// Ending the client and its related processes before files are replaced.
#include <glog/logging.h>

#include "app/update_dlg.h"

void CUpdateDlg::killRelatedExe() { LOG(INFO) << "killRelatedExe: not built yet"; }

void CUpdateDlg::CloseTargetClient(const std::wstring& exeName) {
    LOG(INFO) << "CloseTargetClient: not built yet";
}
