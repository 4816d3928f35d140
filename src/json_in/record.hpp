// What the tree walk and the one-pass read share: a scalar made as it is, and a record
// put together from what its pairs left in each of the plan's slots.
#pragma once
#include "json_in/fused.hpp"
#include "load/detail.hpp"
#include "module/fallback.hpp"
#include "module/ref.hpp"
#include "module/shared_keys.hpp"

namespace corvane::json_in {

[[gnu::always_inline]] inline PyObject* scalar_to_py(Walk& walk, const JsonValue& v) noexcept {
    if (v.kind == JsonKind::Float) return PyFloat_FromDouble(v.number);
    if (v.kind == JsonKind::Int) return walk.ints.get(v.integer);
    return walk.strs.get(v);
}

// apply_json, with the commonest nodes made here without the call; plain tests, which
// predict better than its jump table. `direct` is direct_kinds(e), which loops and
// rows read once rather than per node.
inline PyObject* load_node(Walk& walk, uint8_t direct, const load::LoadElement& e, const JsonValue& v,
                           const load::Partial& partial) noexcept {
    return takes_direct(direct, v) ? scalar_to_py(walk, v) : apply_json(walk, e, v, partial);
}

inline PyObject* load_node(Walk& walk, const load::LoadElement& e, const JsonValue& v,
                           const load::Partial& partial) noexcept {
    return load_node(walk, direct_kinds(e), e, v, partial);
}

// set_load_value, with the common plain attribute stored inline.
inline int store(PyObject* result, const load::LoadFieldSpec& f, PyObject* value) noexcept {
    return f.path.empty() ? PyDict_SetItem(result, f.attribute, value) : load::set_load_value(result, f, value);
}

// Loads one present, non-null field value and stores it.
int load_field(Walk& walk, const load::LoadFieldSpec& f, const JsonValue& node, const load::Partial& partial,
               PyObject* result) noexcept;

// json.loads gives one object per value, and a key read twice (by two fields, or by a
// field and the unknown-key pass) hands that same object to both, so host code that
// mutates it in one place changes it in the other. The tree makes a fresh object per
// read, which only matches while the value cannot be mutated.
inline bool is_container(const JsonValue& v) noexcept {
    return v.kind == JsonKind::Object || v.kind == JsonKind::Array;
}

// The record, its fields in plan order. `slots` tells for each slot whether a pair had
// its key (seen), the last such pair's value (node) and, from the one-pass read, the
// value already made from it (made, borrowed; null when the node is yet to load).
template <class Slots>
PyObject* build_record(Walk& walk, const load::LoadSerializer& plan, const KeyIndex& index, const Slots& slots,
                       const load::Partial& partial) noexcept {
    PyObject* record_template = plan.fields.size() > kFreshDictRoom ? plan.record_template : nullptr;
    Ref result = Ref::steal(record_template ? PyDict_Copy(record_template) : PyDict_New());
    if (!result) return nullptr;
    uint64_t unset = 0;  // template attributes still holding their placeholder
    const size_t n = plan.fields.size();
    const bool whole = partial.state != load::Partial::State::Names;  // no selection to derive per field
    for (size_t i = 0; i < n; ++i) {
        const KeyIndex::FieldRow& row = index.field(i);
        const int32_t s = row.slot;
        int rc;
        if (s < 0 || !slots.seen(s)) {
            rc = load::load_absent(result.get(), plan.fields[i], walk.ctx, partial, record_template != nullptr);
            if (rc == load::kNotStored) {
                if (record_template) unset |= uint64_t{1} << i;
                rc = 0;
            }
        } else if (PyObject* made = slots.made(s)) {
            rc = PyDict_SetItem(result.get(), row.attribute, made);
        } else if (const JsonValue& node = slots.node(s); node.kind == JsonKind::Null) {
            // A template copy already holds None there, in its place.
            rc = !row.nullable ? raise_fallback() : record_template ? 0 : store(result.get(), plan.fields[i], Py_None);
        } else if (row.shared && is_container(node)) {
            rc = raise_fallback();
        } else if (row.plain && whole) {
            Ref value = Ref::steal(load_node(walk, row.direct, *row.element, node, partial));
            rc = value ? PyDict_SetItem(result.get(), row.attribute, value.get()) : -1;
        } else {
            rc = load_field(walk, plan.fields[i], node, partial, result.get());
        }
        if (rc < 0) return nullptr;
    }
    if (load::drop_placeholders(result.get(), plan.fields, unset) < 0) return nullptr;
    return result.release();
}

}  // namespace corvane::json_in
