#pragma once
#include "module/python.hpp"

namespace corvane {

// Binds a vectorcall-style argument list to `n` required positional-or-keyword
// parameters, raising TypeError in CPython's wording. `out` receives borrowed refs.
bool bind_args(const char* fname, const char* const* params, int n, PyObject* const* args,
               Py_ssize_t nargs, PyObject* kwnames, PyObject** out) noexcept;

// `many` and friends must be real bools: an int such as 0 or 1 is refused.
bool bool_arg(const char* fname, const char* param, PyObject* obj, bool& out) noexcept;

}  // namespace corvane
