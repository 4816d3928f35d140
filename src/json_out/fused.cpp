// The fused dump: walks the dump plan and writes JSON text as it goes, so that
// run_json(obj, many) == json.dumps(run(obj, many)) without building the dicts.
// Nested and ListOf are walked here; every other element is converted by the dump
// engine and handed to the writer, containers once the whole dump is done.
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "dump/dump.hpp"
#include "json_out/json_out.hpp"
#include "json_out/writer.hpp"
#include "module/depth.hpp"
#include "module/fallback.hpp"
#include "module/names.hpp"
#include "module/ref.hpp"
#include "module/walk.hpp"

namespace corvane::json_out {
namespace {

using dump::Element;
using dump::FieldSpec;
using dump::JsonKeys;
using dump::Kind;
using dump::Serializer;

// The text of one call, and the containers whose text waits for the end of the dump:
// json.dumps(run(...)) reads a container that run() returned only after the whole dump,
// so host code run by a later field (a function emptying its argument, say) must still
// be able to change what is written.
struct Text : Buffer {
    std::vector<std::pair<size_t, Ref>> later;
};

// A value from the host or the dump engine: scalars now, containers at the end.
int write_value(Text& b, PyObject* v) noexcept {
    PyTypeObject* t = Py_TYPE(v);
    if (t == &PyUnicode_Type || t == &PyLong_Type || t == &PyFloat_Type || t == &PyBool_Type || v == Py_None)
        return write_json_value(b, v);
    if (PyList_Check(v) || PyDict_Check(v) || (PyTuple_Check(v) && PyTuple_Size(v) > 0)) {
        try {
            b.later.emplace_back(b.size(), Ref::borrow(v));
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            return -1;
        }
        return 0;
    }
    return write_json_value(b, v);
}

PyObject* finish(const Text& b) noexcept {
    if (b.later.empty()) return b.finish();
    Buffer out;
    size_t pos = 0;
    for (const auto& [at, v] : b.later) {
        if (at > pos && !out.append(b.data() + pos, at - pos)) return nullptr;
        if (write_json_value(out, v.get()) < 0) return nullptr;
        pos = at;
    }
    if (b.size() > pos && !out.append(b.data() + pos, b.size() - pos)) return nullptr;
    return out.finish();
}

int write_json(const Element& e, Text& b, const Ctx& ctx, PyObject* value) noexcept;
int write_json_one(const Serializer& s, Text& b, const Ctx& ctx, PyObject* obj) noexcept;

// Every descent into a nested plan passes here, so one guard bounds the walk's depth;
// too deep falls back, and the host reports it in its own words.
int write_json(const Serializer& s, Text& b, const Ctx& ctx, PyObject* obj, bool many) noexcept {
    DepthGuard g;
    if (!g.enter(" while serializing")) return to_fallback();
    if (!many || obj == Py_None) return write_json_one(s, b, ctx, obj);
    if (!b.append('[')) return -1;
    bool first = true;
    int rc = for_each_item(obj, true, [&](PyObject* item) noexcept {
        if (!first && !b.append(", ")) return -1;
        first = false;
        return write_json_one(s, b, ctx, item);
    });
    if (rc < 0) return -1;
    return b.append(']') ? 0 : -1;
}

int write_list_of(const Element& child, Text& b, const Ctx& ctx, PyObject* value) noexcept {
    DepthGuard g;
    if (!g.enter(" while serializing")) return to_fallback();
    if (!b.append('[')) return -1;
    bool first = true;
    int rc = for_each_item(value, true, [&](PyObject* item) noexcept {
        if (!first && !b.append(", ")) return -1;
        first = false;
        return write_json(child, b, ctx, item);
    });
    if (rc < 0) return -1;
    return b.append(']') ? 0 : -1;
}

// Written through the dump engine's conversion, with the shortcuts where that
// conversion is known to return its input (or None for None) unchanged.
int write_json(const Element& e, Text& b, const Ctx& ctx, PyObject* value) noexcept {
    // Every kind but these passes None through as it is.
    if (value == Py_None && e.kind != Kind::Constant && e.kind != Kind::CallField && e.kind != Kind::CallFieldAlt)
        return b.append("null") ? 0 : -1;
    switch (e.kind) {
        case Kind::Passthrough:
            return write_value(b, value);
        case Kind::Constant:
            return write_value(b, e.value);
        case Kind::Nested:
            return write_json(*e.serializer, b, ctx, value, e.many);
        case Kind::ListOf:
            return write_list_of(*e.child, b, ctx, value);
        case Kind::Text:
            if (PyUnicode_CheckExact(value)) return write_str(b, value);
            break;
        case Kind::Int:
            if (!e.as_text && PyLong_CheckExact(value)) return write_int(b, value);
            break;
        case Kind::Float:
            if (!e.as_text && PyFloat_CheckExact(value)) return write_float(b, value);
            break;
        case Kind::Stringify:
        case Kind::StringifyAlt:
        case Kind::DateFormat:
        case Kind::EnumMember:
        case Kind::DictCopy:
        case Kind::DictOf:
        case Kind::TupleOf:
        case Kind::NestedKey:
        case Kind::CallField:
        case Kind::CallFieldAlt:
            break;
    }
    Ref out = Ref::steal(dump::apply(e, ctx, value));
    if (!out) return -1;
    return write_value(b, out.get());
}

int write_json_one(const Serializer& s, Text& b, const Ctx& ctx, PyObject* obj) noexcept {
    const JsonKeys& keys = s.json_keys;
    if (keys.host_keys) return raise_fallback();
    std::vector<bool> written;
    if (!keys.distinct) {
        try {
            written.resize(s.fields.size());
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            return -1;
        }
    }
    if (!b.append('{')) return -1;
    bool first = true;
    const size_t n = s.fields.size();
    for (size_t i = 0; i < n; ++i) {
        const FieldSpec& f = s.fields[i];
        Ref value;
        if (f.delegate) {
            value = Ref::steal(PyObject_CallMethodObjArgs(f.field, g_names.serialize, f.attribute, obj,
                                                          s.serialize_arg, nullptr));
            if (!value) return -1;
            if (value.get() == ctx.missing) continue;
        } else {
            value = Ref::steal(dump::fetch(f, ctx, obj));
            if (!value) return -1;
            if (value.get() == ctx.missing) {
                if (f.default_value == ctx.missing) continue;
                value = Ref::borrow(f.default_value);
            }
        }
        if (!keys.distinct) {
            // run() keeps one entry for a repeated key, at its first place with the later
            // value; writing both pairs would be a different text.
            uint32_t slot = keys.first[i];
            if (written[slot]) return raise_fallback();
            written[slot] = true;
        }
        const std::string& key = keys.text[i];
        if (!b.reserve(key.size() + 2)) return -1;
        if (!first) b.put(", ");
        first = false;
        if (key.empty()) [[unlikely]] {
            if (write_str(b, f.out_key) < 0 || !b.append(": ")) return -1;
        } else {
            b.put(key.data(), key.size());
        }
        int rc = f.delegate ? write_value(b, value.get()) : write_json(f.element, b, ctx, value.get());
        if (rc < 0) return -1;
    }
    return b.append('}') ? 0 : -1;
}

// Equality of str keys as a dict sees it, without host code: a subclass qualifies
// only while it keeps str's own hash and comparison.
bool plain_key(PyObject* key) noexcept {
    if (PyUnicode_CheckExact(key)) return true;
    PyTypeObject* t = Py_TYPE(key);
    return PyType_GetSlot(t, Py_tp_hash) == PyType_GetSlot(&PyUnicode_Type, Py_tp_hash) &&
           PyType_GetSlot(t, Py_tp_richcompare) == PyType_GetSlot(&PyUnicode_Type, Py_tp_richcompare);
}

}  // namespace

int build_keys(dump::Serializer& s) noexcept {
    JsonKeys& keys = s.json_keys;
    const size_t n = s.fields.size();
    try {
        keys.text.resize(n);
        keys.first.resize(n);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
    Ref seen = Ref::steal(PyDict_New());
    if (!seen) return -1;
    for (size_t i = 0; i < n; ++i) {
        PyObject* key = s.fields[i].out_key;
        Buffer text;
        if (write_str(text, key) == 0 && text.append(": ")) {
            try {
                keys.text[i].assign(text.data(), text.size());
            } catch (const std::bad_alloc&) {
                PyErr_NoMemory();
                return -1;
            }
        } else {
            PyErr_Clear();  // raised again when the field is written
        }
        keys.first[i] = static_cast<uint32_t>(i);
        if (!plain_key(key)) {
            keys.host_keys = true;
            continue;
        }
        PyObject* prev = PyDict_GetItemWithError(seen.get(), key);
        if (prev) {
            keys.first[i] = static_cast<uint32_t>(PyLong_AsSize_t(prev));
            keys.distinct = false;
            continue;
        }
        if (PyErr_Occurred()) return -1;
        Ref index = Ref::steal(PyLong_FromSize_t(i));
        if (!index || PyDict_SetItem(seen.get(), key, index.get()) < 0) return -1;
    }
    return 0;
}

PyObject* run_json(const dump::Serializer& s, const Ctx& ctx, PyObject* obj, bool many) noexcept {
    Text b;
    if (write_json(s, b, ctx, obj, many) < 0) return nullptr;
    return finish(b);
}

}  // namespace corvane::json_out
