// Matching a record's key texts to a plan's fields without making Python strings.
#pragma once
#include <cmath>

#include "json_in/pod_stack.hpp"
#include "json_in/scalar_cache.hpp"
#include "json_in/value.hpp"
#include "load/plan.hpp"
#include "module/bits.hpp"
#include "module/ctx.hpp"

namespace corvane::json_in {

// The scalar nodes an element takes as they are, with no conversion: the str, int or
// float json.loads would give is the value. Decided once per element.
enum : uint8_t { kTakesStr = 1, kTakesInt = 2, kTakesFinite = 4, kTakesNonFinite = 8 };

inline uint8_t direct_kinds(const load::LoadElement& e) noexcept {
    switch (e.kind) {
        case load::Kind::Text:
            return kTakesStr;
        case load::Kind::Int:
        case load::Kind::StrictInt:
            return kTakesInt;
        case load::Kind::Float:
            return kTakesFinite | (e.allow_non_finite ? kTakesNonFinite : 0);
        default:
            return 0;
    }
}

inline bool takes_direct(uint8_t kinds, const JsonValue& v) noexcept {
    switch (v.kind) {
        case JsonKind::Float:
            return kinds & (std::isfinite(v.number) ? kTakesFinite : kTakesNonFinite);
        case JsonKind::Int:
            return kinds & kTakesInt;
        case JsonKind::Str:
            return kinds & kTakesStr;
        default:
            return false;
    }
}

// How the one-pass read (one_pass.cpp) takes an element's value. Every step but Tree
// makes the value as the text is read, with no host code; decided with the plan.
enum class Read : uint8_t {
    Tree,     // made from its tree by the walk, when the record is complete
    Scalar,   // direct_kinds
    Bool,     // a BoolSet whose answers for true and false were decided with the plan
    Record,   // Nested, one record of a plan that reads without host code
    Records,  // the same, many
    List,     // ListOf whose items read in one of these steps
};
Read read_step(const load::LoadElement& e) noexcept;

// One plan's input keys as UTF-8 bytes, built with the plan. Fields that share an
// input_key share a slot. Records of one schema usually list their keys in the same
// order, so the key that followed the previous key's slot last time is tried first and
// the hash table is the fallback; a record that leaves out or adds a key then misses
// only there, not at every position after it. Those hints are the one part that
// changes after the build; they outlive the call, so a small document starts with
// them, and as each is checked against the key, records of another shape (or of a
// re-entrant call) that overwrite them cost a lookup, never a wrong match.
class KeyIndex {
public:
    struct Slot {
        const char* key;
        uint32_t size;
        PyObject* str;  // the first field's input_key, an exact str with that text
        int8_t known;   // see slot_known
        bool shared;    // more than one field reads this key
        uint32_t field;  // the first field that reads it
    };

    KeyIndex() noexcept = default;
    KeyIndex(const KeyIndex&) = delete;
    KeyIndex& operator=(const KeyIndex&) = delete;

    // 1 built, 0 when the plan cannot be loaded from the tree (see make_key_index),
    // -1 with an exception set.
    int build(const load::LoadSerializer& plan) noexcept;

    // The slot whose key equals `key`, or -1. `after` is the slot the record's previous
    // key matched: -1 at its first key, and after a key no field reads.
    int32_t match(int32_t after, const char* key, uint32_t size) const noexcept {
        int32_t& hint = hints_[static_cast<size_t>(after + 1)];
        if (hint >= 0 && equal(slots_[static_cast<size_t>(hint)], key, size)) return hint;
        return hint = lookup(key, size);
    }
    int32_t match(int32_t after, const JsonPair& pair) const noexcept { return match(after, pair.key, pair.key_size); }
    int32_t lookup(const char* key, uint32_t size) const noexcept;

    // What the walk reads of each field for every record, packed together: the plan's
    // field specs are large, and a wide record would touch several lines of each.
    struct FieldRow {
        PyObject* attribute;
        const load::LoadElement* element;
        // The field's slot, or -1 when its input_key has no UTF-8 form: json.loads only
        // gives such a key for a lone-surrogate escape, which the parse refuses, so the
        // field is absent from every document that gets this far.
        int32_t slot;
        bool nullable;
        bool plain;   // no validators and a plain attribute: the value goes straight in
        bool shared;  // its slot's
        uint8_t direct;  // direct_kinds of the element, read here rather than from it
        Read read;
        Read items;  // List: read_step of its items
    };
    const FieldRow& field(size_t i) const noexcept { return rows_[i]; }
    const Slot& slot(int32_t s) const noexcept { return slots_[static_cast<size_t>(s)]; }

    // Whether the slot's key is in known_keys: 1, 0, or -1 when it must be asked per
    // record. Answers are decided with the plan only for a frozenset of exact strs, which
    // no host code can change or take part in; a set or a mapping may change meanwhile.
    int slot_known(int32_t s) const noexcept { return slots_[static_cast<size_t>(s)].known; }

    size_t slot_count() const noexcept { return slots_.size(); }

    // Whether the plan's records may be read in one pass: unknown keys ignored or
    // rejected. Its Tree fields are then loaded in field order once the record is read,
    // as in the walk.
    bool one_pass() const noexcept { return one_pass_; }
    // Unknown keys are rejected: a key no field reads takes the record to the walk.
    bool rejects() const noexcept { return rejects_; }
    // Whether, besides, no field is Tree: a record then loads with no host code at all,
    // and may be read in one pass inside another.
    bool host_free() const noexcept { return host_free_; }

    // Asks for the lines a record's match and walk read, all at once: the previous
    // record's text, tree and objects have pushed them out of the cache since, and
    // the loops would otherwise wait for each line in turn.
    void prefetch() const noexcept {
        prefetch_lines(rows_.data(), rows_.size() * sizeof(FieldRow));
        prefetch_lines(slots_.data(), slots_.size() * sizeof(Slot));
        prefetch_lines(key_bytes_.data(), key_bytes_.size());
    }

private:
    static void prefetch_lines(const void* p, size_t n) noexcept {
        for (size_t i = 0; i < n; i += 64) bits::prefetch(static_cast<const char*>(p) + i);
    }
    static bool equal(const Slot& s, const char* key, uint32_t size) noexcept {
        if (s.size != size) return false;
        // Keys are short: overlapping word loads beat a library call.
        const char* const k = s.key;
        if (size >= 8 && size <= 16) return word(k, key, 0) == 0 && word(k, key, size - 8) == 0;
        if (size >= 4 && size < 8) {
            uint32_t a0, a1, b0, b1;
            std::memcpy(&a0, k, 4);
            std::memcpy(&b0, key, 4);
            std::memcpy(&a1, k + size - 4, 4);
            std::memcpy(&b1, key + size - 4, 4);
            return ((a0 ^ b0) | (a1 ^ b1)) == 0;
        }
        if (size > 16) {
            uint64_t diff = word(k, key, size - 8);
            for (uint32_t i = 0; i < size - 8; i += 8) diff |= word(k, key, i);
            return diff == 0;
        }
        return size == 0 || (k[0] == key[0] && k[size >> 1] == key[size >> 1] && k[size - 1] == key[size - 1]);
    }
    // The bits in which the eight bytes at offset i of a and b differ.
    static uint64_t word(const char* a, const char* b, uint32_t i) noexcept {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        return x ^ y;
    }
    PodStack<Slot> slots_;
    PodStack<FieldRow> rows_;
    PodStack<char> key_bytes_;  // the slots' key texts
    PodStack<int32_t> table_;  // open addressing over slots_, -1 empty
    size_t mask_ = 0;
    bool one_pass_ = false;
    bool host_free_ = false;
    bool rejects_ = false;
    // For each slot (and, first, for none), the slot whose key came next last time, or -1.
    mutable PodStack<int32_t> hints_;
};

// State of one run_json call.
struct Walk {
    const Ctx& ctx;
    StrCache strs;
    IntCache ints;
};

}  // namespace corvane::json_in
