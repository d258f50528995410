#include "activation_id.h"

#include <cwchar>

namespace pellix {

namespace {

// The WinRT string and error functions live in combase.dll, which is loaded
// in every process that can hand us an HSTRING. They are looked up at run time
// so the module does not depend on combase at load time.
using GetRawBufferFn = PCWSTR(WINAPI*)(HSTRING, UINT32*);
using CreateStringFn = HRESULT(WINAPI*)(PCWSTR, UINT32, HSTRING*);
using DeleteStringFn = HRESULT(WINAPI*)(HSTRING);
using OriginateErrorFn = BOOL(WINAPI*)(HRESULT, HSTRING);

template <typename Fn>
Fn CombaseFunction(const char* name) {
    HMODULE combase = ::GetModuleHandleW(L"combase.dll");
    if (combase == nullptr) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(combase, name)));
}

// True for the empty id and for an id with a NUL before its end. An id whose
// text cannot be read counts as well-formed (it names no class either way).
bool IsEmptyOrHasEmbeddedNull(HSTRING id) {
    if (id == nullptr) return true;  // the null HSTRING is the empty string
    const auto getRawBuffer = CombaseFunction<GetRawBufferFn>("WindowsGetStringRawBuffer");
    if (getRawBuffer == nullptr) return false;
    UINT32 length = 0;
    const wchar_t* text = getRawBuffer(id, &length);
    if (text == nullptr || length == 0) return true;
    return ::wcsnlen(text, length) < length;
}

void ReportInvalidId() {
    static const wchar_t kMessage[] = L"activatibleClassId";
    const auto createString = CombaseFunction<CreateStringFn>("WindowsCreateString");
    const auto deleteString = CombaseFunction<DeleteStringFn>("WindowsDeleteString");
    const auto originate = CombaseFunction<OriginateErrorFn>("RoOriginateError");
    if (createString == nullptr || deleteString == nullptr || originate == nullptr) return;
    HSTRING message = nullptr;
    if (FAILED(createString(kMessage, static_cast<UINT32>(std::wcslen(kMessage)), &message))) return;
    originate(E_INVALIDARG, message);
    deleteString(message);
}

}  // namespace

HRESULT AnswerActivationRequest(HSTRING activatableClassId) {
    if (IsEmptyOrHasEmbeddedNull(activatableClassId)) {
        ReportInvalidId();
        return E_INVALIDARG;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace pellix
