// TupleOf: a list or tuple of fixed length, each position converted by its own element.
#include "dump/internal.hpp"
#include "module/depth.hpp"

namespace corvane::dump {

PyObject* apply_tuple_of(const Element& e, const Ctx& ctx, PyObject* value, bool reiterable_only) noexcept {
    if (!PyList_Check(value) && !PyTuple_Check(value)) return raise_fallback();
    const Py_ssize_t n = static_cast<Py_ssize_t>(e.items.size());
    // len(), as the host sees it: a subclass's __len__ counts.
    const Py_ssize_t len = PyObject_Size(value);
    if (len < 0) return nullptr;
    if (len != n) return raise_fallback();
    DepthGuard guard;
    if (!guard.enter(" while dumping a tuple")) return nullptr;
    Ref out = Ref::steal(PyTuple_New(n));
    if (!out) return nullptr;
    // Counted while walking: a converter that grows or shrinks the list, or a __len__
    // that lied, must not leave an empty slot or drop an item, so the call falls back.
    Py_ssize_t i = 0;
    const int rc = for_each_item(value, reiterable_only, [&](PyObject* item) noexcept -> int {
        if (i == n) return raise_fallback();
        PyObject* r = apply_in(e.items[static_cast<size_t>(i)], ctx, item, reiterable_only);
        if (!r) return -1;
        PyTuple_SetItem(out.get(), i++, r);
        return 0;
    });
    if (rc < 0) return nullptr;
    if (i != n) return raise_fallback();
    return out.release();
}

}  // namespace corvane::dump
