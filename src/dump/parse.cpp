// Decoding of the dump payload into the immutable plan. Every Python object the plan
// refers to is kept by the Arena; a failure leaves the partial plan to the caller, whose
// Arena then releases everything at once.
#include <new>

#include "dump/internal.hpp"
#include "json_out/json_out.hpp"
#include "module/arena.hpp"
#include "module/depth.hpp"
#include "module/payload.hpp"
#include "module/shared_keys.hpp"

namespace corvane::dump {
namespace {

constexpr const char kWhere[] = " while decoding a dump payload";

int parse_element(PyObject* ep, Arena& arena, Element& e) noexcept;

// `ep` may be null from a failed read, with its error set.
int parse_child(PyObject* ep, Arena& arena, std::unique_ptr<Element>& out) noexcept {
    if (!ep) return -1;
    out.reset(new (std::nothrow) Element());
    if (!out) {
        PyErr_NoMemory();
        return -1;
    }
    return parse_element(ep, arena, *out);
}

// None: no element (the value passes unchanged).
int parse_optional(PyObject* ep, Arena& arena, std::unique_ptr<Element>& out) noexcept {
    return ep == Py_None ? 0 : parse_child(ep, arena, out);
}

int keep_at(PyObject* tuple, Py_ssize_t i, Arena& arena, PyObject*& out) noexcept {
    PyObject* o = payload::item(tuple, i);
    return o && (out = arena.keep(o)) ? 0 : -1;
}

int keep_str_at(PyObject* tuple, Py_ssize_t i, Arena& arena, PyObject*& out) noexcept {
    PyObject* o = payload::str_at(tuple, i);
    return o && (out = arena.keep(o)) ? 0 : -1;
}

int parse_nested(PyObject* sp, Arena& arena, Element& e) noexcept {
    if (!sp || !(e.serializer = parse_serializer(sp, arena))) return -1;
    e.may_fall_back = e.serializer->may_fall_back;
    return 0;
}

int parse_tuple_items(PyObject* ep, Arena& arena, Element& e) noexcept {
    PyObject* items = payload::tuple_at(ep, 1);
    if (!items) return -1;
    const Py_ssize_t n = PyTuple_Size(items);
    try {
        e.items.reserve(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        e.items.emplace_back();  // cannot throw: capacity reserved
        if (parse_element(PyTuple_GetItem(items, i), arena, e.items.back()) < 0) return -1;
        e.may_fall_back |= e.items.back().may_fall_back;
    }
    return 0;
}

int parse_element(PyObject* ep, Arena& arena, Element& e) noexcept {
    // Every level counts, so a hostile or cyclic payload ends in RecursionError.
    DepthGuard guard;
    if (!guard.enter(kWhere)) return -1;
    if (!payload::expect_tuple(ep)) return -1;
    uint8_t tag = 0;
    if (payload::u8_at(ep, 0, tag) < 0) return -1;
    if (tag > static_cast<uint8_t>(Kind::StringifyAlt)) {
        PyErr_Format(PyExc_ValueError, "unknown element tag %d", static_cast<int>(tag));
        return -1;
    }
    e.kind = static_cast<Kind>(tag);
    switch (e.kind) {
        case Kind::Passthrough:
        case Kind::Text:
        case Kind::Stringify:
        case Kind::DictCopy:
        case Kind::StringifyAlt:
            return 0;
        case Kind::Int:
        case Kind::Float:
            return payload::bool_at(ep, 1, e.as_text);
        case Kind::Nested:
            if (parse_nested(payload::item(ep, 1), arena, e) < 0) return -1;
            return payload::bool_at(ep, 2, e.many);
        case Kind::ListOf:
            if (parse_child(payload::item(ep, 1), arena, e.child) < 0) return -1;
            e.may_fall_back = e.child->may_fall_back;
            return 0;
        case Kind::DateFormat: {
            // Not checked for being callable: a bad formatter fails when it is called.
            PyObject* formatter = payload::item(ep, 1);
            if (!formatter) return -1;
            if (formatter != Py_None && !(e.formatter = arena.keep(formatter))) return -1;
            return keep_str_at(ep, 2, arena, e.format);
        }
        case Kind::EnumMember: {
            if (payload::bool_at(ep, 1, e.use_value) < 0) return -1;
            if (parse_child(payload::item(ep, 2), arena, e.child) < 0) return -1;
            e.may_fall_back = e.child->may_fall_back;
            return 0;
        }
        case Kind::CallField:
        case Kind::CallFieldAlt:
            return keep_at(ep, 1, arena, e.function);
        case Kind::Constant:
            return keep_at(ep, 1, arena, e.value);
        case Kind::DictOf: {
            PyObject* key = payload::item(ep, 1);
            if (!key || parse_optional(key, arena, e.key_element) < 0) return -1;
            PyObject* value = payload::item(ep, 2);
            if (!value || parse_optional(value, arena, e.value_element) < 0) return -1;
            e.may_fall_back = true;
            return 0;
        }
        case Kind::TupleOf:
            if (parse_tuple_items(ep, arena, e) < 0) return -1;
            e.may_fall_back = true;
            return 0;
        case Kind::NestedKey:
            if (parse_nested(payload::item(ep, 1), arena, e) < 0) return -1;
            if (keep_str_at(ep, 2, arena, e.key) < 0) return -1;
            return payload::bool_at(ep, 3, e.many);
    }
    return 0;
}

int parse_field(PyObject* entry, Arena& arena, FieldSpec& f) noexcept {
    if (!payload::expect_tuple(entry)) return -1;
    if (payload::bool_at(entry, 0, f.delegate) < 0) return -1;
    if (keep_str_at(entry, 1, arena, f.out_key) < 0) return -1;
    if (keep_str_at(entry, 2, arena, f.attribute) < 0) return -1;
    if (f.delegate) return keep_at(entry, 3, arena, f.field);
    if (keep_at(entry, 3, arena, f.default_value) < 0) return -1;
    PyObject* element = payload::item(entry, 4);
    if (!element || parse_element(element, arena, f.element) < 0) return -1;
    return payload::split_path(f.attribute, arena, f.path);
}

// An empty dict grows twice on its way to a dozen keys; a copy of a dict holding the
// keys is sized once. Only for distinct exact-str keys, whose hash and equality are
// fixed, so that every store of a record lands on the template's own entry.
int make_template(Serializer& s, Arena& arena) noexcept {
    if (s.fields.size() <= kFreshDictRoom || !s.plain_keys) return 0;
    Ref keys = Ref::steal(PyDict_New());
    if (!keys) return -1;
    for (const FieldSpec& f : s.fields)
        if (PyDict_SetItem(keys.get(), f.out_key, Py_None) < 0) return -1;
    if (PyDict_Size(keys.get()) != static_cast<Py_ssize_t>(s.fields.size())) return 0;
    if (PyObject* shared = shared_key_dict(keys.get())) return (s.out_template = arena.adopt(shared)) ? 0 : -1;
    if (PyErr_Occurred()) return -1;
    // Merging into an empty dict sizes the table for the final count in one step.
    Ref sized = Ref::steal(PyDict_New());
    if (!sized || PyDict_Update(sized.get(), keys.get()) < 0) return -1;
    return (s.out_template = arena.adopt(sized.release())) ? 0 : -1;
}

}  // namespace

std::unique_ptr<Serializer> parse_serializer(PyObject* payload, Arena& arena) noexcept {
    DepthGuard guard;
    if (!guard.enter(kWhere)) return nullptr;
    if (!payload::expect_tuple(payload)) return nullptr;
    std::unique_ptr<Serializer> s(new (std::nothrow) Serializer());
    if (!s) {
        PyErr_NoMemory();
        return nullptr;
    }
    if (keep_at(payload, 0, arena, s->serialize_arg) < 0) return nullptr;
    PyObject* list = payload::list_at(payload, 1);
    if (!list) return nullptr;
    const Py_ssize_t n = PyList_Size(list);
    // Decoding can run host code (a tag's __index__), which may shrink the list: read
    // only indices that exist both at the start and now, each entry held while decoded.
    for (Py_ssize_t i = 0; i < n && i < PyList_Size(list); ++i) {
        Ref entry = Ref::borrow(PyList_GetItem(list, i));
        try {
            s->fields.emplace_back();
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            return nullptr;
        }
        FieldSpec& f = s->fields.back();
        if (parse_field(entry.get(), arena, f) < 0) return nullptr;
        if (!f.delegate) s->may_fall_back |= f.element.may_fall_back;
    }
    s->plain_keys = true;
    for (const FieldSpec& f : s->fields) s->plain_keys &= PyUnicode_CheckExact(f.out_key);
    if (make_template(*s, arena) < 0 || json_out::build_keys(*s) < 0) return nullptr;
    return s;
}

}  // namespace corvane::dump
