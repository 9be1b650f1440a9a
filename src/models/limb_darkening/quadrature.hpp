// The limb-darkened magnification of a profile given as a law in μ: the
// quadrature near the lens, the far-field series beyond.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <vector>

#include "models/limb_darkening/far_field.hpp"
#include "models/limb_darkening/profile.hpp"
#include "numeric/graded_gauss_nodes.hpp"

namespace lumevaro::limb_darkening {

// The rules of the pieces of one side (quadrature.cpp), by the ends they
// touch: the focus (the contact, or the limb when l ≥ 1; graded there), the
// limb at the far end, or neither.
struct Rules {
    std::span<const graded_gauss::Node> kink;         // focus → smooth end
    std::span<const graded_gauss::Node> kink_limb;    // focus → limb
    std::span<const graded_gauss::Node> plain;
    std::span<const graded_gauss::Node> to_limb;      // smooth start → limb
    std::span<const graded_gauss::Node> from_limb;    // the limb as focus (l ≥ 1) → smooth end
    std::span<const graded_gauss::Node> short_piece;  // a piece cut by a table row, short beside its distance to the focus
    double ratio;                                     // largest ratio of successive piece ends
    double reach;                                     // the first piece's length, in units of the default's
    double log_ratio;                                 // ln ratio
};

// How a magnification is computed to one relative accuracy: the rules of a
// law's and of a table's quadrature, where the far-field series takes over
// and where it stops. A profile with a term μ^b, b > BRIGHT_CORE_ALPHA
// (power-2 of large α, whose bright core is 1/√α wide), takes the rules `core`.
struct Method {
    Rules law;
    Rules table;
    Rules core;
    double far_field_start;  // l from which the series is used
    double truncation;       // the series stops once (1/l²)^k falls below this
    double disc_agreement;   // where the discs' Landen loops stop (uniform_disc.hpp)
};
inline constexpr double BRIGHT_CORE_ALPHA = 3.0;

// The cheapest method whose measured error stays within rtol, the relative
// accuracy asked for (a tighter rtol than any method reaches gets the
// tightest); see quadrature.cpp for the measurements.
const Method& method_for(double rtol) noexcept;

// The method for a law's profile: the quadrature's error in a profile's
// magnification grows with its terms' weights over its flux, the
// conditioning κ = (1 + Σ|c_k|)/|F| (c_k the weights of the powers of μ and
// of μ ln μ, F the flux). The tiers were measured up to κ = TUNED_CONDITIONING
// (the linear law at u = 1); a profile beyond asks its tier for rtol·3/κ.
inline constexpr double TUNED_CONDITIONING = 3.0;
double conditioning(const RadialProfile& profile) noexcept;
const Method& method_for(double rtol, const RadialProfile& profile) noexcept;

// A(l) for separation l ≥ 0 (source radii) and source radius rho > 0
// (Einstein radii); moments as RadialProfile::normalised_moments gives them,
// FAR_FIELD_TERMS of them.
double profile_magnification(double l, double rho, const RadialProfile& profile,
                             std::span<const double> moments, const Method& method) noexcept;

// A brightness profile tabulated at radii 0 = r₀ < r₁ < … < r_n = 1 and
// linear in r between them, with what the magnification needs of it.
struct BrightnessTable {
    std::vector<double> radii;
    std::vector<double> brightness;
    std::vector<double> slopes;   // dI/dr on each of the n rows
    double flux;                  // ∫₀¹ I(r) 2r dr
    std::vector<double> moments;  // ∫₀¹ I r^{2k} 2r dr / flux, FAR_FIELD_TERMS of them
};

// A(l) of a tabulated profile; the cost grows with the number of rows.
double table_magnification(double l, double rho, const BrightnessTable& table, const Method& method);

// The magnification with its derivatives in the geometry: ∂A/∂u at fixed
// ρ (u = lρ) and ∂A/∂ρ at fixed u. The value is the value function's, to
// the bit.
struct Gradient {
    double a;
    double d_u;
    double d_rho;
};

// What a coefficient derivative needs of ∂I/∂c: the profile and its raw
// moments (RadialProfile::raw_moments). For I = c μ^b ln μ (power-2's α)
// by_parts is set: the integral ∫ D(r) I_μ dμ, whose integrand has a ln μ at
// the limb that the rules resolve to only about 1e-8, is taken as
// c ∫ μ^(b+1) ln μ (2A_disc + s ∂_s A_disc) dμ (by parts: r² = 1 − μ², s = ρr),
// whose integrand vanishes there; at b = 0, where I is infinite on the limb,
// this is also the finite form.
struct CoefficientDerivative {
    RadialProfile profile;
    std::array<double, FAR_FIELD_TERMS> raw_moments;
    bool by_parts;
};

// A(l) with its geometric derivatives and d_coefficients[k] = ∂A/∂c_k, one
// for each of `derivatives`.
Gradient profile_gradient(double l, double rho, const RadialProfile& profile, std::span<const double> moments,
                          std::span<const CoefficientDerivative> derivatives,
                          std::span<double> d_coefficients, const Method& method) noexcept;

// A(l) of several profiles at once (bands): magnifications(l, ρ, out) gives
// out[b] = profile_magnification's value for profiles[b], to the bit.
// Profiles of one form (the same powers of μ and limb variable: every band of
// a law, but power-2 bands of different α) share every node and disc, and
// their densities are formed band by band in one loop.
class Bands {
public:
    // Each band computed to rtol as its own profile would be (method_for).
    Bands(std::vector<RadialProfile> profiles, double rtol);
    ~Bands();
    Bands(const Bands&) = delete;
    Bands& operator=(const Bands&) = delete;

    void magnifications(double l, double rho, std::span<double> out);

    struct Group;

private:
    std::vector<RadialProfile> profiles_;
    std::vector<const Method*> methods_;
    std::vector<std::array<double, FAR_FIELD_TERMS>> moments_;
    std::vector<Group> groups_;
};

// profile_gradient and table_gradient where the far-field series serves l:
// from the series at l (far_field_series), to the bit.
Gradient far_law_gradient(const FarFieldSeries& series, double l, double rho, const RadialProfile& profile,
                          std::span<const double> moments, std::span<const CoefficientDerivative> derivatives,
                          std::span<double> d_coefficients) noexcept;
Gradient far_table_gradient(const FarFieldSeries& series, double l, double rho, const BrightnessTable& table,
                            std::span<const std::array<double, FAR_FIELD_TERMS>> hat_moments,
                            std::span<double> d_brightness);

// A table's magnification with its derivatives, d_brightness[j] = ∂A/∂I_j for
// the table's (scaled) brightnesses; hat_moments[j] holds the raw moments of
// the hat function of row radius j (1 there, 0 at the other radii, linear
// between).
Gradient table_gradient(double l, double rho, const BrightnessTable& table,
                        std::span<const std::array<double, FAR_FIELD_TERMS>> hat_moments,
                        std::span<double> d_brightness, const Method& method);

// The gradients of several profiles of one law at once (bands): each band's
// profile, normalised moments, coefficient derivatives and method, all
// bands with as many derivatives.
struct LawBand {
    const RadialProfile* profile;
    std::span<const double> moments;
    std::span<const CoefficientDerivative> derivatives;
    const Method* method;
};

// gradients(l, ρ, out, d) gives out[b] and d[b·n + k] (n derivatives a band)
// as profile_gradient gives them for band b alone, to the bit; the bands
// that take the same nodes share every disc. shared_derivatives: every
// band's coefficient derivatives are the same profiles (every law but
// power-2, whose α derivative carries c), so that their sums are formed once.
class LawBandGradients {
public:
    LawBandGradients(std::span<const LawBand> bands, bool shared_derivatives);
    ~LawBandGradients();
    LawBandGradients(const LawBandGradients&) = delete;
    LawBandGradients& operator=(const LawBandGradients&) = delete;

    void gradients(double l, double rho, std::span<Gradient> out, std::span<double> d_coefficients);

    struct State;

private:
    std::unique_ptr<State> state_;
};

// The same for several tables on one set of radii: out[b] and
// d_brightness[b·n + j] (n rows) as table_gradient gives them for table b.
class TableBandGradients {
public:
    TableBandGradients(std::span<const BrightnessTable* const> tables,
                       std::span<const std::array<double, FAR_FIELD_TERMS>> hat_moments, const Method& method);
    ~TableBandGradients();
    TableBandGradients(const TableBandGradients&) = delete;
    TableBandGradients& operator=(const TableBandGradients&) = delete;

    void gradients(double l, double rho, std::span<Gradient> out, std::span<double> d_brightness);

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Separations below this are taken as 0: the magnification differs from its
// value at l = 0 by less than 1e-13 relative there (it is even in l, with a
// term l² ln l).
inline constexpr double SMALLEST_SEPARATION = 1e-7;

#ifdef LUMEVARO_COUNT_EVALUATIONS
// The discs the value functions have evaluated (tools/tune_accuracy_tiers.cpp).
extern long disc_evaluations;
#endif

}  // namespace lumevaro::limb_darkening
