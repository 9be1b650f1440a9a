// How far from correct rounding the C library's atan and pow(A, -1.5) are,
// over the arguments the SIMD lanes take them for, and whether the lanes'
// certified values (src/numeric/certified_libm.inc) have the library's bits
// on every lane. The figures quoted in certified_libm.inc come from here.
//
//   cmake -S . -B build/dev -G Ninja -DLUMEVARO_TESTS=ON && cmake --build build/dev
//   g++ -O2 -std=c++20 -ffp-contract=off -Isrc tools/measure_libm_rounding.cpp \
//       build/dev/liblumevaro_core.a -lquadmath -o build/measure_libm_rounding
//   build/measure_libm_rounding [samples per routine, default 4000000]
//
// For each routine: the share of arguments where the library's value is not
// the correctly rounded one (against __float128 references, 113 bits), the
// largest distance of the exact value from the rounding midpoint among them,
// as a fraction of the gap between the two candidates, and, per instruction
// set, the share of values the lanes certified and the number of bits that
// differ from the library's (which must be 0).
#include <quadmath.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "models/disc_ring_lanes.hpp"
#include "numeric/instruction_set.hpp"

using namespace lumevaro;

namespace {

double distance_from_midpoint(__float128 exact, double rounded) {
    const double up = std::nextafter(rounded, INFINITY), down = std::nextafter(rounded, -INFINITY);
    const __float128 d = exact - static_cast<__float128>(rounded);
    const double gap = d > 0 ? up - rounded : rounded - down;
    return std::fabs(static_cast<double>(fabsq(d) / gap) - 0.5);
}

void measure(bool power, long samples) {
    std::mt19937_64 random(power ? 2 : 1);
    // atan: x in [2^-31, 2^-5] (x² up to the lanes' 2^-10); pow: A in [2^-6, 2^4].
    std::uniform_real_distribution<double> octave(power ? -6.0 : -31.0, power ? 4.0 : -5.0);
    std::vector<double> x(static_cast<std::size_t>(samples));
    for (double& v : x) v = std::exp2(octave(random));

    long misrounded = 0;
    double worst = 0.0;
    std::vector<double> library(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        library[i] = power ? std::pow(x[i], -1.5) : std::atan(x[i]);
        const __float128 exact = power ? powq(x[i], static_cast<__float128>(-1.5)) : atanq(x[i]);
        const double rounded = static_cast<double>(exact);
        if (library[i] != rounded) {
            ++misrounded;
            worst = std::fmax(worst, distance_from_midpoint(exact, rounded));
        }
    }
    std::printf("%s: library not correctly rounded on %.3g of %ld, worst %.4f of the gap from the midpoint\n",
                power ? "pow(A, -1.5)" : "atan(x)", static_cast<double>(misrounded) / samples,
                samples, worst);

    for (const InstructionSet set :
         {InstructionSet::sse2, InstructionSet::avx2, InstructionSet::avx512}) {
        if (!instruction_set_supported(set)) continue;
        std::vector<double> out(x.size());
        const std::size_t certified = certified_lanes(set, power, x.data(), out.data(), x.size());
        long differ = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (std::memcmp(&out[i], &library[i], sizeof(double)) != 0) ++differ;
        }
        std::printf("  %-7s certified %.4f, differing from the library: %ld\n",
                    std::string(instruction_set_name(set)).c_str(),
                    static_cast<double>(certified) / samples, differ);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const long samples = argc > 1 ? std::atol(argv[1]) : 4000000;
    measure(false, samples);
    measure(true, samples);
}
