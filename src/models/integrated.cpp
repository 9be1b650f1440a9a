// The profile-weighted magnifications with the built-in source profile:
// linear limb darkening S(r) = 1 − u(1 − √(1 − r²)) with u = 0.6, normalised
// by its flux as the radial quadrature gives it (BUILTIN_PROFILE_FLUX), so that
// numerator and denominator share the quadrature's truncation; the exact flux
// π(1 − u/3) = 0.8π differs from it in the fourteenth digit.
#include <cmath>
#include <utility>

#include "models/integrated.hpp"
#include "models/models.hpp"

namespace lumevaro {

namespace {
// Linear limb-darkening coefficient, entering as −u.
constexpr double MINUS_LIMB_DARKENING = -0.6;

// builtin_profile as a function object, so that the quadrature binds it at
// compile time.
constexpr auto limb_darkened = [](double r) { return builtin_profile(r); };
}  // namespace

double builtin_profile(double r) noexcept {
    return 1.0 + (1.0 - std::sqrt(1.0 - r * r)) * MINUS_LIMB_DARKENING;
}

ListOutcome integrated_witt_mao_magnification(Separations l, double re, double rstar) {
    return _integrated_witt_mao_magnification(std::move(l), re, rstar, limb_darkened,
                                              BUILTIN_PROFILE_FLUX);
}

Magnifications integrated_heyrovsky_magnification(Separations l, double re, double rstar) {
    return _integrated_heyrovsky_magnification(std::move(l), re, rstar, limb_darkened,
                                               BUILTIN_PROFILE_FLUX);
}

}  // namespace lumevaro
