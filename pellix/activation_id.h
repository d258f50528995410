// The answer to a request for a WinRT activation factory. The module offers
// no activatable classes; the request is only checked for a well-formed id.
#pragma once

#include <windows.h>
#include <hstring.h>

namespace pellix {

// E_INVALIDARG for an empty class id or one with an embedded NUL (also
// reported to the WinRT error origin with the message "activatibleClassId");
// CLASS_E_CLASSNOTAVAILABLE for every other id.
HRESULT AnswerActivationRequest(HSTRING activatableClassId);

}  // namespace pellix
