// The object-access rule: items before attributes, and absence as the missing sentinel.
#include "dump/internal.hpp"
#include "module/names.hpp"

namespace corvane::dump {
namespace {

// What the host's item lookup treats as "not there": anything else propagates.
bool is_absent_item_error() noexcept {
    return PyErr_ExceptionMatches(PyExc_KeyError) || PyErr_ExceptionMatches(PyExc_IndexError) ||
           PyErr_ExceptionMatches(PyExc_TypeError) || PyErr_ExceptionMatches(PyExc_AttributeError);
}

}  // namespace

PyObject* getattr_or_missing(PyObject* obj, PyObject* key, PyObject* missing) noexcept {
    PyObject* v = PyObject_GetAttr(obj, key);
    if (v) return v;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
    PyErr_Clear();
    return Py_NewRef(missing);
}

namespace {

// hasattr(obj, "__getitem__") asked for real: an attribute hook or a descriptor may run
// host code or raise. 1, 0, or -1 with an error other than AttributeError.
int probe_getitem(PyObject* obj) noexcept {
    PyObject* attr = PyObject_GetAttr(obj, g_names.getitem);
    if (attr) {
        Py_DECREF(attr);
        return 1;
    }
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    return 0;
}

}  // namespace

PyObject* get_one(PyObject* obj, PyObject* key, PyObject* missing) noexcept {
    if (PyDict_CheckExact(obj)) {
        PyObject* v = PyDict_GetItemWithError(obj, key);
        if (v) return Py_NewRef(v);
        if (PyErr_Occurred()) return nullptr;
        // An absent key still reaches the dict's attributes (`items`, `keys`, ...).
        return getattr_or_missing(obj, key, missing);
    }
    if (is_plain(Py_TYPE(obj))) {
        PyObject* v = PyObject_GenericGetAttr(obj, key);
        if (v) return v;
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
        PyErr_Clear();
        return Py_NewRef(missing);
    }
    const int item = probe_getitem(obj);
    if (item < 0) return nullptr;
    if (item) {
        PyObject* v = PyObject_GetItem(obj, key);
        if (v) return v;
        if (!is_absent_item_error()) return nullptr;
        PyErr_Clear();
    }
    return getattr_or_missing(obj, key, missing);
}

PyObject* get_value(const FieldSpec& f, const Ctx& ctx, PyObject* obj) noexcept {
    if (f.path.empty()) return get_one(obj, f.attribute, ctx.missing);
    // No early stop on a missing piece: the next lookup runs on the sentinel itself.
    Ref cur = Ref::borrow(obj);
    for (PyObject* piece : f.path) {
        cur = Ref::steal(get_one(cur.get(), piece, ctx.missing));
        if (!cur) return nullptr;
    }
    return cur.release();
}

}  // namespace corvane::dump
