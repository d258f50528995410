// NymCommand: the one Explorer command of the module. It offers the
// "uninstall program" entry for a single selected program file or shortcut and
// starts the registered uninstaller with that file's path.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <atomic>
#include <string>

#include "velisk/handles.h"

namespace pellix {

// {E800B8F0-90F2-464C-B7DF-C41D24015049}: the class the shell creates.
extern const CLSID CLSID_NymCommand;

class NymCommand final : public IExplorerCommand, public IObjectWithSite, public IEnumExplorerCommand {
public:
    // Creates a command (no site, no selected path), counts it as a live
    // object of the module and returns interface `riid` of it in `*out`.
    // E_OUTOFMEMORY when it cannot be allocated, E_NOINTERFACE for an
    // interface it does not have (the new object is then destroyed again).
    static HRESULT Create(REFIID riid, void** out);

    // IUnknown
    IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    // IExplorerCommand
    IFACEMETHODIMP GetTitle(IShellItemArray* items, LPWSTR* title) override;
    IFACEMETHODIMP GetIcon(IShellItemArray* items, LPWSTR* icon) override;
    IFACEMETHODIMP GetToolTip(IShellItemArray* items, LPWSTR* tip) override;
    IFACEMETHODIMP GetCanonicalName(GUID* name) override;
    IFACEMETHODIMP GetState(IShellItemArray* items, BOOL okToBeSlow, EXPCMDSTATE* state) override;
    IFACEMETHODIMP Invoke(IShellItemArray* items, IBindCtx* bindContext) override;
    IFACEMETHODIMP GetFlags(EXPCMDFLAGS* flags) override;
    IFACEMETHODIMP EnumSubCommands(IEnumExplorerCommand** commands) override;

    // IObjectWithSite
    IFACEMETHODIMP SetSite(IUnknown* site) override;
    IFACEMETHODIMP GetSite(REFIID riid, void** site) override;

    // IEnumExplorerCommand (present for the shell; the command has no
    // sub-commands)
    IFACEMETHODIMP Next(ULONG count, IExplorerCommand** commands, ULONG* fetched) override;
    IFACEMETHODIMP Skip(ULONG count) override;
    IFACEMETHODIMP Reset() override;
    IFACEMETHODIMP Clone(IEnumExplorerCommand** copy) override;

private:
    NymCommand();
    ~NymCommand();
    NymCommand(const NymCommand&) = delete;
    NymCommand& operator=(const NymCommand&) = delete;

    // The selected path when `items` holds exactly one existing program file
    // or shortcut outside the module's folder and the menu switch is on;
    // otherwise an empty text.
    static std::wstring AcceptedSelection(IShellItemArray* items);

    std::atomic<ULONG> m_refs{1};
    velisk::ComPtr<IUnknown> m_site;
    std::wstring m_selectedPath;
};

}  // namespace pellix
