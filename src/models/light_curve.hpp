// Light curves: the magnification of a limb-darkened source moving on a
// straight line past a point lens, with its exact derivatives in the
// event's parameters.
//
// At time t the lens-source separation, in Einstein radii, is
//
//   τ = (t − t0)/tE,   u = √(u0² + τ²),
//
// and A(t) is the limb-darkened magnification at l = u/ρ (source radii) of
// a source of radius ρ (Einstein radii): limb_darkened_magnification(u/ρ,
// 1, ρ, law, coefficients) to the bit wherever u/ρ is finite. By the chain
// rule, with A_u = ∂A/∂u at fixed ρ,
//
//   ∂A/∂t0 = −A_u (τ/u)/tE,   ∂A/∂tE = τ ∂A/∂t0,   ∂A/∂u0 = A_u (u0/u),
//
// and ∂A/∂ρ, ∂A/∂c_k are the magnification's own (u does not depend on
// them). The ratios τ/u and u0/u lie in [−1, 1]; where one is 0 its term is
// 0 even on the limb, where A_u is infinite: there A is stationary along it
// (u0 = 0 by symmetry, τ = 0 at closest approach), and at u = 0 every
// derivative in u vanishes (A is even in u). Where u/ρ overflows, A is 1 and
// its derivatives 0, the limit far beyond any double's reach.
//
// t, t0, u0, tE and ρ broadcast together (numpy's rules) to the shape of the
// result. The profile is a law with coefficients of shape (n,) or, for
// several bands at once, (bands, n); or law "table" with brightnesses as
// coefficients at the radii given (shared by the bands). Every argument is
// checked: a bad one is an InvalidArgument naming it, with its index.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "models/array.hpp"
#include "models/checked.hpp"
#include "models/limb_darkening.hpp"

namespace lumevaro {

// The radii of a tabulated profile, given only with law "table".
struct TableRadii {
    std::optional<std::vector<double>> radii;
};

// A light curve with its Jacobian: a of the broadcast shape S (bands, *S
// for several bands), jacobian of shape (*S, 4 + n) (bands, *S, 4 + n), its
// last axis ∂A/∂(t0, u0, tE, ρ, c_0, …, c_{n−1}).
struct LightCurveJacobian {
    Array a;
    Array jacobian;
};

Checked<Array> light_curve(Array t, Array t0, Array u0, Array tE, Array rho, std::string law, Array coefficients,
                           Accuracy accuracy = {}, TableRadii radii = {});

Checked<LightCurveJacobian> light_curve_jacobian(Array t, Array t0, Array u0, Array tE, Array rho, std::string law,
                                                 Array coefficients, Accuracy accuracy = {}, TableRadii radii = {});

// The limb-darkened magnification at separations l (source radii) of a source
// of radius rstar/re, its profile given as the light curves take it (a law,
// or "table" with radii; coefficients of shape (n,) or (bands, n)): a of
// shape ([bands,] *l.shape), to the bit the value functions' for that
// profile; with its derivatives, those of the gradient functions, laid out
// as they lay them out (d_coefficients of shape ([bands,] n, *l.shape)).
// The interface the adapters (lumevaro.jax) call.
Checked<Array> profile_magnification(Array l, double re, double rstar, std::string law, Array coefficients,
                                     Accuracy accuracy = {}, TableRadii radii = {});
Checked<MagnificationGradient> profile_magnification_gradient(Array l, double re, double rstar, std::string law,
                                                              Array coefficients, Accuracy accuracy = {},
                                                              TableRadii radii = {});

}  // namespace lumevaro
