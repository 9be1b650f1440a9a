// The disc and ring lane kernels for each instruction set: disc_ring_lanes.inc
// compiled once per set the build has lanes for (numeric/target_region.hpp),
// each in its own namespace over that set's lanes (numeric/vector_lanes.hpp), with the
// certified arctangent and power (numeric/certified_libm.inc), and chosen at
// run time. On x86-64: SSE2 (2 lanes), AVX2 (4) and AVX-512 (8), the wider
// two in their target regions; nothing in the regions is called from outside
// them but through the dispatch below, so no function compiled for a wider
// set can be called on a processor without it. On aarch64: NEON (2 lanes),
// the same generic vector code. Elsewhere no lanes: every function below
// takes its one-by-one path. The vector arguments of the always-inlined
// templates (Horner, the closing series) never cross a call, so their ABI
// does not matter.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

#include "models/disc_ring_lanes.hpp"
#include "models/models.hpp"
#include "numeric/target_region.hpp"
#include "numeric/vector_lanes.hpp"

#if defined(LUMEVARO_X86_LANES) || defined(LUMEVARO_NEON_LANES)
#include "elliptic/carlson/duplication.hpp"
#include "elliptic/legendre/cephes_tables.hpp"
#include "elliptic/legendre/polynomial.hpp"
#include "models/constants.hpp"
#endif

namespace lumevaro {

#if defined(LUMEVARO_X86_LANES)
namespace lanes_sse2 {
using namespace vector_lanes::sse2;
#include "elliptic/carlson/closing_series.inc"
#include "elliptic/legendre/horner.inc"
#include "numeric/certified_libm.inc"
#include "models/disc_ring_lanes.inc"
}  // namespace lanes_sse2

LUMEVARO_TARGET_AVX2_BEGIN
namespace lanes_avx2 {
using namespace vector_lanes::avx2;
#include "elliptic/carlson/closing_series.inc"
#include "elliptic/legendre/horner.inc"
#include "numeric/certified_libm.inc"
#include "models/disc_ring_lanes.inc"
}  // namespace lanes_avx2
LUMEVARO_TARGET_END

LUMEVARO_TARGET_AVX512_BEGIN
namespace lanes_avx512 {
using namespace vector_lanes::avx512;
#include "elliptic/carlson/closing_series.inc"
#include "elliptic/legendre/horner.inc"
#include "numeric/certified_libm.inc"
#include "models/disc_ring_lanes.inc"
}  // namespace lanes_avx512
LUMEVARO_TARGET_END

// The cases of a switch over the set that run `call` in the set's namespace.
#define LUMEVARO_LANE_CASES(call)                                    \
    case InstructionSet::sse2: return lanes_sse2::call;              \
    case InstructionSet::avx2: return lanes_avx2::call;              \
    case InstructionSet::avx512: return lanes_avx512::call;
#endif

#if defined(LUMEVARO_NEON_LANES)
namespace lanes_neon {
using namespace vector_lanes::neon;
#include "elliptic/carlson/closing_series.inc"
#include "elliptic/legendre/horner.inc"
#include "numeric/certified_libm.inc"
#include "models/disc_ring_lanes.inc"
}  // namespace lanes_neon

#define LUMEVARO_LANE_CASES(call) \
    case InstructionSet::neon: return lanes_neon::call;
#endif

#if !defined(LUMEVARO_LANE_CASES)
#define LUMEVARO_LANE_CASES(call) \
    case InstructionSet::scalar: break;
#endif

// (Without lanes some parameters go unused.)
void witt_mao_lanes(InstructionSet set, [[maybe_unused]] double* magnifications, std::size_t count,
                    [[maybe_unused]] const WittMaoDisc& disc, std::vector<std::size_t>& left) {
    switch (set) {
        LUMEVARO_LANE_CASES(witt_mao_run(magnifications, count, disc, left))
        default: break;
    }
    for (std::size_t i = 0; i < count; ++i) left.push_back(i);
}

void ring_sum_lanes(InstructionSet set, [[maybe_unused]] double* sums, std::size_t count,
                    [[maybe_unused]] double re, [[maybe_unused]] double rstar,
                    [[maybe_unused]] const double* bl, [[maybe_unused]] const double* bf,
                    [[maybe_unused]] std::size_t rings, std::vector<std::size_t>& left) {
    switch (set) {
        LUMEVARO_LANE_CASES(ring_sum_run(sums, count, re, rstar, bl, bf, rings, left))
        default: break;
    }
    for (std::size_t i = 0; i < count; ++i) left.push_back(i);
}

void ring_lanes(InstructionSet set, double l, const double* r, std::size_t count, double re,
                double rstar, double* out) {
    switch (set) {
        LUMEVARO_LANE_CASES(ring_run(l, r, count, re, rstar, out))
        default: break;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const Real ring = heyrovsky_magnification(l, r[i], re, rstar);
        out[i] = ring ? ring.value() : std::numeric_limits<double>::quiet_NaN();
    }
}

std::size_t certified_lanes(InstructionSet set, bool power, const double* x, double* out,
                            std::size_t count) {
    switch (set) {
        LUMEVARO_LANE_CASES(certified_run_of(power, x, out, count))
        default: break;
    }
    for (std::size_t i = 0; i < count; ++i) out[i] = power ? std::pow(x[i], -1.5) : std::atan(x[i]);
    return 0;
}

std::size_t lane_count(InstructionSet set) noexcept {
    switch (set) {
        LUMEVARO_LANE_CASES(W)
        default: break;
    }
    return 1;
}

}  // namespace lumevaro
