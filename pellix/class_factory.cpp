#include "class_factory.h"

#include <new>

#include "module_state.h"
#include "nym_command.h"

namespace pellix {

HRESULT NymCommandFactory::Create(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    auto* factory = new (std::nothrow) NymCommandFactory();
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, out);
    factory->Release();
    return hr;
}

IFACEMETHODIMP NymCommandFactory::QueryInterface(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

IFACEMETHODIMP_(ULONG) NymCommandFactory::AddRef() { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }

IFACEMETHODIMP_(ULONG) NymCommandFactory::Release() {
    const ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

IFACEMETHODIMP NymCommandFactory::CreateInstance(IUnknown* outer, REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return NymCommand::Create(riid, out);
}

IFACEMETHODIMP NymCommandFactory::LockServer(BOOL lock) {
    if (lock) {
        AddLiveObject();
    } else {
        RemoveLiveObject();
    }
    return S_OK;
}

}  // namespace pellix
