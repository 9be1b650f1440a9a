// The models called from several threads at once: every thread gets the
// bits one thread gets, for the list routines on SIMD lanes and one by one.
// Built with -DLUMEVARO_SANITIZE_THREAD=ON, tools/test.sh runs these tests
// under ThreadSanitizer, which reports any data race between the calls.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

#include "models/models.hpp"

using namespace lumevaro;

namespace {

constexpr int THREADS = 4;

std::vector<double> light_curve(std::size_t n) {
    std::vector<double> l(n);
    for (std::size_t i = 0; i < n; ++i) l[i] = 0.01 + 3.0 * double(i) / double(n);
    return l;
}

// Every routine's values, concatenated.
std::vector<double> everything() {
    const std::vector<double> l = light_curve(203);
    const std::vector<double> bl{0.0, 0.3, 0.7, 1.0}, bf{1.0, 0.9, 0.6, 0.3};
    std::vector<double> all;
    const auto append = [&all](const std::vector<double>& values) {
        all.insert(all.end(), values.begin(), values.end());
    };
    append(witt_mao_magnification(l, 1.0, 0.05).value());
    append(discrete_flux_map_heyrovsky_magnification(l, 1.0, 0.05, bl, bf).value());
    append(integrated_witt_mao_magnification(l, 1.0, 0.05).value());
    const std::vector<double> few(l.begin(), l.begin() + 3);
    append(integrated_heyrovsky_magnification(few, 1.0, 0.05));
    append(integrated_flux_map_heyrovsky_magnification(few, 1.0, 0.05, bl, bf));
    all.push_back(heyrovsky_magnification(0.4, 0.5, 1.0, 0.05).value());
    return all;
}

}  // namespace

TEST(Threads, EveryThreadComputesWhatOneThreadComputes) {
    const std::vector<double> expected = everything();
    std::vector<std::vector<double>> got(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&got, t] {
            for (int round = 0; round < 2; ++round) got[t] = everything();
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (const std::vector<double>& values : got) {
        ASSERT_EQ(values.size(), expected.size());
        EXPECT_EQ(std::memcmp(values.data(), expected.data(), values.size() * sizeof(double)), 0);
    }
}
