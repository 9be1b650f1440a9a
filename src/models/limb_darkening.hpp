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

#include "models/array.hpp"
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
// at fixed ρ, in ρ at fixed u, and in each coefficient (for a table, each
// brightness bf[k]). a, d_u and d_rho have the separations' shape (with a
// leading axis of bands for the bands functions); d_coefficients has one
// more axis, of the coefficients, before the separations'.
struct MagnificationGradient {
    Array a;
    Array d_u;
    Array d_rho;
    Array d_coefficients;
};

// Separations l of any shape; results of that shape.
Checked<Array> limb_darkened_magnification(Array l, double re, double rstar, std::string law,
                                           std::vector<double> coefficients, Accuracy accuracy = {});

Checked<Array> tabulated_limb_darkened_magnification(Array l, double re, double rstar, std::vector<double> bl,
                                                     std::vector<double> bf, Accuracy accuracy = {});

Checked<MagnificationGradient> limb_darkened_magnification_gradient(Array l, double re, double rstar,
                                                                    std::string law,
                                                                    std::vector<double> coefficients,
                                                                    Accuracy accuracy = {});

Checked<MagnificationGradient> tabulated_limb_darkened_magnification_gradient(Array l, double re, double rstar,
                                                                              std::vector<double> bl,
                                                                              std::vector<double> bf,
                                                                              Accuracy accuracy = {});

// One array of magnifications per band, each band a law's coefficients:
// shape (bands, *l.shape).
Checked<Array> limb_darkened_magnification_bands(Array l, double re, double rstar, std::string law,
                                                 std::vector<std::vector<double>> bands, Accuracy accuracy = {});

// The bands' magnifications with their derivatives: a, d_u and d_rho of
// shape (bands, *l.shape), d_coefficients (bands, coefficients, *l.shape),
// each band the one-band gradient's to the bit.
Checked<MagnificationGradient> limb_darkened_magnification_bands_gradient(Array l, double re, double rstar,
                                                                          std::string law,
                                                                          std::vector<std::vector<double>> bands,
                                                                          Accuracy accuracy = {});

}  // namespace lumevaro
