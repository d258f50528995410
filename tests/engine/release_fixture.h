// The release that tools/make_release publishes at build time for the
// engine tests (see make_release_fixture.py).
#pragma once

#include <string>

#include "support/test_support.h"

namespace testing_support {

// Wine path of a folder of the fixture: "source" (the client files),
// "server" (the published tree) or "manifest" (the unpacked manifest).
inline std::wstring ReleaseFixture(const std::wstring& part) { return WinePath(VELISK_RELEASE_FIXTURE, part); }

// The names of the client files in the fixture, in manifest order.
inline const wchar_t* const kReleaseFixtureNames[] = {
    L"abc.txt", L"bin/plugin.dll", L"empty.dat", L"four_mib.bin", L"four_mib_plus_one.bin",
};

}  // namespace testing_support
