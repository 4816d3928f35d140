// Pieces shared by the load engine's own files: decoding entry points below the plan
// level, validator checks, and the careful walks over input containers.
#pragma once
#include "load/load.hpp"
#include "module/compat.hpp"
#include "module/depth.hpp"
#include "module/fallback.hpp"
#include "module/ref.hpp"
#include "module/walk.hpp"

namespace corvane {
class Arena;
}

namespace corvane::load {

// Decoding; 0 or -1 with the exception set.
int parse_load_element(PyObject* payload, Arena& arena, LoadElement& out) noexcept;
int parse_validator(PyObject* entry, Arena& arena, Validator& out) noexcept;
// Entries of a Direct field (a list, walked by index).
int parse_validator_list(PyObject* list, Arena& arena, std::vector<Validator>& out) noexcept;
// Entries of a DictOf side (any iterable).
int parse_validator_iterable(PyObject* iterable, Arena& arena, std::vector<Validator>& out) noexcept;

// LoadElement::apply, LoadSerializer::run and run_one, each also telling its caller whether
// host code may have run: `pure` is cleared unless all that ran was the interpreter's own
// work on builtin values (exact-type fast paths, plain containers and checks). A record
// read in one walk (run.cpp) stays valid only while nothing else could change its input.
PyObject* apply_traced(const LoadElement& e, const Ctx& ctx, PyObject* value, const Partial& partial,
                       bool& pure) noexcept;
PyObject* run_traced(const LoadSerializer& s, const Ctx& ctx, PyObject* data, bool many, const Partial& partial,
                     bool& pure) noexcept;
PyObject* run_one_traced(const LoadSerializer& s, const Ctx& ctx, PyObject* data, const Partial& partial,
                         bool& pure) noexcept;

// A BoolSet element's value; the plan's own parse and the JSON load call it directly.
PyObject* apply_bool_set(const LoadElement& e, PyObject* value) noexcept;

// The container kinds of LoadElement::apply.
PyObject* apply_list_of(const LoadElement& e, const Ctx& ctx, PyObject* value, const Partial& partial,
                        bool& pure) noexcept;
PyObject* apply_tuple_of(const LoadElement& e, const Ctx& ctx, PyObject* value, const Partial& partial) noexcept;
PyObject* apply_dict_of(const LoadElement& e, const Ctx& ctx, PyObject* value, const Partial& partial) noexcept;
PyObject* apply_nested_key(const LoadElement& e, const Ctx& ctx, PyObject* value, const Partial& partial) noexcept;

// 1 valid, 0 invalid, -1 with the exception a check raised.
int check(const Validator& v, PyObject* value) noexcept;

// True for an object whose iteration consumes it (iter(x) is x). The host re-runs the
// whole call after a fallback, so such an input must fall back before we take an item.
inline bool is_consumable(PyObject* obj) noexcept { return !is_reiterable(obj) && PyIter_Check(obj); }

// `item in container`, refusing containers that `in` would consume.
inline int contains(PyObject* container, PyObject* item) noexcept {
    if (!is_exact(container, &PyFrozenSet_Type) && !is_exact(container, &PySet_Type) && is_consumable(container))
        return raise_fallback();
    return PySequence_Contains(container, item);
}

// Values whose hashing, comparison and arithmetic are the interpreter's own.
inline bool is_plain_scalar(PyObject* o) noexcept {
    return is_exact(o, &PyUnicode_Type) || is_exact(o, &PyLong_Type) || is_exact(o, &PyBool_Type) ||
           is_exact(o, &PyFloat_Type);
}

// Whether checking `value` with `v` can run no host code.
inline bool plain_check(const Validator& v, PyObject* value) noexcept {
    if (!v.plain) return false;
    if (v.kind == ValidatorKind::Bounds) return is_exact(value, &PyLong_Type) || is_exact(value, &PyFloat_Type);
    return is_exact(value, &PyUnicode_Type) || PyList_CheckExact(value) || PyTuple_CheckExact(value) ||
           PyDict_CheckExact(value) || PyBytes_CheckExact(value);
}

// Shape tests with the exact type first: the subclass flags cost a call in the limited API.
inline bool is_dict(PyObject* o) noexcept { return PyDict_CheckExact(o) || PyDict_Check(o); }
inline bool is_sequence(PyObject* o) noexcept {
    return PyList_CheckExact(o) || PyTuple_CheckExact(o) || PyList_Check(o) || PyTuple_Check(o);
}

// Walks a dict's entries in order with the plain dict operations (a subclass's
// overrides are not called). Each key and value is handed out as a strong reference
// before any host code can run. Between steps host code may have changed the dict;
// a change of its size, or of the entry we stood on, ends the walk with a fallback
// instead of carrying on over a table that is no longer the one we started.
class DictWalk {
public:
    explicit DictWalk(PyObject* dict) noexcept : dict_(dict), size_(PyDict_Size(dict)) {}

    // 1 with key/value set, 0 at the end, -1 with AccelFallback set.
    int next(Ref& key, Ref& value) noexcept {
        if (PyDict_Size(dict_) != size_) return raise_fallback();
        if (last_key_) {
            // PyDict_Next from the previous position must find the very same entry again.
            Py_ssize_t probe = last_pos_;
            PyObject *k, *v;
            if (!PyDict_Next(dict_, &probe, &k, &v) || k != last_key_.get() || probe != pos_)
                return raise_fallback();
        }
        last_pos_ = pos_;
        PyObject *k, *v;
        if (!PyDict_Next(dict_, &pos_, &k, &v)) {
            last_key_.reset();
            return 0;
        }
        key = Ref::borrow(k);
        value = Ref::borrow(v);
        last_key_ = Ref::borrow(k);  // held, so its address cannot be reused meanwhile
        return 1;
    }

private:
    PyObject* dict_;
    Py_ssize_t size_;
    Py_ssize_t pos_ = 0;
    Py_ssize_t last_pos_ = 0;
    Ref last_key_;
};

// Converts `raw` (not None) with `element`, then runs `validators`: the shared step of a
// field value and of a DictOf key or value. New reference or nullptr.
inline PyObject* convert_checked(const LoadElement& element, const std::vector<Validator>& validators,
                                 const Ctx& ctx, PyObject* raw, const Partial& partial, bool& pure) noexcept {
    PyObject* value = apply_traced(element, ctx, raw, partial, pure);
    if (!value || validators.empty()) return value;
    for (const Validator& v : validators) pure = pure && plain_check(v, value);
    if (check_all(validators, value) < 0) {
        Py_DECREF(value);
        return nullptr;
    }
    return value;
}

inline PyObject* convert_checked(const LoadElement& element, const std::vector<Validator>& validators,
                                 const Ctx& ctx, PyObject* raw, const Partial& partial) noexcept {
    bool pure = true;  // not wanted here
    return convert_checked(element, validators, ctx, raw, partial, pure);
}

// Records and containers recurse with the plan; the host would recurse at least as deep,
// so past our cap it decides.
inline bool enter_or_fallback(DepthGuard& guard) noexcept {
    if (guard.enter(" while loading")) return true;
    to_fallback();
    return false;
}

}  // namespace corvane::load
