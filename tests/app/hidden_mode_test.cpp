#include <gtest/gtest.h>

#include <string>

#include "app/update_dlg.h"
#include "support/test_support.h"

namespace {

using testing_support::ScratchDir;
using testing_support::WriteUtf8;

// Writes "[update]" with the given key lines; an empty text writes no file.
void WriteIni(const std::wstring& path, const std::wstring& keys) {
    if (!keys.empty()) {
        ASSERT_TRUE(WriteUtf8(path, L"[update]\r\n" + keys));
    }
}

TEST(HiddenMode, NeedsCanHideHideAndAnInstalledVersionOfAtLeastMinHideVersion) {
    struct Case {
        const char* name;
        const wchar_t* installed;
        const wchar_t* fresh;
        bool hidden;
    };
    const Case cases[] = {
        {"all set, version below minimum", L"canHide=1\r\nversion=119\r\n",
         L"hide=1\r\nminHideVersion=120\r\n", false},
        {"all set, version at minimum", L"canHide=1\r\nversion=120\r\n", L"hide=1\r\nminHideVersion=120\r\n",
         true},
        {"all set, version above minimum", L"canHide=1\r\nversion=121\r\n",
         L"hide=1\r\nminHideVersion=120\r\n", true},
        {"hide without canHide", L"version=500\r\n", L"hide=1\r\nminHideVersion=120\r\n", false},
        {"canHide 0", L"canHide=0\r\nversion=500\r\n", L"hide=1\r\nminHideVersion=120\r\n", false},
        {"canHide without hide", L"canHide=1\r\nversion=500\r\n", L"minHideVersion=120\r\n", false},
        {"hide 0", L"canHide=1\r\nversion=500\r\n", L"hide=0\r\nminHideVersion=120\r\n", false},
        {"minHideVersion missing: never hidden", L"canHide=1\r\nversion=2147483646\r\n", L"hide=1\r\n", false},
        {"installed version missing counts as 0", L"canHide=1\r\n", L"hide=1\r\nminHideVersion=0\r\n", true},
        {"any non-zero canHide and hide", L"CANHIDE=7\r\nversion=10\r\n", L"Hide=-1\r\nminHideVersion=10\r\n",
         true},
        {"no installed file", L"", L"hide=1\r\nminHideVersion=0\r\n", false},
        {"no new file", L"canHide=1\r\nversion=10\r\n", L"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir(L"hide");
        WriteIni(dir / L"installed.ini", c.installed);
        WriteIni(dir / L"new.ini", c.fresh);
        EXPECT_EQ(DecideHiddenMode(dir / L"installed.ini", dir / L"new.ini"), c.hidden);
    }
}

}  // namespace
