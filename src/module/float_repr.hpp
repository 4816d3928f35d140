// The text of exact floats: our own where the interpreter's repr is the short one
// (sys.float_repr_style == "short"), the interpreter's formatter elsewhere.
#pragma once
#include "module/python.hpp"

namespace corvane {

// Set by decide_float_text at the first plan construction, then never changed.
extern bool g_own_float_text;
void decide_float_text() noexcept;

// str() of an exact float: a new reference, or nullptr with an exception set.
PyObject* exact_float_str(PyObject* v) noexcept;

}  // namespace corvane
