#include "signing/signing_fixture.h"

#include <algorithm>

namespace signing_testing {
namespace {

std::wstring WinePath(const std::string& unixPath, const std::wstring& part) {
    std::wstring path = L"Z:" + std::wstring(unixPath.begin(), unixPath.end()) + L"/" + part;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

}  // namespace

std::wstring SigningFixture(const std::wstring& part) { return WinePath(VELISK_SIGNING_FIXTURE, part); }

std::wstring TestKeyFile(const std::wstring& name) { return WinePath(VELISK_TEST_KEY_DIR, name); }

}  // namespace signing_testing
