// Near-field quadrature of the limb-darkened magnification.
//
// Integration by parts turns the flux-weighted mean of the ring
// magnification into one over uniform discs:
//
//   F·A(l) = I(0)·A_disc(u, ρ) + ∫₀¹ D(r(μ)) I_μ(μ) dμ,   D(r) = r²·A_disc(u, ρr),
//
// u = lρ, r² = 1 − μ², I_μ = dI/dμ, F the flux; A_disc(u, s) is the
// uniform disc of radius s (uniform_disc.hpp). For a table, I_μ dμ is
// −I′(r) dr with I′ constant on each row. The integrand is smooth but for:
// - the contact r = l, where the disc's edge passes the lens: a
//   (r − l) ln|r − l| kink;
// - the limb μ → 0, where I_μ behaves like μ^(−½) (square-root, Claret),
//   ln μ (logarithmic) or μ^(α−1) (power-2);
// - singular points off the interval that come close to it: on the outer
//   side of the contact the continuation of D is singular at r = 0, a
//   distance l away; the contact's complex images lie within |x| ~ √(l − 1)
//   of the limb when the lens is just outside; and D varies on the Einstein
//   scale |δ| ~ 2, a distance 2/ρ from the contact in r.
//
// The integral runs in the limb variable x (LimbVariable: μ and r rational
// in t = x^k, k = 2, or 1/α for power-2), in which the limb's powers are
// smooth. It is split at the contact (or starts at the limb when l ≥ 1, at
// the centre when l = 0) into two sides; each side is cut into pieces that
// grow geometrically, by at most a factor of 3, from the focus out to the
// far end, the first reaching half-way to the nearest of those other
// singular points. The first piece is graded towards the focus and the one
// at the limb towards the limb (graded_gauss_nodes.hpp); table rows cut the
// pieces further. So every piece sees its nearest singularity at least
// about its own length away, and fixed Gauss-Legendre rules converge fast.
// How many points each rule takes, and how fast the pieces grow, is set by
// the accuracy asked (the tiers below): at the default, against 24-point
// rules with pieces growing by 1.5, the worst relative error over the laws,
// ρ from 1e-4 to 1e3 and l from 0 to 2.5 is 1.5e-11, and against the 30-digit
// references 8e-12. The rule depends on l and ρ only through the number of
// pieces, which changes in steps far smaller than that error: the result is
// smooth in both.
//
// Every node's distance to the contact, l − r, is formed from its offset in
// x, never as a difference of nearly equal numbers: the disc kernel needs
// δ = ρ(l − r) to full relative accuracy near the edge.
#include "models/limb_darkening/quadrature.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "models/constants.hpp"
#include "models/limb_darkening/far_field.hpp"
#include "models/limb_darkening/uniform_disc.hpp"
#include "numeric/graded_gauss_nodes.hpp"

namespace lumevaro::limb_darkening {

namespace {

using graded_gauss::Node;

// The methods, one for each accuracy a caller may ask for. Each tier's rules
// are among the ones that needed the fewest discs (per value, linear law,
// ρ = 0.1) of focus rules of 4 to 24 points, plain rules of 2 to 24, ratios
// 1.5 to 6 and first pieces 1 to 2 times the default's reach, with a worst
// relative error at most about a third of the tier's against 24-point rules
// at ratio 1.5, over the laws and each law's terms alone (power-2's α from 0
// to 3), ρ from 1e-4 to 1e3 and l from 0 to 4 with 1 ± 1e-15 … 1e-1
// (tools/tune_accuracy_tiers.cpp). The far-field series takes over where its
// 24 terms still reach well within the tier, and stops at terms below rtol.
// Measured worst errors, all separations and the series' alone, and discs per
// value over l in [0, 2.5):
//
//   rtol    focus plain limb ratio reach  series from  worst    series   discs
//   1e-2      6     4     6    2    1.5   l = 1.2      5.5e-4   5.5e-4   11.6
//   1e-3      6     4     6    2    1.5   l = 1.2      3.3e-4   2.9e-5   11.6
//   1e-4     10     6    10    3    1.5   l = 1.2      2.6e-5   2.6e-6   16.2
//   1e-6     16    12    16    6    1.5   l = 1.3      7.3e-8   7.3e-8   27.1
//   1e-8     16     8    12    2    1.5   l = 1.5      3.8e-9   6.7e-11  30.9
//   1e-10    20    12    20    3    1     l = 1.7      4.7e-11  4.1e-13  44.2
//   1e-11    24    12    16    1.5  1     l = 2        1.2e-12  1.5e-14  79.6
//
// Against the 30-digit references (tests/data) the worst errors are 1.3e-3,
// 1.3e-4, 1.3e-5, 3.3e-9, 2.3e-9, 7.8e-12 and 1.8e-12: the last is rounding
// (the lens on the limb of a source of ρ = 1e3, 2.7e-12 at some tiers), which
// is why no tier promises more than 1e-11. A table's profile is smooth at the limb: its tiers take
// the same orders with plain rules there and fewer nodes on short pieces;
// at 1e-3 the lens on the limb of a table bright there (a row rising a
// thousandfold to the limb) needed 10 points at the focus, not 6 (5.1e-3).
// tools/measure_accuracy_dial.py checks every tier, tables of several shapes
// and ρ up to 1e12 included.
//
// The laws were measured with terms of weight up to the linear law's at u = 1
// (conditioning κ = 3, quadrature.hpp) and power-2 up to α = 3. Beyond, the
// error grows: a log term alone at f = −2.7 (κ = 9) missed its tier by 1.2×
// at the default and 2× at 1e-3, power-2 at α = 10 by up to 70× at 1e-6 (its
// core, 1/√α wide, is a feature the pieces do not see). So a worse
// conditioned profile asks for rtol·3/κ, and α > 3 takes the rules of a tier
// a thousand times tighter (`core`); both then stay within rtol.
namespace gg = graded_gauss;
// ln x for the rules' ratios, at compile time: 2 atanh((x − 1)/(x + 1)) by
// its series, to the last bit for x from 1 to 10.
constexpr double natural_log(double x) {
    const long double z = (static_cast<long double>(x) - 1.0L) / (static_cast<long double>(x) + 1.0L);
    long double term = z, sum = 0.0L;
    for (int k = 0; k < 200; ++k) {
        sum += term / (2 * k + 1);
        term *= z * z;
    }
    return static_cast<double>(2.0L * sum);
}
constexpr Rules law_rules(std::span<const Node> focus, std::span<const Node> focus_limb, std::span<const Node> plain,
                          std::span<const Node> to_limb, std::span<const Node> short_piece, double ratio,
                          double reach = 1.0) {
    return Rules{focus, focus_limb, plain, to_limb, focus, short_piece, ratio, reach, natural_log(ratio)};
}
constexpr Rules table_rules(std::span<const Node> focus, std::span<const Node> plain, std::span<const Node> from_limb,
                            std::span<const Node> short_piece, double ratio) {
    return Rules{focus, focus, plain, plain, from_limb, short_piece, ratio, 1.0, natural_log(ratio)};
}

struct Tier {
    double rtol;
    Method method;
};
// Each tier's law rules; a tier's `core` rules are those of a tier at least
// a thousand times tighter (the default keeps its own: within 6e-12 at α = 10).
constexpr Rules LAW_11 = law_rules(gg::kink_24, gg::kink_limb_24, gg::plain_12, gg::to_limb_16, gg::plain_12, 1.5);
constexpr Rules LAW_10 = law_rules(gg::kink_20, gg::kink_limb_20, gg::plain_12, gg::to_limb_20, gg::plain_12, 3.0);
constexpr Rules LAW_8 = law_rules(gg::kink_16, gg::kink_limb_16, gg::plain_8, gg::to_limb_12, gg::plain_8, 2.0, 1.5);
constexpr Rules LAW_6 = law_rules(gg::kink_16, gg::kink_limb_16, gg::plain_12, gg::to_limb_16, gg::plain_12, 6.0, 1.5);
constexpr Rules LAW_4 = law_rules(gg::kink_10, gg::kink_limb_10, gg::plain_6, gg::to_limb_10, gg::plain_6, 3.0, 1.5);
constexpr Rules LAW_3 = law_rules(gg::kink_6, gg::kink_limb_6, gg::plain_4, gg::to_limb_6, gg::plain_4, 2.0, 1.5);

// The discs stop their Landen loops at an agreement ε of the means, which
// leaves them an error of about ε²/16 (uniform_disc.hpp; measured over ρ
// from 1e-4 to 1e3: 6e-8 at ε = 1e-3, 6e-6 at 1e-2): a thousandth of the
// tier's or less, from the tightest tier's full accuracy to ε = 1e-2 at
// rtol 1e-2. Near the lens a disc takes five or six steps at full accuracy,
// about four at the loosest. (Three times looser still gained nothing
// measurable.)
constexpr Tier TIERS[] = {
    {1e-11, Method{LAW_11, table_rules(gg::kink_24, gg::plain_20, gg::kink_24, gg::plain_12, 1.5), LAW_11, 2.0, 1e-14,
                   FULL_AGREEMENT}},
    {1e-10, Method{LAW_10, table_rules(gg::kink_16, gg::plain_12, gg::kink_20, gg::plain_6, 3.0), LAW_10, 1.7, 1e-10,
                   1e-6}},
    {1e-8, Method{LAW_8, table_rules(gg::kink_16, gg::plain_8, gg::kink_16, gg::plain_6, 2.0), LAW_11, 1.5, 1e-8,
                  1e-5}},
    {1e-6, Method{LAW_6, table_rules(gg::kink_12, gg::plain_8, gg::kink_12, gg::plain_4, 6.0), LAW_10, 1.3, 1e-6,
                  1e-4}},
    {1e-4, Method{LAW_4, table_rules(gg::kink_10, gg::plain_6, gg::kink_10, gg::plain_4, 6.0), LAW_8, 1.2, 1e-4,
                  1e-3}},
    {1e-3, Method{LAW_3, table_rules(gg::kink_6, gg::plain_4, gg::kink_10, gg::plain_3, 2.0), LAW_6, 1.2, 1e-3,
                  3e-3}},
    {1e-2, Method{LAW_3, table_rules(gg::kink_6, gg::plain_4, gg::kink_6, gg::plain_3, 6.0), LAW_6, 1.2, 1e-2,
                  1e-2}},
};

// Slack on `ratio` for the ends of uncut pieces, which reach it up to rounding.
constexpr double SPLIT_MARGIN = 1.0 + 1e-9;
// A piece is short when it is shorter than this fraction of its distance
// from the focus.
constexpr double SHORT_PIECE = 0.125;

// How far from the focus, relative to the distance of the nearest other
// singular point, the first piece reaches.
constexpr double IMAGE_REACH = 0.5;
constexpr double CENTRE_REACH = 0.5;
constexpr double EINSTEIN_REACH = 0.5;

// The limb variable x ∈ [0, 1] and the point of the disc it stands for,
// through the half-angle t = tan(φ/2) = x^k of μ = sin φ, r = cos φ:
//
//   μ = 2t/(1 + t²),   r = (1 − t²)/(1 + t²).
//
// Near the limb μ ≈ 2x^k, which makes I_μ dμ smooth in x for k = 2 (μ^(−½),
// μ ln μ) and k = 1/α (power-2's μ^(α−1)); near the centre r ≈ k(1 − x) is
// linear, so that the lens's own singular point r = 0 stays a distance of
// order l from the contact. Everything is rational in t: no trigonometry.
struct LimbVariable {
    static constexpr double QUARTER_PI = 0.7853981633974483;
    static constexpr double HALF_ROOT_2 = 0.7071067811865476;  // sin(π/4)
    double k;

    // t, 1 − t and dt/dx at x (1 − x given), without cancellation.
    struct Node {
        double t;
        double one_minus_t;
        double rate;
    };
    Node node(double x, double one_minus_x) const {
        if (k == 2.0) return Node{x * x, one_minus_x * (1.0 + x), 2.0 * x};
        if (k == 1.0) return Node{x, one_minus_x, 1.0};
        const double log_x = std::log1p(-one_minus_x);
        const double t = std::exp(k * log_x);
        const double one_minus_t = t < 0.5 ? 1.0 - t : -std::expm1(k * log_x);
        return Node{t, one_minus_t, (k * t) / x};
    }
    // t − t_c from x − x_c (t the node's), without cancellation.
    double t_from_contact(double x, double t, double x_contact, double t_contact, double offset) const {
        if (k == 2.0) return offset * (x + x_contact);
        if (k == 1.0) return offset;
        if (std::fabs(offset) > 0.5 * x_contact) return t - t_contact;
        return t_contact * std::expm1(k * std::log1p(offset / x_contact));
    }
    // x at half-angle t ∈ [0, 1], and its complement from 1 − t.
    double at(double t_value) const { return k == 2.0 ? std::sqrt(t_value) : std::pow(t_value, 1.0 / k); }
    double complement_at(double t_value, double one_minus_t) const {
        return k == 2.0 ? one_minus_t / (1.0 + std::sqrt(t_value))
                        : -std::expm1(std::log1p(-one_minus_t) / k);
    }
    // The half-angle map's poles t = ±i lie at x = e^(±iπ/(2k)), a distance
    // sin(π/(2k)) from the real axis; no piece is longer than that.
    double longest_piece() const { return k == 2.0 ? HALF_ROOT_2 : std::sin(QUARTER_PI * (2.0 / k)); }
    // 1 − x at radius r ∈ [0, 1], without cancellation: 1 − t = (r + r²/(1 + μ))/(1 + r).
    double complement_at_radius(double r) const {
        const double clamped = std::fmin(std::fmax(r, 0.0), 1.0);
        const double mu = std::sqrt((1.0 - clamped) * (1.0 + clamped));
        const double one_minus_t = (clamped + (clamped * clamped) / (1.0 + mu)) / (1.0 + clamped);
        return complement_at(mu / (1.0 + clamped), one_minus_t);
    }
    // x at radius r, clamped to [0, 1].
    double at_radius(double r) const {
        const double clamped = std::fmin(std::fmax(r, 0.0), 1.0);
        return at(std::sqrt((1.0 - clamped) * (1.0 + clamped)) / (1.0 + clamped));
    }
};

// A node's point of the disc: μ, r and dμ/dt, from t and 1 − t; and
// 1/(1 + t²), which the distance to the contact needs too.
struct Point {
    double mu;
    double r;
    double dmu_dt;
    double inverse;
};

// The nodes of a separation wait in batches before their points of the disc
// are formed. Over arrays, each step of that arithmetic is one loop of the
// same operations node after node, which the compiler runs on SIMD lanes:
// each lane does one node's operations, so the bits are those of the nodes
// taken one at a time.
constexpr std::size_t NODE_BATCH = 32;

struct NodeBatch {
    std::size_t count = 0;
    // As the sides give them: x, 1 − x, the offset x − x_c from the contact
    // (lens inside the disc), the dx-weight and the table row.
    std::array<double, NODE_BATCH> x, one_minus_x, offset, w;
    std::array<int, NODE_BATCH> row;
    // Formed from those: the half-angle t, dt/dx, the point of the disc, the
    // distance l − r to the contact, and dμ/dx = (dt/dx)(dμ/dt), which turns
    // a slope dI/dμ into a weight of dx.
    std::array<double, NODE_BATCH> t, rate, mu, r, dmu_dt, inverse, l_minus_r, dmu_dx;

    Point point(std::size_t i) const { return Point{mu[i], r[i], dmu_dt[i], inverse[i]}; }
};


}  // namespace

#ifdef LUMEVARO_COUNT_EVALUATIONS
long disc_evaluations = 0;
#endif

namespace {

// A table row's radius on a side: its distance from the focus, and the row
// a node lies in once past it.
struct Cut {
    double d;
    double rem;  // the side's length less d, formed without cancellation
    int row;
};

// Where a node lies on a side: its distance d from the focus and rem = L − d
// to the side's far end, both exact to rounding; and the piece it is on.
struct Place {
    double d;
    double rem;
    int row;  // index of the table row the piece lies in (0 for a law)
};

// One side, [0, L] in distance from the focus: a first piece of length
// about `scale`, then pieces growing geometrically by at most rules.ratio
// and no longer than `longest`, further cut at `cuts` (distances from the
// focus, ascending; table rows). `node(place, weight)` receives every node
// with its dx-weight.
template <class NodeFunction>
void side(double length, double scale, double longest, std::span<const Node> first,
          std::span<const Node> single, std::span<const Node> last, const Rules& rules,
          std::span<const Cut> cuts, int first_row, NodeFunction&& node) {
    if (!(length > 0.0)) return;
    // A scale of 0 means no singular point near the focus but the focus
    // itself (the lens on the limb): the first piece takes a third of the side,
    // whatever the growth of the others.
    if (!(scale > 0.0)) scale = length / 3.0;
    int pieces = 1;
    double span = 0.0;  // ln(L/scale)
    if (scale < length) {
        span = std::log(length / scale);
        pieces = 1 + static_cast<int>(std::ceil(span / rules.log_ratio));
    }

    std::size_t cut = 0;
    int row = first_row;
    double start = 0.0;
    double start_rem = length;
    // The ends of the pieces: scale·q^i, q = (L/scale)^(1/(pieces − 1)), the
    // last at L; a piece longer than `longest` split evenly.
    const double growth = pieces > 1 ? std::exp(span / (pieces - 1)) : 1.0;
    double previous = 0.0;
    double geometric = scale;
    for (int i = 0; i < pieces; ++i) {
        const double last_end = i + 1 == pieces ? length : geometric;
        geometric *= growth;
        const int parts = static_cast<int>(std::ceil((last_end - previous) / longest));
        for (int j = 1; j <= parts; ++j) {
            const double end = j == parts ? last_end : previous + (last_end - previous) * j / parts;
            while (start < end) {
                bool cut_here = cut < cuts.size() && cuts[cut].d < end;
                double stop = cut_here ? cuts[cut].d : end;
                // Distances to the far end come exact with the cuts (a table row
                // next to the far end keeps its width).
                double after = cut_here ? cuts[cut].rem : length - end;
                // A table row that cuts the first piece far closer to the focus
                // than the piece's end leaves the rest of it with the focus's
                // singularity just off its start: it is cut again, geometrically
                // from the row, so that no piece reaches farther than `ratio`
                // times its distance from the focus. (Uncut pieces never do.)
                if (start > 0.0 && stop > SPLIT_MARGIN * rules.ratio * start) {
                    stop = rules.ratio * start;
                    after = length - stop;
                    cut_here = false;
                }
                const double piece = start_rem < start ? start_rem - after : stop - start;
                const bool at_focus = start == 0.0;
                const bool at_far_end = stop == length;
                std::span<const Node> rule = rules.plain;
                if (at_focus && at_far_end) {
                    rule = single;
                } else if (at_focus) {
                    rule = first;
                } else if (at_far_end) {
                    rule = last;
                } else if (piece < SHORT_PIECE * start) {
                    rule = rules.short_piece;
                }
                for (const Node& n : rule) {
                    node(Place{start + piece * n.abscissa, after + piece * n.complement, row}, piece * n.weight);
                }
                start = stop;
                start_rem = after;
                if (cut_here) row = cuts[cut++].row;
            }
        }
        previous = last_end;
    }
}

// What the slopes of a batch's nodes share: √μ and ln μ at every node,
// formed once for the profile and all its coefficient derivatives where any
// of them takes it.
struct Shared {
    const double* root;
    const double* log;
    const double* mu_over_r;  // μ/r, for a table's −I′(r) dr = −I′ (μ/r) dμ
};

// dI/dμ of a profile with RadialProfile::slope's bits, from μ, √μ and ln μ,
// its terms sorted out once: each term's factor is formed as slope forms it,
// and the terms are summed in slope's order.
class Slope {
public:
    Slope() = default;
    explicit Slope(const RadialProfile& profile) {
        for (int i = 1; i < profile.term_count(); ++i) {
            const double c = profile.term_coefficient(i);
            const double exponent = profile.term_exponent(i);
            if (exponent == 1.0) {
                terms_[count_++] = Term{Kind::one, c, 0.0};
            } else if (exponent == 2.0) {
                terms_[count_++] = Term{Kind::two, 2.0 * c, 0.0};
            } else if (exponent == 0.5) {
                terms_[count_++] = Term{Kind::half, 0.5 * c, 0.0};
                root_ = true;
            } else if (exponent == 1.5) {
                terms_[count_++] = Term{Kind::three_halves, 1.5 * c, 0.0};
                root_ = true;
            } else {
                terms_[count_++] = Term{Kind::other, c * exponent, exponent - 1.0};
                other_ = true;
            }
        }
        log_coefficient_ = profile.log_coefficient();
        log_exponent_ = profile.log_exponent();
    }
    // Whether the slope takes √μ, ln μ.
    bool root() const { return root_; }
    bool log() const { return log_coefficient_ != 0.0 || (from_log_ && other_); }
    // Powers μ^a other than the half-integers formed as exp(a ln μ) from the
    // shared ln μ, not by pow: a derivative's weight, which need not match
    // any other path's bits (a few ulp of |a ln μ|).
    void powers_from_log() { from_log_ = true; }
    // The slope at every node of a batch, term after term over the nodes
    // (each node's sum in slope's order, so the same bits).
    // The slope times scale[i] at every node: a profile of one term (most
    // coefficient derivatives) in one pass.
    void scaled(const NodeBatch& b, const Shared& shared, const double* scale, double* __restrict out) const {
        const std::size_t n = b.count;
        if (count_ == 1 && log_coefficient_ == 0.0 && terms_[0].kind != Kind::other) {
            const double factor = terms_[0].factor;
            const double* root = shared.root;
            switch (terms_[0].kind) {
                case Kind::one:
                    for (std::size_t i = 0; i < n; ++i) out[i] = (0.0 + factor) * scale[i];
                    break;
                case Kind::two:
                    for (std::size_t i = 0; i < n; ++i) out[i] = (0.0 + factor * b.mu[i]) * scale[i];
                    break;
                case Kind::half:
                    for (std::size_t i = 0; i < n; ++i) out[i] = (0.0 + factor / root[i]) * scale[i];
                    break;
                case Kind::three_halves:
                    for (std::size_t i = 0; i < n; ++i) out[i] = (0.0 + factor * root[i]) * scale[i];
                    break;
                case Kind::other: break;
            }
            return;
        }
        at(b, shared, out);
        for (std::size_t i = 0; i < n; ++i) out[i] = out[i] * scale[i];
    }

    void at(const NodeBatch& b, const Shared& shared, double* __restrict out) const {
        const double* root = shared.root;
        const std::size_t n = b.count;
        // The first term adds to a sum of 0 (0 + x, as slope has it).
        if (count_ == 0) {
            for (std::size_t i = 0; i < n; ++i) out[i] = 0.0;
        }
        for (std::size_t k = 0; k < count_; ++k) {
            const Term& term = terms_[k];
            const double factor = term.factor;
            if (k == 0) {
                switch (term.kind) {
                    case Kind::one:
                        for (std::size_t i = 0; i < n; ++i) out[i] = 0.0 + factor;
                        break;
                    case Kind::two:
                        for (std::size_t i = 0; i < n; ++i) out[i] = 0.0 + factor * b.mu[i];
                        break;
                    case Kind::half:
                        for (std::size_t i = 0; i < n; ++i) out[i] = 0.0 + factor / root[i];
                        break;
                    case Kind::three_halves:
                        for (std::size_t i = 0; i < n; ++i) out[i] = 0.0 + factor * root[i];
                        break;
                    case Kind::other:
                        for (std::size_t i = 0; i < n; ++i) out[i] = 0.0;
                        break;
                }
                if (term.kind != Kind::other) continue;
            }
            switch (term.kind) {
                case Kind::one:
                    for (std::size_t i = 0; i < n; ++i) out[i] += factor;
                    break;
                case Kind::two:
                    for (std::size_t i = 0; i < n; ++i) out[i] += factor * b.mu[i];
                    break;
                case Kind::half:
                    for (std::size_t i = 0; i < n; ++i) out[i] += factor / root[i];
                    break;
                case Kind::three_halves:
                    for (std::size_t i = 0; i < n; ++i) out[i] += factor * root[i];
                    break;
                case Kind::other:
                    if (from_log_) {
                        for (std::size_t i = 0; i < n; ++i) out[i] += factor * std::exp(term.power * shared.log[i]);
                    } else {
                        for (std::size_t i = 0; i < n; ++i) out[i] += factor * std::pow(b.mu[i], term.power);
                    }
                    break;
            }
        }
        if (log_coefficient_ != 0.0) {
            for (std::size_t i = 0; i < n; ++i) {
                const double log = shared.log[i];
                out[i] += log_exponent_ == 1.0 ? log_coefficient_ * (log + 1.0)
                                               : log_coefficient_ * std::pow(b.mu[i], log_exponent_ - 1.0) *
                                                     (log_exponent_ * log + 1.0);
            }
        }
    }
private:
    enum class Kind { one, two, half, three_halves, other };
    struct Term {
        Kind kind;
        double factor;
        double power;  // for `other`: the exponent less one
    };
    std::array<Term, 5> terms_;  // the first count_ of them
    std::size_t count_ = 0;
    bool root_ = false;
    bool other_ = false;
    bool from_log_ = false;
    double log_coefficient_ = 0.0;
    double log_exponent_ = 1.0;
};

// √μ, ln μ and μ/r at every node of a batch, as asked.
struct SharedArrays {
    std::array<double, NODE_BATCH> root, log, mu_over_r;
    Shared form(const NodeBatch& b, bool roots, bool logs, bool ratios = false) {
        if (roots) {
            for (std::size_t i = 0; i < b.count; ++i) root[i] = std::sqrt(b.mu[i]);
        }
        if (logs) {
            for (std::size_t i = 0; i < b.count; ++i) log[i] = std::log(b.mu[i]);
        }
        if (ratios) {
            for (std::size_t i = 0; i < b.count; ++i) mu_over_r[i] = b.mu[i] / b.r[i];
        }
        return Shared{root.data(), log.data(), mu_over_r.data()};
    }
};

// A radial density: the weight w(x) with −I′(r) dr = w dx at a node, from
// its point of the disc q, its half-angle n and its table row.
struct LawDensity {
    const RadialProfile& profile;
    // For power-2 in its own variable (t = x^(1/α)), I_μ dμ = c d(μ^α) with
    // μ^α = 2^α x (1 + t²)^(−α): w = c 2^α (1 − t²)(1 + t²)^(−α−1), one
    // power instead of two.
    bool power_2 = false;
    double c = 0.0;
    double alpha = 0.0;
    double scale = 0.0;  // c 2^α
    // A profile linear in μ has the same slope everywhere: its value.
    bool constant = false;
    double slope = 0.0;
    Slope slopes;

    explicit LawDensity(const RadialProfile& p) : profile(p), slopes(p) {
        if (p.power_variable()) {
            power_2 = true;
            c = p.power_coefficient();
            alpha = p.power_exponent();
            scale = c * std::exp2(alpha);
        } else if (p.constant_slope()) {
            constant = true;
            slope = p.slope(1.0);
        }
    }
    double operator()(const Point& q, double t, double rate, int) const {
        if (power_2) {
            const double t2 = t * t;
            return scale * ((1.0 - t) * (1.0 + t)) * std::pow(1.0 + t2, -alpha - 1.0);
        }
        return (constant ? slope : profile.slope(q.mu)) * (rate * q.dmu_dt);
    }
    // w·density at every node of a batch (√μ in `root` where the slope
    // takes it).
    void weights(const NodeBatch& b, const Shared& shared, double* __restrict out) const {
        if (constant) {
            for (std::size_t i = 0; i < b.count; ++i) out[i] = b.w[i] * (slope * b.dmu_dx[i]);
        } else if (power_2) {
            for (std::size_t i = 0; i < b.count; ++i) out[i] = b.w[i] * (*this)(b.point(i), b.t[i], b.rate[i], 0);
        } else {
            slopes.at(b, shared, out);
            for (std::size_t i = 0; i < b.count; ++i) out[i] = b.w[i] * (out[i] * b.dmu_dx[i]);
        }
    }
    bool needs_root() const { return !constant && !power_2 && slopes.root(); }
    bool needs_ratio() const { return false; }
    bool needs_log() const { return !constant && !power_2 && slopes.log(); }
};

struct TableDensity {
    std::span<const double> slopes;  // dI/dr on each row
    // −I′(r) dr = −I′ (μ/r) dμ
    double operator()(const Point& q, double, double rate, int row) const {
        return -slopes[row] * (q.mu / q.r) * (rate * q.dmu_dt);
    }
    void weights(const NodeBatch& b, const Shared& shared, double* __restrict out) const {
        for (std::size_t i = 0; i < b.count; ++i) out[i] = b.w[i] * (-slopes[b.row[i]] * shared.mu_over_r[i] * b.dmu_dx[i]);
    }
    bool needs_root() const { return false; }
    bool needs_log() const { return false; }
    bool needs_ratio() const { return true; }
};

// The table rows' radii on one side, by distance from the focus, ascending,
// with their distance to the far end: `radii` ascending in r; toward_centre:
// the side runs from x_f to x = 1 (decreasing r), so that past r_j a node is
// in row j − 1, else from x_f to x = 0 and in row j.
std::vector<Cut> row_cuts(const LimbVariable& v, std::span<const double> radii, double x_focus,
                          bool toward_centre) {
    std::vector<Cut> cuts;
    if (radii.empty()) return cuts;
    const int rows = static_cast<int>(radii.size()) - 1;
    cuts.reserve(radii.size());
    for (std::size_t j = 0; j < radii.size(); ++j) {
        const double x = v.at_radius(radii[j]);
        const double one_minus_x = v.complement_at_radius(radii[j]);
        // The far end is x = 1 towards the centre, x = 0 towards the limb;
        // from the centre (x_f = 1) the distance is 1 − x itself.
        const double d = toward_centre ? x - x_focus : (x_focus == 1.0 ? one_minus_x : x_focus - x);
        const double rem = toward_centre ? one_minus_x : x;
        const int row = static_cast<int>(j) - (toward_centre ? 1 : 0);
        if (d > 0.0 && row >= 0 && row < rows) cuts.push_back(Cut{d, rem, row});
    }
    std::stable_sort(cuts.begin(), cuts.end(), [](const Cut& a, const Cut& b) { return a.d < b.d; });
    return cuts;
}

// The row of radius r in an ascending table (the last row ending at 1).
int row_of(std::span<const double> radii, double r) {
    const auto above = std::upper_bound(radii.begin(), radii.end(), r);
    const auto index = static_cast<int>(above - radii.begin()) - 1;
    return std::clamp(index, 0, static_cast<int>(radii.size()) - 2);
}

// Where the lens is: at the centre of the disc, inside it, or on or outside its limb.
enum class Contact { centre, inside, outside };

// Gathers the nodes of one separation and hands them to the sink a batch at
// a time, formed: sink.take(batch) where the sink has it, else
// sink.add(q, t, rate, row, l − r, w) node by node.
template <class Sink>
class Nodes {
public:
    Nodes(const LimbVariable& v, Contact contact, double l, double x_c, double t_c, Sink& sink)
        : v_(v), contact_(contact), l_(l), x_c_(x_c), t_c_(t_c), sink_(sink) {}

    void add(double x, double one_minus_x, double offset, double w, int row) {
        const std::size_t i = b_.count;
        b_.x[i] = x;
        b_.one_minus_x[i] = one_minus_x;
        b_.offset[i] = offset;
        b_.w[i] = w;
        b_.row[i] = row;
        if (++b_.count == NODE_BATCH) flush();
    }

    void flush() {
        if (b_.count == 0) return;
        form();
        if constexpr (requires { sink_.take(b_); }) {
            sink_.take(b_);
        } else {
            for (std::size_t i = 0; i < b_.count; ++i) {
                sink_.add(b_.point(i), b_.t[i], b_.rate[i], b_.row[i], b_.l_minus_r[i], b_.w[i]);
            }
        }
        b_.count = 0;
    }

private:
    // LimbVariable::node, point and the distance to the contact, step by step.
    void form() {
        const std::size_t n = b_.count;
        std::array<double, NODE_BATCH> one_minus_t;
        if (v_.k == 2.0) {
            for (std::size_t i = 0; i < n; ++i) {
                const double x = b_.x[i];
                b_.t[i] = x * x;
                one_minus_t[i] = b_.one_minus_x[i] * (1.0 + x);
                b_.rate[i] = 2.0 * x;
            }
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                const LimbVariable::Node node = v_.node(b_.x[i], b_.one_minus_x[i]);
                b_.t[i] = node.t;
                one_minus_t[i] = node.one_minus_t;
                b_.rate[i] = node.rate;
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            const double t = b_.t[i];
            const double inverse = 1.0 / (1.0 + t * t);
            const double r = (one_minus_t[i] * (1.0 + t)) * inverse;
            b_.mu[i] = (2.0 * t) * inverse;
            b_.r[i] = r;
            b_.dmu_dt[i] = (2.0 * r) * inverse;
            b_.inverse[i] = inverse;
        }
        for (std::size_t i = 0; i < n; ++i) b_.dmu_dx[i] = b_.rate[i] * b_.dmu_dt[i];
        switch (contact_) {
            case Contact::centre:
                for (std::size_t i = 0; i < n; ++i) b_.l_minus_r[i] = -b_.r[i];
                break;
            case Contact::inside: {
                // With r = (1 − t²)/(1 + t²) and t_c² = (1 − l)/(1 + l),
                // l − r = (1 + l)(t − t_c)(t + t_c)/(1 + t²): a product, t − t_c
                // from the node's offset.
                const double l = l_, x_c = x_c_, t_c = t_c_;
                if (v_.k == 2.0) {
                    for (std::size_t i = 0; i < n; ++i) {
                        const double dt = b_.offset[i] * (b_.x[i] + x_c);
                        b_.l_minus_r[i] = ((1.0 + l) * dt * (b_.t[i] + t_c)) * b_.inverse[i];
                    }
                } else {
                    for (std::size_t i = 0; i < n; ++i) {
                        const double dt = v_.t_from_contact(b_.x[i], b_.t[i], x_c, t_c, b_.offset[i]);
                        b_.l_minus_r[i] = ((1.0 + l) * dt * (b_.t[i] + t_c)) * b_.inverse[i];
                    }
                }
                break;
            }
            case Contact::outside: {
                // l − r = (l − 1) + (1 − r), 1 − r = 2t²/(1 + t²).
                const double l = l_;
                for (std::size_t i = 0; i < n; ++i) {
                    const double t = b_.t[i];
                    b_.l_minus_r[i] = (l - 1.0) + (2.0 * (t * t)) * b_.inverse[i];
                }
                break;
            }
        }
    }

    const LimbVariable& v_;
    Contact contact_;
    double l_, x_c_, t_c_;
    Sink& sink_;
    NodeBatch b_;
};

// Visits every node of the integral at separation l, in order, through
// Nodes: the sink receives each with its point of the disc, its half-angle,
// dt/dx, its table row, its distance to the contact and its dx-weight.
template <class Sink>
void near_field(double l, double rho, const LimbVariable& v, const Rules& rules, std::span<const double> radii,
                Sink& sum) {
    const double einstein = 2.0 / rho;

    if (l == 0.0) {
        // The lens at the centre: from the centre (x = 1) to the limb.
        const double scale = rules.reach * EINSTEIN_REACH * (1.0 - v.at_radius(einstein));
        const auto cuts = row_cuts(v, radii, 1.0, false);
        Nodes<Sink> nodes(v, Contact::centre, l, 1.0, 0.0, sum);
        side(1.0, scale, v.longest_piece(), rules.plain, rules.to_limb, rules.to_limb, rules, cuts, 0,
             [&](Place p, double w) { nodes.add(p.rem, p.d, 0.0, w, p.row); });
        nodes.flush();
    } else if (l < 1.0) {
        const double mu_c = std::sqrt((1.0 - l) * (1.0 + l));
        // t_c = μ_c/(1 + l); 1 − t_c = (l + l²/(1 + μ_c))/(1 + l), without cancellation.
        const double t_c = mu_c / (1.0 + l);
        const double one_minus_t_c = (l + (l * l) / (1.0 + mu_c)) / (1.0 + l);
        const double x_c = v.at(t_c);
        const double one_minus_x_c = v.complement_at(t_c, one_minus_t_c);
        Nodes<Sink> nodes(v, Contact::inside, l, x_c, t_c, sum);
        // The rows on either side of the contact (a row may start at l itself).
        const int contact_row = radii.empty() ? 0 : row_of(radii, l);
        const int inner_row = !radii.empty() && radii[contact_row] == l && contact_row > 0
                                  ? contact_row - 1
                                  : contact_row;

        // Inside the contact: x from x_c to the centre, r from l down to 0.
        const double inner_scale = rules.reach * std::fmin(IMAGE_REACH * x_c,
                                                           EINSTEIN_REACH * (v.at_radius(l - einstein) - x_c));
        const auto inner_cuts = row_cuts(v, radii, x_c, true);
        side(one_minus_x_c, inner_scale, v.longest_piece(), rules.kink, rules.kink, rules.plain, rules, inner_cuts,
             inner_row, [&](Place p, double w) { nodes.add(x_c + p.d, p.rem, p.d, w, p.row); });

        // Outside it: x from x_c to the limb, r from l up to 1.
        const double outer_scale = rules.reach * std::fmin(CENTRE_REACH * one_minus_x_c,
                                                           EINSTEIN_REACH * (x_c - v.at_radius(l + einstein)));
        const auto outer_cuts = row_cuts(v, radii, x_c, false);
        side(x_c, outer_scale, v.longest_piece(), rules.kink, rules.kink_limb, rules.to_limb, rules, outer_cuts,
             contact_row,
             [&](Place p, double w) { nodes.add(p.rem, one_minus_x_c + p.d, -p.d, w, p.row); });
        nodes.flush();
    } else {
        // The lens outside the disc: from the limb (x = 0) to the centre. The
        // contact's images lie where μ² = 1 − l² < 0: |t| = √((l − 1)/(l + 1)).
        const double image = v.at(std::sqrt((l - 1.0) / (l + 1.0)));
        const double scale =
            rules.reach * std::fmin(IMAGE_REACH * image, EINSTEIN_REACH * v.at_radius(1.0 - einstein));
        const auto cuts = row_cuts(v, radii, 0.0, true);
        const int last_row = radii.empty() ? 0 : static_cast<int>(radii.size()) - 2;
        Nodes<Sink> nodes(v, Contact::outside, l, 0.0, 0.0, sum);
        side(1.0, scale, v.longest_piece(), rules.from_limb, rules.from_limb, rules.plain, rules, cuts, last_row,
             [&](Place p, double w) { nodes.add(p.d, p.rem, 0.0, w, p.row); });
        nodes.flush();
    }
}

// The edge disc A_disc(lρ, ρ) of a separation, at the tier's agreement:
// taken once, in the spare lane of the first batch of discs with room for
// it (its u, lρ, is every disc's), or alone if no batch had room. Either
// way it has the one-by-one routine's bits.
template <class Disc>
class EdgeDisc {
public:
    EdgeDisc(double l, double rho) : rho_(rho), delta_(rho * (l - 1.0)) {}

    // Appends the edge disc to a batch of n discs (s and delta) if it is
    // still to take and there is room: the number of discs to take.
    std::size_t append(std::size_t n, double* s, double* delta) {
        if (taken_ || n == NODE_BATCH) return n;
        s[n] = rho_;
        delta[n] = delta_;
        taken_ = true;
        pending_ = n;
        return n + 1;
    }
    // After the batch's discs are taken: the edge disc's, if it rode along.
    void collect(const Disc* discs) {
        if (pending_ != NONE) edge_ = discs[pending_];
        pending_ = NONE;
    }
    // The edge disc; `alone(u, s, delta)` takes it if no batch did.
    template <class Alone>
    Disc value(double u, Alone&& alone) {
        if (!taken_) {
            edge_ = alone(u, rho_, delta_);
            taken_ = true;
        }
        return edge_;
    }

private:
    static constexpr std::size_t NONE = NODE_BATCH + 1;
    double rho_, delta_;
    bool taken_ = false;
    std::size_t pending_ = NONE;
    Disc edge_{};
};

// The integral's value: Σ w·density·D(r), D(r) = r²·A_disc(u, ρr), summed
// in node order; the discs of a batch are taken together (uniform_discs).
template <class Density>
class ValueSink {
public:
    ValueSink(double l, double rho, const Density& density, double agreement)
        : density_(density), rho_(rho), agreement_(agreement), edge_(l, rho) {
        us_.fill(l * rho);
    }

    void take(const NodeBatch& b) {
        const std::size_t n = b.count;
#ifdef LUMEVARO_COUNT_EVALUATIONS
        disc_evaluations += static_cast<long>(n);
#endif
        density_.weights(b, shared_.form(b, density_.needs_root(), density_.needs_log(), density_.needs_ratio()),
                         weights_.data());
        for (std::size_t i = 0; i < n; ++i) {
            ss_[i] = rho_ * b.r[i];
            deltas_[i] = rho_ * b.l_minus_r[i];
        }
        const std::size_t m = edge_.append(n, ss_.data(), deltas_.data());
        uniform_discs(std::span<const double>(us_.data(), m), std::span<const double>(ss_.data(), m),
                      std::span<const double>(deltas_.data(), m), std::span<double>(discs_.data(), m), agreement_);
        edge_.collect(discs_.data());
        for (std::size_t i = 0; i < n; ++i) {
            const double r = b.r[i];
            sum_ += weights_[i] * ((r * r) * discs_[i]);
        }
    }
    double sum() const { return sum_; }
    // The edge disc A_disc(lρ, ρ) at the tier's agreement: uniform_disc's
    // bits, taken in a spare lane of a batch (or alone, if none had one).
    double edge() {
        return edge_.value(us_[0], [&](double u, double s, double delta) {
            return uniform_disc(u, s, delta, agreement_);
        });
    }

private:

    const Density& density_;
    double rho_;
    double agreement_;
    EdgeDisc<double> edge_;
    double sum_ = 0.0;
    std::array<double, NODE_BATCH + 1> us_, ss_, deltas_, discs_;
    std::array<double, NODE_BATCH> weights_;
    SharedArrays shared_;
};

// The integral and the edge disc, both at the tier's agreement.
struct NearField {
    double integral;
    double edge;
};
template <class Density>
NearField near_field_value(double l, double rho, const LimbVariable& v, const Rules& rules,
                           const Density& density, std::span<const double> radii, double agreement) {
    ValueSink<Density> sink(l, rho, density, agreement);
    near_field(l, rho, v, rules, radii, sink);
    return NearField{sink.sum(), sink.edge()};
}

// The edge disc, at the tier's agreement like the integral's discs; a uniform
// profile, which is this disc alone, takes it at full accuracy.
double edge_disc(double l, double rho, double agreement = FULL_AGREEMENT) {
    return uniform_disc(l * rho, rho, rho * (l - 1.0), agreement);
}

// A profile with a term μ^b, b > BRIGHT_CORE_ALPHA (power-2 of large α).
bool bright_core(const RadialProfile& profile) {
    for (int i = 1; i < profile.term_count(); ++i) {
        if (profile.term_exponent(i) > BRIGHT_CORE_ALPHA) return true;
    }
    return false;
}

// A law's rules: the tier's, or for a bright core its `core` rules.
const Rules& law_rules_of(const Method& method, const RadialProfile& profile) {
    return bright_core(profile) ? method.core : method.law;
}

}  // namespace

const Method& method_for(double rtol) noexcept {
    // The loosest tier within rtol; the tightest for anything tighter.
    const Method* chosen = &TIERS[0].method;
    for (const Tier& tier : TIERS) {
        if (tier.rtol <= rtol) chosen = &tier.method;
    }
    return *chosen;
}

double conditioning(const RadialProfile& profile) noexcept {
    double weights = 1.0 + std::fabs(profile.log_coefficient());
    for (int i = 1; i < profile.term_count(); ++i) weights += std::fabs(profile.term_coefficient(i));
    return weights / std::fabs(profile.flux());
}

const Method& method_for(double rtol, const RadialProfile& profile) noexcept {
    const double kappa = conditioning(profile);
    return method_for(kappa > TUNED_CONDITIONING ? rtol * (TUNED_CONDITIONING / kappa) : rtol);
}

double profile_magnification(double l, double rho, const RadialProfile& profile,
                             std::span<const double> moments, const Method& method) noexcept {
    if (l >= method.far_field_start) return far_field_magnification(l, rho, moments, method.truncation);
    if (l < SMALLEST_SEPARATION) l = 0.0;
    if (profile.uniform()) return edge_disc(l, rho);
    const LimbVariable v{profile.limb_exponent()};
    const NearField near = near_field_value(l, rho, v, law_rules_of(method, profile), LawDensity(profile), {},
                                            method.disc_agreement);
    return (profile.limb_intensity() * near.edge + near.integral) / profile.flux();
}

double table_magnification(double l, double rho, const BrightnessTable& table, const Method& method) {
    if (l >= method.far_field_start) return far_field_magnification(l, rho, table.moments, method.truncation);
    if (l < SMALLEST_SEPARATION) l = 0.0;
    const LimbVariable v{2.0};
    const NearField near =
        near_field_value(l, rho, v, method.table, TableDensity{table.slopes}, table.radii, method.disc_agreement);
    return (table.brightness.back() * near.edge + near.integral) / table.flux;
}

}  // namespace lumevaro::limb_darkening

// ---------------------------------------------------------------------------
// Derivatives and bands: the same nodes, more sums.

namespace lumevaro::limb_darkening {

namespace {

// The coefficient derivatives of a law: at each node the weights of the
// profiles ∂I/∂c_k in place of I.
class LawCoefficients {
public:
    static constexpr std::size_t MOST = 4;

    explicit LawCoefficients(std::span<const CoefficientDerivative> derivatives) : derivatives_(derivatives) {
        for (std::size_t k = 0; k < derivatives_.size(); ++k) {
            const RadialProfile& profile = derivatives_[k].profile;
            by_parts_[k] = derivatives_[k].by_parts;
            constant_[k] = !by_parts_[k] && profile.constant_slope();
            if (constant_[k]) slopes_[k] = profile.slope(1.0);
            if (by_parts_[k]) {
                by_parts_index_[by_parts_count_++] = k;
                log_ = true;
            } else {
                plain_[plain_count_++] = k;
            }
            if (!constant_[k] && !by_parts_[k]) {
                slope_of_[k] = Slope(profile);
                slope_of_[k].powers_from_log();
                root_ = root_ || slope_of_[k].root();
                log_ = log_ || slope_of_[k].log();
            }
        }
    }

    // Whether a derivative's weight takes √μ, ln μ.
    bool needs_root() const { return root_; }
    bool needs_log() const { return log_; }
    bool needs_ratio() const { return false; }
    // Each derivative's weight at every node of a batch. For I = c μ^b ln μ
    // (taken by parts) the weight is c μ^(b+1) ln μ, formed as
    // c exp((b + 1) ln μ) ln μ from the node's shared ln μ.
    void record(const NodeBatch& b, const Shared& shared) {
        const std::size_t n = b.count;
        for (std::size_t k = 0; k < derivatives_.size(); ++k) {
            double* __restrict out = weights_[k].data();
            if (constant_[k]) {
                for (std::size_t i = 0; i < n; ++i) out[i] = slopes_[k] * b.dmu_dx[i];
            } else if (by_parts_[k]) {
                const RadialProfile& profile = derivatives_[k].profile;
                const double c = profile.log_coefficient();
                const double power = profile.log_exponent() + 1.0;
                for (std::size_t i = 0; i < n; ++i) {
                    const double log = shared.log[i];
                    out[i] = c * std::exp(power * log) * log * b.dmu_dx[i];
                }
            } else {
                slope_of_[k].scaled(b, shared, b.dmu_dx.data(), out);
            }
        }
    }
    // The sums over a batch's nodes, each in node order, its discs taken. The
    // sums of the derivatives not taken by parts step together, node by node,
    // so that their chains of additions run side by side.
    void accumulate(const NodeBatch& b, const double* s, const DiscGradient* discs) {
        switch (plain_count_) {
            case 1: accumulate_plain<1>(b, discs); break;
            case 2: accumulate_plain<2>(b, discs); break;
            case 3: accumulate_plain<3>(b, discs); break;
            case 4: accumulate_plain<4>(b, discs); break;
            default: break;
        }
        for (std::size_t j = 0; j < by_parts_count_; ++j) {
            const std::size_t k = by_parts_index_[j];
            const double* weights = weights_[k].data();
            double sum = sums_[k];
            for (std::size_t i = 0; i < b.count; ++i) {
                sum += (b.w[i] * weights[i]) * (2.0 * discs[i].value + s[i] * discs[i].d_s);
            }
            sums_[k] = sum;
        }
    }
    double sum(std::size_t k) const { return sums_[k]; }
    void reset() { sums_.fill(0.0); }

private:
    template <std::size_t K>
    void accumulate_plain(const NodeBatch& b, const DiscGradient* discs) {
        std::array<double, K> sums;
        std::array<const double*, K> weights;
        for (std::size_t j = 0; j < K; ++j) {
            sums[j] = sums_[plain_[j]];
            weights[j] = weights_[plain_[j]].data();
        }
        for (std::size_t i = 0; i < b.count; ++i) {
            const double r = b.r[i];
            const double kernel = (r * r) * discs[i].value;
            for (std::size_t j = 0; j < K; ++j) sums[j] += (b.w[i] * weights[j][i]) * kernel;
        }
        for (std::size_t j = 0; j < K; ++j) sums_[plain_[j]] = sums[j];
    }

    std::span<const CoefficientDerivative> derivatives_;
    // The derivative profiles linear in μ, and their slopes; those taken by
    // parts; the others' slopes.
    std::array<bool, MOST> constant_{};
    std::array<double, MOST> slopes_{};
    std::array<bool, MOST> by_parts_{};
    std::array<Slope, MOST> slope_of_;
    // The derivatives not taken by parts, and those taken by parts.
    std::array<std::size_t, MOST> plain_{}, by_parts_index_{};
    std::size_t plain_count_ = 0, by_parts_count_ = 0;
    bool root_ = false, log_ = false;
    // Written by record before accumulate reads them: not cleared.
    std::array<std::array<double, NODE_BATCH>, MOST> weights_;
    std::array<double, MOST> sums_{};
};

// The brightness derivatives of a table: each node's weight per unit slope
// of its row, summed by row.
class TableRows {
public:
    explicit TableRows(std::size_t rows) : sums_(rows, 0.0) {}

    bool needs_root() const { return false; }
    bool needs_log() const { return false; }
    bool needs_ratio() const { return true; }
    void record(const NodeBatch& b, const Shared& shared) {
        for (std::size_t i = 0; i < b.count; ++i) units_[i] = -shared.mu_over_r[i] * b.dmu_dx[i];
    }
    void accumulate(const NodeBatch& b, const double*, const DiscGradient* discs) {
        for (std::size_t i = 0; i < b.count; ++i) {
            const double r = b.r[i];
            sums_[b.row[i]] += (b.w[i] * units_[i]) * ((r * r) * discs[i].value);
        }
    }
    double sum(std::size_t row) const { return sums_[row]; }
    void reset() { std::fill(sums_.begin(), sums_.end(), 0.0); }

private:
    std::vector<double> sums_;
    std::array<double, NODE_BATCH> units_;
};

// Σ w·density·D(r) as ValueSink sums it (the same bits), with
//   Σ w·density·r²·∂_u A_disc,  Σ w·density·r³·∂_s A_disc
// (∂/∂ρ of A_disc(u, ρr) at fixed u is r ∂_s A_disc), and the extra sums of
// `Coefficients`, for one or more bands on the same nodes: band b has its
// density densities[b] and its coefficients coefficients[b] (or all bands
// the one coefficients[0], when their coefficient sums are the same), and
// sums as the one band alone would (the same operations in node order),
// while every disc is evaluated once for all. `weights` holds NODE_BATCH × bands
// doubles.
template <class Density, class Coefficients>
class GradientSink {
public:
    GradientSink(double l, double rho, std::span<const Density> densities, std::span<Coefficients> coefficients,
                 std::span<double> weights, std::span<Gradient> sums, double agreement)
        : densities_(densities), coefficients_(coefficients), weights_(weights), sums_(sums), rho_(rho),
          agreement_(agreement), edge_(l, rho) {
        us_.fill(l * rho);
        for (Gradient& sum : sums_) sum = Gradient{0.0, 0.0, 0.0};
        for (const Density& density : densities_) {
            root_ = root_ || density.needs_root();
            log_ = log_ || density.needs_log();
            ratio_ = ratio_ || density.needs_ratio();
        }
        for (const Coefficients& c : coefficients_) {
            root_ = root_ || c.needs_root();
            log_ = log_ || c.needs_log();
            ratio_ = ratio_ || c.needs_ratio();
        }
    }

    void take(const NodeBatch& b) {
        const std::size_t n = b.count;
        for (std::size_t i = 0; i < n; ++i) {
            ss_[i] = rho_ * b.r[i];
            deltas_[i] = rho_ * b.l_minus_r[i];
        }
        const Shared shared = shared_.form(b, root_, log_, ratio_);
        for (std::size_t band = 0; band < densities_.size(); ++band) {
            densities_[band].weights(b, shared, &weights_[band * NODE_BATCH]);
        }
        for (Coefficients& c : coefficients_) c.record(b, shared);
        const std::size_t m = edge_.append(n, ss_.data(), deltas_.data());
        uniform_disc_gradients(std::span<const double>(us_.data(), m), std::span<const double>(ss_.data(), m),
                               std::span<const double>(deltas_.data(), m),
                               std::span<DiscGradient>(discs_.data(), m), agreement_);
        edge_.collect(discs_.data());
        for (std::size_t i = 0; i < n; ++i) {
            DiscGradient& disc = discs_[i];
            // A node whose distance to the contact underflowed (x^(2k) near
            // 1e-308 at the limb, for power-2's large k) is taken as on the
            // edge, where the disc's slopes are infinite; its true
            // contribution, weight times ln δ with a weight as small, is nothing.
            if (std::isinf(disc.d_u) || std::isinf(disc.d_s)) disc.d_u = disc.d_s = 0.0;
        }
        for (std::size_t band = 0; band < densities_.size(); ++band) {
            const double* weights = &weights_[band * NODE_BATCH];
            Gradient sum = sums_[band];
            for (std::size_t i = 0; i < n; ++i) {
                const double r = b.r[i];
                const DiscGradient& disc = discs_[i];
                sum.a += weights[i] * ((r * r) * disc.value);
                sum.d_u += weights[i] * ((r * r) * disc.d_u);
                sum.d_rho += weights[i] * ((r * r * r) * disc.d_s);
            }
            sums_[band] = sum;
        }
        for (Coefficients& c : coefficients_) c.accumulate(b, ss_.data(), discs_.data());
    }

    // The edge disc with its derivatives at the tier's agreement.
    DiscGradient edge() {
        return edge_.value(us_[0], [&](double u, double s, double delta) {
            return uniform_disc_gradient(u, s, delta, agreement_);
        });
    }

private:
    std::span<const Density> densities_;
    std::span<Coefficients> coefficients_;
    std::span<double> weights_;
    std::span<Gradient> sums_;
    double rho_;
    double agreement_;
    EdgeDisc<DiscGradient> edge_;
    bool root_ = false, log_ = false, ratio_ = false;
    std::array<double, NODE_BATCH + 1> us_, ss_, deltas_;
    SharedArrays shared_;
    std::array<DiscGradient, NODE_BATCH + 1> discs_;
};

// The geometric derivatives of F·A = I(1)·A_disc(u, ρ) + J over F, the
// edge disc's left out where the limb is dark (its derivatives are
// infinite on the limb).
Gradient combine(double a, double limb, const DiscGradient& edge, const Gradient& integral, double flux) {
    const double edge_u = limb == 0.0 ? 0.0 : limb * edge.d_u;
    const double edge_rho = limb == 0.0 ? 0.0 : limb * edge.d_s;
    return Gradient{a, (edge_u + integral.d_u) / flux, (edge_rho + integral.d_rho) / flux};
}

}  // namespace

namespace {

// A law's gradient from the edge disc and the near-field sums (l already
// taken as 0 below SMALLEST_SEPARATION).
template <class Coefficients>
Gradient near_law_gradient(double l, const DiscGradient& edge, const Gradient& integral, const RadialProfile& profile,
                           std::span<const CoefficientDerivative> derivatives, const Coefficients& coefficients,
                           std::span<double> d_coefficients) {
    const double flux = profile.flux();
    const double limb = profile.limb_intensity();
    const double a = profile.uniform() ? edge.value : (limb * edge.value + integral.a) / flux;
    for (std::size_t k = 0; k < derivatives.size(); ++k) {
        const CoefficientDerivative& derivative = derivatives[k];
        const double edge_term = derivative.by_parts ? 0.0 : derivative.profile.limb_intensity() * edge.value;
        d_coefficients[k] = (edge_term + coefficients.sum(k) - a * derivative.raw_moments[0]) / flux;
    }
    Gradient gradient = combine(a, limb, edge, integral, flux);
    if (l == 0.0) gradient.d_u = 0.0;
    return gradient;
}

// A table's gradient from the edge disc, the near-field sums and the rows'.
Gradient near_table_gradient(double l, const DiscGradient& edge, const Gradient& integral,
                             const BrightnessTable& table,
                             std::span<const std::array<double, FAR_FIELD_TERMS>> hat_moments, const TableRows& rows,
                             std::span<double> d_brightness) {
    const double flux = table.flux;
    const std::size_t last = table.brightness.size() - 1;
    const double limb = table.brightness[last];
    const double a = (limb * edge.value + integral.a) / flux;
    // A row's slope is (I_{j+1} − I_j)/width.
    for (std::size_t j = 0; j <= last; ++j) {
        double numerator = j == last ? edge.value : 0.0;
        if (j > 0) numerator += rows.sum(j - 1) / (table.radii[j] - table.radii[j - 1]);
        if (j < last) numerator -= rows.sum(j) / (table.radii[j + 1] - table.radii[j]);
        d_brightness[j] = (numerator - a * hat_moments[j][0]) / flux;
    }
    Gradient gradient = combine(a, limb, edge, integral, flux);
    if (l == 0.0) gradient.d_u = 0.0;
    return gradient;
}

DiscGradient edge_disc_gradient(double l, double rho) { return uniform_disc_gradient(l * rho, rho, rho * (l - 1.0)); }

}  // namespace

namespace {

// A profile's far-field gradient in one pass over the series: A as
// far_field_sum sums it, its slopes (far_field.hpp), and d[j] = (Σ_k
// power[k] R_j[k] value[k] − A R_j[0])/F for the raw moments R_j = raw(j)
// of each of `count` parameters.
template <class Raw>
Gradient far_gradient(const FarFieldSeries& series, double l, double rho, std::span<const double> moments,
                      double flux, std::size_t count, Raw&& raw, std::span<double> d) noexcept {
    double a = moments[0] * series.value[0];
    double along = moments[0] * series.slope[0];
    double across = 0.0;
    for (int k = 1; k < series.terms; ++k) {
        const double weight = series.power[k] * moments[k];
        a = a + weight * series.value[k];
        along += weight * series.slope[k];
        across += (2.0 * k) * (weight * series.value[k]);
    }
    for (std::size_t j = 0; j < count; ++j) {
        const auto& r = raw(j);
        double sum = r[0] * series.value[0];
        for (int k = 1; k < series.terms; ++k) sum += (series.power[k] * r[k]) * series.value[k];
        d[j] = (sum - a * r[0]) / flux;
    }
    return Gradient{a, (2.0 / (l * rho)) * along, across / rho};
}

}  // namespace

Gradient far_law_gradient(const FarFieldSeries& series, double l, double rho, const RadialProfile& profile,
                          std::span<const double> moments, std::span<const CoefficientDerivative> derivatives,
                          std::span<double> d_coefficients) noexcept {
    return far_gradient(series, l, rho, moments, profile.flux(), derivatives.size(),
                        [&](std::size_t k) -> const auto& { return derivatives[k].raw_moments; }, d_coefficients);
}

Gradient far_table_gradient(const FarFieldSeries& series, double l, double rho, const BrightnessTable& table,
                            std::span<const std::array<double, FAR_FIELD_TERMS>> hat_moments,
                            std::span<double> d_brightness) {
    return far_gradient(series, l, rho, table.moments, table.flux, table.brightness.size(),
                        [&](std::size_t j) -> const auto& { return hat_moments[j]; }, d_brightness);
}

Gradient profile_gradient(double l, double rho, const RadialProfile& profile, std::span<const double> moments,
                          std::span<const CoefficientDerivative> derivatives,
                          std::span<double> d_coefficients, const Method& method) noexcept {
    if (l >= method.far_field_start) {
        return far_law_gradient(far_field_series(l, rho, method.truncation), l, rho, profile, moments, derivatives,
                                d_coefficients);
    }
    if (l < SMALLEST_SEPARATION) l = 0.0;
    const LawDensity density(profile);
    LawCoefficients coefficients(derivatives);
    // A uniform disc with no coefficient to follow is the edge disc alone:
    // its integral's density is 0 at every node.
    if (profile.uniform() && derivatives.empty()) {
        return near_law_gradient(l, edge_disc_gradient(l, rho), Gradient{0.0, 0.0, 0.0}, profile, derivatives,
                                 coefficients, d_coefficients);
    }
    std::array<double, NODE_BATCH> weights;
    Gradient integral;
    GradientSink<LawDensity, LawCoefficients> sink(l, rho, std::span(&density, 1), std::span(&coefficients, 1),
                                                   weights, std::span(&integral, 1), method.disc_agreement);
    near_field(l, rho, LimbVariable{profile.limb_exponent()}, law_rules_of(method, profile), {}, sink);
    // A uniform profile's value is the edge disc at full accuracy, as the value function has it.
    const DiscGradient edge = profile.uniform() ? edge_disc_gradient(l, rho) : sink.edge();
    return near_law_gradient(l, edge, integral, profile, derivatives, coefficients, d_coefficients);
}

Gradient table_gradient(double l, double rho, const BrightnessTable& table,
                        std::span<const std::array<double, FAR_FIELD_TERMS>> hat_moments,
                        std::span<double> d_brightness, const Method& method) {
    if (l >= method.far_field_start) {
        return far_table_gradient(far_field_series(l, rho, method.truncation), l, rho, table, hat_moments,
                                  d_brightness);
    }
    if (l < SMALLEST_SEPARATION) l = 0.0;
    const TableDensity density{table.slopes};
    TableRows rows(table.brightness.size() - 1);
    std::array<double, NODE_BATCH> weights;
    Gradient integral;
    GradientSink<TableDensity, TableRows> sink(l, rho, std::span(&density, 1), std::span(&rows, 1), weights,
                                               std::span(&integral, 1), method.disc_agreement);
    near_field(l, rho, LimbVariable{2.0}, method.table, table.radii, sink);
    return near_table_gradient(l, sink.edge(), integral, table, hat_moments, rows, d_brightness);
}

// ---------------------------------------------------------------------------
// Gradients in several bands: the bands whose nodes agree share every disc.

namespace {

// Bands that take the same nodes and discs at every separation: one limb
// variable, one set of rules, one start of the series, one agreement of the
// discs.
struct NodeGroup {
    double limb_exponent;
    const Rules* rules;
    const Method* method;
    std::vector<std::size_t> members;
};

}  // namespace

struct LawBandGradients::State {
    std::vector<LawBand> bands;
    std::vector<NodeGroup> groups;
    // Per group, in member order: densities, coefficients (one per member, or
    // one for all when the members' coefficient derivatives are the same
    // profiles), the batch's weights and the integrals.
    std::vector<std::vector<LawDensity>> densities;
    std::vector<std::vector<LawCoefficients>> coefficients;
    std::vector<std::vector<double>> weights;
    std::vector<std::vector<Gradient>> integrals;
};

LawBandGradients::LawBandGradients(std::span<const LawBand> bands, bool shared_derivatives)
    : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.bands.assign(bands.begin(), bands.end());
    for (std::size_t b = 0; b < bands.size(); ++b) {
        const LawBand& band = bands[b];
        const Rules* rules = &law_rules_of(*band.method, *band.profile);
        const double k = band.profile->limb_exponent();
        auto group = std::find_if(state.groups.begin(), state.groups.end(), [&](const NodeGroup& g) {
            return g.limb_exponent == k && g.rules == rules &&
                   g.method->far_field_start == band.method->far_field_start &&
                   g.method->disc_agreement == band.method->disc_agreement;
        });
        if (group == state.groups.end()) {
            state.groups.push_back(NodeGroup{k, rules, band.method, {}});
            group = state.groups.end() - 1;
        }
        group->members.push_back(b);
    }
    for (const NodeGroup& group : state.groups) {
        std::vector<LawDensity> densities;
        std::vector<LawCoefficients> coefficients;
        for (const std::size_t b : group.members) {
            densities.emplace_back(*bands[b].profile);
            if (!shared_derivatives || coefficients.empty()) coefficients.emplace_back(bands[b].derivatives);
        }
        state.weights.emplace_back(NODE_BATCH * group.members.size());
        state.integrals.emplace_back(group.members.size());
        state.densities.push_back(std::move(densities));
        state.coefficients.push_back(std::move(coefficients));
    }
}

LawBandGradients::~LawBandGradients() = default;

void LawBandGradients::gradients(double l, double rho, std::span<Gradient> out, std::span<double> d_coefficients) {
    State& state = *state_;
    const std::size_t count = state.bands.empty() ? 0 : state.bands[0].derivatives.size();
    auto derivatives_of = [&](std::size_t b) { return d_coefficients.subspan(b * count, count); };
    const double l_near = l < SMALLEST_SEPARATION ? 0.0 : l;
    // The edge disc at full accuracy, for uniform profiles, taken once.
    bool edge_known = false;
    DiscGradient edge{};
    auto full_edge = [&] {
        if (!edge_known) {
            edge = edge_disc_gradient(l_near, rho);
            edge_known = true;
        }
        return edge;
    };
    for (std::size_t g = 0; g < state.groups.size(); ++g) {
        const NodeGroup& group = state.groups[g];
        const Method& method = *group.method;
        if (l >= method.far_field_start) {
            const FarFieldSeries series = far_field_series(l, rho, method.truncation);
            for (const std::size_t b : group.members) {
                const LawBand& band = state.bands[b];
                out[b] = far_law_gradient(series, l, rho, *band.profile, band.moments, band.derivatives,
                                          derivatives_of(b));
            }
            continue;
        }
        std::vector<LawCoefficients>& coefficients = state.coefficients[g];
        for (LawCoefficients& c : coefficients) c.reset();
        const bool uniform = count == 0 && std::all_of(group.members.begin(), group.members.end(), [&](std::size_t b) {
            return state.bands[b].profile->uniform();
        });
        if (uniform) {
            for (std::size_t i = 0; i < group.members.size(); ++i) {
                const std::size_t b = group.members[i];
                out[b] = near_law_gradient(l_near, full_edge(), Gradient{0.0, 0.0, 0.0}, *state.bands[b].profile, {},
                                           coefficients[0], derivatives_of(b));
            }
            continue;
        }
        GradientSink<LawDensity, LawCoefficients> sink(l_near, rho, state.densities[g], coefficients,
                                                       state.weights[g], state.integrals[g], method.disc_agreement);
        near_field(l_near, rho, LimbVariable{group.limb_exponent}, *group.rules, {}, sink);
        for (std::size_t i = 0; i < group.members.size(); ++i) {
            const std::size_t b = group.members[i];
            const LawBand& band = state.bands[b];
            const LawCoefficients& c = coefficients.size() == 1 ? coefficients[0] : coefficients[i];
            // A uniform profile's value is the edge disc at full accuracy, as the value function has it.
            out[b] = near_law_gradient(l_near, band.profile->uniform() ? full_edge() : sink.edge(),
                                       state.integrals[g][i], *band.profile, band.derivatives, c, derivatives_of(b));
        }
    }
}

struct TableBandGradients::State {
    std::vector<const BrightnessTable*> tables;
    std::span<const std::array<double, FAR_FIELD_TERMS>> hat_moments;
    const Method* method;
    std::vector<TableDensity> densities;
    std::vector<TableRows> rows;  // one: the rows' sums do not depend on the brightness
    std::vector<double> weights;
    std::vector<Gradient> integrals;
};

TableBandGradients::TableBandGradients(std::span<const BrightnessTable* const> tables,
                                       std::span<const std::array<double, FAR_FIELD_TERMS>> hat_moments,
                                       const Method& method)
    : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.tables.assign(tables.begin(), tables.end());
    state.hat_moments = hat_moments;
    state.method = &method;
    for (const BrightnessTable* table : tables) state.densities.push_back(TableDensity{table->slopes});
    if (!tables.empty()) state.rows.emplace_back(tables[0]->brightness.size() - 1);
    state.weights.resize(NODE_BATCH * tables.size());
    state.integrals.resize(tables.size());
}

TableBandGradients::~TableBandGradients() = default;

void TableBandGradients::gradients(double l, double rho, std::span<Gradient> out, std::span<double> d_brightness) {
    State& state = *state_;
    if (state.tables.empty()) return;
    const std::size_t count = state.tables[0]->brightness.size();
    auto derivatives_of = [&](std::size_t b) { return d_brightness.subspan(b * count, count); };
    const Method& method = *state.method;
    if (l >= method.far_field_start) {
        const FarFieldSeries series = far_field_series(l, rho, method.truncation);
        for (std::size_t b = 0; b < state.tables.size(); ++b) {
            out[b] = far_table_gradient(series, l, rho, *state.tables[b], state.hat_moments, derivatives_of(b));
        }
        return;
    }
    if (l < SMALLEST_SEPARATION) l = 0.0;
    state.rows[0].reset();
    GradientSink<TableDensity, TableRows> sink(l, rho, state.densities, state.rows, state.weights, state.integrals,
                                               method.disc_agreement);
    near_field(l, rho, LimbVariable{2.0}, method.table, state.tables[0]->radii, sink);
    const DiscGradient edge = sink.edge();
    for (std::size_t b = 0; b < state.tables.size(); ++b) {
        out[b] = near_table_gradient(l, edge, state.integrals[b], *state.tables[b], state.hat_moments, state.rows[0],
                                     derivatives_of(b));
    }
}

// ---------------------------------------------------------------------------
// Bands. RadialProfile::slope sums its terms in order, each by the formula
// of its power; a group of profiles of one form takes the same formulas with
// the μ-dependent part formed once per node and each band's coefficient
// pre-multiplied as slope multiplies it, so every band's density has the
// bits LawDensity gives it.

namespace {

enum class Power { one, two, half, three_halves, other };

Power power_of(double exponent) {
    if (exponent == 1.0) return Power::one;
    if (exponent == 2.0) return Power::two;
    if (exponent == 0.5) return Power::half;
    if (exponent == 1.5) return Power::three_halves;
    return Power::other;
}

// Profiles of one form: equal exponents term by term, a log term in all or
// none, one limb variable.
bool same_form(const RadialProfile& a, const RadialProfile& b) {
    if (a.limb_exponent() != b.limb_exponent() || a.term_count() != b.term_count() ||
        a.power_variable() != b.power_variable() || (a.log_coefficient() != 0.0) != (b.log_coefficient() != 0.0) ||
        a.log_exponent() != b.log_exponent()) {
        return false;
    }
    for (int i = 1; i < a.term_count(); ++i) {
        if (a.term_exponent(i) != b.term_exponent(i)) return false;
    }
    return true;
}

}  // namespace

struct Bands::Group {
    std::vector<std::size_t> members;
    LimbVariable v{2.0};
    bool power_variable = false;
    double alpha = 0.0;
    std::vector<Power> powers;         // of terms 1, 2, ...
    std::vector<double> exponents;
    std::vector<double> factors;       // [term][band]: c, 2c, c/2, 3c/2 or c·a as slope takes them
    bool log = false;
    std::vector<double> logs;          // [band]
    std::vector<double> scales;        // [band], c 2^α in the power variable
    // Per node of a batch, [node][band]: the weights; and per band the sums.
    std::vector<double> weights;
    std::vector<double> sums;
    std::vector<double> slopes;        // [band], one node's

    std::size_t size() const { return members.size(); }

    // The weights w·density of every band at a node.
    void densities(const Point& q, double t, double rate, double w, double* out) {
        const std::size_t n = size();
        if (power_variable) {
            const double t2 = t * t;
            const double shape = (1.0 - t) * (1.0 + t);
            const double power = std::pow(1.0 + t2, -alpha - 1.0);
            for (std::size_t b = 0; b < n; ++b) out[b] = w * (scales[b] * shape * power);
            return;
        }
        const double mu = q.mu;
        for (std::size_t b = 0; b < n; ++b) slopes[b] = 0.0;
        double root = -1.0;
        for (std::size_t i = 0; i < powers.size(); ++i) {
            const double* c = &factors[i * n];
            switch (powers[i]) {
                case Power::one:
                    for (std::size_t b = 0; b < n; ++b) slopes[b] += c[b];
                    break;
                case Power::two:
                    for (std::size_t b = 0; b < n; ++b) slopes[b] += c[b] * mu;
                    break;
                case Power::half:
                    if (root < 0.0) root = std::sqrt(mu);
                    for (std::size_t b = 0; b < n; ++b) slopes[b] += c[b] / root;
                    break;
                case Power::three_halves:
                    if (root < 0.0) root = std::sqrt(mu);
                    for (std::size_t b = 0; b < n; ++b) slopes[b] += c[b] * root;
                    break;
                case Power::other: {
                    const double power = std::pow(mu, exponents[i] - 1.0);
                    for (std::size_t b = 0; b < n; ++b) slopes[b] += c[b] * power;
                    break;
                }
            }
        }
        if (log) {
            const double g = std::log(mu) + 1.0;
            for (std::size_t b = 0; b < n; ++b) slopes[b] += logs[b] * g;
        }
        const double factor = rate * q.dmu_dt;
        for (std::size_t b = 0; b < n; ++b) out[b] = w * (slopes[b] * factor);
    }
};

namespace {

// One group's integrals over its nodes, each band summed as ValueSink sums
// its one profile.
class BandSink {
public:
    BandSink(double l, double rho, Bands::Group& group, double agreement)
        : group_(group), rho_(rho), agreement_(agreement) {
        us_.fill(l * rho);
        group_.weights.resize(NODE_BATCH * group_.size());
        group_.sums.assign(group_.size(), 0.0);
    }

    void take(const NodeBatch& b) {
        const std::size_t count = b.count;
        const std::size_t n = group_.size();
        for (std::size_t i = 0; i < count; ++i) {
            ss_[i] = rho_ * b.r[i];
            deltas_[i] = rho_ * b.l_minus_r[i];
            group_.densities(b.point(i), b.t[i], b.rate[i], b.w[i], &group_.weights[i * n]);
        }
        uniform_discs(std::span<const double>(us_.data(), count), std::span<const double>(ss_.data(), count),
                      std::span<const double>(deltas_.data(), count), std::span<double>(discs_.data(), count),
                      agreement_);
        double* sums = group_.sums.data();
        for (std::size_t i = 0; i < count; ++i) {
            const double r = b.r[i];
            const double r2_disc = (r * r) * discs_[i];
            const double* weights = &group_.weights[i * n];
            for (std::size_t band = 0; band < n; ++band) sums[band] += weights[band] * r2_disc;
        }
    }

private:
    Bands::Group& group_;
    double rho_;
    double agreement_;
    std::array<double, NODE_BATCH> us_, ss_, deltas_, discs_;
};

}  // namespace

Bands::Bands(std::vector<RadialProfile> profiles, double rtol) : profiles_(std::move(profiles)) {
    for (const RadialProfile& profile : profiles_) {
        moments_.emplace_back();
        profile.normalised_moments(moments_.back());
        methods_.push_back(&method_for(rtol, profile));
    }
    std::vector<bool> placed(profiles_.size(), false);
    for (std::size_t first = 0; first < profiles_.size(); ++first) {
        if (placed[first] || profiles_[first].uniform()) continue;
        const RadialProfile& form = profiles_[first];
        Group group;
        for (std::size_t b = first; b < profiles_.size(); ++b) {
            if (!placed[b] && !profiles_[b].uniform() && methods_[b] == methods_[first] &&
                same_form(form, profiles_[b])) {
                group.members.push_back(b);
                placed[b] = true;
            }
        }
        const std::size_t n = group.size();
        group.v = LimbVariable{form.limb_exponent()};
        group.power_variable = form.power_variable();
        if (group.power_variable) {
            group.alpha = form.power_exponent();
            for (const std::size_t b : group.members) {
                group.scales.push_back(profiles_[b].power_coefficient() * std::exp2(group.alpha));
            }
        }
        for (int i = 1; i < form.term_count(); ++i) {
            const double exponent = form.term_exponent(i);
            const Power power = power_of(exponent);
            group.powers.push_back(power);
            group.exponents.push_back(exponent);
            for (const std::size_t b : group.members) {
                const double c = profiles_[b].term_coefficient(i);
                switch (power) {
                    case Power::one: group.factors.push_back(c); break;
                    case Power::two: group.factors.push_back(2.0 * c); break;
                    case Power::half: group.factors.push_back(0.5 * c); break;
                    case Power::three_halves: group.factors.push_back(1.5 * c); break;
                    case Power::other: group.factors.push_back(c * exponent); break;
                }
            }
        }
        group.log = form.log_coefficient() != 0.0;
        for (const std::size_t b : group.members) group.logs.push_back(profiles_[b].log_coefficient());
        group.slopes.resize(n);
        groups_.push_back(std::move(group));
    }
}

Bands::~Bands() = default;

void Bands::magnifications(double l, double rho, std::span<double> out) {
    if (l < SMALLEST_SEPARATION) l = 0.0;
    // The bands whose method serves l by the series, one series per method.
    bool near = false;
    const Method* series_method = nullptr;
    FarFieldSeries series{};
    for (std::size_t b = 0; b < profiles_.size(); ++b) {
        const Method& method = *methods_[b];
        if (l < method.far_field_start) {
            near = true;
            continue;
        }
        if (series_method != &method) {
            series = far_field_series(l, rho, method.truncation);
            series_method = &method;
        }
        out[b] = far_field_sum(series, moments_[b]);
    }
    if (!near) return;
    for (std::size_t b = 0; b < profiles_.size(); ++b) {
        if (profiles_[b].uniform() && l < methods_[b]->far_field_start) out[b] = edge_disc(l, rho);
    }
    for (Group& group : groups_) {
        const std::size_t first = group.members[0];
        const Method& method = *methods_[first];
        if (l >= method.far_field_start) continue;
        const double edge = edge_disc(l, rho, method.disc_agreement);
        BandSink sink(l, rho, group, method.disc_agreement);
        // The group's members share their terms' exponents: its first decides.
        near_field(l, rho, group.v, law_rules_of(method, profiles_[first]), {}, sink);
        for (std::size_t i = 0; i < group.size(); ++i) {
            const RadialProfile& profile = profiles_[group.members[i]];
            out[group.members[i]] = (profile.limb_intensity() * edge + group.sums[i]) / profile.flux();
        }
    }
}

}  // namespace lumevaro::limb_darkening
