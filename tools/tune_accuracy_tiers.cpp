// Measures candidate methods of the limb-darkened magnification (rules of
// the quadrature, where the far-field series takes over and where it stops)
// against a tight one: the worst relative error over the laws (power-2 up to
// α = 3: larger α take the rules of a tighter tier), source radii
// from 1e-4 to 1e3 and separations from 0 to 4 (those near the limb taken
// closely), and the time per value of the benchmark's case (linear 0.6,
// ρ = 0.1 and 0.01, l uniform on [0, 3]). The accuracy tiers of
// src/models/limb_darkening/quadrature.cpp were chosen from its output; the
// tight method itself agrees with the 30-digit references to about 1e-12.
//
//   cmake -S . -B build/dev -G Ninja -DLUMEVARO_TESTS=ON && cmake --build build/dev
//   g++ -O2 -std=c++20 -ffp-contract=off -Isrc -DLUMEVARO_COUNT_EVALUATIONS \
//       tools/tune_accuracy_tiers.cpp src/models/limb_darkening/quadrature.cpp \
//       build/dev/liblumevaro_core.a -o build/tune_accuracy_tiers
//   build/tune_accuracy_tiers search [most focus points]   (the cheapest rules for each accuracy)
//   build/tune_accuracy_tiers [focus plain limb ratio start truncation reach]...
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "models/limb_darkening/far_field.hpp"
#include "models/limb_darkening/profile.hpp"
#include "models/limb_darkening/quadrature.hpp"
#include "models/limb_darkening/uniform_disc.hpp"
#include "numeric/graded_gauss_nodes.hpp"

using namespace lumevaro::limb_darkening;
namespace gg = lumevaro::graded_gauss;
using Span = std::span<const gg::Node>;

namespace {

Span kink(int n) {
    switch (n) {
        case 4: return gg::kink_4;
        case 6: return gg::kink_6;
        case 8: return gg::kink_8;
        case 10: return gg::kink_10;
        case 12: return gg::kink_12;
        case 16: return gg::kink_16;
        case 20: return gg::kink_20;
        default: return gg::kink_24;
    }
}
Span kink_limb(int n) {
    switch (n) {
        case 4: return gg::kink_limb_4;
        case 6: return gg::kink_limb_6;
        case 8: return gg::kink_limb_8;
        case 10: return gg::kink_limb_10;
        case 12: return gg::kink_limb_12;
        case 16: return gg::kink_limb_16;
        case 20: return gg::kink_limb_20;
        default: return gg::kink_limb_24;
    }
}
Span to_limb(int n) {
    switch (n) {
        case 4: return gg::to_limb_4;
        case 6: return gg::to_limb_6;
        case 8: return gg::to_limb_8;
        case 10: return gg::to_limb_10;
        case 12: return gg::to_limb_12;
        case 16: return gg::to_limb_16;
        case 20: return gg::to_limb_20;
        default: return gg::to_limb_24;
    }
}
Span plain(int n) {
    switch (n) {
        case 2: return gg::plain_2;
        case 3: return gg::plain_3;
        case 4: return gg::plain_4;
        case 6: return gg::plain_6;
        case 8: return gg::plain_8;
        case 12: return gg::plain_12;
        case 20: return gg::plain_20;
        default: return gg::plain_24;
    }
}

struct Candidate {
    std::string name;
    Method method;
};

// Focus rules of n_focus points, plain pieces of n_plain, pieces growing by ratio.
Candidate candidate(int n_focus, int n_plain, int n_limb, double ratio, double start, double truncation,
                    double reach = 1.0) {
    const Rules rules{kink(n_focus), kink_limb(n_focus), plain(n_plain), to_limb(n_limb), kink(n_focus),
                      plain(n_plain), ratio, reach, std::log(ratio)};
    char name[112];
    std::snprintf(name, sizeof name, "focus %2d plain %2d limb %2d ratio %4.1f reach %4.2f start %4.2f trunc %.0e",
                  n_focus, n_plain, n_limb, ratio, reach, start, truncation);
    return Candidate{name, Method{rules, rules, rules, start, truncation, FULL_AGREEMENT}};
}

struct Source {
    const char* label;
    Law law;
    std::vector<double> coefficients;
};

double seconds_per_value(const Method& method, double rho, const RadialProfile& profile,
                         std::span<const double> moments, const std::vector<double>& ls) {
    double best = 1e300;
    for (int round = 0; round < 15; ++round) {
        const auto start = std::chrono::steady_clock::now();
        double sum = 0.0;
        for (const double l : ls) sum += profile_magnification(l, rho, profile, moments, method);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (sum == 42.0) std::puts("");
        best = std::fmin(best, elapsed.count() / static_cast<double>(ls.size()));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<Source> sources{
        {"linear 0.6", Law::linear, {0.6}},
        {"linear 1", Law::linear, {1.0}},
        {"quadratic", Law::quadratic, {0.4, 0.25}},
        {"square-root", Law::square_root, {0.3, 0.4}},
        {"logarithmic", Law::logarithmic, {0.6, 0.2}},
        {"power-2 0.6", Law::power_2, {0.6, 0.6}},
        {"power-2 a=0.2", Law::power_2, {0.8, 0.2}},
        {"power-2 a=0.05", Law::power_2, {0.5, 0.05}},
        {"power-2 a=3", Law::power_2, {0.5, 3.0}},
        {"power-2 a=0", Law::power_2, {0.3, 0.0}},
        {"claret", Law::claret, {0.5, 0.2, 0.1, -0.05}},
        // Each law's terms alone, at the largest weight that keeps I ≥ 0 and
        // the conditioning within 3 (worse conditioned profiles ask a tighter
        // tier): the error of a mix is bounded by its terms' errors.
        {"quadratic term", Law::quadratic, {0.0, 1.0}},
        {"square-root term", Law::square_root, {0.0, 1.0}},
        {"log term", Law::logarithmic, {0.0, 2.7}},
        {"claret 1", Law::claret, {1.0, 0.0, 0.0, 0.0}},
        {"claret 3", Law::claret, {0.0, 0.0, 1.0, 0.0}},
        {"claret 4", Law::claret, {0.0, 0.0, 0.0, 1.0}},
    };
    std::vector<double> rhos;
    for (int e = -8; e <= 6; ++e) rhos.push_back(std::pow(10.0, 0.5 * e));
    std::vector<double> ls{0.0, 1e-7, 1e-5, 1e-3};
    for (int i = 1; i <= 400; ++i) ls.push_back(0.01 * i);
    for (int k = 1; k <= 15; ++k) {
        ls.push_back(1.0 - std::pow(10.0, -k));
        ls.push_back(1.0 + std::pow(10.0, -k));
    }
    std::mt19937_64 random(1);
    std::uniform_real_distribution<double> uniform(0.0, 3.0);
    std::vector<double> bench(1000);
    for (double& l : bench) l = uniform(random);
    std::uniform_real_distribution<double> far_uniform(3.0, 100.0);
    std::vector<double> far(1000);
    for (double& l : far) l = far_uniform(random);

    const Candidate tight = candidate(24, 24, 24, 1.5, FAR_FIELD_START, FULL_TRUNCATION);

    // The tight values once.
    std::vector<std::vector<double>> reference;
    std::vector<RadialProfile> profiles;
    std::vector<std::array<double, FAR_FIELD_TERMS>> moments;
    for (const Source& source : sources) {
        profiles.emplace_back(source.law, source.coefficients);
        moments.emplace_back();
        profiles.back().normalised_moments(moments.back());
        std::vector<double> values;
        for (const double rho : rhos) {
            for (const double l : ls) {
                values.push_back(profile_magnification(l, rho, profiles.back(), moments.back(), tight.method));
            }
        }
        reference.push_back(std::move(values));
    }

    struct Measured {
        double worst;
        std::string where;
        double discs;  // per value of the benchmark's near field (l < 2.5)
        double worst_far = 0.0;  // over the separations the series serves
    };
    auto measure = [&](const Method& method) {
        Measured m{0.0, "", 0.0};
        for (std::size_t s = 0; s < sources.size(); ++s) {
            std::size_t i = 0;
            for (const double rho : rhos) {
                for (const double l : ls) {
                    const double value = profile_magnification(l, rho, profiles[s], moments[s], method);
                    const double error = std::fabs(value / reference[s][i++] - 1.0);
                    if (l >= method.far_field_start && !(error <= m.worst_far)) m.worst_far = error;
                    if (!(error <= m.worst)) {
                        m.worst = error;
                        char text[96];
                        std::snprintf(text, sizeof text, "%s rho %.3g l %.17g", sources[s].label, rho, l);
                        m.where = text;
                    }
                }
            }
        }
        disc_evaluations = 0;
        long near = 0;
        for (const double l : bench) {
            if (l < FAR_FIELD_START) {
                profile_magnification(l, 0.1, profiles[0], moments[0], method);
                ++near;
            }
        }
        m.discs = static_cast<double>(disc_evaluations) / static_cast<double>(near);
        return m;
    };

    if (argc > 1 && std::string(argv[1]) == "search") {
        // The near field alone: every rule and ratio, the far field as tight.
        const int focus_orders[] = {4, 6, 8, 10, 12, 16, 20, 24};
        const int plain_orders[] = {2, 3, 4, 6, 8, 12, 20, 24};
        const double ratios[] = {1.5, 2.0, 3.0, 4.0, 6.0};
        const double reaches[] = {1.0, 1.5, 2.0};
        const double targets[] = {3e-3, 1e-3, 3e-4, 1e-4, 3e-5, 3e-6, 1e-6, 3e-7, 3e-8, 1e-8, 3e-9, 3e-10,
                                  3e-11, 1e-11, 3e-12, 3e-13};
        // Up to `most_points` points at the focus (the second argument).
        const int most_points = argc > 2 ? std::atoi(argv[2]) : 24;
        std::vector<std::pair<Candidate, Measured>> all;
        for (const int f : focus_orders) {
            if (f > most_points) continue;
            for (const int p : plain_orders) {
                if (p > f) continue;
                for (const int lm : focus_orders) {
                    if (lm > f || lm < f / 2) continue;
                    for (const double r : ratios) {
                        for (const double reach : reaches) {
                            Candidate c = candidate(f, p, lm, r, FAR_FIELD_START, FULL_TRUNCATION, reach);
                            all.emplace_back(c, measure(c.method));
                        }
                    }
                }
            }
        }
        for (const double target : targets) {
            const std::pair<Candidate, Measured>* best = nullptr;
            for (const auto& entry : all) {
                if (entry.second.worst <= target && (!best || entry.second.discs < best->second.discs)) best = &entry;
            }
            if (best) {
                std::printf("%.0e: %s: worst %.2e (%s), %.1f discs\n", target, best->first.name.c_str(),
                            best->second.worst, best->second.where.c_str(), best->second.discs);
            }
        }
        return 0;
    }

    std::vector<Candidate> candidates;
    for (int i = 1; i + 6 < argc; i += 7) {
        candidates.push_back(candidate(std::atoi(argv[i]), std::atoi(argv[i + 1]), std::atoi(argv[i + 2]),
                                       std::atof(argv[i + 3]), std::atof(argv[i + 4]), std::atof(argv[i + 5]),
                                       std::atof(argv[i + 6])));
    }
    if (candidates.empty()) candidates.push_back(Candidate{"the default", method_for(1e-10)});
    for (const Candidate& c : candidates) {
        const Measured m = measure(c.method);
        const double t1 = seconds_per_value(c.method, 0.1, profiles[0], moments[0], bench);
        const double t2 = seconds_per_value(c.method, 0.01, profiles[0], moments[0], bench);
        const double t3 = seconds_per_value(c.method, 0.1, profiles[0], moments[0], far);
        std::printf("%s: worst %.2e (%s), series %.2e, %.1f discs; %.0f ns (rho 0.1), %.0f ns (rho 0.01), "
                    "far %.0f ns\n", c.name.c_str(), m.worst, m.where.c_str(), m.worst_far, m.discs, 1e9 * t1,
                    1e9 * t2, 1e9 * t3);
    }
}
