// Shared by the dump engine's own files. `reiterable_only` carries the root plan's
// may_fall_back down a run: it is a property of the whole call, not of one node, since a
// fallback anywhere re-runs everything the call has read so far.
#pragma once
#include "dump/dump.hpp"
#include "module/compat.hpp"
#include "module/fallback.hpp"
#include "module/ref.hpp"

namespace corvane::dump {

PyObject* run_in(const Serializer& s, const Ctx& ctx, PyObject* obj, bool many, bool reiterable_only) noexcept;
PyObject* run_one_in(const Serializer& s, const Ctx& ctx, PyObject* obj, bool reiterable_only) noexcept;
PyObject* apply_in(const Element& e, const Ctx& ctx, PyObject* value, bool reiterable_only) noexcept;

PyObject* get_one(PyObject* obj, PyObject* key, PyObject* missing) noexcept;
// getattr(obj, key), with AttributeError turned into a new reference to `missing`.
PyObject* getattr_or_missing(PyObject* obj, PyObject* key, PyObject* missing) noexcept;

// get_value with the commonest case, a key present in an exact dict, inline.
inline PyObject* fetch(const FieldSpec& f, const Ctx& ctx, PyObject* obj) noexcept {
    if (f.path.empty() && PyDict_CheckExact(obj)) {
        if (PyObject* v = PyDict_GetItemWithError(obj, f.attribute)) return Py_NewRef(v);
        if (PyErr_Occurred()) return nullptr;
        return getattr_or_missing(obj, f.attribute, ctx.missing);
    }
    return get_value(f, ctx, obj);
}
// Whether the lookup's `obj[key]` step must run: hasattr(obj, "__getitem__") where that
// can change the outcome. 1, 0, or -1 with the probe's own error (not AttributeError).
int wants_item(PyObject* obj) noexcept;

PyObject* apply_dict_of(const Element& e, const Ctx& ctx, PyObject* value, bool reiterable_only) noexcept;
PyObject* apply_tuple_of(const Element& e, const Ctx& ctx, PyObject* value, bool reiterable_only) noexcept;

// Calls fn(item) for each item of `seq` in iteration order; fn returns 0 or -1. Exact
// lists and tuples are walked by index, which is what their iterators do (a list that
// host code changes meanwhile is read at its current length).
template <class F>
int for_each_item(PyObject* seq, bool reiterable_only, F&& fn) noexcept {
    if (PyList_CheckExact(seq)) {
        for (Py_ssize_t i = 0; i < PyList_Size(seq); ++i) {
            // Owned while fn runs: host code may drop it from the list.
            Ref item = Ref::borrow(PyList_GetItem(seq, i));
            if (fn(item.get()) < 0) return -1;
        }
        return 0;
    }
    if (PyTuple_CheckExact(seq)) {
        const Py_ssize_t n = PyTuple_Size(seq);
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (fn(PyTuple_GetItem(seq, i)) < 0) return -1;
        }
        return 0;
    }
    Ref it = Ref::steal(get_iter(seq, reiterable_only));
    if (!it) return -1;
    while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
        if (fn(item.get()) < 0) return -1;
    }
    return PyErr_Occurred() ? -1 : 0;
}

}  // namespace corvane::dump
