// The fixture of the Pellix tests: COM on the test thread, a copy of
// Pellix.dll loaded from its own folder, a copy of the stand-in uninstaller
// with its logo.ico, and the App Paths values cleared for the test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pellix/app_paths_values.h"
#include "pellix/explorer_host.h"
#include "support/test_support.h"

namespace pellix_test {

// "卸载程序"
extern const wchar_t kTitle[];

class PellixFixture : public ::testing::Test {
protected:
    PellixFixture();
    void SetUp() override;
    void TearDown() override;

    // Frees the module and loads it again: a fresh process-wide state.
    void ReloadModule();

    // The folder holding the loaded copy of the DLL.
    std::wstring ModuleFolder() const { return m_dir / L"ext"; }

    // Copies the stand-in uninstaller and a logo.ico into `folder` (created
    // when missing); returns the uninstaller's path, empty on failure.
    std::wstring InstallUninstaller(const std::wstring& folder) const;

    // Creates a file with some bytes under the scratch folder; returns its
    // full path.
    std::wstring MakeFile(const std::wstring& relative) const;

    // The parameter lines the uninstaller at `uninstallerPath` recorded,
    // after waiting until there are at least `count` of them.
    std::vector<std::string> WaitForStarts(const std::wstring& uninstallerPath, size_t count) const;

    // The parameters the command passes for a selected path, as the
    // uninstaller records them (UTF-8).
    static std::string ExpectedParameters(const std::wstring& selectedPath);

    testing_support::ScratchDir m_dir{L"pellix"};
    AppPathsValues m_registry;
    std::unique_ptr<LoadedModule> m_module;
    std::wstring m_uninstaller;  // installed in "Nym Uninstaller" by SetUp
    bool m_comStarted = false;
};

}  // namespace pellix_test
