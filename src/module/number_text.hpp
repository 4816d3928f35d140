// Decimal text of numbers without the C library: unsigned integers, and doubles laid
// out exactly as float.__repr__ does with the short repr style. The digits of a double
// are the shortest that read back as it, closest to it among those, with ties to even
// digits: Giulietti's Schubfach ("The Schubfach way to render doubles", 2020), written
// from the paper. Its powers of ten come from the table of powers of five that
// tools/gen-pow5-table generates for both number conversions.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

#include "module/bits.hpp"
#include "module/pow5_table.hpp"

namespace corvane::number_text {

inline constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline constexpr uint64_t kPow10[20] = {
    1u, 10u, 100u, 1000u, 10000u, 100000u, 1000000u, 10000000u, 100000000u, 1000000000u,
    10000000000u, 100000000000u, 1000000000000u, 10000000000000u, 100000000000000u,
    1000000000000000u, 10000000000000000u, 100000000000000000u, 1000000000000000000u,
    10000000000000000000u,
};

// The number of decimal digits of v: from its bit length, then one comparison.
inline int count_digits(uint64_t v) noexcept {
    v |= 1;  // 0 has one digit; no power of ten above 1 is odd
    const int t = ((64 - bits::clz64(v)) * 1233) >> 12;
    return t + (v >= kPow10[t]);
}

// Exactly eight digits of v < 10**8 at o, as four independent pairs.
inline void put8(char* o, uint32_t v) noexcept {
    const uint32_t hi = v / 10000, lo = v % 10000;
    std::memcpy(o, kPairs + 2 * (hi / 100), 2);
    std::memcpy(o + 2, kPairs + 2 * (hi % 100), 2);
    std::memcpy(o + 4, kPairs + 2 * (lo / 100), 2);
    std::memcpy(o + 6, kPairs + 2 * (lo % 100), 2);
}

// The decimal digits of v; returns the end. At most 20 characters.
inline char* write_uint(char* o, uint64_t v) noexcept {
    char* const end = o + count_digits(v);
    char* p = end;
    while (v >= 100000000) {
        p -= 8;
        put8(p, static_cast<uint32_t>(v % 100000000));
        v /= 100000000;
    }
    while (v >= 100) {
        p -= 2;
        std::memcpy(p, kPairs + 2 * (v % 100), 2);
        v /= 100;
    }
    if (v >= 10) {
        std::memcpy(p - 2, kPairs + 2 * v, 2);
    } else {
        p[-1] = static_cast<char>('0' + v);
    }
    return end;
}

// digits * 10**exponent, with no trailing zero in digits.
struct Decimal {
    uint64_t digits;
    int exponent;
};

namespace detail {

// floor(log10(2**q)), floor(log10(3/4 * 2**q)) and floor(log2(10**k)) for the exponents
// of doubles (checked exhaustively by tools/gen-pow5-table).
constexpr int floor_log10_pow2(int q) noexcept { return (q * 315653) >> 20; }
constexpr int floor_log10_three_quarters_pow2(int q) noexcept { return (q * 315653 - 131237) >> 20; }
constexpr int floor_log2_pow10(int k) noexcept { return (k * 1741647) >> 19; }

// An upper bound of 10**-k scaled into [2**127, 2**128): the truncated power of five
// plus one unit (10**-k and 5**-k differ only by a power of two).
struct Pow10Bound {
    uint64_t words[2];
    explicit Pow10Bound(int k) noexcept {
        const pow5::Entry& t = pow5::kTable[-k - pow5::kMinExponent];
        words[0] = t.hi + (t.lo == ~uint64_t{0});
        words[1] = t.lo + 1;
    }
};

// g * cp / 2**128 rounded to odd: the floor, its lowest bit set when a fraction was cut
// off. That keeps "exactly on a boundary" apart from "just past it" in the comparisons.
// g exceeds the power it stands for by at most one unit, so the product exceeds the
// exact one by less than cp < 2**64: the lowest word is that excess, not a fraction.
inline uint64_t round_to_odd(const uint64_t (&g)[2], uint64_t cp) noexcept {
    const bits::U128 hi = bits::mul_64x64(g[0], cp);
    const bits::U128 lo = bits::mul_64x64(g[1], cp);
    const uint64_t mid = hi.lo + lo.hi;
    const uint64_t top = hi.hi + (mid < hi.lo);
    return top | static_cast<uint64_t>(mid != 0);
}

inline Decimal trimmed(uint64_t digits, int exponent) noexcept {
    while (digits % 10 == 0) {
        digits /= 10;
        ++exponent;
    }
    return {digits, exponent};
}

}  // namespace detail

// The shortest decimal of a finite v > 0.
inline Decimal shortest(double v) noexcept {
    using namespace detail;
    const uint64_t bits = std::bit_cast<uint64_t>(v);
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    const int biased = static_cast<int>(bits >> 52) & 0x7ff;
    uint64_t c;
    int q;
    if (biased) {
        c = fraction | uint64_t{1} << 52;
        q = biased - 1075;
        // An integer below 2**53 with a fractional spacing: no other integer, so no
        // shorter decimal, lies within half a spacing of it.
        if (-53 < q && q < 0) {
            const uint64_t f = c >> -q;
            if (f << -q == c) return trimmed(f, 0);
        }
    } else {
        c = fraction;
        q = -1074;
        // Too few bits for the scaled comparisons below; these two are known.
        if (c < 3) return c == 1 ? Decimal{5, -324} : Decimal{1, -323};
    }
    // The values that read back as v, scaled by 4 / 2**q: [cbl, cbr], ends included
    // when c is even. Below a power of two the spacing halves.
    const bool irregular = fraction == 0 && biased > 1;
    const uint64_t cb = c << 2;
    const uint64_t cbl = irregular ? cb - 1 : cb - 2;
    const uint64_t cbr = cb + 2;
    // 10**k is at most the interval's width and 10**(k+1) more than it, so the interval
    // holds at most one multiple of 10**(k+1) (and at least one of 10**k).
    const int k = irregular ? floor_log10_three_quarters_pow2(q) : floor_log10_pow2(q);
    const int h = q + floor_log2_pow10(-k) + 1;
    const Pow10Bound bound(k);
    const uint64_t(&g)[2] = bound.words;
    // v, and the interval's ends, times 4 / 10**k.
    const uint64_t vb = round_to_odd(g, cb << h);
    const uint64_t vbl = round_to_odd(g, cbl << h);
    const uint64_t vbr = round_to_odd(g, cbr << h);
    const uint64_t out = c & 1;
    const uint64_t s = vb >> 2;
    if (s >= 10) {
        // One digit fewer: the multiple of 10**(k+1) just below v, or just above it.
        const uint64_t sp = s / 10;
        const bool lower_in = vbl + out <= sp * 40;
        const bool upper_in = (sp + 1) * 40 + out <= vbr;
        if (lower_in != upper_in) return trimmed(lower_in ? sp : sp + 1, k + 1);
    }
    const uint64_t t = s + 1;
    const bool lower_in = vbl + out <= s << 2;
    const bool upper_in = (t << 2) + out <= vbr;
    if (lower_in != upper_in) return trimmed(lower_in ? s : t, k);
    // Both in: the closer one, the even one on a tie.
    const uint64_t mid = (s + t) << 1;
    return trimmed(vb < mid || (vb == mid && !(s & 1)) ? s : t, k);
}

// Room write_repr needs: its longest text is 24 characters ("-1.2345678901234567e-308"),
// and it pads with a fixed-size block past the end of what it keeps.
inline constexpr size_t kReprRoom = 40;

// repr(v) of a finite double; returns the end. Fixed notation for decimal exponents
// -4 to 15 (with ".0" when integral), otherwise one digit, the rest after a point, and
// an exponent of at least two digits.
inline char* write_repr(char* o, double v) noexcept {
    if (std::bit_cast<uint64_t>(v) >> 63) {
        *o++ = '-';
        v = -v;
    }
    if (v == 0) {
        std::memcpy(o, "0.0", 3);
        return o + 3;
    }
    // The digits go straight to their place (a copy through the stack would wait on
    // the stores just made); the leading ones then move to make room for the point.
    const Decimal d = shortest(v);
    const int n = count_digits(d.digits);  // at most 17
    const int point = n + d.exponent;       // digits before the decimal point
    if (-4 < point && point <= 16) {
        if (point <= 0) {
            std::memcpy(o, "0.000", 5);
            o += 2 - point;
            return write_uint(o, d.digits);
        }
        if (point >= n) {
            write_uint(o, d.digits);
            std::memset(o + n, '0', 16);
            std::memcpy(o + point, ".0", 2);
            return o + point + 2;
        }
        write_uint(o + 1, d.digits);
        for (int i = 0; i < point; ++i) o[i] = o[i + 1];
        o[point] = '.';
        return o + n + 1;
    }
    write_uint(o + 1, d.digits);
    o[0] = o[1];
    o[1] = '.';
    o += n > 1 ? n + 1 : 1;
    int x = point - 1;
    o[0] = 'e';
    o[1] = x < 0 ? '-' : '+';
    if (x < 0) x = -x;
    if (x >= 100) {
        o[2] = static_cast<char>('0' + x / 100);
        std::memcpy(o + 3, kPairs + 2 * (x % 100), 2);
        return o + 5;
    }
    std::memcpy(o + 2, kPairs + 2 * x, 2);
    return o + 4;
}

}  // namespace corvane::number_text
