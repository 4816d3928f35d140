// Plain Python data to JSON text, byte for byte what json.dumps gives with its default
// settings (the C encoder of Modules/_json.c behind Lib/json/encoder.py). Every writer
// returns 0, or -1 with an exception set; AccelFallback where the text would differ.
#pragma once
#include "json_out/buffer.hpp"

namespace corvane::json_out {

// Appends `utf8` as a double-quoted literal, non-ASCII as \uXXXX (ensure_ascii).
// Fails only when the buffer cannot grow.
bool json_escape_into(Buffer& b, const char* utf8, size_t n) noexcept;

// A str (or subclass) by its stored text. One with no UTF-8 form (a lone surrogate) is
// escaped code point by code point, as encode_basestring_ascii does.
int write_str(Buffer& b, PyObject* s) noexcept;

int write_int(Buffer& b, PyObject* v) noexcept;    // exact int
int write_float(Buffer& b, PyObject* v) noexcept;  // exact float
int write_list(Buffer& b, PyObject* v) noexcept;   // exact list
int write_dict(Buffer& b, PyObject* v) noexcept;   // exact dict
// Tuples, container subclasses and everything json.dumps would write differently.
int write_uncommon(Buffer& b, PyObject* v) noexcept;

inline int write_json_value(Buffer& b, PyObject* v) noexcept {
    PyTypeObject* t = Py_TYPE(v);
    if (t == &PyUnicode_Type) return write_str(b, v);
    if (t == &PyLong_Type) return write_int(b, v);
    if (v == Py_None) return b.append("null") ? 0 : -1;
    if (t == &PyFloat_Type) return write_float(b, v);
    if (t == &PyBool_Type) return (v == Py_True ? b.append("true") : b.append("false")) ? 0 : -1;
    if (t == &PyList_Type) return write_list(b, v);
    if (t == &PyDict_Type) return write_dict(b, v);
    return write_uncommon(b, v);
}

}  // namespace corvane::json_out
