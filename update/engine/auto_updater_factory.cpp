// Stand-in engine until the update pipeline exists: every update fails.
#include <glog/logging.h>

#include "engine/auto_updater.h"

namespace {

class PendingAutoUpdater : public IVkAutoUpdater {
public:
    void SetNewDatabasePath(const wchar_t*, const wchar_t*) override {}
    void SetDirectories(const wchar_t*, const wchar_t*, const wchar_t*) override {}
    bool BeginUpdate(const wchar_t*, int, const wchar_t*) override {
        LOG(INFO) << "BeginUpdate: the update pipeline is not built yet";
        return false;
    }
    void CancelUpdate() override {}
    void SetStatusCallback(FileUpdateStatusCallback, void*) override {}
    void Shutdown() override {}
    void AddExcludedFiles(const wchar_t* const*, int) override {}
    void SetUpdateAlgorithm(IVkUpdateAlgorithm*) override {}
    bool CopyFromFolder(const wchar_t*, const wchar_t*) override { return false; }
    void SetPluginOptions(const PluginOptions*) override {}
    bool ApplyStagedUpdate(const wchar_t*, const wchar_t*, int) override { return false; }
};

}  // namespace

IVkAutoUpdater* CreateAutoUpdater() { return new PendingAutoUpdater(); }
