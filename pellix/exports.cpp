// The module's entry points: the loader's DllMain and the three functions the
// system calls in an in-process COM or WinRT server (exported by name through
// Pellix.def).
#include <windows.h>
#include <activation.h>
#include <objbase.h>

#include "activation_id.h"
#include "class_factory.h"
#include "module_state.h"
#include "nym_command.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) pellix::RecordModuleHandle(instance);
    return TRUE;
}

// While a command object (or a server lock) is alive the module answers
// E_NOTIMPL and leaves `out` as it is; otherwise the class factory of
// NymCommand for its class id, CLASS_E_CLASSNOTAVAILABLE for any other.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
    if (pellix::LiveObjectCount() != 0) return E_NOTIMPL;
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (clsid != pellix::CLSID_NymCommand) return CLASS_E_CLASSNOTAVAILABLE;
    return pellix::NymCommandFactory::Create(riid, out);
}

// The module has no activatable classes.
STDAPI DllGetActivationFactory(HSTRING activatableClassId, IActivationFactory** factory) {
    if (factory == nullptr) return E_POINTER;
    *factory = nullptr;
    return pellix::AnswerActivationRequest(activatableClassId);
}

STDAPI DllCanUnloadNow() { return pellix::LiveObjectCount() == 0 ? S_OK : S_FALSE; }

}  // extern "C"
