// Data-folder slots across real host processes (tools/vantor_host): each
// running process of a host program gets a user-data folder of its own, and a
// slot whose process has ended is taken again, even while something still
// holds a handle to that process.

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "vantor_fixture.h"
#include "velisk/handles.h"

namespace vantor_test {
namespace {

// One vantor_host.exe process that runs until told to quit.
class HostProcess {
public:
    HostProcess(const std::wstring& dataFolder, const std::wstring& tag, int views = 1) {
        m_quitName = L"vantor_test_quit_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + tag;
        m_quit.reset(::CreateEventW(nullptr, TRUE, FALSE, m_quitName.c_str()));
        std::wstring command = L"\"" + testing_support::BinFile(L"vantor_host.exe") + L"\" --data-folder " +
                               dataFolder + L" --quit-event " + m_quitName + L" --timeout-ms 60000 --views " + std::to_wstring(views);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &info)) {
            m_process.reset(info.hProcess);
            ::CloseHandle(info.hThread);
            m_pid = info.dwProcessId;
        }
    }
    ~HostProcess() {
        if (m_process && Quit() == 0xDEAD) ::TerminateProcess(m_process.get(), 1);
    }
    DWORD pid() const { return m_pid; }
    bool started() const { return static_cast<bool>(m_process); }
    // Asks the process to end and waits for it; returns its exit code. The
    // handle stays open, so the ended process's object lives on.
    DWORD Quit() {
        DWORD code = 0xDEAD;
        ::SetEvent(m_quit.get());
        if (::WaitForSingleObject(m_process.get(), 30000) == WAIT_OBJECT_0) ::GetExitCodeProcess(m_process.get(), &code);
        return code;
    }

private:
    std::wstring m_quitName;
    velisk::UniqueKernelHandle m_quit;
    velisk::UniqueKernelHandle m_process;
    DWORD m_pid = 0;
};

TEST(SlotChoice, HostProcessesTakeTheFirstFreeSlotAndReuseOnesWhoseProcessEnded) {
    ScopedDataFolder data;
    const std::wstring host = L"vantor_host";
    auto holder = [&](int slot) { return data.SlotHolder(host, slot); };

    HostProcess first(data.name(), L"a", 2);  // two views share the process's slot
    ASSERT_TRUE(first.started());
    ASSERT_TRUE(PumpUntil([&] { return holder(0) == first.pid(); }, 30000)) << "first process takes slot 0";

    HostProcess second(data.name(), L"b");
    ASSERT_TRUE(second.started());
    ASSERT_TRUE(PumpUntil([&] { return holder(1) == second.pid(); }, 30000)) << "second process takes slot 1";
    EXPECT_EQ(holder(0), first.pid());
    // Each folder is made just after its slot is written.
    auto folder = [&](int slot) {
        return testing_support::DirExists(data.HostFolder(host) + L"\\cache" + std::to_wstring(slot));
    };
    EXPECT_TRUE(PumpUntil([&] { return folder(0) && folder(1); }, 30000));

    // The first process ends; this test still holds its handle, which keeps
    // the process object (not the process) alive.
    EXPECT_EQ(first.Quit(), 0u);
    HostProcess third(data.name(), L"c");
    ASSERT_TRUE(third.started());
    ASSERT_TRUE(PumpUntil([&] { return holder(0) == third.pid(); }, 30000))
        << "slot 0 is free again; slots hold " << holder(0) << ", " << holder(1) << ", " << holder(2)
        << "; the processes were " << first.pid() << ", " << second.pid() << ", " << third.pid();
    EXPECT_EQ(holder(1), second.pid());
    EXPECT_EQ(holder(2), 0u);
    EXPECT_FALSE(folder(2));

    EXPECT_EQ(third.Quit(), 0u);
    EXPECT_EQ(second.Quit(), 0u);
}

}  // namespace
}  // namespace vantor_test
