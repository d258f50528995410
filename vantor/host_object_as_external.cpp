#include "host_object_as_external.h"

#include <new>
#include <vector>

#include "module_state.h"
#include "script_arguments.h"
#include "velisk/com_guard.h"

namespace vantor {

namespace {

// Dispatch id, locale and flags of a page function call: the function object
// itself is called.
constexpr DISPID kCallFunction = DISPID_UNKNOWN;
constexpr LCID kUserDefaultLocale = 0x400;

void TraceFailure(const wchar_t* what, HRESULT hr) {
    wchar_t line[160];
    wsprintfW(line, L"HostObjectASExternal: %s failed 0x%08lX\n", what, static_cast<unsigned long>(hr));
    ::OutputDebugStringW(line);
}

std::wstring FromBstr(BSTR text) { return text != nullptr ? std::wstring(text, ::SysStringLen(text)) : L""; }

}  // namespace

CHostObjectASExternal* CHostObjectASExternal::Create() { return new (std::nothrow) CHostObjectASExternal(); }

CHostObjectASExternal::~CHostObjectASExternal() {
    auto functions = std::move(m_hostFunctions);
    for (auto& entry : functions) entry.second->Release();
    m_pageFunctions.clear();
}

HRESULT STDMETHODCALLTYPE CHostObjectASExternal::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IHostObjectASExternal))) {
        *out = static_cast<IHostObjectASExternal*>(this);
    } else if (IsEqualIID(iid, IID_IDispatch)) {
        *out = static_cast<IDispatch*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CHostObjectASExternal::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&m_refs));
}

ULONG STDMETHODCALLTYPE CHostObjectASExternal::Release() {
    const LONG left = ::InterlockedDecrement(&m_refs);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE CHostObjectASExternal::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT CHostObjectASExternal::LoadTypeInfo(ITypeInfo** info) {
    if (!m_typeLibrary) {
        // "<module path>\1" names type-library resource 1 of that file.
        const std::wstring path = GetOwnModulePath() + L"\\1";
        const HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, m_typeLibrary.receive());
        if (FAILED(hr)) {
            m_typeLibrary.reset();
            return hr;
        }
    }
    return m_typeLibrary->GetTypeInfoOfGuid(__uuidof(IHostObjectASExternal), info);
}

HRESULT STDMETHODCALLTYPE CHostObjectASExternal::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    return velisk::ComGuard([&]() -> HRESULT {
        if (index != 0) return TYPE_E_ELEMENTNOTFOUND;
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        return LoadTypeInfo(info);
    });
}

HRESULT STDMETHODCALLTYPE CHostObjectASExternal::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale,
                                                               DISPID* ids) {
    return velisk::ComGuard([&]() -> HRESULT {
        velisk::ComPtr<ITypeInfo> info;
        const HRESULT hr = GetTypeInfo(0, locale, info.receive());
        if (FAILED(hr)) {
            TraceFailure(L"GetIDsOfNames: type information", hr);
            return hr;
        }
        return info->GetIDsOfNames(names, count, ids);
    });
}

HRESULT STDMETHODCALLTYPE CHostObjectASExternal::Invoke(DISPID id, REFIID, LCID locale, WORD flags,
                                                        DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                                        UINT* argumentError) {
    return velisk::ComGuard([&]() -> HRESULT {
        velisk::ComPtr<ITypeInfo> info;
        const HRESULT hr = GetTypeInfo(0, locale, info.receive());
        if (FAILED(hr)) {
            TraceFailure(L"Invoke: type information", hr);
            return hr;
        }
        return info->Invoke(static_cast<IHostObjectASExternal*>(this), id, flags, params, result, exception,
                            argumentError);
    });
}

HRESULT STDMETHODCALLTYPE CHostObjectASExternal::Execute(BSTR funcName, BSTR jsonParam, BSTR* jsonResult) {
    return velisk::ComGuard([&]() -> HRESULT {
        if (jsonResult == nullptr) return E_POINTER;
        *jsonResult = nullptr;
        // A host function may close or reload the view, which lets go of this
        // object; it must outlive the call.
        const velisk::ComPtr<CHostObjectASExternal> keepAlive(this);
        std::wstring answer;
        HRESULT status = E_NOTIMPL;

        const std::wstring name = FromBstr(funcName);
        auto found = m_hostFunctions.find(name);
        if (found != m_hostFunctions.end()) {
            std::vector<std::wstring> args;
            const size_t length = jsonParam != nullptr ? ::SysStringLen(jsonParam) : 0;
            if (!ConvertExecuteParameters(name, jsonParam, length, &args)) {
                status = E_INVALIDARG;
            } else {
                status = S_OK;
                std::vector<const wchar_t*> pointers;
                for (const auto& arg : args) pointers.push_back(arg.c_str());
                CefWebView::IHostFunction* function = found->second;
                wchar_t* result = nullptr;
                function->Call(name.c_str(), pointers.empty() ? nullptr : pointers.data(),
                               static_cast<int>(pointers.size()), &result);
                if (result != nullptr) {
                    // The host's string goes back to it even when there is no
                    // memory for the answer.
                    const bool wrapped = velisk::GuardedCall<bool>(false, [&] {
                        answer = WrapExecuteAnswer(result);
                        return true;
                    });
                    // The function may have withdrawn itself during the call (and
                    // been released); only a function still entered is told.
                    auto still = m_hostFunctions.find(name);
                    if (still != m_hostFunctions.end() && still->second == function) function->FreeResult(result);
                    if (!wrapped) return E_OUTOFMEMORY;
                }
            }
        }
        *jsonResult = ::SysAllocStringLen(answer.data(), static_cast<UINT>(answer.size()));
        if (*jsonResult == nullptr) return E_OUTOFMEMORY;
        return status;
    });
}

HRESULT STDMETHODCALLTYPE CHostObjectASExternal::RegisterFunction(BSTR funcName, IDispatch* func) {
    return velisk::ComGuard([&]() -> HRESULT {
        const std::wstring name = FromBstr(funcName);
        m_pageFunctions.erase(name);
        if (func != nullptr) m_pageFunctions.emplace(name, velisk::ComPtr<IDispatch>(func));
        return S_OK;
    });
}

void CHostObjectASExternal::SetHostFunction(const std::wstring& name, CefWebView::IHostFunction* function) {
    RemoveHostFunction(name);
    if (function != nullptr) m_hostFunctions.emplace(name, function);
}

void CHostObjectASExternal::RemoveHostFunction(const std::wstring& name) {
    auto found = m_hostFunctions.find(name);
    if (found == m_hostFunctions.end()) return;
    CefWebView::IHostFunction* function = found->second;
    m_hostFunctions.erase(found);
    function->Release();
}

HRESULT CHostObjectASExternal::CallPageFunction(const std::wstring& name, const wchar_t* const* args, int count) {
    auto found = m_pageFunctions.find(name);
    if (found == m_pageFunctions.end()) return E_NOTIMPL;
    velisk::ComPtr<IDispatch> function = found->second;  // held while the page runs

    VARIANTARG argument;
    ::VariantInit(&argument);
    DISPPARAMS params = {};
    std::wstring payload;
    if (BuildPagePayload(name, args, count, &payload)) {
        V_VT(&argument) = VT_BSTR;
        V_BSTR(&argument) = ::SysAllocStringLen(payload.data(), static_cast<UINT>(payload.size()));
        if (V_BSTR(&argument) == nullptr) return E_OUTOFMEMORY;
        params.rgvarg = &argument;
        params.cArgs = 1;
    }
    const HRESULT hr =
        function->Invoke(kCallFunction, IID_NULL, kUserDefaultLocale, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    ::VariantClear(&argument);
    return hr;
}

}  // namespace vantor
