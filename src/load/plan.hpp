// The load plan: what a load payload decodes into. Nodes are const after construction;
// every PyObject* here is borrowed from the owning plan's Arena.
#pragma once
#include "module/python.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace corvane::load {
struct LoadSerializer;
}
namespace corvane::json_in {
class KeyIndex;
void release_key_index(KeyIndex* index) noexcept;
// The plan's key index for loading from JSON text, left null when the plan cannot be
// loaded that way (run_json then falls back). -1 with an exception set.
int make_key_index(const load::LoadSerializer& plan, KeyIndex*& out) noexcept;
}  // namespace corvane::json_in

namespace corvane::load {

// Payload tag values (numbered independently of the dump side).
enum class Kind : uint8_t {
    Passthrough = 0,
    Text = 1,
    Int = 2,
    Float = 3,
    Nested = 4,
    ListOf = 5,
    EnumMember = 6,
    Uuid = 7,
    InstanceOrCall = 8,
    CallField = 9,
    DictCopy = 10,
    Constant = 11,
    BoolSet = 12,
    StrictInt = 13,
    DictOf = 14,
    TupleOf = 15,
    NestedKey = 16,
    CallFieldAlt1 = 17,
    CallFieldAlt2 = 18,
    CallFieldAlt3 = 19,
};

enum class ValidatorKind : uint8_t {
    Bounds = 0,
    SizeLimit = 1,
    MemberOf = 2,
    EqualTo = 3,
    NotMemberOf = 4,
    ItemsIn = 5,
    CallbackCheck = 6,
};

struct Validator {
    ValidatorKind kind = ValidatorKind::Bounds;
    PyObject* lower = nullptr;  // Bounds (null: absent)
    PyObject* upper = nullptr;  // Bounds (null: absent)
    bool lower_inclusive = false;
    bool upper_inclusive = false;
    std::optional<int64_t> min_len, max_len, exact_len;  // SizeLimit
    // MemberOf, ItemsIn: allowed; EqualTo: target; NotMemberOf: forbidden; CallbackCheck: function
    PyObject* object = nullptr;
    // Bounds of exact int/float (or absent), or SizeLimit: on a value of a builtin type
    // the check is the interpreter's own arithmetic.
    bool plain = false;
};

// Payload value 0 is Reject, 2 is Keep, every other value Ignore.
enum class ExtraKeys : uint8_t { Reject, Ignore, Keep };

struct LoadSerializer;

struct LoadElement {
    Kind kind = Kind::Passthrough;
    bool allow_non_finite = false;  // Float
    bool items_nullable = false;    // ListOf
    bool use_value = false;         // EnumMember
    bool many = false;              // NestedKey
    // BoolSet: both containers exact frozensets of exact str/int/bool/float, so a
    // membership test of such a value runs no host code.
    bool plain_sets = false;
    // BoolSet with plain_sets: what True and False give (borrowed True or False), taken
    // once with the plan; null where the answer falls back, which is then asked again.
    PyObject* on_true = nullptr;
    PyObject* on_false = nullptr;
    PyObject* cls = nullptr;        // EnumMember, Uuid, InstanceOrCall
    PyObject* converter = nullptr;  // InstanceOrCall
    PyObject* function = nullptr;   // CallField, CallFieldAlt1..3
    PyObject* value = nullptr;      // Constant
    PyObject* true_values = nullptr;   // BoolSet
    PyObject* false_values = nullptr;  // BoolSet
    PyObject* key = nullptr;           // NestedKey
    std::unique_ptr<LoadSerializer> serializer;  // Nested, NestedKey
    std::unique_ptr<LoadElement> child;          // ListOf, EnumMember
    std::unique_ptr<LoadElement> key_element;    // DictOf (null: keys unchanged)
    std::unique_ptr<LoadElement> value_element;  // DictOf (null: values unchanged)
    std::vector<Validator> key_validators;       // DictOf
    std::vector<Validator> value_validators;     // DictOf
    std::vector<LoadElement> items;              // TupleOf
};

struct LoadFieldSpec {
    bool delegate = false;
    PyObject* input_key = nullptr;
    PyObject* attribute = nullptr;
    std::vector<PyObject*> path;  // dotted attribute split once; empty otherwise
    PyObject* name = nullptr;
    PyObject* default_value = nullptr;  // Direct; the missing sentinel means none
    bool required = false;              // Direct
    bool nullable = false;              // Direct
    LoadElement element;                // Direct
    std::vector<Validator> validators;  // Direct
    bool key_known = false;             // input_key is in a plain known_keys
    PyObject* field = nullptr;          // Delegate: host field with .deserialize
};

// Owns the JSON input's key index of one plan.
class KeyIndexSlot {
public:
    KeyIndexSlot() noexcept = default;
    KeyIndexSlot(const KeyIndexSlot&) = delete;
    KeyIndexSlot& operator=(const KeyIndexSlot&) = delete;
    ~KeyIndexSlot() {
        if (index_) json_in::release_key_index(index_);
    }
    json_in::KeyIndex* get() const noexcept { return index_; }
    void set(json_in::KeyIndex* index) noexcept { index_ = index; }

private:
    json_in::KeyIndex* index_ = nullptr;
};

struct LoadSerializer {
    bool many = false;
    ExtraKeys extra_keys = ExtraKeys::Ignore;
    PyObject* known_keys = nullptr;
    // known_keys is an exact frozenset of exact str, so `key in known_keys` for an exact
    // str key runs no host code (set at decoding).
    bool plain_known_keys = false;
    std::vector<LoadFieldSpec> fields;
    // A dict holding every field's attribute (values None) in field order, or null.
    // Copying it gives a record dict already sized for its fields, instead of one that
    // grows as they are stored; a run deletes the attributes it leaves unset (before
    // any unknown key is kept), and what remains is in the order plain stores would
    // have given. Only made when that holds: Direct fields, plain distinct exact-str
    // attributes, at most kMaxTemplate of them.
    PyObject* record_template = nullptr;
    static constexpr size_t kMaxTemplate = 64;
    // A record may be read in one walk over its entries instead of a lookup per field
    // (run.cpp, RecordWalk): the plan has a record template, distinct exact-str input
    // keys, and under Reject plain known_keys.
    bool walkable = false;
    // Made with the plan; null when run_json must fall back for every record.
    KeyIndexSlot key_index;
};

}  // namespace corvane::load
