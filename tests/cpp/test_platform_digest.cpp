// The same bits on every platform: every public routine (the elliptic
// integrals, the seven models, the limb-darkened laws and table) over a fixed
// grid of arguments, hashed routine by routine, with every instruction set
// the build and the processor have. The hashes must agree between the sets
// on any machine; on a glibc machine they must also equal the ones committed
// below, recorded with g++ on x86-64 and met by the aarch64 build (run under
// qemu-aarch64) and by clang with libc++. Another C library may round
// log, atan, asin, pow or cbrt differently in the last bit, so there the
// committed hashes are not checked. A NaN is a NaN on every platform, but its
// sign and payload are the processor's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "elliptic/bulirsch.hpp"
#include "elliptic/carlson.hpp"
#include "elliptic/legendre.hpp"
#include "models/light_curve.hpp"
#include "models/limb_darkening.hpp"
#include "models/models.hpp"
#include "numeric/instruction_set.hpp"

using namespace lumevaro;

namespace {

// FNV-1a over the bits of every value and the text of every failure. Every
// NaN counts as one value: the NaN an invalid operation makes is negative on
// x86 and positive on ARM, a difference of the processors' arithmetic, not
// of the routines.
class Digest {
public:
    void add(double value) {
        if (std::isnan(value)) value = std::numeric_limits<double>::quiet_NaN();
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        for (int i = 0; i < 8; ++i) byte(static_cast<unsigned char>(bits >> (8 * i)));
    }
    void add(std::string_view text) {
        for (const char c : text) byte(static_cast<unsigned char>(c));
        byte(0);
    }
    void add(const Real& outcome) {
        if (outcome) {
            add(outcome.value());
        } else {
            add(outcome.message());
        }
    }
    void add(const ListOutcome& outcome) {
        if (!outcome) {
            add(outcome.message());
            add(static_cast<double>(outcome.separation_failure().index));
            return;
        }
        for (const double v : outcome.value()) add(v);
    }
    void add(const Checked<Array>& outcome) {
        if (!outcome) {
            add(std::string_view(outcome.message()));
            return;
        }
        for (const double v : outcome.value()) add(v);
    }
    void add(const Magnifications& values) {
        for (const double v : values) add(v);
    }
    // Checked results of several lists: each list in turn, or the message.
    template <class Lists>
    void add_lists(const Checked<Lists>& outcome, auto&& lists) {
        if (!outcome) {
            add(std::string_view(outcome.message()));
            return;
        }
        for (const Magnifications& values : lists(outcome.value())) add(values);
    }
    std::string hex() const {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(state_));
        return text;
    }

private:
    void byte(unsigned char b) {
        state_ ^= b;
        state_ *= 0x100000001b3ULL;
    }
    std::uint64_t state_ = 0xcbf29ce484222325ULL;
};

// A fixed pseudo-random sequence in [0, 1), the same on every platform.
class Sequence {
public:
    double next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state_ >> 11) * 0x1p-53;
    }

private:
    std::uint64_t state_ = 20261209;
};

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// Separations over the light curve, near the limb, far out, and special.
Separations grid_separations(std::size_t random_count) {
    Sequence random;
    Separations l;
    for (std::size_t i = 0; i < random_count; ++i) l.push_back(5.0 * random.next());
    for (std::size_t i = 0; i < random_count / 4; ++i) l.push_back(std::pow(10.0, 16.0 * random.next() - 8.0));
    for (std::size_t i = 0; i < random_count / 4; ++i) l.push_back(1.0 + (random.next() - 0.5) * 4e-5);
    for (const double special : {0.0, 1.0, 1.0 + 1e-5, 1.0 - 1e-5, 2.0, 0.5, 1e-17, 1e300}) {
        l.push_back(special);
    }
    return l;
}

// One hash per routine, named.
struct Entry {
    const char* name;
    std::string hash;
};

std::vector<Entry> digests() {
    const Separations l = grid_separations(256);
    const Separations short_l = grid_separations(12);
    const Separations failing = {0.5, 2.0, NaN, -1.0, Inf};
    const double rhos[] = {1e-4, 0.01, 0.1, 1.0, 30.0};
    const std::vector<double> bl{0.0, 0.2, 0.55, 0.8, 1.0}, bf{1.0, 0.9, 0.7, 0.5, 0.2};
    std::vector<Entry> out;

    Digest elliptic;
    Sequence random;
    for (int i = 0; i < 400; ++i) {
        const double m = random.next(), n = 2.0 * random.next() - 0.5;
        const double x = 4.0 * random.next(), y = 4.0 * random.next(), z = 4.0 * random.next();
        const double p = 4.0 * random.next() - 1.0;
        elliptic.add(ellipk(m));
        elliptic.add(ellipe(m));
        elliptic.add(ellippi(n, m));
        elliptic.add(elliprf(x, y, z));
        elliptic.add(elliprc(x, y));
        elliptic.add(elliprd(x, y, z));
        elliptic.add(elliprj(x, y, z, p));
        elliptic.add(cel(m + 0.01, n, x, y));
    }
    out.push_back({"elliptic integrals", elliptic.hex()});

    Digest witt_mao, heyrovsky, integrated_wm, integrated_h, flux_wm, flux_h, discrete;
    for (const double rho : rhos) {
        witt_mao.add(witt_mao_magnification(l, 1.0, rho));
        witt_mao.add(witt_mao_magnification(failing, 1.0, rho));
        for (const double r : {0.1, 0.5, 0.999, 1.0}) {
            for (const double separation : l) heyrovsky.add(heyrovsky_magnification(separation, r, 1.0, rho));
        }
        integrated_wm.add(integrated_witt_mao_magnification(short_l, 1.0, rho));
        integrated_h.add(integrated_heyrovsky_magnification(short_l, 1.0, rho));
        flux_wm.add(integrated_flux_map_witt_mao_magnification(short_l, 1.0, rho, bl, bf));
        flux_h.add(integrated_flux_map_heyrovsky_magnification(short_l, 1.0, rho, bl, bf));
        discrete.add(discrete_flux_map_heyrovsky_magnification(l, 1.0, rho, bl, bf));
        discrete.add(discrete_flux_map_heyrovsky_magnification(failing, 1.0, rho, bl, bf));
    }
    out.push_back({"witt_mao_magnification", witt_mao.hex()});
    out.push_back({"heyrovsky_magnification", heyrovsky.hex()});
    out.push_back({"integrated_witt_mao_magnification", integrated_wm.hex()});
    out.push_back({"integrated_heyrovsky_magnification", integrated_h.hex()});
    out.push_back({"integrated_flux_map_witt_mao_magnification", flux_wm.hex()});
    out.push_back({"integrated_flux_map_heyrovsky_magnification", flux_h.hex()});
    out.push_back({"discrete_flux_map_heyrovsky_magnification", discrete.hex()});

    struct Law {
        const char* name;
        std::vector<double> coefficients;
    };
    const Law laws[] = {{"uniform", {}},           {"linear", {0.6}},
                        {"quadratic", {0.4, 0.2}}, {"square-root", {0.3, 0.4}},
                        {"logarithmic", {0.5, 0.2}}, {"power-2", {0.6, 0.7}},
                        {"claret", {0.5, 0.2, 0.1, -0.05}}};
    // The arrays' values in order (the coefficient derivatives, and the
    // bands, row after row).
    auto gradient_lists = [](const MagnificationGradient& g) {
        return std::vector<Magnifications>{g.a.values(), g.d_u.values(), g.d_rho.values(), g.d_coefficients.values()};
    };
    auto same = [](const Array& rows) { return std::vector<Magnifications>{rows.values()}; };
    Digest limb_darkened, tabulated, gradient, tabulated_gradient, bands, bands_gradient, light_curves;
    // A light curve across the source and far from it: the times of short_l
    // as days, around t0 = 0.5 with tE = 2.
    const auto one = [](double x) { return Array(Shape{}, {x}); };
    // Every accuracy tier's rules and series, at the default and three others.
    for (const Accuracy accuracy : {Accuracy{}, Accuracy{1e-3}, Accuracy{1e-6}, Accuracy{1e-11}}) {
        for (const double rho : {1e-3, 0.1, 3.0}) {
            for (const Law& law : laws) {
                limb_darkened.add(
                    limb_darkened_magnification(short_l, 1.0, rho, law.name, law.coefficients, accuracy));
                gradient.add_lists(
                    limb_darkened_magnification_gradient(short_l, 1.0, rho, law.name, law.coefficients, accuracy),
                    gradient_lists);
                bands.add_lists(limb_darkened_magnification_bands(short_l, 1.0, rho, law.name,
                                                                  {law.coefficients, law.coefficients}, accuracy),
                                same);
                bands_gradient.add_lists(
                    limb_darkened_magnification_bands_gradient(short_l, 1.0, rho, law.name,
                                                               {law.coefficients, law.coefficients}, accuracy),
                    gradient_lists);
                const Checked<LightCurveJacobian> curve =
                    light_curve_jacobian(short_l, one(0.5), one(-0.6 * rho), one(2.0), one(rho), law.name,
                                         law.coefficients, accuracy);
                if (curve) {
                    light_curves.add(curve.value().a.values());
                    light_curves.add(curve.value().jacobian.values());
                } else {
                    light_curves.add(std::string_view(curve.message()));
                }
            }
            tabulated.add(tabulated_limb_darkened_magnification(short_l, 1.0, rho, bl, bf, accuracy));
            tabulated_gradient.add_lists(
                tabulated_limb_darkened_magnification_gradient(short_l, 1.0, rho, bl, bf, accuracy),
                gradient_lists);
        }
    }
    // A rejected argument: its message quotes the number.
    limb_darkened.add(limb_darkened_magnification({1.0}, -2.5e-7, 0.1, "linear", {0.6}));
    out.push_back({"limb_darkened_magnification", limb_darkened.hex()});
    out.push_back({"tabulated_limb_darkened_magnification", tabulated.hex()});
    out.push_back({"limb_darkened_magnification_gradient", gradient.hex()});
    out.push_back({"tabulated_limb_darkened_magnification_gradient", tabulated_gradient.hex()});
    out.push_back({"limb_darkened_magnification_bands", bands.hex()});
    out.push_back({"limb_darkened_magnification_bands_gradient", bands_gradient.hex()});
    out.push_back({"light_curve_jacobian", light_curves.hex()});
    return out;
}

// Recorded with g++ 12 on x86-64, glibc 2.36; the bits themselves (NaNs
// included) were the same before the lanes and the dispatch were made
// portable. The same with g++ 12 on aarch64 (glibc 2.36, under qemu).
const Entry GLIBC_DIGESTS[] = {
    {"elliptic integrals", "a5919dc7e029399e"},
    {"witt_mao_magnification", "54be5411d23eea01"},
    {"heyrovsky_magnification", "4cadbd5e2de8a604"},
    {"integrated_witt_mao_magnification", "30610f5e116a9389"},
    {"integrated_heyrovsky_magnification", "334d3646feda3e93"},
    {"integrated_flux_map_witt_mao_magnification", "56b6c9134c126310"},
    {"integrated_flux_map_heyrovsky_magnification", "c030ebb18a565f08"},
    {"discrete_flux_map_heyrovsky_magnification", "a79d8ab452850eab"},
    {"limb_darkened_magnification", "c2b81e457d38dbec"},
    {"tabulated_limb_darkened_magnification", "2cd3f26e79023e1f"},
    {"limb_darkened_magnification_gradient", "6b64c1f949a8a138"},
    {"tabulated_limb_darkened_magnification_gradient", "ee66cfab19d13eb3"},
    {"limb_darkened_magnification_bands", "7758eec0c4b33115"},
    {"limb_darkened_magnification_bands_gradient", "09cded6b0d7f5a99"},
    {"light_curve_jacobian", "914fe6f51d4ec012"},
};

}  // namespace

TEST(PlatformDigest, EveryInstructionSetGivesTheSameBits) {
    const InstructionSet before = active_instruction_set();
    force_instruction_set(InstructionSet::scalar);
    const std::vector<Entry> scalar = digests();
    for (const InstructionSet set : {InstructionSet::neon, InstructionSet::sse2, InstructionSet::avx2,
                                     InstructionSet::avx512}) {
        if (force_instruction_set(set) != set) continue;
        const std::vector<Entry> lanes = digests();
        ASSERT_EQ(lanes.size(), scalar.size());
        for (std::size_t i = 0; i < lanes.size(); ++i) {
            EXPECT_EQ(lanes[i].hash, scalar[i].hash) << scalar[i].name << " on " << instruction_set_name(set);
        }
    }
    force_instruction_set(before);
}

TEST(PlatformDigest, GlibcMachinesGiveTheRecordedBits) {
#if !defined(__GLIBC__)
    GTEST_SKIP() << "the recorded hashes assume glibc's libm; another C library may round "
                    "log, atan, asin, pow or cbrt differently in the last bit";
#endif
    const std::vector<Entry> here = digests();
    std::string table;
    for (const Entry& entry : here) table += std::string("    {\"") + entry.name + "\", \"" + entry.hash + "\"},\n";
    ASSERT_EQ(here.size(), std::size(GLIBC_DIGESTS)) << "this machine's hashes:\n" << table;
    for (std::size_t i = 0; i < here.size(); ++i) {
        EXPECT_STREQ(here[i].name, GLIBC_DIGESTS[i].name);
        EXPECT_EQ(here[i].hash, GLIBC_DIGESTS[i].hash) << here[i].name << "; this machine's hashes:\n" << table;
    }
}
