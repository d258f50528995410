#include "signing/signing_fixture.h"

#include "support/test_support.h"

namespace signing_testing {

using testing_support::WinePath;

std::wstring SigningFixture(const std::wstring& part) { return WinePath(VELISK_SIGNING_FIXTURE, part); }

std::wstring TestKeyFile(const std::wstring& name) { return WinePath(VELISK_TEST_KEY_DIR, name); }

}  // namespace signing_testing
