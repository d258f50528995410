// The class factory of NymCommand, the only class the module creates.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace pellix {

class NymCommandFactory final : public IClassFactory {
public:
    // Creates a factory (reference count 1) and returns interface `riid` of
    // it (IUnknown or IClassFactory) in `*out`. E_OUTOFMEMORY when it cannot
    // be allocated, E_NOINTERFACE for any other interface.
    static HRESULT Create(REFIID riid, void** out);

    // IUnknown
    IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    // IClassFactory
    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override;
    IFACEMETHODIMP LockServer(BOOL lock) override;

private:
    NymCommandFactory() = default;
    ~NymCommandFactory() = default;

    std::atomic<ULONG> m_refs{1};
};

}  // namespace pellix
