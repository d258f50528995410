#include "pellix/pellix_fixture.h"

namespace pellix_test {

using testing_support::BinFile;

const wchar_t kTitle[] = L"\u5378\u8F7D\u7A0B\u5E8F";

PellixFixture::PellixFixture() = default;

void PellixFixture::SetUp() {
    m_comStarted = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_TRUE(::CreateDirectoryW(ModuleFolder().c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(BinFile(L"Pellix.dll").c_str(), (ModuleFolder() + L"\\Pellix.dll").c_str(), FALSE));
    ReloadModule();
    ASSERT_TRUE(m_module->loaded());
    m_uninstaller = InstallUninstaller(m_dir / L"Nym Uninstaller");
    ASSERT_FALSE(m_uninstaller.empty());
}

void PellixFixture::TearDown() {
    if (m_module && m_module->loaded()) {
        EXPECT_EQ(m_module->CanUnloadNow(), S_OK) << "a command object or server lock was left alive";
    }
    m_module.reset();
    if (m_comStarted) ::CoUninitialize();
}

void PellixFixture::ReloadModule() {
    m_module.reset();
    m_module = std::make_unique<LoadedModule>(ModuleFolder() + L"\\Pellix.dll");
}

std::wstring PellixFixture::InstallUninstaller(const std::wstring& folder) const {
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring exe = folder + L"\\NymUninstaller.exe";
    if (!::CopyFileW(BinFile(L"NymUninstaller.exe").c_str(), exe.c_str(), FALSE)) return {};
    if (!WriteIconFile(folder + L"\\logo.ico")) return {};
    return exe;
}

std::wstring PellixFixture::MakeFile(const std::wstring& relative) const {
    const std::wstring path = m_dir / relative;
    testing_support::WriteBytes(path, "MZ");
    return path;
}

std::vector<std::string> PellixFixture::WaitForStarts(const std::wstring& uninstallerPath, size_t count) const {
    const std::wstring record =
        uninstallerPath.substr(0, uninstallerPath.find_last_of(L'\\')) + L"\\NymUninstaller.calls.txt";
    std::vector<std::string> lines;
    testing_support::WaitFor(
        [&] {
            // Only whole lines count: a start may be writing its line now.
            lines.clear();
            const std::string text = testing_support::ReadBytes(record);
            for (size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
                lines.push_back(text.substr(begin, end - begin));
            }
            return lines.size() >= count;
        },
        60000);
    return lines;
}

std::string PellixFixture::ExpectedParameters(const std::wstring& selectedPath) {
    return testing_support::WideToUtf8String(L"/from=rmenu11 /uninstall_path=\"" + selectedPath + L"\"");
}

}  // namespace pellix_test
