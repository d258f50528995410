// CHostObjectASExternal: the object that a page sees as "asexternal". Page
// script calls host functions through Execute and registers its own functions
// through RegisterFunction; the view calls those page functions and keeps the
// table of host functions. Dispatch information comes from the type library
// stored as resource "TYPELIB" 1 of this library's own file.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <map>
#include <string>

#include "CefWebView.h"
#include "velisk/handles.h"

// The automation interface described in host_object_as_external.idl; the
// slot order and IID must match the type library.
struct IHostObjectASExternal : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Execute(BSTR funcName, BSTR jsonParam, BSTR* jsonResult) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE RegisterFunction(BSTR funcName, IDispatch* func) = 0;          // 4
};
__CRT_UUID_DECL(IHostObjectASExternal, 0xC1B25511, 0x8C93, 0x4F26, 0x84, 0x42, 0x7D, 0x80, 0x8E, 0x39, 0x95, 0xA1)

namespace vantor {

class CHostObjectASExternal final : public IHostObjectASExternal, public IDispatch {
public:
    // A new object with one reference and empty tables; null when out of memory.
    static CHostObjectASExternal* Create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch through the type information of IHostObjectASExternal.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // Calls the host function registered under `funcName` with the arguments
    // that `jsonParam` converts to (see ConvertExecuteParameters) and answers
    // {"r1":"<its result>"}, or an empty text when it gave none. Returns 0
    // when the function was called, 0x80004001 when no function has the name,
    // 0x80070057 when a parameter member cannot be converted (nothing called),
    // E_POINTER when `jsonResult` is null.
    HRESULT STDMETHODCALLTYPE Execute(BSTR funcName, BSTR jsonParam, BSTR* jsonResult) override;
    // Keeps `func` (with a reference) under `funcName`, replacing an earlier
    // one. A null `func` removes the entry. Returns 0.
    HRESULT STDMETHODCALLTYPE RegisterFunction(BSTR funcName, IDispatch* func) override;

    // Enters a host function under `name` (no reference is taken; the old
    // entry's function is released). A null `function` only removes.
    void SetHostFunction(const std::wstring& name, CefWebView::IHostFunction* function);
    // Removes the host function under `name` and releases it, if there is one.
    void RemoveHostFunction(const std::wstring& name);
    // Calls the page function registered under `name` with the payload built
    // from `args` (see BuildPagePayload). Returns the page function's status,
    // or 0x80004001 when the page registered no function under the name.
    HRESULT CallPageFunction(const std::wstring& name, const wchar_t* const* args, int count);

private:
    CHostObjectASExternal() = default;
    ~CHostObjectASExternal();

    HRESULT LoadTypeInfo(ITypeInfo** info);

    LONG m_refs = 1;
    std::map<std::wstring, CefWebView::IHostFunction*> m_hostFunctions;
    std::map<std::wstring, velisk::ComPtr<IDispatch>> m_pageFunctions;
    velisk::ComPtr<ITypeLib> m_typeLibrary;
};

}  // namespace vantor
