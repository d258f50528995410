// A call that nothing thrown can leave: the edges of the updater (the engine's
// public operations, the worker thread's procedure) run their steps through
// it, so that an exception becomes a failed result and a log line instead of
// the end of the process.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace velisk {

// Puts `message` (null or empty: "unknown exception") into `*error` when
// `error` is not null; without memory for it, the short "out of memory".
inline void StoreMessage(std::string* error, const char* message) noexcept {
    if (error == nullptr) return;
    try {
        error->assign(message != nullptr && *message != '\0' ? message : "unknown exception");
    } catch (...) {
        error->assign("out of memory");  // fits the string's own buffer
    }
}

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
        // The message is copied while the exception still lives: what() points
        // into the exception object, which is gone after the handler.
        StoreMessage(error, thrown.what());
    } catch (...) {
        StoreMessage(error, nullptr);
    }
    return fallback;
}

}  // namespace velisk
