// A call that nothing thrown can leave: the edges of the updater (the engine's
// public operations, the worker thread's procedure) run their steps through
// it, so that an exception becomes a failed result and a log line instead of
// the end of the process.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace velisk {

namespace detail {

// Keeps `message` in `*error` (may be null). Called inside the catch block,
// while the exception and its text still live.
inline void KeepThrownMessage(const char* message, std::string* error) noexcept {
    if (error == nullptr) return;
    try {
        error->assign(message != nullptr && *message != '\0' ? message : "unknown exception");
    } catch (...) {
        // No memory for the message: a text short enough for the string's
        // own buffer still marks the failure.
        error->assign("out of memory");
    }
}

}  // namespace detail

// Runs `step` and returns its result. Whatever it throws is caught: `*error`
// (may be null) receives the exception's message, or "unknown exception" for
// one outside the standard family, and `fallback` is returned. `*error` is
// cleared first, so an empty text after the call means nothing was thrown.
template <typename Result, typename Step>
Result CallCatching(Step&& step, Result fallback, std::string* error) noexcept {
    if (error != nullptr) error->clear();
    try {
        return std::forward<Step>(step)();
    } catch (const std::exception& thrown) {
        detail::KeepThrownMessage(thrown.what(), error);
    } catch (...) {
        detail::KeepThrownMessage(nullptr, error);
    }
    return fallback;
}

}  // namespace velisk
