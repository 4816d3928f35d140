#pragma once
#include "module/python.hpp"

namespace corvane {

class Arena;

// Per-plan context handed to every conversion step. The pointers are owned by the
// plan's Arena.
struct Ctx {
    PyObject* missing = nullptr;
    PyObject* int_type = nullptr;
    PyObject* float_type = nullptr;
    PyObject* dict_type = nullptr;

    // Looks up builtins.int/float/dict; -1 with the import or attribute error set.
    int init(PyObject* missing_sentinel, Arena& arena) noexcept;
};

}  // namespace corvane
