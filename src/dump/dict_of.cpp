// DictOf: a dict (or subclass) walked entry by entry, keys and values converted.
#include "dump/internal.hpp"
#include "module/depth.hpp"

namespace corvane::dump {
namespace {

PyObject* convert(const std::unique_ptr<Element>& e, const Ctx& ctx, PyObject* v, bool reiterable_only) noexcept {
    return e ? apply_in(*e, ctx, v, reiterable_only) : Py_NewRef(v);
}

}  // namespace

PyObject* apply_dict_of(const Element& e, const Ctx& ctx, PyObject* value, bool reiterable_only) noexcept {
    if (!PyDict_Check(value)) return raise_fallback();
    DepthGuard guard;
    if (!guard.enter(" while dumping a dict")) return nullptr;
    Ref out = Ref::steal(PyDict_New());
    if (!out) return nullptr;
    // The entries are read directly (a subclass's items/__iter__ are not used), with
    // the checks of the dict's own iterator: converters are host code and may mutate it.
    const Py_ssize_t size = PyDict_Size(value);
    Py_ssize_t remaining = size;
    Py_ssize_t pos = 0;
    for (;;) {
        if (PyDict_Size(value) != size) {
            PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
            return nullptr;
        }
        PyObject* k = nullptr;
        PyObject* v = nullptr;
        if (!PyDict_Next(value, &pos, &k, &v)) break;
        if (remaining == 0) {
            PyErr_SetString(PyExc_RuntimeError, "dictionary keys changed during iteration");
            return nullptr;
        }
        --remaining;
        // Owned across the conversions, which may delete the entry.
        Ref key = Ref::borrow(k);
        Ref val = Ref::borrow(v);
        Ref key_out = Ref::steal(convert(e.key_element, ctx, key.get(), reiterable_only));
        if (!key_out) return nullptr;
        Ref val_out = Ref::steal(convert(e.value_element, ctx, val.get(), reiterable_only));
        if (!val_out || PyDict_SetItem(out.get(), key_out.get(), val_out.get()) < 0) return nullptr;
    }
    return out.release();
}

}  // namespace corvane::dump
