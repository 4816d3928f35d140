#pragma once
#include "module/python.hpp"

namespace corvane {

// The process-wide AccelFallback type (created once at the first initialisation).
extern PyObject* g_accel_fallback;

// Sets a new, argument-less AccelFallback; returns nullptr so callers can `return raise_fallback();`.
inline PyObject* raise_fallback() noexcept {
    PyErr_SetNone(g_accel_fallback);
    return nullptr;
}
inline int raise_fallback_int() noexcept {
    PyErr_SetNone(g_accel_fallback);
    return -1;
}

// Turns the pending exception into AccelFallback, except KeyboardInterrupt and
// SystemExit, which must reach the caller as they are.
void to_fallback() noexcept;

}  // namespace corvane
