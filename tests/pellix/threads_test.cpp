// Command objects used from several shell threads at once: the first read of
// the uninstaller's path, its refreshes, and the module's object count.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "pellix/pellix_fixture.h"

namespace pellix_test {
namespace {

using velisk::ComPtr;

class ThreadsTest : public PellixFixture {
protected:
    static constexpr int kThreads = 4;

    // Runs `body(index)` on kThreads threads, each in its own single-threaded
    // apartment like a shell thread, all released at the same moment.
    template <typename Body>
    void RunOnThreads(Body body) {
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                const bool com = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
                ready.fetch_add(1);
                while (ready.load() < kThreads) ::SwitchToThread();
                body(i);
                if (com) ::CoUninitialize();
            });
        }
        for (auto& t : threads) t.join();
    }
};

TEST_F(ThreadsTest, CommandsOnSeveralThreadsShareTheFirstReadAndTheObjectCount) {
    ASSERT_TRUE(m_registry.SetMenuSwitch(1));
    ASSERT_TRUE(m_registry.SetLauncher(m_uninstaller));
    std::vector<std::wstring> programs;
    for (int i = 0; i < kThreads; ++i) programs.push_back(MakeFile(L"My Apps/Program" + std::to_wstring(i) + L".exe"));
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(m_module->GetClassObject(kNymCommandClsid, IID_IClassFactory, factory.receiveVoid()), S_OK);

    struct Outcome {
        int titles = 0;
        int rightIcons = 0;
        int created = 0;
        HRESULT invoked = E_UNEXPECTED;
    };
    std::vector<Outcome> outcomes(kThreads);
    const std::wstring expectedIcon = m_dir / L"Nym Uninstaller/logo.ico";
    constexpr int kRounds = 100;
    RunOnThreads([&](int i) {
        Outcome& outcome = outcomes[static_cast<size_t>(i)];
        auto items = SelectionFromIdLists({programs[static_cast<size_t>(i)]});
        for (int round = 0; round < kRounds; ++round) {
            ComPtr<IExplorerCommand> command;
            if (FAILED(factory->CreateInstance(nullptr, IID_IExplorerCommand, command.receiveVoid()))) continue;
            ++outcome.created;
            if (AskIcon(command.get()).icon == expectedIcon) ++outcome.rightIcons;
            if (AskTitle(command.get(), items.get()).hr == S_OK) ++outcome.titles;
            if (round == kRounds - 1) outcome.invoked = command->Invoke(items.get(), nullptr);
        }
    });

    for (int i = 0; i < kThreads; ++i) {
        SCOPED_TRACE(i);
        const Outcome& outcome = outcomes[static_cast<size_t>(i)];
        EXPECT_EQ(outcome.created, kRounds);
        EXPECT_EQ(outcome.rightIcons, kRounds);
        EXPECT_EQ(outcome.titles, kRounds);
        EXPECT_EQ(outcome.invoked, S_OK);
    }
    EXPECT_EQ(m_module->CanUnloadNow(), S_OK) << "the object count drifted";
    factory.reset();
    ComPtr<IClassFactory> again;
    EXPECT_EQ(m_module->GetClassObject(kNymCommandClsid, IID_IClassFactory, again.receiveVoid()), S_OK);

    std::vector<std::string> lines = WaitForStarts(m_uninstaller, kThreads);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads));
    std::vector<std::string> expected;
    for (const auto& program : programs) expected.push_back(ExpectedParameters(program));
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
}

TEST_F(ThreadsTest, ServerLocksFromSeveralThreadsAtOnceAreCountedExactly) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(m_module->GetClassObject(kNymCommandClsid, IID_IClassFactory, factory.receiveVoid()), S_OK);
    constexpr int kLocks = 200000;
    constexpr int kTotal = kThreads * kLocks;

    // Locks taken on all threads at once, released on this one: one lost
    // increment would let the module unload one release early.
    RunOnThreads([&](int) {
        for (int lock = 0; lock < kLocks; ++lock) factory->LockServer(TRUE);
    });
    for (int lock = 0; lock < kTotal - 1; ++lock) factory->LockServer(FALSE);
    EXPECT_EQ(m_module->CanUnloadNow(), S_FALSE) << "increments from several threads were lost";
    factory->LockServer(FALSE);
    EXPECT_EQ(m_module->CanUnloadNow(), S_OK);

    // Locks taken here, released on all threads at once: one lost decrement
    // would keep the module loaded for good.
    for (int lock = 0; lock < kTotal; ++lock) factory->LockServer(TRUE);
    RunOnThreads([&](int) {
        for (int lock = 0; lock < kLocks; ++lock) factory->LockServer(FALSE);
    });
    EXPECT_EQ(m_module->CanUnloadNow(), S_OK) << "decrements from several threads were lost";
}

TEST_F(ThreadsTest, ConcurrentRefreshesOfTheCachedPathKeepItWhole) {
    // A registered uninstaller that does not exist makes every use read the
    // registry again and replace the cached text while other threads read it.
    const std::wstring folder = m_dir / L"Not Installed/A folder name long enough to live on the heap";
    ASSERT_TRUE(m_registry.SetLauncher(folder + L"\\NymUninstaller.exe"));
    const std::wstring expectedIcon = folder + L"\\logo.ico";
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(m_module->GetClassObject(kNymCommandClsid, IID_IClassFactory, factory.receiveVoid()), S_OK);

    constexpr int kRounds = 300;
    std::vector<int> rightIcons(kThreads, 0);
    std::vector<int> refusedStarts(kThreads, 0);
    RunOnThreads([&](int i) {
        ComPtr<IExplorerCommand> command;
        if (FAILED(factory->CreateInstance(nullptr, IID_IExplorerCommand, command.receiveVoid()))) return;
        for (int round = 0; round < kRounds; ++round) {
            if (AskIcon(command.get()).icon == expectedIcon) ++rightIcons[static_cast<size_t>(i)];
            if (command->Invoke(nullptr, nullptr) == E_INVALIDARG) ++refusedStarts[static_cast<size_t>(i)];
        }
    });
    for (int i = 0; i < kThreads; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rightIcons[static_cast<size_t>(i)], kRounds);
        EXPECT_EQ(refusedStarts[static_cast<size_t>(i)], kRounds);
    }
}

}  // namespace
}  // namespace pellix_test
