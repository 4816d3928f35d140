#pragma once
#include "module/python.hpp"

namespace corvane {

// The process-wide AccelFallback type (created once at the first initialisation).
extern PyObject* g_accel_fallback;

// What a run returns once it has given up: it reads as the failure value of either
// calling convention (nullptr or -1), so one helper serves both.
struct Failed {
    constexpr operator PyObject*() const noexcept { return nullptr; }
    constexpr operator int() const noexcept { return -1; }
};

// Sets a new, argument-less AccelFallback: `return raise_fallback();`.
inline Failed raise_fallback() noexcept {
    PyErr_SetNone(g_accel_fallback);
    return {};
}

// Turns the pending exception into AccelFallback, except KeyboardInterrupt and
// SystemExit, which must reach the caller as they are.
Failed to_fallback() noexcept;

}  // namespace corvane
