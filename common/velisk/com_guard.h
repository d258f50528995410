// Guards for the methods that a host application or Explorer calls: nothing
// thrown inside crosses the interface. An allocation failure becomes
// E_OUTOFMEMORY and any other exception E_UNEXPECTED (or the caller's failure
// value where the method's result is not a COM status).
#pragma once

#include <windows.h>

#include <new>
#include <utility>

namespace velisk {

// Runs `body`, which returns an HRESULT; what it throws becomes
// E_OUTOFMEMORY (std::bad_alloc) or E_UNEXPECTED (anything else).
template <typename Body>
HRESULT ComGuard(Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// Runs `body` for a method whose result is not a COM status (BOOL, int):
// `failed` when anything was thrown.
template <typename Result, typename Body>
Result GuardedCall(Result failed, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failed;
    }
}

// Runs `body` for a method without a result; what it throws is dropped (the
// method's effect is then partly or wholly missing, as after any failure).
template <typename Body>
void GuardedVoidCall(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
}

}  // namespace velisk
