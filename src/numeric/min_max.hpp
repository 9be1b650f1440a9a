// The smaller and the larger of two doubles, ignoring a quiet NaN, inline and
// by rules of their own, the same bits on every compiler and processor:
// those of glibc's fmin and fmax on x86-64 (minsd and maxsd, which return
// their second operand unless the first is strictly smaller, resp. larger),
// where a call cannot be inlined and costs as much as the comparison many
// times over.
//   - ordered and unequal: the smaller (larger) one;
//   - equal, +0 and −0 included: the second, y (fmin(+0, −0) is −0);
//   - one quiet NaN: the other operand; one signalling NaN: that NaN, quieted;
//   - both NaN: the first, x, quieted.
// A call of std::fmin is no reference for these rules: GCC takes fmin to be
// commutative and may swap its operands, clang expands it inline with rules
// of its own (a signalling NaN ignored like a quiet one), and other
// libraries and processors order signed zeros and NaNs otherwise. The
// callers (the argument checks and stopping bounds of RF, RD and RJ) only
// compare the result, so no such difference reaches a result; the fixed
// rules keep even the intermediate bits the same everywhere.
#pragma once

#include <cstdint>
#include <cstring>

#include "numeric/target_region.hpp"

namespace lumevaro {

namespace min_max_detail {

LUMEVARO_ALWAYS_INLINE bool is_nan(double v) noexcept { return v != v; }

// A NaN whose quiet bit (the top bit of the significand) is clear.
LUMEVARO_ALWAYS_INLINE bool is_signalling(double v) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return is_nan(v) && (bits & (std::uint64_t{1} << 51)) == 0;
}

// v with its quiet bit set: sign and payload kept.
LUMEVARO_ALWAYS_INLINE double quieted(double v) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits |= std::uint64_t{1} << 51;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// The value for x and y unordered (at least one a NaN).
LUMEVARO_NOINLINE double unordered(double x, double y) noexcept {
    if (is_nan(x) && is_nan(y)) return quieted(x);
    if (is_nan(x)) return is_signalling(x) ? quieted(x) : y;
    return is_signalling(y) ? quieted(y) : x;
}

}  // namespace min_max_detail

LUMEVARO_ALWAYS_INLINE double nan_ignoring_min(double x, double y) noexcept {
    if (x < y) return x;
    if (y < x) return y;
    if (x == y) return y;
    return min_max_detail::unordered(x, y);
}

LUMEVARO_ALWAYS_INLINE double nan_ignoring_max(double x, double y) noexcept {
    if (x > y) return x;
    if (y > x) return y;
    if (x == y) return y;
    return min_max_detail::unordered(x, y);
}

}  // namespace lumevaro
