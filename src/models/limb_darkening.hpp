// Physically limb-darkened magnification: the flux-weighted mean of the
// point-source magnification over a source disc whose surface brightness
// follows a standard limb-darkening law or a tabulated radial profile,
//
//   A(l) = ∫₀¹ I(r) A_ring(l, r) 2r dr / ∫₀¹ I(r) 2r dr,
//
// accurate to rtol relative, 1e-10 by default (see limb_darkening/quadrature.cpp).
//
// Arguments are checked: separations finite and ≥ 0, re and rstar finite and
// positive, the law known with as many finite coefficients as it takes, the
// table ascending from exactly 0 to exactly 1 with finite non-negative
// brightnesses not all zero, rtol within [TIGHTEST_RTOL, LOOSEST_RTOL]. A bad
// argument gives an InvalidArgument that names it (with the index for list
// items).
#pragma once

#include <string>
#include <vector>

#include "models/checked.hpp"
#include "models/models.hpp"

namespace lumevaro {

// The relative accuracy a call asks for by default, and the range it may ask
// for: the error against the exact integral stays within rtol.
inline constexpr double DEFAULT_RTOL = 1e-10;
inline constexpr double TIGHTEST_RTOL = 1e-11;
inline constexpr double LOOSEST_RTOL = 1e-2;

// The accuracy a call asks for (in Python the keyword-only argument rtol).
struct Accuracy {
    double rtol = DEFAULT_RTOL;
};

// The magnifications with their derivatives at each separation: in u = lρ
// at fixed ρ, in ρ at fixed u, and in each coefficient (d_coefficients[k][i]
// for coefficient k at separation i; for a table, each brightness bf[k]).
struct MagnificationGradient {
    Magnifications a;
    Magnifications d_u;
    Magnifications d_rho;
    std::vector<Magnifications> d_coefficients;
};

Checked<Magnifications> limb_darkened_magnification(Separations l, double re, double rstar, std::string law,
                                                    std::vector<double> coefficients, Accuracy accuracy = {});

Checked<Magnifications> tabulated_limb_darkened_magnification(Separations l, double re, double rstar,
                                                              std::vector<double> bl,
                                                              std::vector<double> bf, Accuracy accuracy = {});

Checked<MagnificationGradient> limb_darkened_magnification_gradient(Separations l, double re, double rstar,
                                                                    std::string law,
                                                                    std::vector<double> coefficients,
                                                                    Accuracy accuracy = {});

Checked<MagnificationGradient> tabulated_limb_darkened_magnification_gradient(Separations l, double re,
                                                                              double rstar,
                                                                              std::vector<double> bl,
                                                                              std::vector<double> bf,
                                                                              Accuracy accuracy = {});

// One list of magnifications per band, each band a law's coefficients.
Checked<std::vector<Magnifications>> limb_darkened_magnification_bands(Separations l, double re,
                                                                       double rstar, std::string law,
                                                                       std::vector<std::vector<double>> bands,
                                                                       Accuracy accuracy = {});

}  // namespace lumevaro
