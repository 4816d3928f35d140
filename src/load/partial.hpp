#pragma once
#include "module/python.hpp"
#include "module/ref.hpp"

#include <cstdint>

namespace corvane::load {

// Which absent fields a load skips: none, all, or those named in a selection whose
// dotted entries reach into nested schemas.
struct Partial {
    enum class State : uint8_t { None, All, Names };
    State state = State::None;
    Ref names;  // Names: the caller's selection, or a derived list of str

    // The binding layer's conversion of the `partial` argument (by identity and exact type).
    static Partial from_arg(PyObject* arg) noexcept;
    // The selection for the level below the field `name`; -1 with an exception set.
    static int derive(const Partial& partial, PyObject* name, Partial& out) noexcept;
    // Whether an absent field called `name` is skipped: 1 yes, 0 no, -1 with an exception
    // set (the error of the `in` test, or AccelFallback for a selection `in` would consume).
    int skips(PyObject* name) const noexcept;
};

}  // namespace corvane::load
