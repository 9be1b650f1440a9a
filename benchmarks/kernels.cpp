// Time per returned value of the seven model routines, without any Python:
// the cost of the numerical kernels alone. benchmarks/bench.py times the same
// calls through the module and divides, so the cost of the boundary reads off
// as a ratio.
//
// Output: one line per case, "name length nanoseconds-per-value".
// Build: cmake -S . -B build/bench -G Ninja -DLUMEVARO_BENCHMARKS=ON && cmake --build build/bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "models/limb_darkening.hpp"
#include "models/models.hpp"

using namespace lumevaro;

namespace {

// The separations of one light curve: l from 0.05 to 5 source radii.
std::vector<double> separations(std::size_t n) {
    std::vector<double> l(n);
    for (std::size_t i = 0; i < n; ++i) {
        l[i] = n == 1 ? 2.0 : 0.05 + 4.95 * static_cast<double>(i) / static_cast<double>(n - 1);
    }
    return l;
}

const std::vector<double> TABLE_RADII{0.0, 0.25, 0.5, 0.75, 0.9, 1.0};
const std::vector<double> TABLE_BRIGHTNESS{1.0, 0.98, 0.9, 0.75, 0.6, 0.4};

// Separations of the far-field case, as benchmarks/light_curve.py makes them.
constexpr std::size_t FAR_FIELD_VALUES = 100000;

volatile double sink;  // keeps results alive so that nothing is optimised away

// Best of `repeats` timings of `call`, in nanoseconds per returned value.
template <class Call>
double best_ns_per_value(std::size_t values, int repeats, const Call& call) {
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        const auto start = std::chrono::steady_clock::now();
        call();
        const auto stop = std::chrono::steady_clock::now();
        const double ns = std::chrono::duration<double, std::nano>(stop - start).count();
        best = std::min(best, ns / static_cast<double>(values));
    }
    return best;
}

template <class Routine>
void bench_list(const char* name, std::size_t n, int repeats, const Routine& routine) {
    const std::vector<double> l = separations(n);
    const double ns = best_ns_per_value(n, repeats, [&] {
        const auto result = routine(l);
        sink = result.empty() ? 0.0 : result.front();
    });
    std::printf("%s %zu %.1f\n", name, n, ns);
}

template <class T>
const std::vector<double>& values_of(const Outcome<T>& outcome) {
    if (!outcome) {
        std::fprintf(stderr, "failure: %.*s\n", static_cast<int>(outcome.message().size()),
                     outcome.message().data());
        std::exit(1);
    }
    return outcome.value();
}

// The limb-darkened value function in the far field, l on [3, 100]
// (benchmarks/light_curve.py times the same call through Python, for the
// cost of the array conversion per element).
void far_field_case(double re, double rstar, std::size_t n, int repeats) {
    std::vector<double> l(n);
    for (std::size_t i = 0; i < n; ++i) l[i] = 3.0 + 97.0 * static_cast<double>(i) / static_cast<double>(n - 1);
    const double ns = best_ns_per_value(n, repeats, [&] {
        const Checked<Array> a = limb_darkened_magnification(l, re, rstar, "linear", {0.6});
        sink = a ? a.value()[0] : 0.0;
    });
    std::printf("limb_darkened_magnification_far %zu %.2f\n", n, ns);
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    // --far: the far-field case alone (benchmarks/light_curve.py runs it
    // between its own rounds).
    const bool far_only = argc > 1 && std::strcmp(argv[1], "--far") == 0;
    const double re = 1.0, rstar = 0.05;
    const std::vector<std::size_t> fast_lengths = quick ? std::vector<std::size_t>{1, 100}
                                                        : std::vector<std::size_t>{1, 100, 100000};
    const std::vector<std::size_t> slow_lengths = quick ? std::vector<std::size_t>{1, 10}
                                                        : std::vector<std::size_t>{1, 10, 100};
    const int repeats = quick ? 3 : 7;
    if (far_only) {
        far_field_case(re, rstar, FAR_FIELD_VALUES, repeats);
        return 0;
    }

    for (std::size_t n : fast_lengths) {
        bench_list("witt_mao_magnification", n, repeats, [&](const std::vector<double>& l) {
            return values_of(witt_mao_magnification(l, re, rstar));
        });
    }
    for (std::size_t n : fast_lengths) {
        const std::vector<double> l = separations(n);
        const double ns = best_ns_per_value(n, repeats, [&] {
            double sum = 0.0;
            for (double li : l) sum += heyrovsky_magnification(li, 0.7, re, rstar).value();
            sink = sum;
        });
        std::printf("heyrovsky_magnification %zu %.1f\n", n, ns);
    }
    for (std::size_t n : fast_lengths) {
        bench_list("discrete_flux_map_heyrovsky_magnification", n, repeats,
                   [&](const std::vector<double>& l) {
                       return values_of(discrete_flux_map_heyrovsky_magnification(
                           l, re, rstar, TABLE_RADII, TABLE_BRIGHTNESS));
                   });
    }
    for (std::size_t n : slow_lengths) {
        bench_list("integrated_witt_mao_magnification", n, repeats, [&](const std::vector<double>& l) {
            return values_of(integrated_witt_mao_magnification(l, re, rstar));
        });
        bench_list("integrated_flux_map_witt_mao_magnification", n, repeats,
                   [&](const std::vector<double>& l) {
                       return values_of(integrated_flux_map_witt_mao_magnification(
                           l, re, rstar, TABLE_RADII, TABLE_BRIGHTNESS));
                   });
        bench_list("integrated_heyrovsky_magnification", n, repeats, [&](const std::vector<double>& l) {
            return integrated_heyrovsky_magnification(l, re, rstar);
        });
        bench_list("integrated_flux_map_heyrovsky_magnification", n, repeats,
                   [&](const std::vector<double>& l) {
                       return integrated_flux_map_heyrovsky_magnification(l, re, rstar, TABLE_RADII,
                                                                          TABLE_BRIGHTNESS);
                   });
    }
    far_field_case(re, rstar, quick ? 1000 : FAR_FIELD_VALUES, repeats);
    return 0;
}
