// The context-menu entry as Explorer sees it: title, icon and start for real
// selections, with the App Paths values in the real registry.
#include <gtest/gtest.h>

#include <functional>

#include "pellix/pellix_fixture.h"

namespace pellix_test {
namespace {

using velisk::ComPtr;

class CommandTest : public PellixFixture {};

TEST_F(CommandTest, OneProgramOrShortcutOutsideTheModuleGetsTheEntryAndStartsTheUninstaller) {
    ASSERT_TRUE(m_registry.SetMenuSwitch(1));
    ASSERT_TRUE(m_registry.SetLauncher(m_uninstaller));
    const std::wstring shortcutTarget = MakeFile(L"Elsewhere/Target.exe");
    const std::wstring program = MakeFile(L"My Apps/Setup.EXE");
    ASSERT_TRUE(CreateShortcut(m_dir / L"My Apps/Setup.lnk", shortcutTarget));
    const std::wstring expectedIcon = m_dir / L"Nym Uninstaller/logo.ico";

    struct Case {
        const char* name;
        std::wstring path;
        bool byParsingName;
    };
    const Case cases[] = {
        {"program with capital EXE, selected by id list", program, false},
        {"program selected by parsing name", MakeFile(L"My Apps/tool.exe"), true},
        {"shortcut: its own path, not its target", m_dir / L"My Apps/Setup.lnk", false},
        {"program in a folder whose name only starts like the module's",
         MakeFile(L"ext_more/Tool.Exe"), false},
    };
    size_t starts = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<IExplorerCommand> command = m_module->CreateCommand();
        ASSERT_TRUE(command);
        auto items = c.byParsingName ? SelectionFromParsingName(c.path) : SelectionFromIdLists({c.path});
        ASSERT_TRUE(items);

        const TitleAnswer title = AskTitle(command.get(), items.get());
        EXPECT_EQ(title.hr, S_OK);
        EXPECT_EQ(title.title, kTitle);

        const IconAnswer icon = AskIcon(command.get());
        EXPECT_EQ(icon.hr, S_OK);
        EXPECT_EQ(icon.icon, expectedIcon);
        velisk::UniqueIcon loaded(static_cast<HICON>(
            ::LoadImageW(nullptr, icon.icon.c_str(), IMAGE_ICON, 16, 16, LR_LOADFROMFILE)));
        EXPECT_TRUE(loaded) << "the icon location does not lead to an icon";

        EXPCMDSTATE state = ECS_HIDDEN;
        EXPECT_EQ(command->GetState(items.get(), FALSE, &state), S_OK);
        EXPECT_EQ(state, static_cast<EXPCMDSTATE>(ECS_ENABLED));

        EXPECT_EQ(command->Invoke(items.get(), nullptr), S_OK);
        const auto lines = WaitForStarts(m_uninstaller, ++starts);
        ASSERT_EQ(lines.size(), starts);
        EXPECT_EQ(lines.back(), ExpectedParameters(c.path));
    }
}

TEST_F(CommandTest, NoEntryUnlessExactlyOneExistingProgramOutsideTheModuleIsSelected) {
    ASSERT_TRUE(m_registry.SetMenuSwitch(1));
    ASSERT_TRUE(m_registry.SetLauncher(m_uninstaller));
    const std::wstring program = MakeFile(L"My Apps/Setup.exe");
    const std::wstring removed = MakeFile(L"My Apps/Removed.exe");
    auto removedSelection = SelectionFromIdLists({removed});
    ASSERT_TRUE(::DeleteFileW(removed.c_str()));

    struct Case {
        const char* name;
        ComPtr<IShellItemArray> items;
    };
    const Case cases[] = {
        {"two programs", SelectionFromIdLists({program, MakeFile(L"My Apps/Other.exe")})},
        {"a text document", SelectionFromIdLists({MakeFile(L"My Apps/readme.txt")})},
        {"a folder", SelectionFromIdLists({m_dir / L"My Apps"})},
        {"a program in the module's folder", SelectionFromIdLists({MakeFile(L"ext/Helper.exe")})},
        {"a program below the module's folder", SelectionFromIdLists({MakeFile(L"ext/bin/Helper.EXE")})},
        {"an item without a file-system path", SelectionOfVirtualFolder()},
        {"a program removed after it was selected", removedSelection},
    };
    ComPtr<IExplorerCommand> command = m_module->CreateCommand();
    ASSERT_TRUE(command);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.items);
        const TitleAnswer answer = AskTitle(command.get(), c.items.get());
        EXPECT_EQ(answer.hr, E_NOTIMPL);
        EXPECT_FALSE(answer.hasTitle);
    }
    SCOPED_TRACE("no item array at all");
    const TitleAnswer answer = AskTitle(command.get(), nullptr);
    EXPECT_EQ(answer.hr, E_NOTIMPL);
    EXPECT_FALSE(answer.hasTitle);
}

TEST_F(CommandTest, MenuSwitchInTheUserHiveDecidesTheEntry) {
    ASSERT_TRUE(m_registry.SetLauncher(m_uninstaller));
    auto items = SelectionFromIdLists({MakeFile(L"My Apps/Setup.exe")});
    ASSERT_TRUE(items);
    const std::wstring text = L"10";  // 6 bytes with its NUL
    struct Case {
        const char* name;
        std::function<bool()> store;
        bool shown;
    };
    const Case cases[] = {
        {"key missing", [&] { m_registry.RemoveMenuKey(); return true; }, false},
        {"number 0", [&] { return m_registry.SetMenuSwitch(0); }, false},
        {"number 1", [&] { return m_registry.SetMenuSwitch(1); }, true},
        {"number 256", [&] { return m_registry.SetMenuSwitch(256); }, true},
        {"text longer than 4 bytes",
         [&] {
             const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
             return m_registry.SetMenuSwitch(REG_SZ, {bytes, bytes + (text.size() + 1) * sizeof(wchar_t)});
         },
         false},
        {"8-byte number 1", [&] { return m_registry.SetMenuSwitch(REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}); }, false},
        {"one binary byte 1", [&] { return m_registry.SetMenuSwitch(REG_BINARY, {1}); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.store());
        ComPtr<IExplorerCommand> command = m_module->CreateCommand();
        ASSERT_TRUE(command);
        const TitleAnswer answer = AskTitle(command.get(), items.get());
        EXPECT_EQ(answer.hr, c.shown ? S_OK : E_NOTIMPL);
        EXPECT_EQ(answer.hasTitle, c.shown);
    }
}

TEST_F(CommandTest, InvokeStartsTheUninstallerForThePathTheLastTitleAccepted) {
    ASSERT_TRUE(m_registry.SetMenuSwitch(1));
    ASSERT_TRUE(m_registry.SetLauncher(m_uninstaller));
    const std::wstring first = MakeFile(L"My Apps/First.exe");
    const std::wstring second = MakeFile(L"My Apps/Second.exe");
    ComPtr<IExplorerCommand> command = m_module->CreateCommand();
    ASSERT_TRUE(command);

    ASSERT_EQ(AskTitle(command.get(), SelectionFromIdLists({first}).get()).hr, S_OK);
    ASSERT_EQ(AskTitle(command.get(), SelectionFromIdLists({second}).get()).hr, S_OK);
    EXPECT_EQ(command->Invoke(nullptr, nullptr), S_OK);
    auto lines = WaitForStarts(m_uninstaller, 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], ExpectedParameters(second));

    // A rejected selection leaves nothing accepted: the path is empty.
    ASSERT_EQ(AskTitle(command.get(), SelectionFromIdLists({first, second}).get()).hr, E_NOTIMPL);
    EXPECT_EQ(command->Invoke(nullptr, nullptr), S_OK);
    lines = WaitForStarts(m_uninstaller, 2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], ExpectedParameters(L""));
}

TEST_F(CommandTest, WithoutRegisteredUninstallerTheIconIsBareAndInvokeRefuses) {
    ASSERT_TRUE(m_registry.SetMenuSwitch(1));
    auto items = SelectionFromIdLists({MakeFile(L"My Apps/Setup.exe")});
    ASSERT_TRUE(items);
    const std::wstring gone = m_dir / L"Gone/NymUninstaller.exe";
    struct Case {
        const char* name;
        std::function<bool()> store;
        std::wstring icon;
    };
    const Case cases[] = {
        {"nothing registered", [] { return true; }, L"logo.ico"},
        {"registered program missing", [&] { return m_registry.SetLauncher(gone); }, m_dir / L"Gone/logo.ico"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReloadModule();
        ASSERT_TRUE(c.store());
        ComPtr<IExplorerCommand> command = m_module->CreateCommand();
        ASSERT_TRUE(command);
        EXPECT_EQ(AskTitle(command.get(), items.get()).hr, S_OK);
        const IconAnswer icon = AskIcon(command.get());
        EXPECT_EQ(icon.hr, S_OK);
        EXPECT_EQ(icon.icon, c.icon);
        EXPECT_EQ(command->Invoke(items.get(), nullptr), E_INVALIDARG);
    }
}

TEST_F(CommandTest, MovedUninstallerIsFoundAgainThroughTheRegistry) {
    ASSERT_TRUE(m_registry.SetMenuSwitch(1));
    const std::wstring program = MakeFile(L"My Apps/Setup.exe");
    for (const bool invokeFirst : {false, true}) {
        SCOPED_TRACE(invokeFirst ? "Invoke is the first use after the move" : "GetIcon is the first use after the move");
        ReloadModule();
        const std::wstring oldFolder = m_dir / (invokeFirst ? L"Old2" : L"Old1");
        const std::wstring newFolder = m_dir / (invokeFirst ? L"New2" : L"New1");
        const std::wstring oldPath = InstallUninstaller(oldFolder);
        const std::wstring newPath = newFolder + L"\\NymUninstaller.exe";
        ASSERT_TRUE(m_registry.SetLauncher(oldPath));

        ComPtr<IExplorerCommand> command = m_module->CreateCommand();
        ASSERT_TRUE(command);
        ASSERT_EQ(AskTitle(command.get(), SelectionFromIdLists({program}).get()).hr, S_OK);
        EXPECT_EQ(AskIcon(command.get()).icon, oldFolder + L"\\logo.ico");

        // The cached path still exists: the new value is not read yet.
        ASSERT_TRUE(m_registry.SetLauncher(newPath));
        EXPECT_EQ(AskIcon(command.get()).icon, oldFolder + L"\\logo.ico");

        ASSERT_TRUE(::MoveFileW(oldFolder.c_str(), newFolder.c_str()));
        if (invokeFirst) {
            EXPECT_EQ(command->Invoke(nullptr, nullptr), S_OK);
            const auto lines = WaitForStarts(newPath, 1);
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0], ExpectedParameters(program));
        }
        EXPECT_EQ(AskIcon(command.get()).icon, newFolder + L"\\logo.ico");
    }
}

}  // namespace
}  // namespace pellix_test
