// The parsed JSON document: an immutable tree of JsonValue nodes, built in one call and
// released with it. No Python object is made while parsing.
#pragma once
#include "module/python.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace corvane::json_in {

enum class JsonKind : uint8_t { Null, Bool, Int, Float, Str, Array, Object };

// How a string node's text is held. Keys are always UTF-8; a value string with escapes
// is decoded once, straight to the code units its str is made from.
enum class StrForm : uint8_t {
    Utf8,    // validated UTF-8: `size` bytes
    Latin1,  // every code point below U+0100, one byte each: `size` bytes
    Wide,    // wchar_t units (UTF-32, or UTF-16 where wchar_t has two bytes): `size` units
};

struct JsonPair;

// 16 bytes. Strings without escapes point into the input text, which the caller keeps
// alive and unchanged while the tree exists; escaped strings and all arrays live in
// the document's arena.
struct JsonValue {
    JsonKind kind = JsonKind::Null;
    bool boolean = false;  // Bool
    StrForm form = StrForm::Utf8;  // Str
    uint32_t size = 0;     // Str: bytes; Array: items; Object: pairs
    union {
        int64_t integer;  // Int
        double number;    // Float
        const char* str;  // Str: in `form`, not terminated
        const JsonValue* items;
        const JsonPair* pairs;
    };

    JsonValue() noexcept : integer(0) {}
};

// Every pair of an object stays, in document order, repeated keys included.
struct JsonPair {
    const char* key;
    uint32_t key_size;
    JsonValue value;

    std::string_view key_text() const noexcept { return {key, key_size}; }
};

// Bump allocator for one document: a chain of malloc'd blocks, freed together.
class DocArena {
public:
    DocArena() noexcept = default;
    DocArena(const DocArena&) = delete;
    DocArena& operator=(const DocArena&) = delete;
    ~DocArena();

    // 8-byte aligned; nullptr when memory is exhausted (no exception is set).
    void* alloc(size_t n) noexcept {
        n = (n + 7) & ~size_t{7};
        if (n <= static_cast<size_t>(end_ - cur_)) {
            void* p = cur_;
            cur_ += n;
            return p;
        }
        return alloc_slow(n);
    }
    // Releases everything allocated so far, keeping the current block for reuse.
    void reset() noexcept;
    // Gives back the unused tail of the most recent allocation.
    void shrink_last(void* p, size_t old_n, size_t new_n) noexcept {
        old_n = (old_n + 7) & ~size_t{7};
        new_n = (new_n + 7) & ~size_t{7};
        if (static_cast<char*>(p) + old_n == cur_) cur_ = static_cast<char*>(p) + new_n;
    }

private:
    struct Block {
        Block* next;
    };
    static constexpr size_t kHeader = (sizeof(Block) + 7) & ~size_t{7};
    void* alloc_slow(size_t n) noexcept;

    Block* head_ = nullptr;
    char* cur_ = nullptr;
    char* end_ = nullptr;
    size_t next_size_ = 16 * 1024;
};

// What a parse leaves behind: the root node and the arena that owns the rest.
struct Document {
    DocArena arena;
    JsonValue root;
};

enum class ParseResult : uint8_t { Ok, Refused, NoMemory };

inline constexpr int kMaxDepth = 200;

// The Python value json.loads gives for the subtree: a new reference, or nullptr with
// an exception set.
PyObject* json_to_py(const JsonValue& v) noexcept;

// A new str for a key.
inline PyObject* str_to_py(const char* s, size_t n) noexcept {
    return PyUnicode_DecodeUTF8(s, static_cast<Py_ssize_t>(n), nullptr);
}

// A new str for a string node.
inline PyObject* str_to_py(const JsonValue& v) noexcept {
    switch (v.form) {
        case StrForm::Latin1:
            return PyUnicode_DecodeLatin1(v.str, static_cast<Py_ssize_t>(v.size), nullptr);
        case StrForm::Wide:
            return PyUnicode_FromWideChar(reinterpret_cast<const wchar_t*>(v.str), static_cast<Py_ssize_t>(v.size));
        case StrForm::Utf8:
            break;
    }
    return str_to_py(v.str, v.size);
}

}  // namespace corvane::json_in
