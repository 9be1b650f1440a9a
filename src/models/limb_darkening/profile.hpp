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

// I(μ) = Σ_a c_a μ^a + c_log μ ln μ, normalised to I = 1 at the centre.
class RadialProfile {
public:
    // The coefficients must be as many as the law takes.
    RadialProfile(Law law, std::span<const double> coefficients) noexcept;

    double intensity(double mu) const noexcept;
    // I at the limb, μ = 0.
    double limb_intensity() const noexcept;
    // dI/dμ.
    double slope(double mu) const noexcept;
    // F = ∫₀¹ I(μ) 2μ dμ = ∫₀¹ I(r) 2r dr.
    double flux() const noexcept { return flux_; }
    // moments[k] = ∫₀¹ I r^{2k} 2r dr / F.
    void normalised_moments(std::span<double> moments) const noexcept;
    // The exponent k of the limb variable x, μ ≈ (π/2)x^k near the limb, that
    // makes I_μ dμ smooth there: 2 for every law but power-2, whose μ^(α−1)
    // needs k = 1/α.
    double limb_exponent() const noexcept { return limb_exponent_; }

private:
    // Terms c·μ^a; at most five of them (Claret's law).
    struct Term {
        double coefficient;
        double exponent;
    };
    std::array<Term, 5> terms_{};
    int term_count_ = 0;
    double log_coefficient_ = 0.0;
    double flux_ = 0.0;
    double limb_exponent_ = 2.0;
    // Beyond this the limb variable would crowd every node onto the limb.
    static constexpr double MAX_LIMB_EXPONENT = 16.0;

    void add(double coefficient, double exponent) noexcept;
    // ∫₀¹ (c_a μ^a + c_log μ ln μ) (1 − μ²)^k 2μ dμ for k = 0, 1, ...
    void raw_moments(std::span<double> moments) const noexcept;
};

}  // namespace lumevaro::limb_darkening
