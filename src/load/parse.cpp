// Load payload -> load plan. Positions are read in ascending order and the first failure
// ends decoding; what was decoded so far is released by the unique_ptrs and the Arena.
#include <new>

#include "load/detail.hpp"
#include "module/arena.hpp"
#include "module/depth.hpp"
#include "module/payload.hpp"
#include "module/shared_keys.hpp"

namespace corvane::load {
namespace {

using payload::bool_at;
using payload::item;

constexpr uint8_t kElementTags = 20;
constexpr const char kWhere[] = " while decoding a load payload";

// An any-object position, kept by the plan.
PyObject* keep_at(PyObject* tuple, Py_ssize_t i, Arena& arena) noexcept {
    PyObject* o = item(tuple, i);
    return o ? arena.keep(o) : nullptr;
}

PyObject* keep_str_at(PyObject* tuple, Py_ssize_t i, Arena& arena) noexcept {
    PyObject* o = payload::str_at(tuple, i);
    return o ? arena.keep(o) : nullptr;
}

// Sets of plain scalars give True and False the same answer every time, so it is taken
// here rather than per value. An answer that falls back stays undecided.
int decide_bool_answers(LoadElement& e) noexcept {
    for (PyObject* x : {Py_False, Py_True}) {
        PyObject* r = apply_bool_set(e, x);
        if (!r) {
            if (!PyErr_ExceptionMatches(g_accel_fallback)) return -1;
            PyErr_Clear();
            continue;
        }
        (x == Py_True ? e.on_true : e.on_false) = r;
        Py_DECREF(r);  // True or False, which live as long as the interpreter
    }
    return 0;
}

int parse_serializer_at(PyObject* tuple, Py_ssize_t i, Arena& arena, std::unique_ptr<LoadSerializer>& out) noexcept {
    PyObject* o = item(tuple, i);
    if (!o) return -1;
    out = parse_load_serializer(o, arena);
    return out ? 0 : -1;
}

int parse_child_at(PyObject* tuple, Py_ssize_t i, Arena& arena, std::unique_ptr<LoadElement>& out) noexcept {
    PyObject* o = item(tuple, i);
    if (!o) return -1;
    out.reset(new (std::nothrow) LoadElement());
    if (!out) {
        PyErr_NoMemory();
        return -1;
    }
    return parse_load_element(o, arena, *out);
}

// DictOf's key and value sides: None (by identity, before any type check) means none.
int parse_optional_child_at(PyObject* tuple, Py_ssize_t i, Arena& arena, std::unique_ptr<LoadElement>& out) noexcept {
    PyObject* o = item(tuple, i);
    if (!o) return -1;
    if (o == Py_None) return 0;
    return parse_child_at(tuple, i, arena, out);
}

int parse_items_at(PyObject* tuple, Py_ssize_t i, Arena& arena, std::vector<LoadElement>& out) noexcept {
    PyObject* items = payload::tuple_at(tuple, i);
    if (!items) return -1;
    Py_ssize_t n = PyTuple_Size(items);
    try {
        out.reserve(static_cast<size_t>(n));
        for (Py_ssize_t k = 0; k < n; ++k) {
            out.emplace_back();
            if (parse_load_element(PyTuple_GetItem(items, k), arena, out.back()) < 0) return -1;
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
    return 0;
}

int parse_validators_at(PyObject* tuple, Py_ssize_t i, Arena& arena, std::vector<Validator>& out) noexcept {
    PyObject* o = item(tuple, i);
    return o ? parse_validator_iterable(o, arena, out) : -1;
}

// Whether `set` is an exact frozenset whose members all pass `test`: iterating one and
// testing exact types runs no host code. -1 with an exception set.
template <class Test>
int frozenset_all(PyObject* set, Test test, bool& out) noexcept {
    out = false;
    if (!is_exact(set, &PyFrozenSet_Type)) return 0;
    Ref it = Ref::steal(PyObject_GetIter(set));
    if (!it) return -1;
    while (Ref member = Ref::steal(PyIter_Next(it.get())))
        if (!test(member.get())) return 0;
    if (PyErr_Occurred()) return -1;
    out = true;
    return 0;
}

int parse_body(uint8_t tag, PyObject* p, Arena& arena, LoadElement& e) noexcept {
    e.kind = static_cast<Kind>(tag);
    switch (e.kind) {
        case Kind::Passthrough:
        case Kind::Text:
        case Kind::Int:
        case Kind::DictCopy:
        case Kind::StrictInt:
            return 0;
        case Kind::Float:
            return bool_at(p, 1, e.allow_non_finite);
        case Kind::Nested:
            return parse_serializer_at(p, 1, arena, e.serializer);
        case Kind::ListOf:
            if (parse_child_at(p, 1, arena, e.child) < 0) return -1;
            return bool_at(p, 2, e.items_nullable);
        case Kind::EnumMember:
            if (!(e.cls = keep_at(p, 1, arena)) || bool_at(p, 2, e.use_value) < 0) return -1;
            return parse_child_at(p, 3, arena, e.child);
        case Kind::Uuid:
            return (e.cls = keep_at(p, 1, arena)) ? 0 : -1;
        case Kind::InstanceOrCall:
            if (!(e.cls = keep_at(p, 1, arena))) return -1;
            return (e.converter = keep_at(p, 2, arena)) ? 0 : -1;
        case Kind::CallField:
        case Kind::CallFieldAlt1:
        case Kind::CallFieldAlt2:
        case Kind::CallFieldAlt3:
            return (e.function = keep_at(p, 1, arena)) ? 0 : -1;
        case Kind::Constant:
            return (e.value = keep_at(p, 1, arena)) ? 0 : -1;
        case Kind::BoolSet:
        {
            if (!(e.true_values = keep_at(p, 1, arena)) || !(e.false_values = keep_at(p, 2, arena))) return -1;
            bool plain_true, plain_false;
            if (frozenset_all(e.true_values, is_plain_scalar, plain_true) < 0 ||
                frozenset_all(e.false_values, is_plain_scalar, plain_false) < 0)
                return -1;
            e.plain_sets = plain_true && plain_false;
            return e.plain_sets ? decide_bool_answers(e) : 0;
        }
        case Kind::DictOf:
            if (parse_optional_child_at(p, 1, arena, e.key_element) < 0 ||
                parse_validators_at(p, 2, arena, e.key_validators) < 0 ||
                parse_optional_child_at(p, 3, arena, e.value_element) < 0)
                return -1;
            return parse_validators_at(p, 4, arena, e.value_validators);
        case Kind::TupleOf:
            return parse_items_at(p, 1, arena, e.items);
        case Kind::NestedKey:
            if (parse_serializer_at(p, 1, arena, e.serializer) < 0 || !(e.key = keep_str_at(p, 2, arena))) return -1;
            return bool_at(p, 3, e.many);
    }
    return 0;
}

int parse_direct(PyObject* entry, Arena& arena, LoadFieldSpec& f) noexcept {
    PyObject* validators = payload::list_at(entry, 8);
    if (!validators || parse_validator_list(validators, arena, f.validators) < 0) return -1;
    if (!(f.attribute = keep_str_at(entry, 2, arena)) || payload::split_path(f.attribute, arena, f.path) < 0) return -1;
    if (!(f.input_key = keep_str_at(entry, 1, arena)) || !(f.name = keep_str_at(entry, 3, arena)) ||
        !(f.default_value = keep_at(entry, 4, arena)) || bool_at(entry, 5, f.required) < 0 ||
        bool_at(entry, 6, f.nullable) < 0)
        return -1;
    PyObject* element = item(entry, 7);
    return element ? parse_load_element(element, arena, f.element) : -1;
}

int parse_delegate(PyObject* entry, Arena& arena, LoadFieldSpec& f) noexcept {
    if (!(f.attribute = keep_str_at(entry, 3, arena)) || payload::split_path(f.attribute, arena, f.path) < 0) return -1;
    if (!(f.input_key = keep_str_at(entry, 1, arena)) || !(f.name = keep_str_at(entry, 2, arena))) return -1;
    return (f.field = keep_at(entry, 4, arena)) ? 0 : -1;
}

int parse_field(PyObject* entry, Arena& arena, LoadFieldSpec& f) noexcept {
    if (!payload::expect_tuple(entry) || bool_at(entry, 0, f.delegate) < 0) return -1;
    return f.delegate ? parse_delegate(entry, arena, f) : parse_direct(entry, arena, f);
}

}  // namespace

int parse_load_element(PyObject* payload, Arena& arena, LoadElement& out) noexcept {
    // Element payloads nest through lists (field lists, validator iterables) that may be
    // cyclic; the guard turns that into RecursionError.
    DepthGuard guard;
    if (!guard.enter(kWhere)) return -1;
    uint8_t tag;
    if (!payload::expect_tuple(payload) || payload::u8_at(payload, 0, tag) < 0) return -1;
    if (tag >= kElementTags) {
        PyErr_Format(PyExc_ValueError, "unknown load element tag %u", static_cast<unsigned>(tag));
        return -1;
    }
    return parse_body(tag, payload, arena, out);
}

// See LoadSerializer::record_template. Storing exact strs into a new dict runs no
// host code.
int make_record_template(LoadSerializer& s, Arena& arena) noexcept {
    const size_t n = s.fields.size();
    if (n == 0 || n > LoadSerializer::kMaxTemplate) return 0;
    for (const LoadFieldSpec& f : s.fields)
        if (f.delegate || !f.path.empty() || !PyUnicode_CheckExact(f.attribute)) return 0;
    Ref t = Ref::steal(PyDict_New());
    if (!t) return -1;
    for (const LoadFieldSpec& f : s.fields)
        if (PyDict_SetItem(t.get(), f.attribute, Py_None) < 0) return -1;
    if (static_cast<size_t>(PyDict_Size(t.get())) != n) return 0;
    // Narrow records copy faster from a table of their own: a shared one is sized for
    // the attributes an instance may still gain, and a copy takes a row that long.
    if (n > kFreshDictRoom) {
        if (Ref shared = Ref::steal(shared_key_dict(t.get()))) t = std::move(shared);
        else if (PyErr_Occurred()) return -1;
    }
    s.record_template = arena.adopt(t.release());
    return s.record_template ? 0 : -1;
}

// See LoadSerializer::walkable. Comparing and looking up exact strs runs no host code.
int decide_walk(LoadSerializer& s) noexcept {
    if (!s.record_template || (s.extra_keys == ExtraKeys::Reject && !s.plain_known_keys)) return 0;
    for (size_t i = 0; i < s.fields.size(); ++i) {
        LoadFieldSpec& f = s.fields[i];
        if (!PyUnicode_CheckExact(f.input_key)) return 0;
        for (size_t j = 0; j < i; ++j)
            if (PyUnicode_Compare(f.input_key, s.fields[j].input_key) == 0) return 0;
        if (s.plain_known_keys) {
            int known = PySet_Contains(s.known_keys, f.input_key);
            if (known < 0) return -1;
            f.key_known = known;
        }
    }
    s.walkable = true;
    return 0;
}

std::unique_ptr<LoadSerializer> parse_load_serializer(PyObject* payload, Arena& arena) noexcept {
    DepthGuard guard;
    if (!guard.enter(kWhere)) return nullptr;
    std::unique_ptr<LoadSerializer> s(new (std::nothrow) LoadSerializer());
    if (!s) {
        PyErr_NoMemory();
        return nullptr;
    }
    uint8_t extra;
    if (!payload::expect_tuple(payload) || bool_at(payload, 0, s->many) < 0 || payload::u8_at(payload, 1, extra) < 0)
        return nullptr;
    s->extra_keys = extra == 0 ? ExtraKeys::Reject : extra == 2 ? ExtraKeys::Keep : ExtraKeys::Ignore;
    if (!(s->known_keys = keep_at(payload, 2, arena))) return nullptr;
    if (frozenset_all(s->known_keys, [](PyObject* key) { return PyUnicode_CheckExact(key); },
                      s->plain_known_keys) < 0)
        return nullptr;
    PyObject* list = payload::list_at(payload, 3);
    if (!list) return nullptr;
    Py_ssize_t initial = PyList_Size(list);
    try {
        s->fields.reserve(static_cast<size_t>(initial));
        // Decoding can run host code (an __index__, a validator iterable), which may shrink
        // the list: stay below its current length and hold each entry while we read it.
        for (Py_ssize_t i = 0; i < initial && i < PyList_Size(list); ++i) {
            Ref entry = Ref::borrow(PyList_GetItem(list, i));
            s->fields.emplace_back();
            if (parse_field(entry.get(), arena, s->fields.back()) < 0) return nullptr;
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    }
    if (make_record_template(*s, arena) < 0 || decide_walk(*s) < 0) return nullptr;
    json_in::KeyIndex* index;
    if (json_in::make_key_index(*s, index) < 0) return nullptr;
    s->key_index.set(index);
    return s;
}

}  // namespace corvane::load
