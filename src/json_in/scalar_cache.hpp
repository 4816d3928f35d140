// Short value strings and ids repeat a great deal in real documents (language codes,
// kinds, category ids): within one call, each such value is made into an object once.
// A slot keeps the first value that lands in it: replacing it would touch the old
// object, long out of the processor's caches, for every unique value that passes.
// Both kinds are immutable, so handing out one object for equal values is not
// observable beyond identity, which json.loads does not promise either.
#pragma once
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "json_in/value.hpp"

namespace corvane::json_in {

// Where values rarely repeat (generated ids, names), probing costs more than it saves:
// a cache that hits less than a quarter of a window's lookups is off for the call.
class HitRate {
public:
    bool off() const noexcept { return off_; }
    void count(bool hit) noexcept {
        hits_ += hit;
        if (++lookups_ < kWindow) return;
        off_ = hits_ * 4 < kWindow;
        lookups_ = hits_ = 0;
    }

private:
    static constexpr uint32_t kWindow = 256;
    uint32_t lookups_ = 0, hits_ = 0;
    bool off_ = false;
};

class StrCache {
public:
    StrCache() noexcept = default;
    StrCache(const StrCache&) = delete;
    StrCache& operator=(const StrCache&) = delete;
    ~StrCache() {
        if (entries_)
            for (size_t i = 0; i < kEntries; ++i) Py_XDECREF(entries_[i].str);
    }

    // A new reference to a str equal to the node's text, or nullptr with an exception set.
    PyObject* get(const JsonValue& v) noexcept {
        if (v.form != StrForm::Utf8 || v.size - 1 >= kMaxSize || rate_.off()) return str_to_py(v);
        if (!entries_ && !(entries_ = std::unique_ptr<Entry[]>(new (std::nothrow) Entry[kEntries]())))
            return str_to_py(v);
        uint64_t w0 = 0, w1 = 0;
        const size_t head = v.size < 8 ? v.size : 8;
        std::memcpy(&w0, v.str, head);
        std::memcpy(&w1, v.str + head, v.size - head);
        uint64_t h = (w0 ^ (w1 * 0x9E3779B97F4A7C15ull) ^ v.size) * 0xFF51AFD7ED558CCDull;
        Entry& e = entries_[(h >> 32) & (kEntries - 1)];
        const bool hit = e.str && e.w0 == w0 && e.w1 == w1 && e.size == v.size;
        rate_.count(hit);
        if (hit) return Py_NewRef(e.str);
        if (e.str) return str_to_py(v);
        PyObject* s = str_to_py(v);
        if (s) e = Entry{Py_NewRef(s), w0, w1, v.size};
        return s;
    }

private:
    static constexpr uint32_t kMaxSize = 16;
    static constexpr size_t kEntries = 512;
    struct Entry {
        PyObject* str;
        uint64_t w0, w1;
        uint32_t size;
    };
    std::unique_ptr<Entry[]> entries_;
    HitRate rate_;
};

// Integers the interpreter does not keep already.
class IntCache {
public:
    IntCache() noexcept = default;
    IntCache(const IntCache&) = delete;
    IntCache& operator=(const IntCache&) = delete;
    ~IntCache() {
        if (entries_)
            for (size_t i = 0; i < kEntries; ++i) Py_XDECREF(entries_[i].obj);
    }

    // A new reference to an int of value v, or nullptr with an exception set.
    PyObject* get(int64_t v) noexcept {
        if ((v >= -5 && v <= 256) || rate_.off()) return PyLong_FromLongLong(v);
        if (!entries_ && !(entries_ = std::unique_ptr<Entry[]>(new (std::nothrow) Entry[kEntries]())))
            return PyLong_FromLongLong(v);
        const uint64_t h = static_cast<uint64_t>(v) * 0x9E3779B97F4A7C15ull;
        Entry& e = entries_[h >> (64 - kBits)];
        const bool hit = e.obj && e.value == v;
        rate_.count(hit);
        if (hit) return Py_NewRef(e.obj);
        if (e.obj) return PyLong_FromLongLong(v);
        PyObject* o = PyLong_FromLongLong(v);
        if (o) e = Entry{Py_NewRef(o), v};
        return o;
    }

private:
    static constexpr unsigned kBits = 10;
    static constexpr size_t kEntries = size_t{1} << kBits;
    struct Entry {
        PyObject* obj;
        int64_t value;
    };
    std::unique_ptr<Entry[]> entries_;
    HitRate rate_;
};

}  // namespace corvane::json_in
