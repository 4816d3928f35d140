// Short value strings repeat a great deal in real documents (language codes, kinds,
// flags): within one call, each distinct short text is made into a str once.
#pragma once
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "json_in/value.hpp"

namespace corvane::json_in {

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
    // strs are immutable, so handing out one object for equal texts is not observable
    // beyond identity, which json.loads does not promise either.
    PyObject* get(const JsonValue& v) noexcept {
        if (v.form != StrForm::Utf8 || v.size - 1 >= kMaxSize) return str_to_py(v);
        if (!entries_ && !(entries_ = std::unique_ptr<Entry[]>(new (std::nothrow) Entry[kEntries]())))
            return str_to_py(v);
        uint64_t w0 = 0, w1 = 0;
        const size_t head = v.size < 8 ? v.size : 8;
        std::memcpy(&w0, v.str, head);
        std::memcpy(&w1, v.str + head, v.size - head);
        uint64_t h = (w0 ^ (w1 * 0x9E3779B97F4A7C15ull) ^ v.size) * 0xFF51AFD7ED558CCDull;
        Entry& e = entries_[(h >> 32) & (kEntries - 1)];
        if (e.str && e.w0 == w0 && e.w1 == w1 && e.size == v.size) return Py_NewRef(e.str);
        PyObject* s = str_to_py(v);
        if (!s) return nullptr;
        PyObject* old = e.str;
        e = Entry{Py_NewRef(s), w0, w1, v.size};
        Py_XDECREF(old);
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
};

}  // namespace corvane::json_in
