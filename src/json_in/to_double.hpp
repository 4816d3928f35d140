// Decimal to double, correctly rounded (round half to even), after Eisel and Lemire's
// method: the decimal significand times a 128-bit truncated power of five, whose top
// bits give the binary significand. The caller falls back to the interpreter's own
// conversion when this answers false, which happens only when the truncation leaves
// the rounding undecided.
#pragma once
#include <bit>
#include <cstdint>

#include "module/pow5_table.hpp"
#include "module/bits.hpp"

namespace corvane::json_in {

// w * 10**q with the sign applied, or false when it cannot be decided here.
inline bool decimal_to_double(uint64_t w, int64_t q, bool negative, double& out) noexcept {
    const uint64_t sign = negative ? uint64_t{1} << 63 : 0;
    // Below 10**-342 even a 19-digit significand is under half the least subnormal; from
    // 10**309 up every nonzero significand is beyond the largest double.
    if (w == 0 || q < pow5::kMinExponent) {
        out = std::bit_cast<double>(sign);
        return true;
    }
    if (q > 308) {
        out = std::bit_cast<double>(sign | 0x7FF0000000000000ull);
        return true;
    }
    const auto qi = static_cast<int>(q);
    const pow5::Entry& t = pow5::kTable[qi - pow5::kMinExponent];
    const int lz = bits::clz64(w);
    w <<= lz;
    // The 192-bit product x2:x1:x0 of w and the table entry.
    const bits::U128 hi = bits::mul_64x64(w, t.hi);
    const bits::U128 lo = bits::mul_64x64(w, t.lo);
    const uint64_t x0 = lo.lo;
    const uint64_t x1 = hi.lo + lo.hi;
    const uint64_t x2 = hi.hi + (x1 < hi.lo ? 1 : 0);
    const int upper = static_cast<int>(x2 >> 63);
    // m: the 53 significand bits and one rounding bit; rest: the bits below them.
    const int rest_top_bits = 9 + upper;
    const uint64_t m = x2 >> rest_top_bits;
    const uint64_t rest_top = x2 & ((uint64_t{1} << rest_top_bits) - 1);
    const bool exact_power = qi >= pow5::kExactMin && qi <= pow5::kExactMax;
    bool rest_zero;
    if (exact_power) {
        rest_zero = rest_top == 0 && x1 == 0 && x0 == 0;
    } else {
        // The entry is at most one unit low, so the exact product lies in [x, x + w):
        // above the rounding boundary below x, and below the next one unless the rest
        // is within w of it.
        const uint64_t mask = (uint64_t{1} << rest_top_bits) - 1;
        if (rest_top == mask && x1 == ~uint64_t{0} && x0 + w < x0) return false;
        rest_zero = false;
    }
    // The double's biased exponent for a significand of m / 2; floor(q * log2(10))
    // in fixed point, exact over the table's range.
    int64_t be = ((217706 * q) >> 16) + 1086 - lz + upper;
    uint64_t mantissa;
    if (be >= 1) {
        mantissa = m >> 1;
        if ((m & 1) && (!rest_zero || (mantissa & 1))) {
            if (++mantissa == uint64_t{1} << 53) {
                mantissa >>= 1;
                ++be;
            }
        }
        if (be >= 0x7FF) {
            out = std::bit_cast<double>(sign | 0x7FF0000000000000ull);
            return true;
        }
        out = std::bit_cast<double>(sign | static_cast<uint64_t>(be) << 52 | (mantissa & ((uint64_t{1} << 52) - 1)));
        return true;
    }
    // Subnormal: multiples of 2**-1074, shift more bits of m into the rest. A carry to
    // 2**52 lands on the least normal, which the same bit pattern encodes.
    const int64_t shift = 2 - be;
    if (shift > 54) {
        out = std::bit_cast<double>(sign);
        return true;
    }
    const auto s = static_cast<int>(shift);
    mantissa = m >> s;
    const bool round_bit = (m >> (s - 1)) & 1;
    const bool sticky = !rest_zero || (m & ((uint64_t{1} << (s - 1)) - 1)) != 0;
    if (round_bit && (sticky || (mantissa & 1))) ++mantissa;
    out = std::bit_cast<double>(sign | mantissa);
    return true;
}

}  // namespace corvane::json_in
