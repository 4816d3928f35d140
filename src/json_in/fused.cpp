// The fused walk: records, lists, tuples and dicts are walked on the tree; every other
// value becomes the Python object json.loads would have made and goes through the
// ordinary conversion, so both paths share one definition of each kind.
#include "json_in/fused.hpp"

#include <algorithm>
#include <cmath>

#include "json_in/record.hpp"

namespace corvane::json_in {
namespace {

using load::Kind;
using load::LoadElement;
using load::LoadFieldSpec;
using load::LoadSerializer;
using load::Partial;

// Per-record integers: on the stack for ordinary records, on the heap for wide ones.
class IntBuf {
public:
    bool init(size_t n, int32_t fill) noexcept {
        if (n <= kInline) {
            data_ = inline_;
            std::fill_n(inline_, n, fill);
            return true;
        }
        if (!heap_.assign(n, fill)) {
            PyErr_NoMemory();
            return false;
        }
        data_ = heap_.data();
        return true;
    }
    // Room for n items that the caller writes before reading.
    bool init_unset(size_t n) noexcept { return n <= kInline ? (data_ = inline_, true) : init(n, -1); }
    int32_t& operator[](size_t i) noexcept { return data_[i]; }

private:
    static constexpr size_t kInline = 64;
    int32_t inline_[kInline];
    PodStack<int32_t> heap_;
    int32_t* data_ = inline_;
};

// Every other kind: the value as json.loads gives it, then the ordinary conversion.
PyObject* convert(Walk& walk, const LoadElement& e, const JsonValue& v, const Partial& partial) noexcept {
    Ref py = Ref::steal(json_to_py(v));
    if (!py) return nullptr;
    return load::apply(e, walk.ctx, py.get(), partial);
}

PyObject* list_of(Walk& walk, const LoadElement& e, const JsonValue& v, const Partial& partial) noexcept {
    if (v.kind != JsonKind::Array) return raise_fallback();
    Ref list = Ref::steal(PyList_New(v.size));
    if (!list) return nullptr;
    const LoadElement& child = *e.child;
    const uint8_t direct = direct_kinds(child);
    for (uint32_t i = 0; i < v.size; ++i) {
        const JsonValue& item = v.items[i];
        PyObject* out;
        if (item.kind == JsonKind::Null) {
            if (!e.items_nullable) return raise_fallback();
            out = Py_NewRef(Py_None);
        } else if (!(out = load_node(walk, direct, child, item, partial))) {
            return nullptr;
        }
        PyList_SetItem(list.get(), i, out);
    }
    return list.release();
}

PyObject* tuple_of(Walk& walk, const LoadElement& e, const JsonValue& v, const Partial& partial) noexcept {
    if (v.kind != JsonKind::Array || v.size != e.items.size()) return raise_fallback();
    Ref tuple = Ref::steal(PyTuple_New(v.size));
    if (!tuple) return nullptr;
    for (uint32_t i = 0; i < v.size; ++i) {
        if (v.items[i].kind == JsonKind::Null) return raise_fallback();
        PyObject* out = load_node(walk, e.items[i], v.items[i], partial);
        if (!out) return nullptr;
        PyTuple_SetItem(tuple.get(), i, out);
    }
    return tuple.release();
}

// For each pair of a repeated key text: at its first occurrence the position of its
// last one, -1 at every later occurrence. 1 when some key repeats (`last` is then
// set), 0 when none does (the common case), -1 with MemoryError set.
int repeated_keys(const JsonValue& obj, IntBuf& last, IntBuf& order) noexcept {
    const uint32_t n = obj.size;
    if (n < 2) return 0;
    if (!order.init(n, 0)) return -1;
    for (uint32_t i = 0; i < n; ++i) order[i] = static_cast<int32_t>(i);
    auto key = [&](uint32_t i) { return obj.pairs[order[i]].key_text(); };
    // A sort rather than a hash table: the keys come from the input, and sorting has
    // no worst case that a crafted document could pick. Being stable, it keeps equal
    // keys in document order, so each run of them starts at the first occurrence and
    // ends at the last.
    int32_t* first = &order[0];
    std::stable_sort(first, first + n,
                     [&](int32_t a, int32_t b) { return obj.pairs[a].key_text() < obj.pairs[b].key_text(); });
    bool any = false;
    for (uint32_t i = 1; i < n && !any; ++i) any = key(i - 1) == key(i);
    if (!any) return 0;
    if (!last.init(n, -1)) return -1;
    for (uint32_t i = 0; i < n;) {
        uint32_t j = i;
        while (j + 1 < n && key(j + 1) == key(i)) ++j;
        last[static_cast<size_t>(order[i])] = order[j];
        i = j + 1;
    }
    return 1;
}

// json.loads keeps one pair per key text (the last value, at the first place) before
// the keys are converted, so only those pairs are converted here: converting every
// pair would let the wrong value win when two key texts convert to one key.
PyObject* dict_of(Walk& walk, const LoadElement& e, const JsonValue& v, const Partial& partial) noexcept {
    if (v.kind != JsonKind::Object) return raise_fallback();
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    IntBuf last, order;
    const int repeats = repeated_keys(v, last, order);
    if (repeats < 0) return nullptr;
    for (uint32_t i = 0; i < v.size; ++i) {
        uint32_t from = i;
        if (repeats) {
            if (last[i] < 0) continue;
            from = static_cast<uint32_t>(last[i]);
        }
        const JsonPair& pair = v.pairs[i];
        Ref key = Ref::steal(str_to_py(pair.key, pair.key_size));
        if (!key) return nullptr;
        if (e.key_element) {
            key = Ref::steal(load::apply(*e.key_element, walk.ctx, key.get(), partial));
            if (!key) return nullptr;
            if (!e.key_validators.empty() && load::check_all(e.key_validators, key.get()) < 0) return nullptr;
        }
        const JsonValue& node = v.pairs[from].value;
        Ref value;
        if (e.value_element) {
            if (node.kind == JsonKind::Null) return raise_fallback();
            value = Ref::steal(load_node(walk, *e.value_element, node, partial));
            if (!value) return nullptr;
            if (!e.value_validators.empty() && load::check_all(e.value_validators, value.get()) < 0)
                return nullptr;
        } else {
            value = Ref::steal(json_to_py(node));
            if (!value) return nullptr;
        }
        if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
    }
    return dict.release();
}

// The unknown-key pass under Reject and Keep. A key that matched a field is tested
// through that field's input_key, an exact str of the same text, so no str is made.
int extra_keys(const LoadSerializer& plan, const KeyIndex& index, const JsonValue& obj, IntBuf& pair_slot,
               PyObject* result) noexcept {
    for (uint32_t j = 0; j < obj.size; ++j) {
        const JsonPair& pair = obj.pairs[j];
        const int32_t s = pair_slot[j];
        int known;
        Ref made;
        PyObject* key;
        if (s >= 0) {
            key = index.slot(s).str;
            known = index.slot_known(s);
            if (known < 0 && (known = load::contains(plan.known_keys, key)) < 0) return -1;
        } else {
            made = Ref::steal(str_to_py(pair.key, pair.key_size));
            if (!made) return -1;
            key = made.get();
            known = load::contains(plan.known_keys, key);
            if (known < 0) return -1;
        }
        if (known) continue;
        if (plan.extra_keys == load::ExtraKeys::Reject) return raise_fallback();
        if (s >= 0 && is_container(pair.value)) return raise_fallback();
        Ref value = Ref::steal(json_to_py(pair.value));
        if (!value || PyDict_SetItem(result, key, value.get()) < 0) return -1;
    }
    return 0;
}

}  // namespace

PyObject* apply_json(Walk& walk, const LoadElement& e, const JsonValue& v, const Partial& partial) noexcept {
    if (v.kind == JsonKind::Null) return raise_fallback();  // callers decide about null first
    switch (e.kind) {
        case Kind::Nested: {
            const LoadSerializer& nested = *e.serializer;
            if (nested.many) {
                if (v.kind != JsonKind::Array) return raise_fallback();
                return run_many_json(walk, nested, v, partial);
            }
            if (v.kind != JsonKind::Object) return raise_fallback();
            return run_one_json(walk, nested, v, partial);
        }
        case Kind::ListOf:
            return list_of(walk, e, v, partial);
        case Kind::TupleOf:
            return tuple_of(walk, e, v, partial);
        case Kind::DictOf:
            return dict_of(walk, e, v, partial);
        case Kind::DictCopy:
            if (v.kind != JsonKind::Object) return raise_fallback();
            return json_to_py(v);
        // The cases below give what the ordinary conversion gives for the object
        // json_to_py makes, without making it twice.
        case Kind::Passthrough:
            return json_to_py(v);
        case Kind::Constant:
            return Py_NewRef(e.value);
        case Kind::BoolSet:
            if (v.kind == JsonKind::Bool) return load::apply_bool_set(e, v.boolean ? Py_True : Py_False);
            return convert(walk, e, v, partial);
        // load_node makes the scalars these kinds take as they are; what reaches here
        // needs the ordinary conversion.
        case Kind::Text:
        case Kind::Int:
        case Kind::StrictInt:
        case Kind::Float:
        case Kind::EnumMember:
        case Kind::Uuid:
        case Kind::InstanceOrCall:
        case Kind::CallField:
        case Kind::CallFieldAlt1:
        case Kind::CallFieldAlt2:
        case Kind::CallFieldAlt3:
        case Kind::NestedKey:
            return convert(walk, e, v, partial);
    }
    PyErr_SetString(PyExc_SystemError, "corrupt load element");
    return nullptr;
}

int load_field(Walk& walk, const LoadFieldSpec& f, const JsonValue& node, const Partial& partial,
               PyObject* result) noexcept {
    Partial derived;
    const Partial* field_partial = &partial;
    if (partial.state == Partial::State::Names) {
        if (Partial::derive(partial, f.name, derived) < 0) return -1;
        field_partial = &derived;
    }
    Ref value = Ref::steal(load_node(walk, f.element, node, *field_partial));
    if (!value) return -1;
    if (!f.validators.empty() && load::check_all(f.validators, value.get()) < 0) return -1;
    return store(result, f, value.get());
}

PyObject* run_one_json(Walk& walk, const LoadSerializer& plan, const JsonValue& obj,
                       const Partial& partial) noexcept {
    const KeyIndex* index = plan.key_index.get();
    if (!index) return raise_fallback();
    index->prefetch();
    // found[slot]: the last pair with that key, as in the dict json.loads builds. Up to
    // 64 slots, `seen` tells which entries were written, so none needs filling first
    // (a fill costs more than a small record's whole match).
    IntBuf found, pair_slot;
    const bool extra_pass = plan.extra_keys != load::ExtraKeys::Ignore;
    const size_t slots = index->slot_count();
    const bool masked = slots <= 64;
    if (!(masked ? found.init_unset(slots) : found.init(slots, -1)) || (extra_pass && !pair_slot.init_unset(obj.size)))
        return nullptr;
    uint64_t seen = 0;
    int32_t s = -1;
    for (uint32_t j = 0; j < obj.size; ++j) {
        s = index->match(s, obj.pairs[j]);
        if (s >= 0) {
            found[static_cast<size_t>(s)] = static_cast<int32_t>(j);
            if (masked) seen |= uint64_t{1} << s;
        }
        if (extra_pass) pair_slot[j] = s;
    }
    struct TreeSlots {
        IntBuf& found;
        const JsonValue& obj;
        uint64_t bits;
        bool masked;
        bool seen(int32_t s) const noexcept {
            return masked ? (bits >> s & 1) != 0 : found[static_cast<size_t>(s)] >= 0;
        }
        static PyObject* made(int32_t) noexcept { return nullptr; }
        const JsonValue& node(int32_t s) const noexcept { return obj.pairs[found[static_cast<size_t>(s)]].value; }
    };
    Ref result = Ref::steal(build_record(walk, plan, *index, TreeSlots{found, obj, seen, masked}, partial));
    if (!result) return nullptr;
    if (extra_pass && extra_keys(plan, *index, obj, pair_slot, result.get()) < 0) return nullptr;
    return result.release();
}

PyObject* run_many_json(Walk& walk, const LoadSerializer& plan, const JsonValue& array,
                        const Partial& partial) noexcept {
    Ref list = Ref::steal(PyList_New(array.size));
    if (!list) return nullptr;
    for (uint32_t i = 0; i < array.size; ++i) {
        if (array.items[i].kind != JsonKind::Object) return raise_fallback();
        PyObject* record = run_one_json(walk, plan, array.items[i], partial);
        if (!record) return nullptr;
        PyList_SetItem(list.get(), i, record);
    }
    return list.release();
}

}  // namespace corvane::json_in
