// A host that loads Pellix.dll the way Explorer does: LoadLibrary, the
// exported entry points, the class factory, and shell item arrays built from
// real paths.
#pragma once

#include <windows.h>
#include <activation.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "velisk/handles.h"

namespace pellix_test {

// {E800B8F0-90F2-464C-B7DF-C41D24015049}
extern const CLSID kNymCommandClsid;

// One loaded copy of the module, freed when the object goes away.
class LoadedModule {
public:
    // Loads the DLL at `dllPath`; loaded() tells whether that worked and all
    // three entry points were found.
    explicit LoadedModule(const std::wstring& dllPath);

    bool loaded() const;
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** out) const;
    HRESULT GetActivationFactory(HSTRING id, IActivationFactory** out) const;
    HRESULT CanUnloadNow() const;

    // DllGetClassObject, then IClassFactory::CreateInstance for
    // IExplorerCommand, then the factory is released; null on any failure.
    velisk::ComPtr<IExplorerCommand> CreateCommand() const;

private:
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using GetActivationFactoryFn = HRESULT(STDAPICALLTYPE*)(HSTRING, IActivationFactory**);
    using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

    velisk::UniqueLibrary m_library;
    GetClassObjectFn m_getClassObject = nullptr;
    GetActivationFactoryFn m_getActivationFactory = nullptr;
    CanUnloadNowFn m_canUnloadNow = nullptr;
};

// A shell item array made from item id lists of the given paths (the way a
// folder view hands over its selection); null when a path cannot be parsed.
velisk::ComPtr<IShellItemArray> SelectionFromIdLists(const std::vector<std::wstring>& paths);

// A one-item array made from a shell item parsed from `path`; null on failure.
velisk::ComPtr<IShellItemArray> SelectionFromParsingName(const std::wstring& path);

// A one-item array holding the "My Computer" folder, an item with no
// file-system path.
velisk::ComPtr<IShellItemArray> SelectionOfVirtualFolder();

// Result and text of GetTitle; the text is freed here. `hasTitle` tells
// whether the out title was non-null.
struct TitleAnswer {
    HRESULT hr = E_UNEXPECTED;
    bool hasTitle = false;
    std::wstring title;
};
TitleAnswer AskTitle(IExplorerCommand* command, IShellItemArray* items);

// Result and text of GetIcon; the text is freed here.
struct IconAnswer {
    HRESULT hr = E_UNEXPECTED;
    std::wstring icon;
};
IconAnswer AskIcon(IExplorerCommand* command);

// Saves a shell link at `linkPath` that points at `targetPath`.
bool CreateShortcut(const std::wstring& linkPath, const std::wstring& targetPath);

// Writes a small valid 16x16 icon file.
bool WriteIconFile(const std::wstring& path);

}  // namespace pellix_test
