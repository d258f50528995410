#include "nym_command.h"

#include <shellapi.h>

#include <cstring>
#include <new>

#include "module_state.h"
#include "path_rules.h"
#include "registry_values.h"
#include "uninstaller_path.h"
#include "velisk/com_guard.h"

namespace pellix {

// {E800B8F0-90F2-464C-B7DF-C41D24015049}
const CLSID CLSID_NymCommand = {0xe800b8f0, 0x90f2, 0x464c, {0xb7, 0xdf, 0xc4, 0x1d, 0x24, 0x01, 0x50, 0x49}};

namespace {

// "卸载程序" (uninstall program).
const wchar_t kTitle[] = L"\u5378\u8F7D\u7A0B\u5E8F";

// A copy of `text` from the COM task allocator, or null when it cannot be
// allocated. The caller (the shell) frees it with CoTaskMemFree.
LPWSTR CopyToTaskMemory(const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    if (copy != nullptr) std::memcpy(copy, text.c_str(), bytes);
    return copy;
}

}  // namespace

NymCommand::NymCommand() { AddLiveObject(); }

NymCommand::~NymCommand() { RemoveLiveObject(); }

HRESULT NymCommand::Create(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    auto* command = new (std::nothrow) NymCommand();
    if (command == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = command->QueryInterface(riid, out);
    command->Release();
    return hr;
}

IFACEMETHODIMP NymCommand::QueryInterface(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IExplorerCommand) {
        *out = static_cast<IExplorerCommand*>(this);
    } else if (riid == IID_IObjectWithSite) {
        *out = static_cast<IObjectWithSite*>(this);
    } else if (riid == IID_IEnumExplorerCommand) {
        *out = static_cast<IEnumExplorerCommand*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

IFACEMETHODIMP_(ULONG) NymCommand::AddRef() { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }

IFACEMETHODIMP_(ULONG) NymCommand::Release() {
    const ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

std::wstring NymCommand::AcceptedSelection(IShellItemArray* items) {
    if (items == nullptr) return {};
    DWORD count = 0;
    if (FAILED(items->GetCount(&count)) || count != 1) return {};
    if (!ReadMenuSwitch()) return {};
    velisk::ComPtr<IShellItem> item;
    if (FAILED(items->GetItemAt(0, item.receive())) || !item) return {};
    velisk::UniqueCoTaskString path;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, path.receive())) || !path) return {};
    // A shortcut is taken as it is: the uninstaller gets the link's own path.
    std::wstring selected(path.get());
    if (!HasProgramExtension(selected) || !PathExists(selected)) return {};
    if (IsPathInsideFolder(selected, ModuleFolder())) return {};
    return selected;
}

IFACEMETHODIMP NymCommand::GetTitle(IShellItemArray* items, LPWSTR* title) {
    if (title == nullptr) return E_POINTER;
    *title = nullptr;
    const HRESULT hr = velisk::ComGuard([&] {
        m_selectedPath = AcceptedSelection(items);
        if (m_selectedPath.empty()) return E_NOTIMPL;
        *title = CopyToTaskMemory(kTitle);
        return *title != nullptr ? S_OK : E_OUTOFMEMORY;
    });
    // A failed title leaves nothing selected for a later Invoke.
    if (FAILED(hr)) m_selectedPath.clear();
    return hr;
}

IFACEMETHODIMP NymCommand::GetIcon(IShellItemArray*, LPWSTR* icon) {
    if (icon == nullptr) return E_POINTER;
    *icon = nullptr;
    return velisk::ComGuard([&] {
        *icon = CopyToTaskMemory(IconLocationFor(CurrentUninstallerPath()));
        return *icon != nullptr ? S_OK : E_OUTOFMEMORY;
    });
}

IFACEMETHODIMP NymCommand::GetToolTip(IShellItemArray*, LPWSTR* tip) {
    if (tip != nullptr) *tip = nullptr;
    return E_NOTIMPL;
}

IFACEMETHODIMP NymCommand::GetCanonicalName(GUID* name) {
    if (name == nullptr) return E_POINTER;
    *name = GUID_NULL;
    return S_OK;
}

IFACEMETHODIMP NymCommand::GetState(IShellItemArray*, BOOL, EXPCMDSTATE* state) {
    if (state == nullptr) return E_POINTER;
    *state = ECS_ENABLED;
    return S_OK;
}

IFACEMETHODIMP NymCommand::Invoke(IShellItemArray*, IBindCtx*) {
    return velisk::ComGuard([&] {
        const std::wstring uninstaller = CurrentUninstallerPath();
        if (!PathExists(uninstaller)) return E_INVALIDARG;
        const std::wstring parameters = L"/from=rmenu11 /uninstall_path=\"" + m_selectedPath + L"\"";
        // Empty verb: the file's default action. What the shell reports is
        // not passed on; the entry has nothing to show for it.
        ::ShellExecuteW(nullptr, L"", uninstaller.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
        return S_OK;
    });
}

IFACEMETHODIMP NymCommand::GetFlags(EXPCMDFLAGS* flags) {
    if (flags == nullptr) return E_POINTER;
    *flags = ECF_DEFAULT;
    return S_OK;
}

IFACEMETHODIMP NymCommand::EnumSubCommands(IEnumExplorerCommand** commands) {
    if (commands != nullptr) *commands = nullptr;
    return E_NOTIMPL;
}

IFACEMETHODIMP NymCommand::SetSite(IUnknown* site) {
    m_site = site;
    return S_OK;
}

IFACEMETHODIMP NymCommand::GetSite(REFIID riid, void** site) {
    if (site == nullptr) return E_POINTER;
    *site = nullptr;
    if (!m_site) return E_FAIL;
    return m_site->QueryInterface(riid, site);
}

IFACEMETHODIMP NymCommand::Next(ULONG count, IExplorerCommand** commands, ULONG* fetched) {
    if (fetched != nullptr) *fetched = 0;
    if (commands != nullptr) {
        for (ULONG i = 0; i < count; ++i) commands[i] = nullptr;
    }
    // Nothing to hand out: a request for one or more commands is answered
    // with S_FALSE (fewer than asked for), so enumeration loops end.
    return count == 0 ? S_OK : S_FALSE;
}

IFACEMETHODIMP NymCommand::Skip(ULONG) { return E_NOTIMPL; }

IFACEMETHODIMP NymCommand::Reset() { return S_OK; }

IFACEMETHODIMP NymCommand::Clone(IEnumExplorerCommand** copy) {
    if (copy != nullptr) *copy = nullptr;
    return E_NOTIMPL;
}

}  // namespace pellix
