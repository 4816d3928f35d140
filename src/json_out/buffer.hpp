// The output buffer of one run_json call: ASCII bytes appended, turned into one str at
// the end. Writers reserve the worst case first and then write without checks.
#pragma once
#include "module/python.hpp"

#include <cstddef>
#include <cstring>

namespace corvane::json_out {

class Buffer {
public:
    Buffer() noexcept = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { PyMem_Free(data_); }

    // Room for `n` more bytes; false with MemoryError set.
    bool reserve(size_t n) noexcept {
        if (n <= cap_ - len_) [[likely]]
            return true;
        return grow(n);
    }

    // Unchecked writes into reserved room.
    char* cursor() noexcept { return data_ + len_; }
    void commit(char* end) noexcept { len_ = static_cast<size_t>(end - data_); }
    void put(char c) noexcept { data_[len_++] = c; }
    void put(const char* s, size_t n) noexcept {
        std::memcpy(data_ + len_, s, n);
        len_ += n;
    }
    template <size_t N>
    void put(const char (&s)[N]) noexcept {
        put(s, N - 1);
    }

    // Checked writes: false with MemoryError set.
    bool append(char c) noexcept {
        if (!reserve(1)) return false;
        put(c);
        return true;
    }
    bool append(const char* s, size_t n) noexcept {
        if (!reserve(n)) return false;
        put(s, n);
        return true;
    }
    template <size_t N>
    bool append(const char (&s)[N]) noexcept {
        return append(s, N - 1);
    }

    size_t size() const noexcept { return len_; }

    const char* data() const noexcept { return data_; }

    // The text as a new str. Everything written is ASCII; the UTF-8 decoder's ASCII run
    // is the quickest way the limited API has to copy it in.
    PyObject* finish() const noexcept {
        return PyUnicode_DecodeUTF8(data_ ? data_ : "", static_cast<Py_ssize_t>(len_), nullptr);
    }

private:
    [[gnu::cold, gnu::noinline]] bool grow(size_t n) noexcept;

    char* data_ = nullptr;
    size_t len_ = 0;
    size_t cap_ = 0;
};

}  // namespace corvane::json_out
