#include <gtest/gtest.h>

#include "app/update_dlg.h"

namespace {

TEST(InstallLock, DirectoryWithAndWithoutTrailingSeparatorGivesOneNameAndOneLock) {
    struct Case {
        const wchar_t* argument;
        const wchar_t* installDir;
        const wchar_t* lockName;
    };
    const Case cases[] = {
        {L"D:\\Apps\\Client", L"D:\\Apps\\Client\\", L"D://Apps/Client/./"},
        {L"D:\\Apps\\Client\\", L"D:\\Apps\\Client\\", L"D://Apps/Client/./"},
        {L"D:/Apps/Client/", L"D:/Apps/Client/", L"D://Apps/Client/./"},
        {L"C:\\", L"C:\\", L"C://"},
        {L"\\\\server\\share\\App", L"\\\\server\\share\\App\\", L"\\\\server//share/App/./"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "argument " << testing::PrintToString(std::wstring(c.argument)));
        const std::wstring dir = WithTrailingSeparator(c.argument);
        EXPECT_EQ(dir, c.installDir);
        EXPECT_EQ(InstallLockName(dir), c.lockName);
    }
}

TEST(InstallLock, SecondUpdaterOfTheSameInstallationIsRefusedAnotherInstallationIsNot) {
    CUpdateDlg first;
    first.m_installDir = WithTrailingSeparator(L"D:\\LockTest\\Client");
    ASSERT_TRUE(first.AcquireInstallLock());

    CUpdateDlg second;
    second.m_installDir = L"D:\\LockTest\\Client\\";
    EXPECT_FALSE(second.AcquireInstallLock());

    CUpdateDlg other;
    other.m_installDir = L"D:\\LockTest\\Other\\";
    EXPECT_TRUE(other.AcquireInstallLock());
}

}  // namespace
