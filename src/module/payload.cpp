#include "module/payload.hpp"

#include <cstring>

#include "module/arena.hpp"
#include "module/compat.hpp"

namespace corvane::payload {

void cast_error(PyObject* obj, const char* expected) noexcept {
    Ref name = type_name(Py_TYPE(obj));
    if (!name) return;
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be cast as '%s'", name.get(), expected);
}

bool expect_tuple(PyObject* obj) noexcept {
    if (PyTuple_Check(obj)) return true;
    cast_error(obj, "tuple");
    return false;
}

bool expect_list(PyObject* obj) noexcept {
    if (PyList_Check(obj)) return true;
    cast_error(obj, "list");
    return false;
}

bool expect_str(PyObject* obj) noexcept {
    if (PyUnicode_Check(obj)) return true;
    cast_error(obj, "str");
    return false;
}

PyObject* item(PyObject* tuple, Py_ssize_t i) noexcept {
    // PyTuple_GetItem raises CPython's own "tuple index out of range".
    return PyTuple_GetItem(tuple, i);
}

PyObject* tuple_at(PyObject* tuple, Py_ssize_t i) noexcept {
    PyObject* o = item(tuple, i);
    return o && expect_tuple(o) ? o : nullptr;
}

PyObject* list_at(PyObject* tuple, Py_ssize_t i) noexcept {
    PyObject* o = item(tuple, i);
    return o && expect_list(o) ? o : nullptr;
}

PyObject* str_at(PyObject* tuple, Py_ssize_t i) noexcept {
    PyObject* o = item(tuple, i);
    return o && expect_str(o) ? o : nullptr;
}

int bool_at(PyObject* tuple, Py_ssize_t i, bool& out) noexcept {
    PyObject* o = item(tuple, i);
    if (!o) return -1;
    if (!PyBool_Check(o)) {
        cast_error(o, "bool");
        return -1;
    }
    out = o == Py_True;
    return 0;
}

int u8_of(PyObject* obj, uint8_t& out) noexcept {
    int overflow = 0;
    long v = PyLong_AsLongAndOverflow(obj, &overflow);
    if (v == -1 && PyErr_Occurred()) return -1;
    if (overflow || v < 0 || v > 255) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        return -1;
    }
    out = static_cast<uint8_t>(v);
    return 0;
}

int u8_at(PyObject* tuple, Py_ssize_t i, uint8_t& out) noexcept {
    PyObject* o = item(tuple, i);
    return o ? u8_of(o, out) : -1;
}

int split_path(PyObject* attribute, Arena& arena, std::vector<PyObject*>& path) noexcept {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(attribute, &size);
    if (!text) return -1;
    if (!std::memchr(text, '.', static_cast<size_t>(size))) return 0;
    const char* end = text + size;
    const char* start = text;
    for (;;) {
        const char* dot = static_cast<const char*>(std::memchr(start, '.', static_cast<size_t>(end - start)));
        const char* stop = dot ? dot : end;
        PyObject* piece = arena.adopt(PyUnicode_FromStringAndSize(start, stop - start));
        if (!piece) return -1;
        try {
            path.push_back(piece);
        } catch (...) {
            PyErr_NoMemory();
            return -1;
        }
        if (!dot) return 0;
        start = dot + 1;
    }
}

}  // namespace corvane::payload
