// Container conversions. Each builds its result privately and hands it out only when
// complete; host code run by item conversions may change the input meanwhile.
#include <new>

#include "load/detail.hpp"

namespace corvane::load {
namespace {

// A dict key or value: None falls back when it is to be converted, else it passes as is.
PyObject* convert_side(const LoadElement* element, const std::vector<Validator>& validators, const Ctx& ctx,
                       PyObject* raw, const Partial& partial) noexcept {
    if (!element) {
        Py_INCREF(raw);
        return raw;
    }
    if (raw == Py_None) return raise_fallback();
    return convert_checked(*element, validators, ctx, raw, partial);
}

PyObject* wrapped(PyObject* key, PyObject* value) noexcept {
    Ref d = Ref::steal(PyDict_New());
    if (!d || PyDict_SetItem(d.get(), key, value) < 0) return nullptr;
    return d.release();
}

}  // namespace

PyObject* apply_list_of(const LoadElement& e, const Ctx& ctx, PyObject* value, const Partial& partial,
                        bool& pure) noexcept {
    if (!is_sequence(value)) return raise_fallback();
    // A subclass's own iteration may run host code; an exact list or tuple's does not.
    pure = pure && (PyList_CheckExact(value) || PyTuple_CheckExact(value));
    DepthGuard guard;
    if (!enter_or_fallback(guard)) return nullptr;
    Ref out = Ref::steal(PyList_New(0));
    if (!out) return nullptr;
    int rc = for_each_item(value, [&](PyObject* item) noexcept -> int {
        if (item == Py_None) return e.items_nullable ? PyList_Append(out.get(), Py_None) : raise_fallback();
        Ref converted = Ref::steal(apply_traced(*e.child, ctx, item, partial, pure));
        return converted ? PyList_Append(out.get(), converted.get()) : -1;
    });
    return rc < 0 ? nullptr : out.release();
}

PyObject* apply_tuple_of(const LoadElement& e, const Ctx& ctx, PyObject* value, const Partial& partial) noexcept {
    if (!is_sequence(value)) return raise_fallback();
    const size_t n = e.items.size();
    Py_ssize_t len = PyObject_Size(value);
    if (len < 0) return nullptr;
    if (static_cast<size_t>(len) != n) return raise_fallback();
    DepthGuard guard;
    if (!enter_or_fallback(guard)) return nullptr;
    std::vector<Ref> slots;
    try {
        slots.reserve(n);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    // __len__ and __iter__ of a subclass may disagree, and a converter may resize the
    // list: count as we go and stop at the first item beyond the positions.
    int rc = for_each_item(value, [&](PyObject* item) noexcept -> int {
        if (slots.size() == n || item == Py_None) return raise_fallback();
        Ref converted = Ref::steal(apply(e.items[slots.size()], ctx, item, partial));
        if (!converted) return -1;
        slots.push_back(std::move(converted));  // within the reserved room: no throw
        return 0;
    });
    if (rc < 0) return nullptr;
    if (slots.size() != n) return raise_fallback();
    PyObject* out = PyTuple_New(static_cast<Py_ssize_t>(n));
    if (!out) return nullptr;
    for (size_t i = 0; i < n; ++i) PyTuple_SetItem(out, static_cast<Py_ssize_t>(i), slots[i].release());
    return out;
}

PyObject* apply_dict_of(const LoadElement& e, const Ctx& ctx, PyObject* value, const Partial& partial) noexcept {
    if (!is_dict(value)) return raise_fallback();
    DepthGuard guard;
    if (!enter_or_fallback(guard)) return nullptr;
    Ref out = Ref::steal(PyDict_New());
    if (!out) return nullptr;
    DictWalk walk(value);
    Ref raw_key, raw_value;
    for (;;) {
        int more = walk.next(raw_key, raw_value);
        if (more < 0) return nullptr;
        if (!more) return out.release();
        Ref key = Ref::steal(convert_side(e.key_element.get(), e.key_validators, ctx, raw_key.get(), partial));
        if (!key) return nullptr;
        Ref val = Ref::steal(convert_side(e.value_element.get(), e.value_validators, ctx, raw_value.get(), partial));
        if (!val || PyDict_SetItem(out.get(), key.get(), val.get()) < 0) return nullptr;
    }
}

PyObject* apply_nested_key(const LoadElement& e, const Ctx& ctx, PyObject* value, const Partial& partial) noexcept {
    const LoadSerializer& nested = *e.serializer;
    if (!e.many) {
        Ref record = Ref::steal(wrapped(e.key, value));
        return record ? run_one(nested, ctx, record.get(), partial) : nullptr;
    }
    if (!is_sequence(value)) return raise_fallback();
    Ref out = Ref::steal(PyList_New(0));
    if (!out) return nullptr;
    int rc = for_each_item(value, [&](PyObject* item) noexcept -> int {
        Ref record = Ref::steal(wrapped(e.key, item));
        Ref loaded = Ref::steal(record ? run_one(nested, ctx, record.get(), partial) : nullptr);
        return loaded ? PyList_Append(out.get(), loaded.get()) : -1;
    });
    return rc < 0 ? nullptr : out.release();
}

}  // namespace corvane::load
