// libFuzzer harness over the elliptic integrals and the magnification models.
//
// An input is a routine selector followed by a stream of doubles. Each double
// is either taken bit for bit from the input (every pattern: NaN payloads,
// infinities, subnormals, negative zero), picked from a table of values where
// the routines branch (1 − 2⁻⁵³, the edge band 1e-5, the 1.2 ratio, …), or a
// small multiple of 1/16. Lengths of lists come from single bytes and stay
// short: an integrated Heyrovsky separation costs about a thousand ring
// magnifications.
//
// Besides what AddressSanitizer and UBSan report, every call is checked for
// results that no argument may produce:
//   - a failure carries one of the fourteen message texts, and only one that
//     the routine or its callees can return;
//   - K(m) and E(m) never fail for m ≤ 1 and always fail for m > 1; Π(n, m)
//     fails exactly where its argument checks say;
//   - for arguments of moderate size inside the domain, the Carlson integrals
//     and the Legendre integrals do not fail and are finite;
//   - list results have the length of the separation list; the tabulated
//     forms raise the internal failure exactly for tables of unequal length,
//     with the equality-assertion text;
//   - the profile-weighted disc agrees with the plain disc, and the discrete
//     ring sum with the ring magnifications it adds up.
// A broken invariant prints the call and aborts, which libFuzzer reports as a
// crash with the input saved.
#include <array>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "elliptic/carlson.hpp"
#include "elliptic/legendre.hpp"
#include "models/internal_failure.hpp"
#include "models/light_curve.hpp"
#include "models/limb_darkening.hpp"
#include "models/limb_darkening/profile.hpp"
#include "models/limb_darkening/uniform_disc.hpp"
#include "models/models.hpp"

namespace {

using namespace lumevaro;
using Messages = std::initializer_list<std::string_view>;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NAN_ = std::numeric_limits<double>::quiet_NaN();

// The failure texts, grouped by the routine that raises them.
constexpr std::string_view RF_DOMAIN =
    "elliprf: x, y, and z must be non-negative, and at most one can be zero.";
constexpr std::string_view RF_CONVERGENCE = "elliprf: Failed to converge.";
constexpr std::string_view RC_X = "elliprc: x must be non-negative.";
constexpr std::string_view RC_Y = "elliprc: y must be non-zero.";
constexpr std::string_view RD_XY =
    "elliprd: x and y must be non-negative, and at most one can be zero.";
constexpr std::string_view RD_Z = "elliprd: z must be positive";
constexpr std::string_view RD_CONVERGENCE = "elliprd: Failed to converge.";
constexpr std::string_view RJ_DOMAIN =
    "elliprj: x, y, and z must be non-negative, and at most one can be zero.";
constexpr std::string_view RJ_P = "elliprj: p must be non-zero";
constexpr std::string_view RJ_CONVERGENCE = "elliprj: Fail to converge";
constexpr std::string_view K_M = "ellipk: m must be less than 1.";
constexpr std::string_view E_M = "ellipe: m must be less than 1.";
constexpr std::string_view PI_M = "ellippi: m must be less than 1.";
constexpr std::string_view PI_N = "ellippi: n must be less than 1.";

// What RJ can pass on: its own texts and those of RF, RC and RD.
constexpr std::array<std::string_view, 10> RJ_REACH{
    RJ_DOMAIN, RJ_P, RJ_CONVERGENCE, RF_DOMAIN, RF_CONVERGENCE,
    RC_X,      RC_Y, RD_XY,          RD_Z,      RD_CONVERGENCE};
// The texts the two lensing formulas can meet (through E, K and Π).
constexpr Messages DISC_MESSAGES{E_M, PI_M, PI_N, RJ_P, RJ_CONVERGENCE};
constexpr Messages RING_MESSAGES{K_M, PI_M, PI_N, RJ_P, RJ_CONVERGENCE};

// ---------------------------------------------------------------------------
// Reporting

std::string describe(std::string_view routine, std::initializer_list<double> arguments) {
    std::string text(routine);
    text += '(';
    bool first = true;
    for (double value : arguments) {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "%s%a", first ? "" : ", ", value);
        text += buffer;
        first = false;
    }
    return text + ')';
}

std::string describe_list(const std::vector<double>& values) {
    std::string text = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "%s%a", i ? ", " : "", values[i]);
        text += buffer;
    }
    return text + ']';
}

[[noreturn]] void broken(const std::string& call, std::string_view what) {
    std::fprintf(stderr, "broken invariant: %.*s\n  in %s\n", static_cast<int>(what.size()),
                 what.data(), call.c_str());
    std::abort();
}

void require(bool holds, const std::string& call, std::string_view what) {
    if (!holds) broken(call, what);
}

// A failure's text must be one of `allowed`, byte for byte.
template <class Allowed>
void require_known_failure(std::string_view message, const Allowed& allowed,
                           const std::string& call) {
    require(message.data() != nullptr && !message.empty(), call, "failure without a text");
    for (std::string_view text : allowed) {
        if (message == text) return;
    }
    broken(call, std::string("unexpected failure text: ") + std::string(message));
}

// ---------------------------------------------------------------------------
// Input decoding

// Values at which the routines branch or round.
constexpr std::array<double, 40> NOTABLE{
    0.0,
    -0.0,
    1.0,
    -1.0,
    0.5,
    2.0,
    0.25,
    4.0,
    1.2,
    1.0 / 1.2,
    1.0 - 0x1p-53,
    1.0 - 0x1p-52,
    1.0 + 0x1p-52,
    0x1p-53,
    1e-5,
    0x1.4f8b588e368f0p-17,  // the double just below 1e-5
    0x1.4f8b588e368f2p-17,  // and just above
    1.0 + 1e-5,
    1.0 - 1e-5,
    6.0554544523933395e-06,  // the derivative step CBRT_EPS
    std::numeric_limits<double>::min(),
    std::numeric_limits<double>::denorm_min(),
    std::numeric_limits<double>::max(),
    -std::numeric_limits<double>::max(),
    INF,
    -INF,
    NAN_,
    -NAN_,
    1e-300,
    1e300,
    1e-200,
    1e200,
    0.1,
    10.0,
    3.0,
    -0.5,
    -1.5,
    0x1p-1022 * 0x1p-30,
    1e-8,
    1e8,
};

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }

    double real() {
        const std::uint8_t tag = byte();
        switch (tag & 3u) {
            case 0:
            case 1: {  // raw bits
                std::uint8_t bytes[8] = {};
                for (std::uint8_t& b : bytes) b = byte();
                double value;
                std::memcpy(&value, bytes, sizeof value);
                return value;
            }
            case 2:
                return NOTABLE[byte() % NOTABLE.size()];
            default:  // a small multiple of 1/16 in [-8, 8)
                return static_cast<std::int8_t>(byte()) / 16.0;
        }
    }

    std::vector<double> list(std::size_t most) {
        std::vector<double> values(byte() % (most + 1));
        for (double& value : values) value = real();
        return values;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// ---------------------------------------------------------------------------
// Domain helpers

bool moderate(double v) { return v == 0.0 || (std::fabs(v) >= 1e-50 && std::fabs(v) <= 1e50); }
bool moderate(std::initializer_list<double> values) {
    for (double v : values) {
        if (!moderate(v)) return false;
    }
    return true;
}
bool in_range(double v, double low, double high) { return v >= low && v <= high; }
bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// x, y, z ≥ 0 (no NaN), at most one of them zero.
bool carlson_domain(double x, double y, double z) {
    const int zeros = (x == 0.0) + (y == 0.0) + (z == 0.0);
    return x >= 0.0 && y >= 0.0 && z >= 0.0 && zeros <= 1;
}

// ---------------------------------------------------------------------------
// Elliptic integrals

void fuzz_elliprf(Input& in) {
    const double x = in.real(), y = in.real(), z = in.real();
    const std::string call = describe("elliprf", {x, y, z});
    const Real r = elliprf(x, y, z);
    if (!r) {
        require_known_failure(r.message(), Messages{RF_DOMAIN, RF_CONVERGENCE}, call);
        if (carlson_domain(x, y, z) && moderate({x, y, z})) {
            broken(call, "fails inside the domain for moderate arguments");
        }
        return;
    }
    if (carlson_domain(x, y, z) && moderate({x, y, z})) {
        require(std::isfinite(*r) && *r > 0.0, call, "not finite and positive");
    }
}

void fuzz_elliprc(Input& in) {
    const double x = in.real(), y = in.real();
    const std::string call = describe("elliprc", {x, y});
    const Real r = elliprc(x, y);
    const bool domain = x >= 0.0 && y != 0.0 && !std::isnan(y);
    if (!r) {
        require_known_failure(r.message(), Messages{RC_X, RC_Y}, call);
        require(!domain, call, "fails inside its domain");
        return;
    }
    if (domain && moderate({x, y})) {
        require(std::isfinite(*r) && *r >= 0.0, call, "not finite and non-negative");
    }
}

void fuzz_elliprd(Input& in) {
    const double x = in.real(), y = in.real(), z = in.real();
    const std::string call = describe("elliprd", {x, y, z});
    const Real r = elliprd(x, y, z);
    const bool domain = x >= 0.0 && y >= 0.0 && x + y > 0.0 && z > 0.0;
    if (!r) {
        require_known_failure(r.message(), Messages{RD_XY, RD_Z, RD_CONVERGENCE}, call);
        require(!(domain && moderate({x, y, z})), call,
                "fails inside the domain for moderate arguments");
        return;
    }
    if (domain && moderate({x, y, z})) {
        require(std::isfinite(*r) && *r > 0.0, call, "not finite and positive");
    }
}

void fuzz_elliprj(Input& in) {
    const double x = in.real(), y = in.real(), z = in.real(), p = in.real();
    const std::string call = describe("elliprj", {x, y, z, p});
    const Real r = elliprj(x, y, z, p);
    const bool domain = carlson_domain(x, y, z) && p != 0.0 && !std::isnan(p);
    if (!r) {
        require_known_failure(r.message(), RJ_REACH, call);
        require(!(domain && moderate({x, y, z, p})), call,
                "fails inside the domain for moderate arguments");
        return;
    }
    if (domain && moderate({x, y, z, p})) {
        require(std::isfinite(*r), call, "not finite");
        // For x = y = z the closed form 3(RC(x, p) − 1/√x)/(x − p) cancels as p
        // approaches x (RJ(1, 1, 1, 1 − 2⁻⁵³) comes out 0, not 1): only
        // finiteness holds there.
        const bool cancelling = x == y && y == z;
        if (p > 0.0 && !cancelling) require(*r > 0.0, call, "not positive for p > 0");
    }
}

void fuzz_ellipk(Input& in) {
    const double m = in.real();
    const std::string call = describe("ellipk", {m});
    const Real r = ellipk(m);
    if (!r) {
        require_known_failure(r.message(), Messages{K_M}, call);
        require(m > 1.0, call, "fails for m <= 1 or NaN m");
        return;
    }
    require(!(m > 1.0), call, "no failure for m > 1");
    if (std::isnan(m)) require(std::isnan(*r), call, "NaN m without a NaN result");
    if (m == 1.0) require(*r == INF, call, "K(1) is not +inf");
    if (in_range(m, 0.0, 1.0 - 0x1p-53)) {
        require(std::isfinite(*r) && *r >= 1.5, call, "K(m) for 0 <= m < 1 not finite and >= pi/2");
    }
}

void fuzz_ellipe(Input& in) {
    const double m = in.real();
    const std::string call = describe("ellipe", {m});
    const Real r = ellipe(m);
    if (!r) {
        require_known_failure(r.message(), Messages{E_M}, call);
        require(m > 1.0, call, "fails for m <= 1 or NaN m");
        return;
    }
    require(!(m > 1.0), call, "no failure for m > 1");
    if (std::isnan(m)) require(std::isnan(*r), call, "NaN m without a NaN result");
    if (m == 1.0) require(*r == 1.0, call, "E(1) is not 1");
    if (in_range(m, 0.0, 1.0)) {
        require(in_range(*r, 1.0 - 1e-12, 1.5707963267948966 + 1e-12), call,
                "E(m) for 0 <= m <= 1 outside [1, pi/2]");
    }
    if (in_range(m, -1e15, 0.0)) {
        require(std::isfinite(*r) && *r >= 1.5707963267948966 - 1e-12, call,
                "E(m) for m < 0 not finite and >= pi/2");
    }
}

void fuzz_ellippi(Input& in) {
    const double n = in.real(), m = in.real();
    const std::string call = describe("ellippi", {n, m});
    const Real r = ellippi(n, m);
    if (m >= 1.0) {
        require(!r && r.message() == PI_M, call, "m >= 1 without the m failure");
        return;
    }
    if (n > 1.0) {
        require(!r && r.message() == PI_N, call, "n > 1 without the n failure");
        return;
    }
    if (n == 1.0) {
        require(!r && r.message() == RJ_P, call, "n = 1 without RJ's p failure");
        return;
    }
    if (!r) {
        std::vector<std::string_view> allowed(RJ_REACH.begin(), RJ_REACH.end());
        allowed.push_back(K_M);
        require_known_failure(r.message(), allowed, call);
        require(std::isnan(n) || std::isnan(m) || !moderate({n, m, 1.0 - m, 1.0 - n}), call,
                "fails for moderate n < 1 and 0 <= m < 1");
        return;
    }
    if (in_range(m, 0.0, 1.0) && n < 1.0 && moderate({n, m, 1.0 - m, 1.0 - n})) {
        require(std::isfinite(*r), call, "not finite for moderate n < 1 and 0 <= m < 1");
    }
}

// ---------------------------------------------------------------------------
// Magnification models

// Lengths of the model inputs: the ring quadrature costs ~0.3 ms a separation.
constexpr std::size_t MOST_SEPARATIONS = 16;
constexpr std::size_t MOST_INTEGRATED_RING_SEPARATIONS = 2;
constexpr std::size_t MOST_TABLE_ROWS = 6;

bool moderate_lens(double re, double rstar) {
    return in_range(re, 1e-3, 1e3) && in_range(rstar, 1e-3, 1e3);
}
bool all_in(const std::vector<double>& values, double low, double high) {
    for (double v : values) {
        if (!in_range(v, low, high)) return false;
    }
    return true;
}

void fuzz_witt_mao(Input& in) {
    const double re = in.real(), rstar = in.real();
    const std::vector<double> l = in.list(MOST_SEPARATIONS);
    const std::string call = describe("witt_mao_magnification", {re, rstar}) + describe_list(l);
    const auto result = witt_mao_magnification(l, re, rstar);
    if (!result) {
        require_known_failure(result.message(), DISC_MESSAGES, call);
        return;
    }
    require(result.value().size() == l.size(), call, "result length differs from l");
    if (moderate_lens(re, rstar) && all_in(l, 0.0, 1e3)) {
        for (double a : result.value()) {
            require(std::isfinite(a) && a > 0.0, call, "not finite and positive");
        }
    }

    // Weighted with the built-in profile, the disc magnification comes back
    // to about eleven digits: the weight does not depend on the radius.
    const auto weighted = integrated_witt_mao_magnification(l, re, rstar);
    require(static_cast<bool>(weighted), call, "integrated form fails where the plain one does not");
    require(weighted.value().size() == l.size(), call, "integrated result length differs from l");
    for (std::size_t i = 0; i < l.size(); ++i) {
        const double a = result.value()[i], w = weighted.value()[i];
        if (std::isfinite(a) && std::fabs(a) < 1e250) {
            require(std::fabs(w - a) <= 1e-10 * std::fabs(a), call,
                    "integrated form differs from the plain disc");
        }
    }
}

void fuzz_heyrovsky(Input& in) {
    const double l = in.real(), r = in.real(), re = in.real(), rstar = in.real();
    const std::string call = describe("heyrovsky_magnification", {l, r, re, rstar});
    const Real a = heyrovsky_magnification(l, r, re, rstar);
    if (!a) {
        require_known_failure(a.message(), RING_MESSAGES, call);
        return;
    }
    if (moderate_lens(re, rstar) && in_range(l, 1e-3, 1e3) && in_range(r, 1e-3, 1e3)) {
        require(!std::isnan(*a) && *a > 0.0, call, "NaN or not positive");
    }
}

void fuzz_integrated_heyrovsky(Input& in) {
    const double re = in.real(), rstar = in.real();
    const std::vector<double> l = in.list(MOST_INTEGRATED_RING_SEPARATIONS);
    const std::string call =
        describe("integrated_heyrovsky_magnification", {re, rstar}) + describe_list(l);
    const Magnifications result = integrated_heyrovsky_magnification(l, re, rstar);
    require(result.size() == l.size(), call, "result length differs from l");
    if (moderate_lens(re, rstar) && all_in(l, 0.0, 1e3)) {
        for (double a : result) require(std::isfinite(a), call, "not finite");
    }
}

// The three tabulated forms share the decoding of the table, whose columns
// may differ in length.
struct Table {
    std::vector<double> bl, bf;
};

Table read_table(Input& in) {
    Table table;
    table.bl = in.list(MOST_TABLE_ROWS);
    table.bf = in.list(MOST_TABLE_ROWS);
    return table;
}

std::string length_failure_text(std::size_t left, std::size_t right) {
    return "assertion `left == right` failed\n  left: " + std::to_string(left) +
           "\n right: " + std::to_string(right);
}

// Runs `body`; an internal failure must come exactly for unequal columns,
// with the equality-assertion text. Returns true when the body completed.
template <class Body>
bool checked_table_call(const Table& table, const std::string& call, Body body) {
    const bool equal = table.bl.size() == table.bf.size();
    try {
        body();
    } catch (const InternalFailure& failure) {
        require(!equal, call, "internal failure for columns of equal length");
        require(failure.message() == length_failure_text(table.bl.size(), table.bf.size()), call,
                "unexpected internal failure text");
        return false;
    }
    require(equal, call, "no internal failure for columns of unequal length");
    return true;
}

std::string describe_table(std::string_view routine, double re, double rstar,
                           const std::vector<double>& l, const Table& table) {
    return describe(routine, {re, rstar}) + " l=" + describe_list(l) +
           " bl=" + describe_list(table.bl) + " bf=" + describe_list(table.bf);
}

void fuzz_integrated_flux_map_witt_mao(Input& in) {
    const double re = in.real(), rstar = in.real();
    const std::vector<double> l = in.list(MOST_SEPARATIONS);
    const Table table = read_table(in);
    const std::string call =
        describe_table("integrated_flux_map_witt_mao_magnification", re, rstar, l, table);
    checked_table_call(table, call, [&] {
        const auto result =
            integrated_flux_map_witt_mao_magnification(l, re, rstar, table.bl, table.bf);
        const auto plain = witt_mao_magnification(l, re, rstar);
        if (!result) {
            require_known_failure(result.message(), DISC_MESSAGES, call);
            require(!plain && plain.message() == result.message(), call,
                    "fails where the plain disc does not");
            return;
        }
        require(static_cast<bool>(plain), call, "succeeds where the plain disc fails");
        require(result.value().size() == l.size(), call, "result length differs from l");
    });
}

void fuzz_integrated_flux_map_heyrovsky(Input& in) {
    const double re = in.real(), rstar = in.real();
    const std::vector<double> l = in.list(MOST_INTEGRATED_RING_SEPARATIONS);
    const Table table = read_table(in);
    const std::string call =
        describe_table("integrated_flux_map_heyrovsky_magnification", re, rstar, l, table);
    checked_table_call(table, call, [&] {
        const Magnifications result =
            integrated_flux_map_heyrovsky_magnification(l, re, rstar, table.bl, table.bf);
        require(result.size() == l.size(), call, "result length differs from l");
    });
}

void fuzz_discrete_flux_map_heyrovsky(Input& in) {
    const double re = in.real(), rstar = in.real();
    const std::vector<double> l = in.list(MOST_SEPARATIONS / 2);
    const Table table = read_table(in);
    const std::string call =
        describe_table("discrete_flux_map_heyrovsky_magnification", re, rstar, l, table);
    checked_table_call(table, call, [&] {
        const auto result =
            discrete_flux_map_heyrovsky_magnification(l, re, rstar, table.bl, table.bf);
        // The sum of the weighted rings, separations outer and rows inner; the
        // first failing ring is the result.
        std::vector<double> sums;
        std::string_view first_failure;
        for (double li : l) {
            double sum = 0.0;
            for (std::size_t j = 0; j < table.bl.size(); ++j) {
                const Real ring = heyrovsky_magnification(li, table.bl[j], re, rstar);
                if (!ring) {
                    first_failure = ring.message();
                    break;
                }
                sum = sum + *ring * table.bf[j];
            }
            if (!first_failure.empty()) break;
            sums.push_back(sum);
        }
        if (!result) {
            require_known_failure(result.message(), RING_MESSAGES, call);
            require(result.message() == first_failure, call, "not the first failing ring");
            return;
        }
        require(first_failure.empty(), call, "succeeds although a ring fails");
        require(result.value().size() == l.size(), call, "result length differs from l");
        for (std::size_t i = 0; i < l.size(); ++i) {
            require(same(result.value()[i], sums[i]), call, "differs from the sum of its rings");
        }
    });
}

// ---------------------------------------------------------------------------
// Limb-darkened magnification

// A magnification of a source that is nowhere negative: finite and at least
// 1 (to the quadrature's accuracy).
bool plausible(double a, double rtol = 0.0) { return std::isfinite(a) && a >= 1.0 - std::fmax(1e-9, rtol); }

void fuzz_uniform_disc(Input& in) {
    const double s = std::fabs(in.real());
    const double fraction = in.real();
    if (!(s >= 1e-50 && s <= 1e50) || !(std::fabs(fraction) <= 1e4)) return;
    const double delta = fraction * s;
    const double u = s + delta;
    if (!(u >= 0.0)) return;
    const double a = limb_darkening::uniform_disc(u, s, u - s);
    const std::string call = "uniform_disc(" + std::to_string(u) + ", " + std::to_string(s) + ")";
    require(plausible(a), call, "not a finite magnification of at least 1");
    const limb_darkening::DiscGradient g = limb_darkening::uniform_disc_gradient(u, s, u - s);
    require(g.value == a, call, "the gradient's value is not the disc's");
    require(!std::isnan(g.d_u) && !std::isnan(g.d_s), call, "a derivative is NaN");
}

// The gradient function beside the value function: the same values to the
// bit, derivatives never NaN (geometric ones infinite only on the limb,
// l = 1; a table's brightness derivatives overflow when its brightest value
// is near the underflow, as they scale with its inverse), one list per
// coefficient.
template <class Values, class Gradient>
void require_gradient(const Values& values, const Gradient& gradient, const std::vector<double>& l,
                      std::size_t coefficients, const std::string& call, bool may_overflow = false) {
    require(static_cast<bool>(gradient), call, "the gradient refuses what the value function takes");
    if (!gradient) return;
    const MagnificationGradient& g = gradient.value();
    require(g.a == values, call, "the gradient's values differ from the value function's");
    require(g.d_coefficients.shape()[0] == coefficients, call, "not one derivative list per coefficient");
    for (std::size_t i = 0; i < l.size(); ++i) {
        for (const double d : {g.d_u[i], g.d_rho[i]}) {
            require(std::isfinite(d) || (l[i] == 1.0 && !std::isnan(d)), call, "a geometric derivative is not finite");
        }
        for (std::size_t k = 0; k < coefficients; ++k) {
            const double d = g.d_coefficients.slice(k)[i];
            require(std::isfinite(d) || (may_overflow && !std::isnan(d)), call, "a coefficient derivative is not finite");
        }
    }
}

// The message of a rejected argument opens with the argument's name.
void require_named(const std::string& message, const std::string& call) {
    static constexpr std::string_view NAMES[] = {"l[", "re ", "rstar ", "rstar/re", "law ", "the '",
                                                 "coefficients", "bl", "bf", "rtol"};
    bool named = false;
    for (std::string_view name : NAMES) named = named || message.rfind(name, 0) == 0;
    require(named, call, "rejects an argument without naming it: " + message);
}

// An accuracy: one of the tiers' (or between them), or any number.
Accuracy accuracy(Input& in) {
    static constexpr double RTOLS[] = {DEFAULT_RTOL, 1e-2, 1e-3, 5e-4, 1e-4, 1e-6, 1e-8, 1e-11};
    const std::size_t pick = in.byte() % (std::size(RTOLS) + 1);
    return Accuracy{pick < std::size(RTOLS) ? RTOLS[pick] : in.real()};
}

void fuzz_limb_darkened(Input& in) {
    static constexpr const char* NAMES[] = {"uniform",     "linear",  "quadratic", "square-root",
                                            "logarithmic", "power-2", "claret",    "linear "};
    const char* law = NAMES[in.byte() % std::size(NAMES)];
    const double re = in.real(), rstar = in.real();
    const std::vector<double> coefficients = in.list(5);
    const std::vector<double> l = in.list(MOST_SEPARATIONS / 4);
    const Accuracy asked = accuracy(in);
    const std::string call = describe("limb_darkened_magnification", {re, rstar, asked.rtol}) + " law='" + law +
                             "' coefficients=" + describe_list(coefficients) + " l=" + describe_list(l);
    const Checked<Array> result = limb_darkened_magnification(l, re, rstar, law, coefficients, asked);
    if (!result) {
        require_named(result.message(), call);
        return;
    }
    require(result.value().size() == l.size(), call, "result length differs from l");
    const auto named = limb_darkening::law_named(law);
    const limb_darkening::RadialProfile profile(*named, coefficients);
    bool nowhere_negative = true;
    for (double mu = 0.0; mu <= 1.0; mu += 1.0 / 64.0) nowhere_negative = nowhere_negative && profile.intensity(mu) >= 0.0;
    for (const double a : result.value()) {
        require(std::isfinite(a), call, "a magnification is not finite");
        // At least 1, to within the accuracy asked.
        if (nowhere_negative) require(plausible(a, asked.rtol), call, "a magnification below 1");
    }
    require_gradient(result.value(), limb_darkened_magnification_gradient(l, re, rstar, law, coefficients, asked),
                     l, coefficients.size(), call);
    const Checked<Array> bands =
        limb_darkened_magnification_bands(l, re, rstar, law, {coefficients, coefficients}, asked);
    require(bands && bands.value().shape()[0] == 2 && bands.value().row(0) == result.value().values() &&
                bands.value().row(1) == result.value().values(),
            call, "a band differs from the one-band call");
    const Checked<MagnificationGradient> one = limb_darkened_magnification_gradient(l, re, rstar, law, coefficients,
                                                                                  asked);
    const Checked<MagnificationGradient> both =
        limb_darkened_magnification_bands_gradient(l, re, rstar, law, {coefficients, coefficients}, asked);
    require(one && both, call, "the bands' gradient refuses what the one-band gradient takes");
    for (std::size_t b = 0; b < 2; ++b) {
        const MagnificationGradient& g = both.value();
        require(g.a.row(b) == one.value().a.values() && g.d_u.row(b) == one.value().d_u.values() &&
                    g.d_rho.row(b) == one.value().d_rho.values() &&
                    g.d_coefficients.row(b) == one.value().d_coefficients.values(),
                call, "a band's gradient differs from the one-band gradient");
    }
}

void fuzz_tabulated_limb_darkened(Input& in) {
    const double re = in.real(), rstar = in.real();
    const std::vector<double> l = in.list(MOST_SEPARATIONS / 4);
    std::vector<double> bl, bf;
    const std::size_t rows = in.byte() % 9;
    if (in.byte() % 2 == 0) {
        // A well-formed table: ascending radii from 0 to 1, brightness ≥ 0.
        double radius = 0.0;
        for (std::size_t j = 0; j < rows; ++j) {
            bl.push_back(j + 1 == rows ? 1.0 : radius);
            radius += (1.0 - radius) * ((in.byte() % 200 + 1) / 256.0);
            bf.push_back(std::fabs(in.real()));
        }
    } else {
        for (std::size_t j = 0; j < rows; ++j) bl.push_back(in.real());
        for (std::size_t j = 0; j < rows + in.byte() % 2; ++j) bf.push_back(in.real());
    }
    const Accuracy asked = accuracy(in);
    const std::string call = describe_table("tabulated_limb_darkened_magnification", re, rstar, l, Table{bl, bf}) +
                             " " + describe("rtol", {asked.rtol});
    const Checked<Array> result = tabulated_limb_darkened_magnification(l, re, rstar, bl, bf, asked);
    if (!result) {
        require_named(result.message(), call);
        return;
    }
    require(result.value().size() == l.size(), call, "result length differs from l");
    for (const double a : result.value()) {
        require(plausible(a, asked.rtol), call, "not a finite magnification of at least 1 (to within rtol)");
    }
    // ∂A/∂bf scales as A/max bf: it may overflow, to ±inf (never NaN), when
    // that quotient passes the largest double.
    double brightest = 0.0, largest = 0.0;
    for (const double f : bf) brightest = std::fmax(brightest, f);
    for (const double a : result.value()) largest = std::fmax(largest, a);
    require_gradient(result.value(), tabulated_limb_darkened_magnification_gradient(l, re, rstar, bl, bf, asked),
                     l, bl.size(), call, brightest < 1e-280 || largest > 1e-8 * DBL_MAX * brightest);
}

// A light curve: refused by name, or the magnification at u/ρ to the bit
// (1 where u/ρ overflows) with a Jacobian that is never NaN.
void fuzz_light_curve(Input& in) {
    static constexpr const char* NAMES[] = {"linear", "quadratic", "power-2", "claret", "table"};
    const char* law = NAMES[in.byte() % std::size(NAMES)];
    const std::vector<double> t = in.list(MOST_SEPARATIONS / 4);
    const double t0 = in.real(), u0 = in.real(), tE = in.real(), rho = in.real();
    const std::vector<double> coefficients = in.list(5);
    const std::vector<double> radii = in.list(5);
    const Accuracy asked = accuracy(in);
    const std::string call = describe("light_curve_jacobian", {t0, u0, tE, rho, asked.rtol}) + " law='" + law +
                             "' coefficients=" + describe_list(coefficients) + " t=" + describe_list(t);
    const bool table = std::string_view(law) == "table";
    const auto scalar = [](double x) { return Array(Shape{}, {x}); };
    const Checked<LightCurveJacobian> result =
        light_curve_jacobian(t, scalar(t0), scalar(u0), scalar(tE), scalar(rho), law, coefficients, asked,
                             table ? TableRadii{radii} : TableRadii{});
    if (!result) {
        static constexpr std::string_view NAMES_OF_ARGUMENTS[] = {"t[", "t0 ", "u0,", "tE,", "rho,", "law ",
                                                                  "the '", "coefficients", "radii", "rtol"};
        bool named = false;
        for (std::string_view name : NAMES_OF_ARGUMENTS) named = named || result.message().rfind(name, 0) == 0;
        require(named, call, "rejects an argument without naming it: " + result.message());
        return;
    }
    const LightCurveJacobian& j = result.value();
    require(j.a.size() == t.size() && j.jacobian.size() == t.size() * (4 + coefficients.size()), call,
            "the result's shape differs from t's");
    for (const double d : j.jacobian) require(!std::isnan(d), call, "a derivative is NaN");
    for (std::size_t i = 0; i < t.size(); ++i) {
        const double tau = (t[i] - t0) / tE;
        const double l = std::sqrt(u0 * u0 + tau * tau) / rho;
        if (!std::isfinite(l)) continue;
        const Checked<Array> value = table ? tabulated_limb_darkened_magnification({l}, 1.0, rho, radii, coefficients, asked)
                                           : limb_darkened_magnification({l}, 1.0, rho, law, coefficients, asked);
        require(value && same(value.value()[0], j.a[i]), call, "differs from the magnification at u/rho");
    }
}

using Fuzzer = void (*)(Input&);
constexpr std::array<Fuzzer, 17> ROUTINES{
    fuzz_elliprf,
    fuzz_elliprc,
    fuzz_elliprd,
    fuzz_elliprj,
    fuzz_ellipk,
    fuzz_ellipe,
    fuzz_ellippi,
    fuzz_witt_mao,
    fuzz_heyrovsky,
    fuzz_integrated_heyrovsky,
    fuzz_integrated_flux_map_witt_mao,
    fuzz_integrated_flux_map_heyrovsky,
    fuzz_discrete_flux_map_heyrovsky,
    fuzz_uniform_disc,
    fuzz_limb_darkened,
    fuzz_tabulated_limb_darkened,
    fuzz_light_curve,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    Input in(data, size);
    ROUTINES[in.byte() % ROUTINES.size()](in);
    return 0;
}
