// Portable bit operations for the number conversions and the byte scans. GCC and
// clang get their builtins; MSVC its intrinsics; anything else a plain loop.
#pragma once

#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#if defined(_M_X64) || defined(_M_IX86)
#include <xmmintrin.h>
#endif
#endif

namespace corvane::bits {

struct U128 {
    uint64_t hi, lo;
};

// The full 128-bit product of two 64-bit values.
inline U128 mul_64x64(uint64_t a, uint64_t b) {
#if defined(__SIZEOF_INT128__)
    unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
    return {static_cast<uint64_t>(p >> 64), static_cast<uint64_t>(p)};
#elif defined(_MSC_VER) && defined(_M_X64)
    uint64_t hi;
    uint64_t lo = _umul128(a, b, &hi);
    return {hi, lo};
#elif defined(_MSC_VER) && defined(_M_ARM64)
    return {__umulh(a, b), a * b};
#else
    uint64_t a_lo = a & 0xffffffffu, a_hi = a >> 32, b_lo = b & 0xffffffffu, b_hi = b >> 32;
    uint64_t ll = a_lo * b_lo, lh = a_lo * b_hi, hl = a_hi * b_lo, hh = a_hi * b_hi;
    uint64_t mid = (ll >> 32) + (lh & 0xffffffffu) + (hl & 0xffffffffu);
    return {hh + (lh >> 32) + (hl >> 32) + (mid >> 32), (mid << 32) | (ll & 0xffffffffu)};
#endif
}

// Leading zero bits of a nonzero value.
inline int clz64(uint64_t x) {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_clzll(x);
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_ARM64))
    unsigned long i;
    _BitScanReverse64(&i, x);
    return 63 - static_cast<int>(i);
#else
    int n = 0;
    while (!(x & (uint64_t{1} << 63))) { x <<= 1; ++n; }
    return n;
#endif
}

// Trailing zero bits of a nonzero value.
inline int ctz32(uint32_t x) {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_ctz(x);
#elif defined(_MSC_VER)
    unsigned long i;
    _BitScanForward(&i, x);
    return static_cast<int>(i);
#else
    int n = 0;
    while (!(x & 1u)) { x >>= 1; ++n; }
    return n;
#endif
}

// A hint that `p` will be read soon; never faults, whatever `p` is.
inline void prefetch(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
    _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
#else
    (void)p;
#endif
}

}  // namespace corvane::bits
