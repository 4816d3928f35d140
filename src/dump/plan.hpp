// The dump plan: what a dump payload decodes into. Nodes are const after construction;
// every PyObject* here is borrowed from the owning plan's Arena.
#pragma once
#include "module/python.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane::dump {

// Payload tag values.
enum class Kind : uint8_t {
    Passthrough = 0,
    Text = 1,
    Int = 2,
    Float = 3,
    Nested = 4,
    ListOf = 5,
    Stringify = 6,
    DateFormat = 7,
    EnumMember = 8,
    CallField = 9,
    DictCopy = 10,
    Constant = 11,
    CallFieldAlt = 12,
    DictOf = 13,
    TupleOf = 14,
    NestedKey = 15,
    StringifyAlt = 16,
};

struct Serializer;

struct Element {
    Kind kind = Kind::Passthrough;
    bool as_text = false;    // Int, Float
    bool many = false;       // Nested, NestedKey
    bool use_value = false;  // EnumMember
    PyObject* formatter = nullptr;  // DateFormat (null: use strftime)
    PyObject* format = nullptr;     // DateFormat
    PyObject* function = nullptr;   // CallField, CallFieldAlt
    PyObject* value = nullptr;      // Constant
    PyObject* key = nullptr;        // NestedKey
    std::unique_ptr<Serializer> serializer;    // Nested, NestedKey
    std::unique_ptr<Element> child;            // ListOf, EnumMember
    std::unique_ptr<Element> key_element;      // DictOf (null: keys unchanged)
    std::unique_ptr<Element> value_element;    // DictOf (null: values unchanged)
    std::vector<Element> items;                // TupleOf
    // Some node at or below this one can raise AccelFallback under run (a DictOf or TupleOf).
    bool may_fall_back = false;
};

struct FieldSpec {
    bool delegate = false;
    PyObject* out_key = nullptr;
    PyObject* attribute = nullptr;
    std::vector<PyObject*> path;      // Direct with a dotted attribute; empty otherwise
    PyObject* default_value = nullptr;  // Direct; the missing sentinel means none
    PyObject* field = nullptr;          // Delegate: host field with .serialize
    Element element;                    // Direct
};

// What the JSON writer needs of a serializer's out_keys, built with the plan: each
// field's written `"key": ` text (empty when the key could not be escaped then, so that
// writing the field raises its error), and for each field the index of the first field
// with an equal key, so that a record that would repeat a key is caught. `host_keys`:
// some key's equality is host code, which the writer leaves to the host.
struct JsonKeys {
    bool distinct = true;
    bool host_keys = false;
    std::vector<std::string> text;
    std::vector<uint32_t> first;
};

struct Serializer {
    PyObject* serialize_arg = nullptr;
    std::vector<FieldSpec> fields;
    // A run of this plan can raise AccelFallback; then it must not consume one-shot iterators.
    bool may_fall_back = false;
    // Null, or the out_keys mapped to None in a dict sized once: each record then starts
    // as a copy of it instead of an empty dict that grows as fields are stored.
    PyObject* out_template = nullptr;
    // Every out_key is an exact str: storing under one runs no host code.
    bool plain_keys = false;
    JsonKeys json_keys;
};

}  // namespace corvane::dump
