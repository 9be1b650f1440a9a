// Radial brightness profiles of a limb-darkened source: the standard laws as
// functions of μ = √(1 − r²), with the quantities the magnification needs.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lumevaro::limb_darkening {

enum class Law { uniform, linear, quadratic, square_root, logarithmic, power_2, claret };

inline constexpr int LAW_COUNT = 7;

struct LawDescription {
    Law law;
    std::string_view name;
    std::string_view coefficient_names;  // e.g. "u1, u2"; empty for none
    int coefficient_count;
};

// In the order the documentation lists them.
extern const std::array<LawDescription, LAW_COUNT> LAWS;

std::optional<Law> law_named(std::string_view name) noexcept;
const LawDescription& describe(Law law) noexcept;

// I(μ) = Σ_a c_a μ^a + c_log μ^b ln μ (b = 1 for the laws), normalised to
// I = 1 at the centre.
class RadialProfile {
public:
    // The coefficients must be as many as the law takes.
    RadialProfile(Law law, std::span<const double> coefficients) noexcept;

    // ∂I/∂c_k, the derivative of the law's profile in its coefficient k, as
    // a profile of the same form (not normalised: I = 0 at the centre). Every
    // law is affine in its coefficients, but for power-2's exponent α, whose
    // derivative is c μ^α ln μ (at α = 0, c ln μ: infinite on the limb, which
    // the quadrature integrates by parts, quadrature.hpp).
    static RadialProfile coefficient_derivative(Law law, std::span<const double> coefficients, int k) noexcept;

    double intensity(double mu) const noexcept;
    // I at the limb, μ = 0.
    double limb_intensity() const noexcept;
    // dI/dμ.
    double slope(double mu) const noexcept;
    // I the same everywhere (the uniform law, or coefficients that make it so).
    bool uniform() const noexcept;
    // dI/dμ the same everywhere, bit for bit: no term but the constant one
    // and μ's (the linear law, and its coefficient's derivative).
    bool constant_slope() const noexcept;
    // F = ∫₀¹ I(μ) 2μ dμ = ∫₀¹ I(r) 2r dr.
    double flux() const noexcept { return flux_; }
    // ∫₀¹ I (1 − μ²)^k 2μ dμ = ∫₀¹ I r^{2k} 2r dr for k = 0, 1, ...
    void raw_moments(std::span<double> moments) const noexcept;
    // moments[k] = ∫₀¹ I r^{2k} 2r dr / F.
    void normalised_moments(std::span<double> moments) const noexcept;
    // The exponent k of the limb variable x, μ ≈ (π/2)x^k near the limb, that
    // makes I_μ dμ smooth there: 2 for every law but power-2, whose μ^(α−1)
    // needs k = 1/α.
    double limb_exponent() const noexcept { return limb_exponent_; }
    // True when the profile is (1 − c) + c μ^α with the limb variable
    // k = 1/α (power-2 with α ≤ 1); then c and α.
    bool power_variable() const noexcept { return term_count_ == 2 && limb_exponent_ * terms_[1].exponent == 1.0; }
    double power_coefficient() const noexcept { return terms_[1].coefficient; }
    double power_exponent() const noexcept { return terms_[1].exponent; }
    // The terms c·μ^a in order (the first the constant), and c_log, b.
    int term_count() const noexcept { return term_count_; }
    double term_coefficient(int i) const noexcept { return terms_[i].coefficient; }
    double term_exponent(int i) const noexcept { return terms_[i].exponent; }
    double log_coefficient() const noexcept { return log_coefficient_; }
    double log_exponent() const noexcept { return log_exponent_; }

private:
    // Terms c·μ^a; at most five of them (Claret's law).
    struct Term {
        double coefficient;
        double exponent;
    };
    std::array<Term, 5> terms_{};
    int term_count_ = 0;
    double log_coefficient_ = 0.0;
    double log_exponent_ = 1.0;
    double flux_ = 0.0;
    double limb_exponent_ = 2.0;
    // Beyond this the limb variable would crowd every node onto the limb.
    static constexpr double MAX_LIMB_EXPONENT = 20.0;

    RadialProfile() noexcept = default;
    void add(double coefficient, double exponent) noexcept;
    void set_flux() noexcept;
};

}  // namespace lumevaro::limb_darkening
