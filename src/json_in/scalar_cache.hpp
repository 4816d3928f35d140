// Short value strings and ids repeat a great deal in real documents (language codes,
// kinds, category ids): within one call, each such value is made into an object once.
// A slot keeps the first value that lands in it: replacing it would touch the old
// object, long out of the processor's caches, for every unique value that passes.
// Both kinds are immutable, so handing out one object for equal values is not
// observable beyond identity, which json.loads does not promise either.
#pragma once
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "json_in/value.hpp"

namespace corvane::json_in {

// The slots of one cache, each holding an object (or none) and the value it stands
// for, and whether the cache still pays. Where values rarely repeat (generated ids,
// names), probing costs more than it saves: a cache that hits less than a quarter of
// a window's lookups is off for the rest of the call. Which slots hold an object is
// kept in a bitmap, so that a call sets up and clears a table by its bitmap alone:
// filling and scanning every slot cost a small document more than all its lookups.
template <class Key, size_t Bits>
class CacheSlots {
public:
    struct Slot {
        PyObject* obj;
        Key key;
    };

    CacheSlots() noexcept = default;
    CacheSlots(const CacheSlots&) = delete;
    CacheSlots& operator=(const CacheSlots&) = delete;
    ~CacheSlots() {
        if (!table_) return;
        for (size_t w = 0; w < kWords; ++w)
            for (uint64_t bits = table_->held[w]; bits; bits &= bits - 1)
                Py_DECREF(table_->slots[w * 64 + static_cast<size_t>(std::countr_zero(bits))].obj);
    }

    // The slot for `hash` and the object it holds (null for none); no slot when the
    // cache is off or out of memory.
    struct Probe {
        Slot* slot;
        PyObject* held;
        size_t index;
    };
    Probe at(uint64_t hash) noexcept {
        if (off_) return {};
        if (!table_) {
            // Default-initialised: only the bitmap is written.
            if (!(table_ = std::unique_ptr<Table>(new (std::nothrow) Table))) return {};
            std::fill_n(table_->held, kWords, uint64_t{0});
        }
        const size_t i = hash >> (64 - Bits);
        Slot& slot = table_->slots[i];
        return {&slot, table_->held[i / 64] >> (i % 64) & 1 ? slot.obj : nullptr, i};
    }
    // A lookup's outcome; `made` is the object made on a miss (or null), kept when the
    // slot is free.
    void count(const Probe& p, bool hit, PyObject* made, const Key& key) noexcept {
        hits_ += hit;
        if (!p.held && made) {
            *p.slot = Slot{Py_NewRef(made), key};
            table_->held[p.index / 64] |= uint64_t{1} << (p.index % 64);
        }
        if (++lookups_ < kWindow) return;
        off_ = hits_ * 4 < kWindow;
        lookups_ = hits_ = 0;
    }

private:
    static constexpr size_t kSlots = size_t{1} << Bits;
    static constexpr size_t kWords = kSlots / 64;
    static constexpr uint32_t kWindow = 256;
    struct Table {
        uint64_t held[kWords];
        Slot slots[kSlots];
    };
    std::unique_ptr<Table> table_;
    uint32_t lookups_ = 0, hits_ = 0;
    bool off_ = false;
};

// A text of 1 to 16 bytes as two words that tell it from every other text of its size,
// loaded straight from it: a load fed by a copy of variable size waits for the copy's
// last store.
inline void short_words(const char* s, size_t n, uint64_t& w0, uint64_t& w1) noexcept {
    if (n >= 8) {
        std::memcpy(&w0, s, 8);
        std::memcpy(&w1, s + n - 8, 8);
        return;
    }
    w1 = 0;
    if (n >= 4) {
        uint32_t a, b;
        std::memcpy(&a, s, 4);
        std::memcpy(&b, s + n - 4, 4);
        w0 = a | uint64_t{b} << 32;
        return;
    }
    w0 = uint64_t{static_cast<uint8_t>(s[0])} | uint64_t{static_cast<uint8_t>(s[n >> 1])} << 8 |
         uint64_t{static_cast<uint8_t>(s[n - 1])} << 16;
}

uint64_t key_hash(const char* key, size_t size) noexcept;

class StrCache {
public:
    // A new reference to a str equal to the node's text, or nullptr with an exception set.
    PyObject* get(const JsonValue& v) noexcept {
        if (v.form != StrForm::Utf8 || v.size == 0) return str_to_py(v);
        if (v.size > kMaxSize) return get_long(v);
        Text t{0, 0, v.size};
        short_words(v.str, v.size, t.w0, t.w1);
        const auto p = slots_.at((t.w0 ^ (t.w1 * 0x9E3779B97F4A7C15ull) ^ v.size) * 0xFF51AFD7ED558CCDull);
        if (!p.slot) return str_to_py(v);
        const Text& k = p.slot->key;
        const bool hit = p.held && k.w0 == t.w0 && k.w1 == t.w1 && k.size == t.size;
        PyObject* s = hit ? Py_NewRef(p.held) : str_to_py(v);
        slots_.count(p, hit, s, t);
        return s;
    }

private:
    // Longer texts (links, dates, repeated descriptions) are told apart by a hash and a
    // comparison with the text the slot was made from: UTF-8 nodes are views into the
    // input, which outlives the call.
    PyObject* get_long(const JsonValue& v) noexcept {
        const uint64_t h = key_hash(v.str, v.size);
        const auto p = long_slots_.at(h * 0x9E3779B97F4A7C15ull);
        if (!p.slot) return str_to_py(v);
        const LongText& k = p.slot->key;
        const bool hit = p.held && k.hash == h && k.size == v.size && std::memcmp(k.text, v.str, v.size) == 0;
        PyObject* s = hit ? Py_NewRef(p.held) : str_to_py(v);
        long_slots_.count(p, hit, s, LongText{v.str, h, v.size});
        return s;
    }

    static constexpr uint32_t kMaxSize = 16;
    struct Text {
        uint64_t w0, w1;
        uint32_t size;
    };
    struct LongText {
        const char* text;
        uint64_t hash;
        uint32_t size;
    };
    CacheSlots<Text, 9> slots_;
    CacheSlots<LongText, 9> long_slots_;
};

// Integers the interpreter does not keep already.
class IntCache {
public:
    // A new reference to an int of value v, or nullptr with an exception set.
    PyObject* get(int64_t v) noexcept {
        if (v >= -5 && v <= 256) return PyLong_FromLongLong(v);
        const auto p = slots_.at(static_cast<uint64_t>(v) * 0x9E3779B97F4A7C15ull);
        if (!p.slot) return PyLong_FromLongLong(v);
        const bool hit = p.held && p.slot->key == v;
        PyObject* o = hit ? Py_NewRef(p.held) : PyLong_FromLongLong(v);
        slots_.count(p, hit, o, v);
        return o;
    }

private:
    CacheSlots<int64_t, 10> slots_;
};

}  // namespace corvane::json_in
