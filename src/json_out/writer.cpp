// The JSON text writer. Each rule names the part of json.dumps it mirrors: the C
// encoder in Modules/_json.c that Lib/json/encoder.py uses for one-shot, unindented
// calls (encoder_listencode_obj and its helpers).
#include "json_out/writer.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

#include "module/depth.hpp"
#include "module/fallback.hpp"
#include "module/float_repr.hpp"
#include "module/number_text.hpp"
#include "module/names.hpp"
#include "module/ref.hpp"

namespace corvane::json_out {

bool Buffer::grow(size_t n) noexcept {
    constexpr size_t kLimit = static_cast<size_t>(PY_SSIZE_T_MAX);
    if (n > kLimit - len_) {
        PyErr_NoMemory();
        return false;
    }
    size_t want = len_ + n;
    size_t cap = cap_ < 256 ? 256 : cap_;
    while (cap < want) cap = cap > kLimit / 2 ? kLimit : cap * 2;
    auto* data = static_cast<char*>(PyMem_Realloc(data_, cap));
    if (!data) {
        PyErr_NoMemory();
        return false;
    }
    data_ = data;
    cap_ = cap;
    return true;
}

namespace {

constexpr char kHex[] = "0123456789abcdef";

// ascii_escape_unichar: the second character of a two-character escape, 'u' for a
// \u00XX escape, 0 for a byte copied as it is (S_CHAR: ' ' to '~' but '"' and '\\').
constexpr auto kEscape = [] {
    struct Table {
        char c[128];
    } t{};
    for (int i = 0; i < 0x20; ++i) t.c[i] = 'u';
    t.c[0x7f] = 'u';
    t.c['"'] = '"';
    t.c['\\'] = '\\';
    t.c['\b'] = 'b';
    t.c['\t'] = 't';
    t.c['\n'] = 'n';
    t.c['\f'] = 'f';
    t.c['\r'] = 'r';
    return t;
}();

inline bool plain(unsigned char c) noexcept { return c < 0x80 && kEscape.c[c] == 0; }

inline char* put_u(char* o, uint32_t code) noexcept {
    o[0] = '\\';
    o[1] = 'u';
    o[2] = kHex[(code >> 12) & 0xf];
    o[3] = kHex[(code >> 8) & 0xf];
    o[4] = kHex[(code >> 4) & 0xf];
    o[5] = kHex[code & 0xf];
    return o + 6;
}

// One code point as encode_basestring_ascii writes it: astral ones as a surrogate pair,
// everything below U+10000 (lone surrogates included) as one \uXXXX.
inline char* put_code_point(char* o, uint32_t cp) noexcept {
    if (cp < 0x80) {
        char e = kEscape.c[cp];
        if (e == 0) {
            *o = static_cast<char>(cp);
            return o + 1;
        }
        if (e != 'u') {
            o[0] = '\\';
            o[1] = e;
            return o + 2;
        }
        return put_u(o, cp);
    }
    if (cp < 0x10000) return put_u(o, cp);
    cp -= 0x10000;
    o = put_u(o, 0xd800 | (cp >> 10));
    return put_u(o, 0xdc00 | (cp & 0x3ff));
}

// The text is the interpreter's own UTF-8, so every sequence is complete and valid.
inline char* put_escape(char* o, const unsigned char*& p) noexcept {
    uint32_t c = *p;
    if (c < 0x80) {
        ++p;
        return put_code_point(o, c);
    }
    uint32_t cp;
    if (c < 0xe0) {
        cp = ((c & 0x1f) << 6) | (p[1] & 0x3f);
        p += 2;
    } else if (c < 0xf0) {
        cp = ((c & 0x0f) << 12) | ((p[1] & 0x3f) << 6) | (p[2] & 0x3f);
        p += 3;
    } else {
        cp = ((c & 0x07) << 18) | ((p[1] & 0x3f) << 12) | ((p[2] & 0x3f) << 6) | (p[3] & 0x3f);
        p += 4;
    }
    return put_code_point(o, cp);
}

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

inline uint64_t zero_bytes(uint64_t x) noexcept { return (x - kOnes) & ~x; }

// High bit set in every byte of `x` that needs an escape; exact for the lowest such
// byte (borrows only spread upwards from a byte that is itself flagged).
inline uint64_t special_bytes(uint64_t x) noexcept {
    uint64_t control = (x - kOnes * 0x20) & ~x;
    uint64_t quote = zero_bytes(x ^ (kOnes * '"'));
    uint64_t backslash = zero_bytes(x ^ (kOnes * '\\'));
    uint64_t del = zero_bytes(x ^ (kOnes * 0x7f));
    return (control | quote | backslash | del | x) & kHighs;
}

// Input bytes per reservation: bounds the worst case (six output bytes per input byte)
// without reserving six times a huge string up front.
constexpr size_t kChunk = 4096;
// A code point that starts inside a chunk may end up to three bytes past it.
constexpr size_t kSlack = 16;

}  // namespace

bool json_escape_into(Buffer& b, const char* utf8, size_t n) noexcept {
    auto* p = reinterpret_cast<const unsigned char*>(utf8);
    const unsigned char* end = p + n;
    if (!b.reserve(n < kChunk ? 6 * n + kSlack : 6 * kChunk + kSlack)) return false;
    b.put('"');
    while (true) {
        const unsigned char* stop = end - p > static_cast<ptrdiff_t>(kChunk) ? p + kChunk : end;
        char* o = b.cursor();
        while (p < stop) {
            if constexpr (std::endian::native == std::endian::little) {
                // Eight bytes at a time: copy the word, keep the plain prefix.
                while (stop - p >= 8) {
                    uint64_t x;
                    std::memcpy(&x, p, 8);
                    std::memcpy(o, &x, 8);
                    uint64_t m = special_bytes(x);
                    if (m) {
                        unsigned k = static_cast<unsigned>(std::countr_zero(m)) >> 3;
                        p += k;
                        o += k;
                        goto escape;
                    }
                    p += 8;
                    o += 8;
                }
            }
            while (p < stop && plain(*p)) *o++ = static_cast<char>(*p++);
            if (p == stop) break;
        escape:
            // A run of non-ASCII text (CJK, say) is escaped without going back to the scan.
            do {
                o = put_escape(o, p);
            } while (p < stop && *p >= 0x80);
        }
        b.commit(o);
        if (p >= end) break;
        size_t rest = static_cast<size_t>(end - p);
        if (!b.reserve(rest < kChunk ? 6 * rest + kSlack : 6 * kChunk + kSlack)) return false;
    }
    b.put('"');
    return true;
}

namespace {

// No UTF-8 form: a lone surrogate. json.dumps still writes it (as \udXXX), so do the
// same from the code points rather than fail where it succeeds.
[[gnu::cold]] int write_str_code_points(Buffer& b, PyObject* s) noexcept {
    Py_ssize_t n = PyUnicode_GetLength(s);
    if (n < 0) return -1;
    Py_UCS4* cps = PyUnicode_AsUCS4Copy(s);
    if (!cps) return -1;
    bool ok = b.append('"');
    for (Py_ssize_t i = 0; ok && i < n; ++i) {
        ok = b.reserve(12);
        if (ok) b.commit(put_code_point(b.cursor(), cps[i]));
    }
    PyMem_Free(cps);
    return ok && b.append('"') ? 0 : -1;
}

}  // namespace

int write_str(Buffer& b, PyObject* s) noexcept {
    Py_ssize_t n;
    const char* utf8 = PyUnicode_AsUTF8AndSize(s, &n);
    if (utf8) [[likely]]
        return json_escape_into(b, utf8, static_cast<size_t>(n)) ? 0 : -1;
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return -1;
    PyErr_Clear();
    return write_str_code_points(b, s);
}

namespace {

// int.__repr__, as the encoder calls it, for values beyond 64 bits. The limited API
// has no wider conversion before 3.14, and the text must be the interpreter's anyway
// (including its limit on the number of digits).
[[gnu::cold]] int write_int_text(Buffer& b, PyObject* v) noexcept {
    Ref text = Ref::steal(PyObject_Repr(v));
    if (!text) return -1;
    Py_ssize_t n;
    const char* s = PyUnicode_AsUTF8AndSize(text.get(), &n);
    if (!s) return -1;
    return b.append(s, static_cast<size_t>(n)) ? 0 : -1;
}

}  // namespace

int write_int(Buffer& b, PyObject* v) noexcept {
    int overflow = 0;
    long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
    uint64_t u;
    bool negative = false;
    if (overflow == 0) [[likely]] {
        if (x == -1 && PyErr_Occurred()) return -1;
        negative = x < 0;
        u = negative ? 0 - static_cast<uint64_t>(x) : static_cast<uint64_t>(x);
    } else if (overflow > 0) {
        u = PyLong_AsUnsignedLongLong(v);
        if (u == static_cast<uint64_t>(-1) && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return -1;
            PyErr_Clear();
            return write_int_text(b, v);
        }
    } else {
        return write_int_text(b, v);
    }
    if (!b.reserve(21)) return -1;
    char* o = b.cursor();
    if (negative) *o++ = '-';
    b.commit(number_text::write_uint(o, u));
    return 0;
}

// encoder_encode_float: non-finite values as the allow_nan words, the rest as
// float.__repr__, which is exactly this call (float_repr in Objects/floatobject.c).
int write_float(Buffer& b, PyObject* v) noexcept {
    double d = PyFloat_AsDouble(v);
    if (d == -1.0 && PyErr_Occurred()) return -1;
    if (!std::isfinite(d)) [[unlikely]] {
        if (std::isnan(d)) return b.append("NaN") ? 0 : -1;
        return (d > 0 ? b.append("Infinity") : b.append("-Infinity")) ? 0 : -1;
    }
    if (g_own_float_text) [[likely]] {
        if (!b.reserve(number_text::kReprRoom)) return -1;
        b.commit(number_text::write_repr(b.cursor(), d));
        return 0;
    }
    char* text = PyOS_double_to_string(d, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (!text) return -1;
    bool ok = b.append(text, std::strlen(text));
    PyMem_Free(text);
    return ok ? 0 : -1;
}

namespace {

inline int open_container(Buffer& b, DepthGuard& g, char open) noexcept {
    if (!g.enter(" while encoding a JSON object")) return to_fallback();
    return b.append(open) ? 0 : -1;
}

// Items of a tuple are fixed and the tuple is held by our caller: borrowed is enough.
int write_tuple(Buffer& b, PyObject* t) noexcept {
    Py_ssize_t n = PyTuple_Size(t);
    if (n == 0) return b.append("[]") ? 0 : -1;
    DepthGuard g;
    if (open_container(b, g, '[') < 0) return -1;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (i && !b.append(", ")) return -1;
        if (write_json_value(b, PyTuple_GetItem(t, i)) < 0) return -1;
    }
    return b.append(']') ? 0 : -1;
}

// A str key, then the value. Both held: writing the value can run finalizers that
// empty the container they came from.
inline int write_pair(Buffer& b, PyObject* key, PyObject* value, bool first) noexcept {
    if (!PyUnicode_CheckExact(key) && !PyUnicode_Check(key)) return raise_fallback();
    Ref k = Ref::borrow(key);
    Ref v = Ref::borrow(value);
    if (!first && !b.append(", ")) return -1;
    if (write_str(b, k.get()) < 0 || !b.append(": ")) return -1;
    return write_json_value(b, v.get());
}

enum class ItemsOf { Storage, CType, Python };

// Where the items() of a dict subclass's type comes from, read from the class dicts
// along the MRO so that no descriptor or metaclass hook of the host runs to find out.
ItemsOf type_items_source(PyTypeObject* t, int* err) noexcept {
    if (Py_TYPE(reinterpret_cast<PyObject*>(t)) != &PyType_Type) return ItemsOf::Python;
    Ref mro = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(t), g_names.mro));
    if (!mro || !PyTuple_Check(mro.get())) {
        *err = -1;
        return ItemsOf::Python;
    }
    for (Py_ssize_t i = 0; i < PyTuple_Size(mro.get()); ++i) {
        PyObject* cls = PyTuple_GetItem(mro.get(), i);
        if (cls == reinterpret_cast<PyObject*>(&PyDict_Type)) return ItemsOf::Storage;
        Ref ns = Ref::steal(PyObject_GetAttr(cls, g_names.dict));
        if (!ns) {
            *err = -1;
            return ItemsOf::Python;
        }
        Ref own = Ref::steal(PyObject_GetItem(ns.get(), g_names.items));
        if (own) {
            bool c_type = !(PyType_GetFlags(reinterpret_cast<PyTypeObject*>(cls)) & Py_TPFLAGS_HEAPTYPE);
            return c_type ? ItemsOf::CType : ItemsOf::Python;
        }
        if (!PyErr_ExceptionMatches(PyExc_KeyError)) {
            *err = -1;
            return ItemsOf::Python;
        }
        PyErr_Clear();
    }
    return ItemsOf::Python;
}

// The type's answer, unless the instance's own __dict__ has an `items`, which the
// method lookup of the encoder would find first.
ItemsOf items_source(PyObject* d, int* err) noexcept {
    *err = 0;
    ItemsOf source = type_items_source(Py_TYPE(d), err);
    if (source == ItemsOf::Python) return source;
    Ref attrs = Ref::steal(PyObject_GenericGetDict(d, nullptr));
    if (!attrs) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();  // instances without a __dict__
            return source;
        }
        *err = -1;
        return ItemsOf::Python;
    }
    if (!PyDict_Check(attrs.get())) return ItemsOf::Python;
    if (PyDict_GetItemWithError(attrs.get(), g_names.items)) return ItemsOf::Python;
    if (PyErr_Occurred()) *err = -1;
    return source;
}

// A subclass of dict: the encoder writes what its items() gives (PyMapping_Items),
// after the fast path for empty storage. The items() of dict itself is its storage in
// order; a C type's (OrderedDict) runs no Python. One defined in Python would run in
// the middle of the dump, before later fields are read, where json.dumps(run(...))
// runs it after the whole dump: only the host can give that order.
[[gnu::cold]] int write_dict_items(Buffer& b, PyObject* d) noexcept {
    if (PyDict_Size(d) == 0) return b.append("{}") ? 0 : -1;
    int err;
    ItemsOf source = items_source(d, &err);
    if (err < 0) return -1;
    if (source == ItemsOf::Storage) return write_dict(b, d);
    if (source == ItemsOf::Python) return raise_fallback();
    DepthGuard g;
    Ref items = Ref::steal(PyMapping_Items(d));
    if (!items) return -1;
    if (open_container(b, g, '{') < 0) return -1;
    for (Py_ssize_t i = 0; i < PyList_Size(items.get()); ++i) {
        Ref pair = Ref::borrow(PyList_GetItem(items.get(), i));
        // The encoder rejects anything else with its own ValueError.
        if (!PyTuple_Check(pair.get()) || PyTuple_Size(pair.get()) != 2) return raise_fallback();
        if (write_pair(b, PyTuple_GetItem(pair.get(), 0), PyTuple_GetItem(pair.get(), 1), i == 0) < 0)
            return -1;
    }
    return b.append('}') ? 0 : -1;
}

}  // namespace

// The list may change under a finalizer run while one of its items is written, so its size is read
// again at every step and each item is held while it is written (as the encoder's
// index loop over PySequence_Fast does).
int write_list(Buffer& b, PyObject* list) noexcept {
    if (PyList_Size(list) == 0) return b.append("[]") ? 0 : -1;
    DepthGuard g;
    if (open_container(b, g, '[') < 0) return -1;
    for (Py_ssize_t i = 0; i < PyList_Size(list); ++i) {
        if (i && !b.append(", ")) return -1;
        Ref item = Ref::borrow(PyList_GetItem(list, i));
        if (write_json_value(b, item.get()) < 0) return -1;
    }
    return b.append(']') ? 0 : -1;
}

// Walks the dict's own storage. The writer runs no host code of its own, but a
// finalizer run by a collection can still change the dict; a change of size is then
// caught before another entry is read, and the entries read are held.
int write_dict(Buffer& b, PyObject* d) noexcept {
    Py_ssize_t size = PyDict_Size(d);
    if (size == 0) return b.append("{}") ? 0 : -1;
    DepthGuard g;
    if (open_container(b, g, '{') < 0) return -1;
    Py_ssize_t pos = 0;
    Py_ssize_t seen = 0;
    PyObject* key;
    PyObject* value;
    while (true) {
        if (PyDict_Size(d) != size) return raise_fallback();
        if (!PyDict_Next(d, &pos, &key, &value)) break;
        if (++seen > size) return raise_fallback();
        if (write_pair(b, key, value, seen == 1) < 0) return -1;
    }
    return b.append('}') ? 0 : -1;
}

namespace {

// Whether draining a list or tuple subclass into a list runs Python: only through an
// __iter__ or __len__ of its own (list_extend asks the length for its hint).
bool iterates_in_python(PyTypeObject* t, PyTypeObject* base) noexcept {
    return PyType_GetSlot(t, Py_tp_iter) != PyType_GetSlot(base, Py_tp_iter) ||
           PyType_GetSlot(t, Py_sq_length) != PyType_GetSlot(base, Py_sq_length) ||
           PyType_GetSlot(t, Py_mp_length) != PyType_GetSlot(base, Py_mp_length);
}

}  // namespace

int write_uncommon(Buffer& b, PyObject* v) noexcept {
    if (PyTuple_CheckExact(v)) return write_tuple(b, v);
    if (PyList_Check(v) || PyTuple_Check(v)) {
        // PySequence_Fast, as the encoder calls it: a subclass is first drained into a
        // list. Through an __iter__ of its own that would run mid-dump (see above).
        if (iterates_in_python(Py_TYPE(v), PyList_Check(v) ? &PyList_Type : &PyTuple_Type))
            return raise_fallback();
        Ref items = Ref::steal(PySequence_Fast(v, "_iterencode_list needs a sequence"));
        if (!items) return -1;
        if (PyTuple_CheckExact(items.get())) return write_tuple(b, items.get());
        return write_list(b, items.get());
    }
    if (PyDict_Check(v)) return write_dict_items(b, v);
    // Scalar subclasses, bytes, sets and every other object.
    return raise_fallback();
}

}  // namespace corvane::json_out
