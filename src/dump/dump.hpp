// Entry points of the dump engine, used by the module and by the fused JSON dump.
// All return a new reference, or nullptr with an exception set.
#pragma once
#include "dump/plan.hpp"
#include "module/ctx.hpp"

namespace corvane {
class Arena;
}

namespace corvane::dump {

std::unique_ptr<Serializer> parse_serializer(PyObject* payload, Arena& arena) noexcept;

// `s` is the root of the call: when it may fall back, one-shot iterables (generators,
// map objects, files) raise AccelFallback before their first item is taken, because the
// host re-runs the whole call and would otherwise see them already partly consumed.
PyObject* run(const Serializer& s, const Ctx& ctx, PyObject* obj, bool many) noexcept;

// getattr(obj, key), with AttributeError turned into a new reference to `missing`.
PyObject* getattr_or_missing(PyObject* obj, PyObject* key, PyObject* missing) noexcept;

// The field's value, or a new reference to ctx.missing when the object lacks it.
PyObject* get_value(const FieldSpec& f, const Ctx& ctx, PyObject* obj) noexcept;

// Whether obj[key] needs trying at all; see get_one.
inline bool is_plain(PyTypeObject* type) noexcept {
    // With neither subscript slot, obj[key] can only fail with a TypeError (only type
    // objects have a fallback, __class_getitem__, and their metatype's attribute hook is
    // not the generic one). With the generic hook as well, no class in the MRO defines
    // __getitem__ (a heap type has those slots exactly when one does), so hasattr could
    // only find one in the instance dict, running no descriptor and no host code. Either
    // answer then leads to getattr, so the probe is skipped: this spares a plain object
    // an AttributeError raised and cleared for every field.
    return PyType_GetSlot(type, Py_tp_getattro) == reinterpret_cast<void*>(&PyObject_GenericGetAttr) &&
           !PyType_GetSlot(type, Py_mp_subscript) && !PyType_GetSlot(type, Py_sq_item);
}

// get_value with the two commonest cases inline: a field of an exact dict, and one of
// a plain object.
inline PyObject* fetch(const FieldSpec& f, const Ctx& ctx, PyObject* obj) noexcept {
    if (!f.path.empty()) return get_value(f, ctx, obj);
    if (PyDict_CheckExact(obj)) {
        if (PyObject* v = PyDict_GetItemWithError(obj, f.attribute)) return Py_NewRef(v);
        if (PyErr_Occurred()) return nullptr;
        // An absent key still reaches the dict's attributes (`items`, `keys`, ...).
        return getattr_or_missing(obj, f.attribute, ctx.missing);
    }
    if (is_plain(Py_TYPE(obj))) {
        if (PyObject* v = PyObject_GenericGetAttr(obj, f.attribute)) return v;
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
        PyErr_Clear();
        return Py_NewRef(ctx.missing);
    }
    return get_value(f, ctx, obj);
}

// One value converted by `e`, for a caller that may still fall back afterwards (the
// fused JSON dump): every one-shot iterable met below `e` falls back before it is read.
PyObject* apply(const Element& e, const Ctx& ctx, PyObject* value) noexcept;

}  // namespace corvane::dump
