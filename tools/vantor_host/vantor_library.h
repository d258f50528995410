// Loading Vantor.dll the way a host application does: by path, then its
// three exports by name.
#pragma once

#include <windows.h>

#include <string>

#include "CefWebView.h"

class VantorLibrary {
public:
    VantorLibrary() = default;
    ~VantorLibrary();
    VantorLibrary(const VantorLibrary&) = delete;
    VantorLibrary& operator=(const VantorLibrary&) = delete;

    // Loads `path` (a full path to Vantor.dll) and resolves the exports.
    // False, with nothing loaded, when the file or an export is missing.
    bool Load(const std::wstring& path);
    bool loaded() const { return m_module != nullptr; }
    HMODULE module() const { return m_module; }

    GetWebViewFactoryFn GetWebViewFactory = nullptr;
    IsSupportedWebViewEngineFn IsSupportedWebViewEngine = nullptr;
    IWebViewToIWebViewExFn IWebViewToIWebViewEx = nullptr;

private:
    HMODULE m_module = nullptr;
};
