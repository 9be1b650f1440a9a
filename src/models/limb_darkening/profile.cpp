// The standard limb-darkening laws (Claret's conventions, I = 1 at the
// centre, μ = √(1 − r²)) written as sums of powers of μ:
//
//   uniform       1
//   linear        1 − u(1 − μ)                  = (1 − u) + u μ
//   quadratic     1 − u1(1 − μ) − u2(1 − μ)²    = (1 − u1 − u2) + (u1 + 2u2) μ − u2 μ²
//   square-root   1 − c(1 − μ) − d(1 − √μ)      = (1 − c − d) + c μ + d μ^½
//   logarithmic   1 − e(1 − μ) − f μ ln μ       = (1 − e) + e μ − f μ ln μ
//   power-2       1 − c(1 − μ^α)                = (1 − c) + c μ^α
//   claret        1 − Σ aₖ(1 − μ^(k/2))         = (1 − Σ aₖ) + Σ aₖ μ^(k/2)
//
// Moments. With b = (a + 2)/2, ∫₀¹ μ^a (1 − μ²)^k 2μ dμ = B(b, k + 1)
// = k!/(b(b + 1)···(b + k)), built up as J₀ = 1/b, J_k = J_{k−1}·k/(b + k);
// a term μ^a ln μ is the derivative in a, J_k·(−½)Σ_{j≤k} 1/(b + j). The flux is the moment of order 0.
#include "models/limb_darkening/profile.hpp"

#include <algorithm>
#include <cmath>

namespace lumevaro::limb_darkening {

const std::array<LawDescription, LAW_COUNT> LAWS{{
    {Law::uniform, "uniform", "", 0},
    {Law::linear, "linear", "u", 1},
    {Law::quadratic, "quadratic", "u1, u2", 2},
    {Law::square_root, "square-root", "c, d", 2},
    {Law::logarithmic, "logarithmic", "e, f", 2},
    {Law::power_2, "power-2", "c, alpha", 2},
    {Law::claret, "claret", "a1, a2, a3, a4", 4},
}};

std::optional<Law> law_named(std::string_view name) noexcept {
    for (const LawDescription& description : LAWS) {
        if (description.name == name) return description.law;
    }
    return std::nullopt;
}

const LawDescription& describe(Law law) noexcept {
    for (const LawDescription& description : LAWS) {
        if (description.law == law) return description;
    }
    return LAWS[0];
}

void RadialProfile::add(double coefficient, double exponent) noexcept {
    terms_[term_count_++] = Term{coefficient, exponent};
}

RadialProfile::RadialProfile(Law law, std::span<const double> c) noexcept {
    switch (law) {
        case Law::uniform:
            add(1.0, 0.0);
            break;
        case Law::linear:
            add(1.0 - c[0], 0.0);
            add(c[0], 1.0);
            break;
        case Law::quadratic:
            add((1.0 - c[0]) - c[1], 0.0);
            add(c[0] + 2.0 * c[1], 1.0);
            add(-c[1], 2.0);
            break;
        case Law::square_root:
            add((1.0 - c[0]) - c[1], 0.0);
            add(c[0], 1.0);
            add(c[1], 0.5);
            break;
        case Law::logarithmic:
            add(1.0 - c[0], 0.0);
            add(c[0], 1.0);
            log_coefficient_ = -c[1];
            break;
        case Law::power_2:
            add(1.0 - c[0], 0.0);
            // α = 0 makes μ^α ≡ 1: a uniform source, whatever c.
            if (c[1] == 0.0) {
                terms_[0].coefficient = 1.0;
            } else {
                add(c[0], c[1]);
                // k = 1/α makes μ^(α−1) dμ smooth in x. From α = 1 on, k = 1
                // leaves x^(α−1) dx, whose slope is infinite at the limb for
                // α < 2 (measured: 1e-9 for α near 1 at the finest rules);
                // there k = 2 softens it to x^(2α−1) dx (below 1e-14).
                const double alpha = c[1];
                limb_exponent_ = alpha < 1.0   ? std::fmin(1.0 / alpha, MAX_LIMB_EXPONENT)
                                 : alpha < 2.0 ? (alpha == 1.0 ? 1.0 : 2.0)
                                               : 1.0;
            }
            break;
        case Law::claret:
            add((((1.0 - c[0]) - c[1]) - c[2]) - c[3], 0.0);
            add(c[0], 0.5);
            add(c[1], 1.0);
            add(c[2], 1.5);
            add(c[3], 2.0);
            break;
    }
    set_flux();
}

void RadialProfile::set_flux() noexcept {
    std::array<double, 1> flux{};
    raw_moments(flux);
    flux_ = flux[0];
}

RadialProfile RadialProfile::coefficient_derivative(Law law, std::span<const double> coefficients,
                                                    int k) noexcept {
    RadialProfile derivative;
    if (law == Law::power_2 && k == 1) {
        // ∂/∂α of c μ^α: c μ^α ln μ.
        derivative.add(0.0, 0.0);
        derivative.log_coefficient_ = coefficients[0];
        derivative.log_exponent_ = coefficients[1];
        derivative.limb_exponent_ = RadialProfile(law, coefficients).limb_exponent_;
    } else {
        // The profile is affine in c_k: its derivative is the profile at the
        // unit coefficient less the one at none (I = 1), with the other
        // coefficients (power-2's α) kept.
        std::array<double, 4> unit{};
        if (law == Law::power_2) unit[1] = coefficients[1];
        unit[static_cast<std::size_t>(k)] = 1.0;
        const RadialProfile full(law, std::span<const double>(unit.data(), coefficients.size()));
        // Only the terms c_k moves; the constant one always.
        derivative.add(full.terms_[0].coefficient - 1.0, 0.0);
        const int count = std::min(full.term_count_, static_cast<int>(full.terms_.size()));
        for (int i = 1; i < count; ++i) {
            if (full.terms_[i].coefficient != 0.0) derivative.add(full.terms_[i].coefficient, full.terms_[i].exponent);
        }
        derivative.log_coefficient_ = full.log_coefficient_;
        derivative.limb_exponent_ = full.limb_exponent_;
    }
    derivative.set_flux();
    return derivative;
}

double RadialProfile::intensity(double mu) const noexcept {
    double sum = 0.0;
    for (int i = 0; i < term_count_; ++i) {
        const Term& term = terms_[i];
        sum += term.exponent == 0.0 ? term.coefficient : term.coefficient * std::pow(mu, term.exponent);
    }
    if (log_coefficient_ != 0.0 && mu > 0.0) {
        sum += log_exponent_ == 1.0 ? log_coefficient_ * mu * std::log(mu)
                                    : log_coefficient_ * std::pow(mu, log_exponent_) * std::log(mu);
    }
    return sum;
}

bool RadialProfile::uniform() const noexcept {
    for (int i = 1; i < term_count_; ++i) {
        if (terms_[i].coefficient != 0.0) return false;
    }
    return log_coefficient_ == 0.0;
}

bool RadialProfile::constant_slope() const noexcept {
    for (int i = 1; i < term_count_; ++i) {
        if (terms_[i].exponent != 1.0) return false;
    }
    return log_coefficient_ == 0.0;
}

double RadialProfile::limb_intensity() const noexcept {
    // Every exponent but 0 is positive, so only the constant term survives.
    return terms_[0].coefficient;
}

double RadialProfile::slope(double mu) const noexcept {
    double sum = 0.0;
    double root = -1.0;  // √μ, once needed
    for (int i = 1; i < term_count_; ++i) {
        const Term& term = terms_[i];
        if (term.exponent == 1.0) {
            sum += term.coefficient;
        } else if (term.exponent == 2.0) {
            sum += 2.0 * term.coefficient * mu;
        } else if (term.exponent == 0.5 || term.exponent == 1.5) {
            if (root < 0.0) root = std::sqrt(mu);
            sum += term.exponent == 0.5 ? (0.5 * term.coefficient) / root : (1.5 * term.coefficient) * root;
        } else {
            sum += term.coefficient * term.exponent * std::pow(mu, term.exponent - 1.0);
        }
    }
    if (log_coefficient_ != 0.0) {
        // d(μ^b ln μ)/dμ = μ^(b−1) (b ln μ + 1)
        sum += log_exponent_ == 1.0
                   ? log_coefficient_ * (std::log(mu) + 1.0)
                   : log_coefficient_ * std::pow(mu, log_exponent_ - 1.0) * (log_exponent_ * std::log(mu) + 1.0);
    }
    return sum;
}

void RadialProfile::raw_moments(std::span<double> moments) const noexcept {
    for (double& moment : moments) moment = 0.0;
    for (int i = 0; i < term_count_; ++i) {
        const double b = (terms_[i].exponent + 2.0) / 2.0;
        double j = 1.0 / b;
        for (std::size_t k = 0; k < moments.size(); ++k) {
            if (k > 0) j = j * static_cast<double>(k) / (b + static_cast<double>(k));
            moments[k] += terms_[i].coefficient * j;
        }
    }
    if (log_coefficient_ != 0.0) {
        const double b = (log_exponent_ + 2.0) / 2.0;
        double j = 1.0 / b;
        double harmonic = 1.0 / b;
        for (std::size_t k = 0; k < moments.size(); ++k) {
            if (k > 0) {
                j = j * static_cast<double>(k) / (b + static_cast<double>(k));
                harmonic += 1.0 / (b + static_cast<double>(k));
            }
            moments[k] += log_coefficient_ * (-0.5 * j * harmonic);
        }
    }
}

void RadialProfile::normalised_moments(std::span<double> moments) const noexcept {
    raw_moments(moments);
    for (double& moment : moments) moment = moment / flux_;
}

}  // namespace lumevaro::limb_darkening
