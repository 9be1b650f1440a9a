// The uniform-disc magnification in a form that stays accurate where the
// disc's edge meets the lens, for the limb-darkened models' quadrature.
#pragma once

namespace lumevaro::limb_darkening {

// Magnification of a uniformly bright disc of radius s at separation u from
// the lens (both in Einstein radii), with delta = u − s supplied by the
// caller to full relative accuracy (it is never formed here by subtraction).
// Relative error within a few ulp wherever u ≤ 3s; further out the closed
// form cancels as (u/s)² (see far_field.hpp for that regime).
double uniform_disc(double u, double s, double delta) noexcept;

// The same with the lens on the disc's edge (u = s).
double uniform_disc_on_edge(double s) noexcept;

}  // namespace lumevaro::limb_darkening
