// An engine for tests of the application's side: every operation does
// nothing and fails, so a test overrides only the operations it watches.
#pragma once

#include "engine/auto_updater.h"

namespace testing_support {

class IdleEngine : public IVkAutoUpdater {
public:
    void DeleteThis(unsigned int) override {}
    void SetNewDatabasePath(const wchar_t*, const wchar_t*) override {}
    void SetDirectories(const wchar_t*, const wchar_t*, const wchar_t*) override {}
    bool BeginUpdate(const wchar_t*, int, const wchar_t*) override { return false; }
    void CancelUpdate() override {}
    void SetStatusCallback(FileUpdateStatusCallback, void*) override {}
    void Shutdown() override {}
    void AddExcludedFiles(const wchar_t* const*, int) override {}
    void SetUpdateAlgorithm(IVkUpdateAlgorithm*) override {}
    bool CopyFromFolder(const wchar_t*, const wchar_t*, int) override { return false; }
    void SetPluginOptions(const PluginOptions*) override {}
    bool ApplyStagedUpdate(const wchar_t*, const wchar_t*, int) override { return false; }
};

}  // namespace testing_support
