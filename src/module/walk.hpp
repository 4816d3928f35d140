// The one walk over the items of a container that the dump, the JSON writer and the
// load engine share.
#pragma once
#include <utility>

#include "module/bits.hpp"
#include "module/compat.hpp"
#include "module/fallback.hpp"
#include "module/ref.hpp"

namespace corvane {

// Calls fn(item) for each item of iter(seq), in order; fn returns 0 to go on and -1
// with an exception set to stop. Exact lists are read by index against their current
// length, as their iterator does, each item held while fn runs (host code may drop it
// from the list); exact tuples are immutable and held by the caller, so their items
// are lent. With `reiterable_only`, anything the host could not iterate a second time
// after a fallback (generators, map objects, files) raises AccelFallback before any
// item is taken.
template <class F>
int for_each_item(PyObject* seq, bool reiterable_only, F&& fn) noexcept {
    if (PyList_CheckExact(seq)) {
        for (Py_ssize_t i = 0; i < PyList_Size(seq); ++i) {
            // An item two ahead is fetched while this one is worked on: a batch of records
            // is read once each, so every first touch would otherwise stall on memory.
            if (i + 2 < PyList_Size(seq)) bits::prefetch(PyList_GetItem(seq, i + 2));
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
    // Checked before iter() so that no host code runs ahead of the fallback.
    if (reiterable_only && !is_reiterable(seq)) return raise_fallback();
    // Subclasses may override __iter__; iter() is what the host sees.
    Ref it = Ref::steal(PyObject_GetIter(seq));
    if (!it) return -1;
    while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
        if (fn(item.get()) < 0) return -1;
    }
    return PyErr_Occurred() ? -1 : 0;
}

template <class F>
int for_each_item(PyObject* seq, F&& fn) noexcept {
    return for_each_item(seq, false, std::forward<F>(fn));
}

}  // namespace corvane
