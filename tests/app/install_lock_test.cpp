#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/update_dlg.h"
#include "velisk/handles.h"

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
        // Windows cannot use backslashes in the name: they become "/".
        {L"\\\\server\\share\\App", L"\\\\server\\share\\App\\", L"//server//share/App/./"},
        {L"\\\\server\\share\\App\\", L"\\\\server\\share\\App\\", L"//server//share/App/./"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "argument " << testing::PrintToString(std::wstring(c.argument)));
        const std::wstring dir = WithTrailingSeparator(c.argument);
        EXPECT_EQ(dir, c.installDir);
        EXPECT_EQ(UsableLockName(InstallLockName(dir)), c.lockName);
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

// A mutex of the installation's lock name made before the updater tries,
// the way another holder would leave it.
enum class Holder { kNone, kSameRights, kDeniesAccess };

velisk::UniqueKernelHandle HoldLock(const std::wstring& installDir, Holder holder) {
    const std::wstring name = UsableLockName(InstallLockName(installDir));
    if (holder == Holder::kNone) return {};
    if (holder == Holder::kSameRights) return velisk::UniqueKernelHandle(::CreateMutexW(nullptr, FALSE, name.c_str()));
    // An empty access list: nobody else may open it, as with an updater that
    // runs under another account.
    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ACL acl;
    ::InitializeAcl(&acl, sizeof(acl), ACL_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, &acl, FALSE);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
    return velisk::UniqueKernelHandle(::CreateMutexW(&attributes, FALSE, name.c_str()));
}

TEST(InstallLock, HeldLocksRefuseAndUsableNamesWorkForEveryInstallation) {
    const std::wstring longDir = L"D:\\" + std::wstring(140, L'深') + L"\\" + std::wstring(140, L'x') + L"\\";
    const struct {
        const char* name;
        std::wstring installDir;
        Holder holder;
        bool acquired;
    } cases[] = {
        {"free drive path", L"D:\\LockTable\\Free\\", Holder::kNone, true},
        {"held with the same rights", L"D:\\LockTable\\Held\\", Holder::kSameRights, false},
        {"held by an updater that denies access", L"D:\\LockTable\\Denied\\", Holder::kDeniesAccess, false},
        {"free UNC installation", L"\\\\server\\share\\LockTable\\", Holder::kNone, true},
        {"held UNC installation", L"\\\\server\\share\\LockTableHeld\\", Holder::kSameRights, false},
        {"free installation with a name too long to use", longDir, Holder::kNone, true},
        {"held installation with a name too long to use", longDir + L"held\\", Holder::kSameRights, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const velisk::UniqueKernelHandle holder = HoldLock(c.installDir, c.holder);
        if (c.holder != Holder::kNone) {
            ASSERT_TRUE(holder);
        }
        CUpdateDlg updater;
        updater.m_installDir = c.installDir;
        EXPECT_EQ(updater.AcquireInstallLock(), c.acquired);
        if (!c.acquired) continue;
        // The lock taken is a real one, found by its name by other tools, and
        // a second updater of the same installation is refused.
        EXPECT_TRUE(velisk::UniqueKernelHandle(
            ::OpenMutexW(SYNCHRONIZE, FALSE, UsableLockName(InstallLockName(c.installDir)).c_str())));
        CUpdateDlg second;
        second.m_installDir = c.installDir;
        EXPECT_FALSE(second.AcquireInstallLock());
    }
}

TEST(InstallLock, OrdinaryDrivePathKeepsItsDocumentedName) {
    CUpdateDlg updater;
    updater.m_installDir = WithTrailingSeparator(L"D:\\LockTable\\Documented");
    ASSERT_TRUE(updater.AcquireInstallLock());
    EXPECT_TRUE(velisk::UniqueKernelHandle(::OpenMutexW(SYNCHRONIZE, FALSE, L"D://LockTable/Documented/./")));
}

TEST(InstallLock, NamesTooLongForWindowsStayApartPerInstallation) {
    const std::wstring base = L"D:\\" + std::wstring(300, L'a');
    const std::wstring a = UsableLockName(InstallLockName(base + L"\\One\\"));
    const std::wstring b = UsableLockName(InstallLockName(base + L"\\Two\\"));
    EXPECT_LT(a.size(), static_cast<size_t>(MAX_PATH));
    EXPECT_EQ(a.rfind(L"VeliskUpdate-", 0), 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a, UsableLockName(InstallLockName(WithTrailingSeparator(base + L"\\One"))));
}

}  // namespace
