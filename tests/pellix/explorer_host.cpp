#include "pellix/explorer_host.h"

#include <shlobj.h>

#include <string>

#include "support/test_support.h"

namespace pellix_test {

const CLSID kNymCommandClsid = {0xe800b8f0, 0x90f2, 0x464c, {0xb7, 0xdf, 0xc4, 0x1d, 0x24, 0x01, 0x50, 0x49}};

namespace {

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

using UniqueIdList = velisk::UniqueHandle<velisk::handle_traits::CoTaskMemory<ITEMIDLIST>>;

}  // namespace

LoadedModule::LoadedModule(const std::wstring& dllPath) : m_library(::LoadLibraryW(dllPath.c_str())) {
    if (!m_library) return;
    m_getClassObject = Export<GetClassObjectFn>(m_library.get(), "DllGetClassObject");
    m_getActivationFactory = Export<GetActivationFactoryFn>(m_library.get(), "DllGetActivationFactory");
    m_canUnloadNow = Export<CanUnloadNowFn>(m_library.get(), "DllCanUnloadNow");
}

bool LoadedModule::loaded() const {
    return m_library && m_getClassObject && m_getActivationFactory && m_canUnloadNow;
}

HRESULT LoadedModule::GetClassObject(REFCLSID clsid, REFIID riid, void** out) const {
    return m_getClassObject(clsid, riid, out);
}

HRESULT LoadedModule::GetActivationFactory(HSTRING id, IActivationFactory** out) const {
    return m_getActivationFactory(id, out);
}

HRESULT LoadedModule::CanUnloadNow() const { return m_canUnloadNow(); }

velisk::ComPtr<IExplorerCommand> LoadedModule::CreateCommand() const {
    velisk::ComPtr<IClassFactory> factory;
    velisk::ComPtr<IExplorerCommand> command;
    if (FAILED(GetClassObject(kNymCommandClsid, IID_IClassFactory, factory.receiveVoid())) || !factory) {
        return command;
    }
    if (FAILED(factory->CreateInstance(nullptr, IID_IExplorerCommand, command.receiveVoid()))) command.reset();
    return command;
}

velisk::ComPtr<IShellItemArray> SelectionFromIdLists(const std::vector<std::wstring>& paths) {
    std::vector<UniqueIdList> owned;
    std::vector<LPCITEMIDLIST> lists;
    for (const auto& path : paths) {
        owned.emplace_back(::ILCreateFromPathW(path.c_str()));
        if (!owned.back()) return {};
        lists.push_back(owned.back().get());
    }
    velisk::ComPtr<IShellItemArray> items;
    if (FAILED(::SHCreateShellItemArrayFromIDLists(static_cast<UINT>(lists.size()), lists.data(), items.receive()))) {
        items.reset();
    }
    return items;
}

velisk::ComPtr<IShellItemArray> SelectionFromParsingName(const std::wstring& path) {
    velisk::ComPtr<IShellItem> item;
    velisk::ComPtr<IShellItemArray> items;
    if (FAILED(::SHCreateItemFromParsingName(path.c_str(), nullptr, IID_IShellItem, item.receiveVoid()))) {
        return items;
    }
    if (FAILED(::SHCreateShellItemArrayFromShellItem(item.get(), IID_IShellItemArray, items.receiveVoid()))) {
        items.reset();
    }
    return items;
}

velisk::ComPtr<IShellItemArray> SelectionOfVirtualFolder() {
    UniqueIdList list;
    velisk::ComPtr<IShellItemArray> items;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, list.receive()))) return items;
    LPCITEMIDLIST lists[] = {list.get()};
    if (FAILED(::SHCreateShellItemArrayFromIDLists(1, lists, items.receive()))) items.reset();
    return items;
}

TitleAnswer AskTitle(IExplorerCommand* command, IShellItemArray* items) {
    TitleAnswer answer;
    velisk::UniqueCoTaskString title;
    answer.hr = command->GetTitle(items, title.receive());
    answer.hasTitle = title.valid();
    if (title) answer.title = title.get();
    return answer;
}

IconAnswer AskIcon(IExplorerCommand* command) {
    IconAnswer answer;
    velisk::UniqueCoTaskString icon;
    answer.hr = command->GetIcon(nullptr, icon.receive());
    if (icon) answer.icon = icon.get();
    return answer;
}

bool CreateShortcut(const std::wstring& linkPath, const std::wstring& targetPath) {
    velisk::ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.receiveVoid()))) {
        return false;
    }
    velisk::ComPtr<IPersistFile> file;
    return SUCCEEDED(link->SetPath(targetPath.c_str())) && SUCCEEDED(link.As(&file)) &&
           SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
}

bool WriteIconFile(const std::wstring& path) {
    // One 16x16 32-bit image: directory, entry, bitmap header (double height
    // for colour and mask), pixels, and the 1-bit mask (4 bytes per row).
    const uint32_t pixelBytes = 16 * 16 * 4;
    const uint32_t maskBytes = 16 * 4;
    const uint32_t imageBytes = 40 + pixelBytes + maskBytes;
    std::string data;
    auto put16 = [&](uint16_t v) { data.append(reinterpret_cast<const char*>(&v), 2); };
    auto put32 = [&](uint32_t v) { data.append(reinterpret_cast<const char*>(&v), 4); };
    put16(0), put16(1), put16(1);                      // reserved, type icon, one image
    data += '\x10', data += '\x10', data += '\0', data += '\0';  // 16x16, no palette
    put16(1), put16(32), put32(imageBytes), put32(6 + 16);
    put32(40), put32(16), put32(32), put16(1), put16(32), put32(0), put32(pixelBytes);
    put32(0), put32(0), put32(0), put32(0);
    for (uint32_t i = 0; i < 16 * 16; ++i) put32(0xFF2060C0u);
    data.append(maskBytes, '\0');
    return testing_support::WriteBytes(path, data);
}

}  // namespace pellix_test
