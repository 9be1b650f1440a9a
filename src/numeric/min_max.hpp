// The smaller and the larger of two doubles, ignoring a quiet NaN, inline and
// with the C library's bits: what glibc's fmin and fmax return on x86-64,
// where a call cannot be inlined and costs as much as the comparison many
// times over.
//   - ordered and unequal: the smaller (larger) one;
//   - equal, +0 and −0 included: the first, x;
//   - one quiet NaN: the other operand; one signalling NaN: that NaN, quieted;
//   - both NaN: the second, y, quieted.
#pragma once

#include <cstdint>
#include <cstring>

namespace lumevaro {

namespace min_max_detail {

[[gnu::always_inline]] inline bool is_nan(double v) noexcept { return v != v; }

// A NaN whose quiet bit (the top bit of the significand) is clear.
[[gnu::always_inline]] inline bool is_signalling(double v) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return is_nan(v) && (bits & (std::uint64_t{1} << 51)) == 0;
}

// The value for x and y unordered (at least one a NaN); v + v quiets a NaN
// and keeps its sign and payload.
[[gnu::noinline]] inline double unordered(double x, double y) noexcept {
    if (is_nan(x) && is_nan(y)) return y + y;
    if (is_nan(x)) return is_signalling(x) ? x + x : y;
    return is_signalling(y) ? y + y : x;
}

}  // namespace min_max_detail

[[gnu::always_inline]] inline double nan_ignoring_min(double x, double y) noexcept {
    if (x < y) return x;
    if (y < x) return y;
    if (x == y) return x;
    return min_max_detail::unordered(x, y);
}

[[gnu::always_inline]] inline double nan_ignoring_max(double x, double y) noexcept {
    if (x > y) return x;
    if (y > x) return y;
    if (x == y) return x;
    return min_max_detail::unordered(x, y);
}

}  // namespace lumevaro
