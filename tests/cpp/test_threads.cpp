// The models called from several threads at once: every thread gets the
// bits one thread gets, for the list routines on SIMD lanes and one by one,
// the limb-darkened ones for every law, a table and their refusals, with
// their derivatives and bands.
// Built with -DLUMEVARO_SANITIZE_THREAD=ON, tools/test.sh runs these tests
// under ThreadSanitizer, which reports any data race between the calls.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "models/limb_darkening.hpp"
#include "models/models.hpp"

using namespace lumevaro;

namespace {

constexpr int THREADS = 4;

std::vector<double> light_curve(std::size_t n) {
    std::vector<double> l(n);
    for (std::size_t i = 0; i < n; ++i) l[i] = 0.01 + 3.0 * double(i) / double(n);
    return l;
}

// Every law with sample coefficients, as the Python tests' law table.
const std::vector<std::pair<std::string, std::vector<double>>> LAWS{
    {"uniform", {}},
    {"linear", {0.6}},
    {"quadratic", {0.4, 0.25}},
    {"square-root", {0.3, 0.4}},
    {"logarithmic", {0.6, 0.2}},
    {"power-2", {0.6, 0.6}},
    {"claret", {0.5, 0.2, 0.1, -0.05}},
};

struct Results {
    std::vector<double> values;
    std::vector<std::string> messages;
};

// Every routine's values, concatenated, and the refusals' messages.
Results everything() {
    const std::vector<double> l = light_curve(203);
    const std::vector<double> bl{0.0, 0.3, 0.7, 1.0}, bf{1.0, 0.9, 0.6, 0.3};
    Results outcome;
    std::vector<double>& all = outcome.values;
    const auto append = [&all](const std::vector<double>& values) {
        all.insert(all.end(), values.begin(), values.end());
    };
    const auto checked = [&outcome, &append](const Checked<Array>& result) {
        if (result) {
            append(result.value().values());
        } else {
            outcome.messages.push_back(result.message());
        }
    };
    // Results of several lists, each list in turn.
    const auto checked_lists = [&outcome, &append](const auto& result, auto&& lists) {
        if (!result) {
            outcome.messages.push_back(result.message());
            return;
        }
        for (const std::vector<double>& values : lists(result.value())) append(values);
    };
    const auto gradient_lists = [](const MagnificationGradient& g) {
        return std::vector<std::vector<double>>{g.a.values(), g.d_u.values(), g.d_rho.values(),
                                                g.d_coefficients.values()};
    };
    const auto same = [](const Array& rows) { return std::vector<std::vector<double>>{rows.values()}; };
    for (const auto& [law, coefficients] : LAWS) {
        checked(limb_darkened_magnification(l, 1.0, 0.05, law, coefficients));
        checked(limb_darkened_magnification(l, 1.0, 20.0, law, coefficients));
        checked_lists(limb_darkened_magnification_gradient(l, 1.0, 0.05, law, coefficients), gradient_lists);
        checked_lists(limb_darkened_magnification_bands(l, 1.0, 0.05, law, {coefficients, coefficients}), same);
    }
    checked(tabulated_limb_darkened_magnification(l, 1.0, 0.05, bl, bf));
    checked(tabulated_limb_darkened_magnification(l, 1.0, 20.0, bl, bf));
    checked_lists(tabulated_limb_darkened_magnification_gradient(l, 1.0, 0.05, bl, bf), gradient_lists);
    checked_lists(limb_darkened_magnification_bands(l, 1.0, 0.05, "linear", {{0.6}, {2e6}}), same);
    std::vector<double> bad = l;
    bad[150] = -1.0;
    checked(limb_darkened_magnification(bad, 1.0, 0.05, "linear", {0.6}));
    checked(limb_darkened_magnification(l, 1.0, 0.05, "quadratic", {0.6}));
    checked(tabulated_limb_darkened_magnification(l, 1.0, 0.05, {0.0, 0.5, 1.0}, {1.0, 0.5}));
    append(witt_mao_magnification(l, 1.0, 0.05).value());
    append(discrete_flux_map_heyrovsky_magnification(l, 1.0, 0.05, bl, bf).value());
    append(integrated_witt_mao_magnification(l, 1.0, 0.05).value());
    const std::vector<double> few(l.begin(), l.begin() + 3);
    append(integrated_heyrovsky_magnification(few, 1.0, 0.05));
    append(integrated_flux_map_heyrovsky_magnification(few, 1.0, 0.05, bl, bf));
    all.push_back(heyrovsky_magnification(0.4, 0.5, 1.0, 0.05).value());
    return outcome;
}

}  // namespace

TEST(Threads, EveryThreadComputesWhatOneThreadComputes) {
    const Results expected = everything();
    ASSERT_EQ(expected.messages.size(), 4u);
    std::vector<Results> got(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&got, t] {
            for (int round = 0; round < 2; ++round) got[t] = everything();
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (const Results& outcome : got) {
        ASSERT_EQ(outcome.values.size(), expected.values.size());
        EXPECT_EQ(std::memcmp(outcome.values.data(), expected.values.data(),
                              outcome.values.size() * sizeof(double)), 0);
        EXPECT_EQ(outcome.messages, expected.messages);
    }
}
