#include "module/float_repr.hpp"

#include <cmath>

#include "module/number_text.hpp"

namespace corvane {

bool g_own_float_text = false;

void decide_float_text() noexcept {
    static bool decided = false;
    if (decided) return;
    decided = true;
    // Borrowed, and no exception when absent.
    PyObject* style = PySys_GetObject("float_repr_style");
    g_own_float_text = style && PyUnicode_Check(style) && PyUnicode_CompareWithASCIIString(style, "short") == 0;
}

PyObject* exact_float_str(PyObject* v) noexcept {
    const double d = PyFloat_AsDouble(v);
    if (!g_own_float_text || !std::isfinite(d)) return PyObject_Str(v);
    char text[number_text::kReprRoom];
    const char* end = number_text::write_repr(text, d);
    return PyUnicode_FromStringAndSize(text, end - text);
}

}  // namespace corvane
