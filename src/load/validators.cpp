// Validator entries -> Validators, and the checks. A check only answers valid or
// invalid; the host formats every message after the fallback.
#include <new>

#include "load/detail.hpp"
#include "module/arena.hpp"
#include "module/payload.hpp"

namespace corvane::load {
namespace {

using payload::item;

constexpr uint8_t kValidatorTags = 7;

int optional_object_at(PyObject* entry, Py_ssize_t i, Arena& arena, PyObject*& out) noexcept {
    PyObject* o = item(entry, i);
    if (!o) return -1;
    if (o == Py_None) return 0;
    return (out = arena.keep(o)) ? 0 : -1;
}

int optional_len_at(PyObject* entry, Py_ssize_t i, std::optional<int64_t>& out) noexcept {
    PyObject* o = item(entry, i);
    if (!o) return -1;
    if (o == Py_None) return 0;
    long long v = PyLong_AsLongLong(o);
    if (v == -1 && PyErr_Occurred()) return -1;
    out = static_cast<int64_t>(v);
    return 0;
}

bool plain_bound(PyObject* bound) noexcept {
    return !bound || is_exact(bound, &PyLong_Type) || is_exact(bound, &PyFloat_Type);
}

int object_at(PyObject* entry, Arena& arena, Validator& v) noexcept {
    PyObject* o = item(entry, 1);
    return o && (v.object = arena.keep(o)) ? 0 : -1;
}

// `value <op> bound` as the Python expression evaluates it: no identity shortcut.
int compare(PyObject* value, PyObject* bound, int op) noexcept {
    Ref r = Ref::steal(PyObject_RichCompare(value, bound, op));
    return r ? PyObject_IsTrue(r.get()) : -1;
}

int check_bounds(const Validator& v, PyObject* value) noexcept {
    if (v.lower) {
        int below = compare(value, v.lower, v.lower_inclusive ? Py_LT : Py_LE);
        if (below != 0) return below < 0 ? -1 : 0;
    }
    if (v.upper) {
        int above = compare(value, v.upper, v.upper_inclusive ? Py_GT : Py_GE);
        if (above != 0) return above < 0 ? -1 : 0;
    }
    return 1;
}

int check_size(const Validator& v, PyObject* value) noexcept {
    Py_ssize_t n = PyObject_Size(value);
    if (n < 0) return -1;
    auto len = static_cast<int64_t>(n);
    if (v.exact_len) return len == *v.exact_len;
    if (v.min_len && len < *v.min_len) return 0;
    if (v.max_len && len > *v.max_len) return 0;
    return 1;
}

int check_not_member(const Validator& v, PyObject* value) noexcept {
    int r = contains(v.object, value);
    if (r >= 0) return !r;
    // An unhashable value cannot be in a set of forbidden values.
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        return 1;
    }
    return -1;
}

int check_items_in(const Validator& v, PyObject* value) noexcept {
    // A generator would reach the host's re-run already drained.
    if (is_consumable(value)) return raise_fallback();
    Ref it = Ref::steal(PyObject_GetIter(value));
    if (!it) return -1;
    for (;;) {
        Ref x = Ref::steal(PyIter_Next(it.get()));
        if (!x) return PyErr_Occurred() ? -1 : 1;
        int r = contains(v.object, x.get());
        if (r <= 0) return r;
    }
}

int check_callback(const Validator& v, PyObject* value) noexcept {
    Ref r = Ref::steal(call1(v.object, value));
    if (!r) return -1;
    return r.get() != Py_False;
}

}  // namespace

int parse_validator(PyObject* entry, Arena& arena, Validator& v) noexcept {
    uint8_t tag;
    if (!payload::expect_tuple(entry) || payload::u8_at(entry, 0, tag) < 0) return -1;
    if (tag >= kValidatorTags) {
        PyErr_Format(PyExc_ValueError, "unknown validator tag %u", static_cast<unsigned>(tag));
        return -1;
    }
    v.kind = static_cast<ValidatorKind>(tag);
    switch (v.kind) {
        case ValidatorKind::Bounds:
            if (optional_object_at(entry, 1, arena, v.lower) < 0 || optional_object_at(entry, 2, arena, v.upper) < 0 ||
                payload::bool_at(entry, 3, v.lower_inclusive) < 0)
                return -1;
            v.plain = plain_bound(v.lower) && plain_bound(v.upper);
            return payload::bool_at(entry, 4, v.upper_inclusive);
        case ValidatorKind::SizeLimit:
            if (optional_len_at(entry, 1, v.min_len) < 0 || optional_len_at(entry, 2, v.max_len) < 0) return -1;
            v.plain = true;
            return optional_len_at(entry, 3, v.exact_len);
        case ValidatorKind::MemberOf:
        case ValidatorKind::EqualTo:
        case ValidatorKind::NotMemberOf:
        case ValidatorKind::ItemsIn:
        case ValidatorKind::CallbackCheck:
            return object_at(entry, arena, v);
    }
    return 0;
}

int parse_validator_list(PyObject* list, Arena& arena, std::vector<Validator>& out) noexcept {
    Py_ssize_t initial = PyList_Size(list);
    try {
        out.reserve(static_cast<size_t>(initial));
        for (Py_ssize_t i = 0; i < initial && i < PyList_Size(list); ++i) {
            Ref entry = Ref::borrow(PyList_GetItem(list, i));
            out.emplace_back();
            if (parse_validator(entry.get(), arena, out.back()) < 0) return -1;
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
    return 0;
}

int parse_validator_iterable(PyObject* iterable, Arena& arena, std::vector<Validator>& out) noexcept {
    Ref it = Ref::steal(PyObject_GetIter(iterable));
    if (!it) return -1;
    try {
        for (;;) {
            Ref entry = Ref::steal(PyIter_Next(it.get()));
            if (!entry) return PyErr_Occurred() ? -1 : 0;
            out.emplace_back();
            if (parse_validator(entry.get(), arena, out.back()) < 0) return -1;
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
}

int check(const Validator& v, PyObject* value) noexcept {
    switch (v.kind) {
        case ValidatorKind::Bounds:
            return check_bounds(v, value);
        case ValidatorKind::SizeLimit:
            return check_size(v, value);
        case ValidatorKind::MemberOf:
            return contains(v.object, value);
        case ValidatorKind::EqualTo:
            return compare(value, v.object, Py_EQ);
        case ValidatorKind::NotMemberOf:
            return check_not_member(v, value);
        case ValidatorKind::ItemsIn:
            return check_items_in(v, value);
        case ValidatorKind::CallbackCheck:
            return check_callback(v, value);
    }
    return -1;
}

int check_all(const std::vector<Validator>& validators, PyObject* value) noexcept {
    for (const Validator& v : validators) {
        int r = check(v, value);
        if (r > 0) continue;
        if (r < 0)
            to_fallback();
        else
            raise_fallback();
        return -1;
    }
    return 0;
}

}  // namespace corvane::load
