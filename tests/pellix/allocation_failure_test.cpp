// Out of memory at every allocation of the command's calls: the module's
// code runs inside this program, whose allocator fails on request
// (support/failing_allocator.cpp). Every call answers E_OUTOFMEMORY or its
// normal result, throws nothing, and every object goes exactly once.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <functional>
#include <string>

#include "class_factory.h"
#include "module_state.h"
#include "pellix/app_paths_values.h"
#include "support/failing_allocator.h"
#include "support/test_support.h"
#include "velisk/handles.h"

namespace {

using testing_support::AllocationLimit;
using testing_support::BinFile;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

velisk::ComPtr<IExplorerCommand> NewCommand() {
    velisk::ComPtr<IClassFactory> factory;
    velisk::ComPtr<IExplorerCommand> command;
    if (SUCCEEDED(pellix::NymCommandFactory::Create(IID_IClassFactory, reinterpret_cast<void**>(factory.receive())))) {
        factory->CreateInstance(nullptr, IID_IExplorerCommand, reinterpret_cast<void**>(command.receive()));
    }
    return command;
}

velisk::ComPtr<IShellItemArray> SelectionOf(const std::wstring& path) {
    velisk::ComPtr<IShellItem> item;
    velisk::ComPtr<IShellItemArray> items;
    if (SUCCEEDED(::SHCreateItemFromParsingName(path.c_str(), nullptr, IID_IShellItem,
                                                reinterpret_cast<void**>(item.receive())))) {
        ::SHCreateShellItemArrayFromShellItem(item.get(), IID_IShellItemArray, reinterpret_cast<void**>(items.receive()));
    }
    return items;
}

TEST(PellixOutOfMemory, EveryRefusedAllocationGivesEOutOfMemoryAndNothingGoesTwice) {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        ScratchDir dir(L"pxm");
        pellix_test::AppPathsValues registry;
        const std::wstring uninstaller = dir / L"Nym Uninstaller\\NymUninstaller.exe";
        ::CreateDirectoryW((dir / L"Nym Uninstaller").c_str(), nullptr);
        ASSERT_TRUE(::CopyFileW(BinFile(L"NymUninstaller.exe").c_str(), uninstaller.c_str(), FALSE));
        ASSERT_TRUE(registry.SetLauncher(uninstaller));
        ASSERT_TRUE(registry.SetMenuSwitch(1));
        const std::wstring program = dir / L"游戏 工具\\tool.exe";
        ::CreateDirectoryW((dir / L"游戏 工具").c_str(), nullptr);
        ASSERT_TRUE(WriteBytes(program, "MZ"));
        velisk::ComPtr<IShellItemArray> selection = SelectionOf(program);
        ASSERT_TRUE(selection);

        const struct {
            const char* name;
            std::function<HRESULT(IExplorerCommand*)> call;
        } rows[] = {
            {"GetTitle", [&](IExplorerCommand* c) {
                 velisk::UniqueCoTaskString title;
                 return c->GetTitle(selection.get(), title.receive());
             }},
            {"GetIcon", [&](IExplorerCommand* c) {
                 velisk::UniqueCoTaskString icon;
                 return c->GetIcon(selection.get(), icon.receive());
             }},
            // Started only once the call has all the memory it needs.
            {"GetTitle then Invoke", [&](IExplorerCommand* c) {
                 velisk::UniqueCoTaskString title;
                 const HRESULT hr = c->GetTitle(selection.get(), title.receive());
                 return FAILED(hr) ? hr : c->Invoke(selection.get(), nullptr);
             }},
        };
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            long allowed = 0;
            for (;; ++allowed) {
                ASSERT_LT(allowed, 10000);
                velisk::ComPtr<IExplorerCommand> command = NewCommand();
                ASSERT_TRUE(command);
                HRESULT hr = E_FAIL;
                bool refused = false;
                {
                    AllocationLimit limit(allowed);
                    hr = row.call(command.get());
                    refused = limit.refused();
                }
                command.reset();
                // The command and its factory are gone, each exactly once.
                EXPECT_EQ(pellix::LiveObjectCount(), 0u) << allowed;
                if (!refused) {
                    EXPECT_EQ(hr, S_OK) << allowed;
                    break;
                }
                EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == S_OK) << allowed << " hr=" << std::hex << hr;
            }
            EXPECT_GT(allowed, 0) << "the call allocated nothing";
        }
    }
    ::CoUninitialize();
}

}  // namespace
