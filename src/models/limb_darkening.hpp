// Physically limb-darkened magnification: the flux-weighted mean of the
// point-source magnification over a source disc whose surface brightness
// follows a standard limb-darkening law or a tabulated radial profile,
//
//   A(l) = ∫₀¹ I(r) A_ring(l, r) 2r dr / ∫₀¹ I(r) 2r dr,
//
// accurate to 1e-10 relative (see limb_darkening/quadrature.cpp).
//
// Arguments are checked: separations finite and ≥ 0, re and rstar finite and
// positive, the law known with as many finite coefficients as it takes, the
// table ascending from exactly 0 to exactly 1 with finite non-negative
// brightnesses not all zero. A bad argument gives an InvalidArgument that
// names it (with the index for list items).
#pragma once

#include <string>
#include <vector>

#include "models/checked.hpp"
#include "models/models.hpp"

namespace lumevaro {

Checked<Magnifications> limb_darkened_magnification(Separations l, double re, double rstar,
                                                    std::string law, std::vector<double> coefficients);

Checked<Magnifications> tabulated_limb_darkened_magnification(Separations l, double re, double rstar,
                                                              std::vector<double> bl,
                                                              std::vector<double> bf);

}  // namespace lumevaro
