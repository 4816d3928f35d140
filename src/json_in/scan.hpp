// The scanner's steps that the tree parser and the one-pass read both take inline.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "json_in/parser.hpp"

namespace corvane::json_in {
namespace scan {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// Bit 7 of each byte of `w` that is zero. Only the lowest marked byte is certain (a
// borrow can mark bytes above it), which is all the scan below uses.
inline uint64_t zero_bytes(uint64_t w) noexcept { return (w - kOnes) & ~w & kHighs; }

// Marks the bytes that end a plain run: a quote, a backslash, a control byte or the
// lead of a multi-byte sequence. The lowest mark is exact, as above.
inline uint64_t attention(uint64_t w) noexcept {
    return (w & kHighs) | ((w - kOnes * 0x20) & ~w & kHighs) | zero_bytes(w ^ (kOnes * '"')) |
           zero_bytes(w ^ (kOnes * '\\'));
}

#if defined(__SSE2__) || defined(_M_X64)
// Bit i set where byte i of the 16 at p ends a plain run, as attention() marks them.
// Signed compares put bytes of 0x80 and above below 0x20 too, so one test finds
// control bytes and multi-byte leads alike.
inline unsigned stop_mask(const uint8_t* p) noexcept {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i stop = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(w, _mm_set1_epi8('"')),
                                                   _mm_cmpeq_epi8(w, _mm_set1_epi8('\\'))),
                                      _mm_cmplt_epi8(w, _mm_set1_epi8(0x20)));
    return static_cast<unsigned>(_mm_movemask_epi8(stop));
}
#endif

// Where the first byte that ends a plain run lies among the 16 at p, or 16 when none does.
inline unsigned first_stop(const uint8_t* p) noexcept {
#if defined(__SSE2__) || defined(_M_X64)
    const unsigned m = stop_mask(p);
    return m ? static_cast<unsigned>(std::countr_zero(m)) : 16;
#else
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t w0, w1;
        std::memcpy(&w0, p, 8);
        std::memcpy(&w1, p + 8, 8);
        if (const uint64_t m = attention(w0)) return static_cast<unsigned>(std::countr_zero(m) >> 3);
        if (const uint64_t m = attention(w1)) return 8 + static_cast<unsigned>(std::countr_zero(m) >> 3);
        return 16;
    }
    return 0;  // no fast path: the general reading takes every string
#endif
}

inline bool is_digit(uint8_t c) noexcept { return c >= '0' && c <= '9'; }

}  // namespace scan

// A string with nothing to decode that ends within the next 16 bytes, as most keys and
// many values do: read in place, without the calls of the general string reading.
// False leaves p_ unmoved.
inline bool Parser::short_plain(const char*& out, uint32_t& n) noexcept {
    if (end_ - p_ < 16) return false;
    const unsigned i = scan::first_stop(p_);
    if (i >= 16 || p_[i] != '"') return false;
    out = reinterpret_cast<const char*>(p_);
    n = i;
    p_ += i + 1;
    return true;
}

// A string value, p_ on its opening quote.
inline bool Parser::string_node(JsonValue& out) noexcept {
    ++p_;
    out.kind = JsonKind::Str;
    return short_plain(out.str, out.size) || value_string(out);
}

template <uint8_t Close>
inline bool Parser::open_in(bool& empty) noexcept {
    constexpr bool object = Close == '}';
    if (!enter()) return false;
    ++p_;
    skip_ws();
    if (p_ >= end_) return false;
    empty = *p_ == Close;
    if (empty) {
        ++p_;
        --depth_;
        return true;
    }
    if (object && *p_ != '"') return false;
    p_ += object;
    return true;
}

inline bool Parser::key(const char*& key, uint32_t& n) noexcept {
    return (short_plain(key, n) || string(key, n)) && separator(':') && p_ < end_;
}

template <uint8_t Close>
inline int Parser::next_in() noexcept {
    constexpr bool object = Close == '}';
    if (object ? comma_then_key() : comma_then_value()) return 1;
    skip_ws();
    if (p_ >= end_) return -1;
    const uint8_t c = *p_++;
    if (c == Close) {
        --depth_;
        return 0;
    }
    if (c != ',') return -1;
    skip_ws();
    if (p_ >= end_ || (object && *p_ != '"')) return -1;
    p_ += object;
    return 1;
}

inline bool Parser::scalar(JsonValue& out) noexcept {
    const uint8_t c = *p_;
    if (scan::is_digit(c) || c == '-') return number(out);
    if (c == '"') return string_node(out);
    return value(out);
}

}  // namespace corvane::json_in
