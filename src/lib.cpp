// The lumevaro extension module, lumevaro._lumevaro, which the package
// lumevaro (python/lumevaro/__init__.py) re-exports whole: its
// initialisation function and the one table of module functions.
//
// Each row of MODULE_FUNCTIONS names a Python function, its parameters, its
// docstring and the model routine behind it; the routine's C++ signature
// fixes how each argument is converted. The rows' order is the order of
// registration and of __all__. Adding a function is adding a row.
//
// Every docstring opens with CPython's text-signature form
// "name(params)\n--\n\n", so that __text_signature__ shows the parameters.
// The first seven functions' docstrings are that alone (their __doc__ is
// None); the limb-darkened functions after them carry a full description.
//
// The module is single-phase initialised and lives in one interpreter per
// process: the first interpreter to import it is recorded, and an import
// from any other fails with ImportError. The module object is created once;
// a later initialisation in the same interpreter (an import after the module
// was removed from sys.modules) returns the same object. Beside the functions
// it holds __all__ and __version__, the package version it was built as. The
// functions' __module__ is "lumevaro", the package that users import and
// that pickle finds them in.
#include <Python.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "boundary/arguments.hpp"
#include "boundary/arrays.hpp"
#include "boundary/conversion.hpp"
#include "boundary/function.hpp"
#include "boundary/pyerr.hpp"
#include "boundary/reference.hpp"
#include "boundary/trampoline.hpp"
#include "models/internal_failure.hpp"
#include "models/light_curve.hpp"
#include "models/limb_darkening.hpp"
#include "models/models.hpp"

#ifndef LUMEVARO_VERSION
#error "LUMEVARO_VERSION (the package version) must be defined by the build"
#endif

namespace lumevaro {
namespace {

using boundary::cannot_convert;
using boundary::FunctionDescription;
using boundary::OnceCell;
using boundary::MaybeError;
using boundary::Owned;
using boundary::PyErr;
using boundary::PyResult;

template <class Result, class... Params>
struct ModuleFunction {
    const char* name;
    std::array<std::string_view, sizeof...(Params)> parameters;
    const char* doc;
    Result (*model)(Params...);
    // The first `positional` parameters are positional-or-keyword, the rest
    // keyword-only with defaults (boundary/function.hpp).
    static constexpr std::size_t positional = boundary::POSITIONAL_COUNT<std::decay_t<Params>...>;
};

template <class Result, class... Params>
constexpr ModuleFunction<Result, Params...> module_function(
    const char* name, std::array<std::string_view, sizeof...(Params)> parameters,
    const char* doc, Result (*model)(Params...)) {
    return {name, parameters, doc, model};
}

// The array functions' Raises section.
#define LUMEVARO_RAISES_SECTION \
    "Raises\n"                  \
    "------\n"                  \
    "ValueError\n"              \
    "    For any bad value, naming the argument (and the index of an element).\n"

constexpr const char* LIMB_DARKENED_DOC =
    "limb_darkened_magnification(l, re, rstar, law, coefficients, *, rtol=1e-10)\n--\n\n"
    "Magnification of a limb-darkened source by a point-mass lens.\n"
    "\n"
    "The flux-weighted mean of the point-source magnification over the source\n"
    "disc, A(l) = integral of I(r) A_ring(l, r) 2r dr / integral of I(r) 2r dr\n"
    "over 0 <= r <= 1, for a surface brightness I given by a standard law in\n"
    "mu = sqrt(1 - r**2), with I = 1 at the centre::\n"
    "\n"
    "    'uniform'      []                I = 1\n"
    "    'linear'       [u]               I = 1 - u(1 - mu)\n"
    "    'quadratic'    [u1, u2]          I = 1 - u1(1 - mu) - u2(1 - mu)**2\n"
    "    'square-root'  [c, d]            I = 1 - c(1 - mu) - d(1 - sqrt(mu))\n"
    "    'logarithmic'  [e, f]            I = 1 - e(1 - mu) - f mu ln(mu)\n"
    "    'power-2'      [c, alpha]        I = 1 - c(1 - mu**alpha)\n"
    "    'claret'       [a1, a2, a3, a4]  I = 1 - sum a_k (1 - mu**(k/2))\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "l : array_like of float, any shape\n"
    "    Lens-source separations in source radii (l = 1: the lens on the limb),\n"
    "    finite and >= 0: a number, a (nested) list, or an array of any real\n"
    "    dtype.\n"
    "re, rstar : float\n"
    "    Einstein radius and source radius in one unit, finite and > 0; only\n"
    "    rho = rstar/re enters (1e-50 <= rho <= 1e50).\n"
    "law : str\n"
    "    One of the names above.\n"
    "coefficients : sequence of float\n"
    "    The law's coefficients, as many as it takes, each between -1e6 and\n"
    "    1e6 (power-2's alpha 0, or between 0.05 and 10). Coefficients that make I\n"
    "    negative somewhere are computed as written.\n"
    "rtol : float, keyword only\n"
    "    The relative accuracy asked for, from 1e-11 to 0.01 (default 1e-10).\n"
    "    A looser accuracy takes fewer nodes: about 3 times faster at 1e-3.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "numpy.ndarray of float64, shape of l\n"
    "    The magnification at each separation.\n"
    "\n"
    LUMEVARO_RAISES_SECTION
    "\n"
    "Notes\n"
    "-----\n"
    "Accuracy: within rtol relative for rho from 1e-4 to 1e3 (measured worst\n"
    "against 30-digit references: 8e-12 at the default, 1.3e-3 at 0.01,\n"
    "1.8e-4 at 1e-3, 1.2e-7 at 1e-6), smooth in l and rho. Near the lens the\n"
    "integral is summed over graded Gauss-Legendre nodes of the uniform disc;\n"
    "from l = 1.2 to 2 on (by rtol), a series in (1/l)**2 with the profile's\n"
    "moments, stopped once its terms fall below rtol.\n";

constexpr const char* TABULATED_LIMB_DARKENED_DOC =
    "tabulated_limb_darkened_magnification(l, re, rstar, bl, bf, *, rtol=1e-10)\n--\n\n"
    "Magnification of a source with a tabulated brightness profile.\n"
    "\n"
    "As limb_darkened_magnification, for a surface brightness I(r) given at\n"
    "radii bl and linear in r between them.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "l : array_like of float, any shape\n"
    "    Lens-source separations in source radii, finite and >= 0.\n"
    "re, rstar : float\n"
    "    Einstein radius and source radius in one unit, finite and > 0; only\n"
    "    rho = rstar/re enters.\n"
    "bl : sequence of float\n"
    "    Radii in source radii, strictly ascending from exactly 0 to exactly 1,\n"
    "    rows at least 1e-6 wide.\n"
    "bf : sequence of float\n"
    "    Surface brightness at those radii, finite, >= 0 and not all zero; any\n"
    "    scale (only the shape matters).\n"
    "rtol : float, keyword only\n"
    "    The relative accuracy asked for, as for limb_darkened_magnification.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "numpy.ndarray of float64, shape of l\n"
    "    The magnification at each separation.\n"
    "\n"
    LUMEVARO_RAISES_SECTION
    "\n"
    "Notes\n"
    "-----\n"
    "Accuracy: within rtol relative for the piecewise-linear profile. The\n"
    "cost grows with the number of rows (each row is a piece of the\n"
    "quadrature).\n";

constexpr const char* LIMB_DARKENED_GRADIENT_DOC =
    "limb_darkened_magnification_gradient(l, re, rstar, law, coefficients, *, rtol=1e-10)\n--\n\n"
    "Limb-darkened magnification with its exact derivatives.\n"
    "\n"
    "The magnification A of limb_darkened_magnification, to the bit, with its\n"
    "derivatives in the separation, the source size and the law's\n"
    "coefficients, from one pass over the same quadrature nodes (differentiated\n"
    "under the integral, not by finite differences).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "l, re, rstar, law, coefficients, rtol :\n"
    "    As for limb_darkened_magnification, with the same checks; the value\n"
    "    and its derivatives come from the nodes of that accuracy.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "a : numpy.ndarray of float64, shape of l\n"
    "    The magnifications.\n"
    "da_du : numpy.ndarray of float64, shape of l\n"
    "    dA/du at fixed rho, u = l rho the separation in Einstein radii\n"
    "    (rho = rstar/re); 0 at l = 0.\n"
    "da_drho : numpy.ndarray of float64, shape of l\n"
    "    dA/drho at fixed u.\n"
    "da_dcoefficients : numpy.ndarray of float64, shape (n,) + l.shape\n"
    "    dA/dc for the n coefficients, one row each (power-2: c, then alpha).\n"
    "\n"
    LUMEVARO_RAISES_SECTION
    "\n"
    "Notes\n"
    "-----\n"
    "For a source on a straight line, light_curve_jacobian gives the\n"
    "derivatives in (t0, u0, tE, rho) directly, correct at u = 0 and on the\n"
    "limb.\n"
    "\n"
    "Accuracy: within max(2 rtol, 1e-8) of high-precision references (3e-9\n"
    "at the default), relative to abs(dA) + A/rho for the u and rho\n"
    "derivatives and abs(dA) + A for the coefficient ones. The derivatives grow like\n"
    "ln|l - 1| near the limb; exactly on it (l = 1) dA/du and dA/drho are\n"
    "infinite for a law bright at the limb (-inf and +inf when I(limb) > 0),\n"
    "never NaN. Where the value comes from the far-field series, so do they.\n";

constexpr const char* TABULATED_LIMB_DARKENED_GRADIENT_DOC =
    "tabulated_limb_darkened_magnification_gradient(l, re, rstar, bl, bf, *, rtol=1e-10)\n--\n\n"
    "Tabulated-profile magnification with its exact derivatives.\n"
    "\n"
    "The magnification of tabulated_limb_darkened_magnification, to the bit,\n"
    "with its derivatives in u = l rho at fixed rho, in rho at fixed u, and in\n"
    "each brightness bf[j] (in the caller's units of bf; A does not change when\n"
    "bf is scaled, so sum_j bf[j] dA/dbf[j] = 0).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "l, re, rstar, bl, bf, rtol :\n"
    "    As for tabulated_limb_darkened_magnification, with the same checks.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "a, da_du, da_drho : numpy.ndarray of float64, shape of l\n"
    "    As for limb_darkened_magnification_gradient.\n"
    "da_dbf : numpy.ndarray of float64, shape (len(bf),) + l.shape\n"
    "    dA/dbf, one row per radius of the table.\n"
    "\n"
    LUMEVARO_RAISES_SECTION
    "\n"
    "Notes\n"
    "-----\n"
    "Accuracy: as limb_darkened_magnification_gradient.\n";

constexpr const char* LIMB_DARKENED_BANDS_DOC =
    "limb_darkened_magnification_bands(l, re, rstar, law, bands, *, rtol=1e-10)\n--\n\n"
    "Limb-darkened magnification in several bands at once.\n"
    "\n"
    "One law, one set of coefficients per band (photometric bands, telescopes,\n"
    "wavelength bins): the uniform discs of the quadrature depend only on the\n"
    "geometry and are evaluated once for every band, so that a band costs a\n"
    "few multiplications per node.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "l, re, rstar, law, rtol :\n"
    "    As for limb_darkened_magnification.\n"
    "bands : sequence of sequences of float\n"
    "    The law's coefficients for each band, each as limb_darkened_magnification\n"
    "    takes them (checked the same way; errors name the band, as in\n"
    "    bands[2][1]).\n"
    "\n"
    "Returns\n"
    "-------\n"
    "numpy.ndarray of float64, shape (len(bands),) + l.shape\n"
    "    One row per band, each equal to the bit to limb_darkened_magnification\n"
    "    with that band's coefficients.\n"
    "\n"
    LUMEVARO_RAISES_SECTION;

constexpr const char* LIMB_DARKENED_BANDS_GRADIENT_DOC =
    "limb_darkened_magnification_bands_gradient(l, re, rstar, law, bands, *, rtol=1e-10)\n--\n\n"
    "Limb-darkened magnification with its exact derivatives in several bands.\n"
    "\n"
    "limb_darkened_magnification_gradient for every band at once: the uniform\n"
    "discs of the quadrature and their derivatives depend only on the geometry\n"
    "and are evaluated once for all bands.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "l, re, rstar, law, rtol :\n"
    "    As for limb_darkened_magnification.\n"
    "bands : sequence of sequences of float\n"
    "    The law's coefficients for each band, as limb_darkened_magnification_bands\n"
    "    takes them.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "a, da_du, da_drho : numpy.ndarray of float64, shape (len(bands),) + l.shape\n"
    "    As for limb_darkened_magnification_gradient, one row per band.\n"
    "da_dcoefficients : numpy.ndarray of float64, shape (len(bands), n) + l.shape\n"
    "    dA/dc for each band's n coefficients. Each band equals\n"
    "    limb_darkened_magnification_gradient for that band alone, to the bit.\n"
    "\n"
    LUMEVARO_RAISES_SECTION;

// The light curves' shared description of their arguments.
#define LUMEVARO_LIGHT_CURVE_PARAMETERS                                                          \
    "Parameters\n"                                                                               \
    "----------\n"                                                                               \
    "t : array_like of float, any shape\n"                                                       \
    "    Times, finite, in any unit (days, say).\n"                                              \
    "t0 : array_like of float\n"                                                                 \
    "    Time of closest approach, in the unit of t.\n"                                          \
    "u0 : array_like of float\n"                                                                 \
    "    Impact parameter in Einstein radii, of either sign (A is even in u0).\n"              \
    "tE : array_like of float\n"                                                                 \
    "    Einstein timescale, in the unit of t, finite and > 0.\n"                                \
    "rho : array_like of float\n"                                                                \
    "    Source radius in Einstein radii, 1e-50 to 1e50.\n"                                      \
    "    t, t0, u0, tE and rho broadcast together (numpy's rules): scalars\n"                    \
    "    give the shape of t, arrays a grid of light curves.\n"                                  \
    "law : str\n"                                                                                \
    "    A limb-darkening law as limb_darkened_magnification names them, or\n"                  \
    "    'table' for a tabulated brightness profile (see radii).\n"                             \
    "coefficients : array_like of float, shape (n,) or (bands, n)\n"                            \
    "    The law's n coefficients, as limb_darkened_magnification takes them;\n"                \
    "    with two dimensions, one row per band (all bands computed in one\n"                     \
    "    pass, sharing every disc). For law 'table', the brightness at each\n"                   \
    "    of the radii (any scale; finite, >= 0, not all zero).\n"                               \
    "rtol : float, keyword only\n"                                                               \
    "    The relative accuracy asked for, from 1e-11 to 0.01 (default 1e-10).\n"                 \
    "radii : sequence of float, keyword only\n"                                                  \
    "    For law 'table' only: the radii of the brightnesses, in source radii,\n"               \
    "    strictly ascending from exactly 0 to exactly 1.\n"

#define LUMEVARO_LIGHT_CURVE_MODEL                                                               \
    "The source moves on a straight line past the lens: at time t its\n"                         \
    "separation from the lens, in Einstein radii, is\n"                                          \
    "\n"                                                                                         \
    "    u = sqrt(u0**2 + tau**2),  tau = (t - t0)/tE,\n"                                       \
    "\n"                                                                                         \
    "and A(t) is limb_darkened_magnification(u/rho, 1, rho, law,\n"                              \
    "coefficients), to the bit, wherever u/rho is finite (A = 1 beyond).\n"

constexpr const char* LIGHT_CURVE_DOC =
    "light_curve(t, t0, u0, tE, rho, law, coefficients, *, rtol=1e-10, radii=None)\n--\n\n"
    "Magnification of a limb-darkened source moving past a point lens.\n"
    "\n"
    LUMEVARO_LIGHT_CURVE_MODEL
    "For parallax, orbital motion or any other trajectory, compute u yourself\n"
    "and call limb_darkened_magnification(u/rho, 1, rho, ...).\n"
    "\n"
    LUMEVARO_LIGHT_CURVE_PARAMETERS
    "\n"
    "Returns\n"
    "-------\n"
    "numpy.ndarray of float64\n"
    "    The magnification, of the broadcast shape S of t, t0, u0, tE and rho;\n"
    "    (bands,) + S for coefficients of two dimensions.\n"
    "\n"
    LUMEVARO_RAISES_SECTION
    "\n"
    "Notes\n"
    "-----\n"
    "Accuracy: that of limb_darkened_magnification at rtol.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> import numpy as np, lumevaro\n"
    ">>> t = np.linspace(-1.0, 1.0, 5)\n"
    ">>> a = lumevaro.light_curve(t, 0.0, 0.01, 20.0, 0.05, 'linear', [0.6])\n"
    ">>> a.shape\n"
    "(5,)\n";

constexpr const char* LIGHT_CURVE_JACOBIAN_DOC =
    "light_curve_jacobian(t, t0, u0, tE, rho, law, coefficients, *, rtol=1e-10, radii=None)\n--\n\n"
    "Light curve with its exact Jacobian in the event's parameters.\n"
    "\n"
    LUMEVARO_LIGHT_CURVE_MODEL
    "Its derivatives come from limb_darkened_magnification_gradient's (exact,\n"
    "not finite differences) by the chain rule, with dA/du at fixed rho:\n"
    "\n"
    "    dA/dt0 = -dA/du (tau/u)/tE,  dA/dtE = tau dA/dt0,  dA/du0 = dA/du (u0/u),\n"
    "\n"
    "and dA/drho, dA/dc the magnification's own. Where tau/u or u0/u is 0 the\n"
    "term is 0, also at u = 0 and on the limb (u = rho), where A is stationary\n"
    "along it; elsewhere on the limb the derivatives in u0, tE, t0 and rho are\n"
    "infinite (signed), never NaN, for a law bright at the limb.\n"
    "\n"
    LUMEVARO_LIGHT_CURVE_PARAMETERS
    "\n"
    "Returns\n"
    "-------\n"
    "a : numpy.ndarray of float64\n"
    "    The magnification, of the broadcast shape S ((bands,) + S for\n"
    "    coefficients of two dimensions), equal to light_curve's to the bit.\n"
    "jacobian : numpy.ndarray of float64, shape a.shape + (4 + n,)\n"
    "    Its last axis the derivatives dA/d(t0, u0, tE, rho, coefficient 0,\n"
    "    coefficient 1, ...); for law 'table' the coefficients are the\n"
    "    brightnesses.\n"
    "\n"
    LUMEVARO_RAISES_SECTION
    "\n"
    "Notes\n"
    "-----\n"
    "Accuracy: the derivatives within max(2 rtol, 1e-8) of high-precision\n"
    "references in the measure of limb_darkened_magnification_gradient, carried\n"
    "through the chain rule exactly.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> import numpy as np, lumevaro\n"
    ">>> t = np.linspace(-1.0, 1.0, 5)\n"
    ">>> a, jac = lumevaro.light_curve_jacobian(t, 0.0, 0.01, 20.0, 0.05, 'linear', [0.6])\n"
    ">>> jac.shape\n"
    "(5, 5)\n";

constexpr auto MODULE_FUNCTIONS = std::make_tuple(
    module_function("witt_mao_magnification", {"l", "re", "rstar"},
                    "witt_mao_magnification(l, re, rstar)\n--\n\n",
                    witt_mao_magnification),
    module_function("integrated_witt_mao_magnification", {"l", "re", "rstar"},
                    "integrated_witt_mao_magnification(l, re, rstar)\n--\n\n",
                    integrated_witt_mao_magnification),
    module_function("integrated_flux_map_witt_mao_magnification",
                    {"l", "re", "rstar", "bl", "bf"},
                    "integrated_flux_map_witt_mao_magnification(l, re, rstar, bl, bf)\n--\n\n",
                    integrated_flux_map_witt_mao_magnification),
    module_function("heyrovsky_magnification", {"l", "r", "re", "rstar"},
                    "heyrovsky_magnification(l, r, re, rstar)\n--\n\n",
                    heyrovsky_magnification),
    module_function("integrated_heyrovsky_magnification", {"l", "re", "rstar"},
                    "integrated_heyrovsky_magnification(l, re, rstar)\n--\n\n",
                    integrated_heyrovsky_magnification),
    module_function("integrated_flux_map_heyrovsky_magnification",
                    {"l", "re", "rstar", "bl", "bf"},
                    "integrated_flux_map_heyrovsky_magnification(l, re, rstar, bl, bf)\n--\n\n",
                    integrated_flux_map_heyrovsky_magnification),
    module_function("discrete_flux_map_heyrovsky_magnification",
                    {"l", "re", "rstar", "bl", "bf"},
                    "discrete_flux_map_heyrovsky_magnification(l, re, rstar, bl, bf)\n--\n\n",
                    discrete_flux_map_heyrovsky_magnification),
    module_function("limb_darkened_magnification", {"l", "re", "rstar", "law", "coefficients", "rtol"},
                    LIMB_DARKENED_DOC, limb_darkened_magnification),
    module_function("tabulated_limb_darkened_magnification", {"l", "re", "rstar", "bl", "bf", "rtol"},
                    TABULATED_LIMB_DARKENED_DOC, tabulated_limb_darkened_magnification),
    module_function("limb_darkened_magnification_gradient", {"l", "re", "rstar", "law", "coefficients", "rtol"},
                    LIMB_DARKENED_GRADIENT_DOC, limb_darkened_magnification_gradient),
    module_function("tabulated_limb_darkened_magnification_gradient", {"l", "re", "rstar", "bl", "bf", "rtol"},
                    TABULATED_LIMB_DARKENED_GRADIENT_DOC, tabulated_limb_darkened_magnification_gradient),
    module_function("limb_darkened_magnification_bands", {"l", "re", "rstar", "law", "bands", "rtol"},
                    LIMB_DARKENED_BANDS_DOC, limb_darkened_magnification_bands),
    module_function("limb_darkened_magnification_bands_gradient", {"l", "re", "rstar", "law", "bands", "rtol"},
                    LIMB_DARKENED_BANDS_GRADIENT_DOC, limb_darkened_magnification_bands_gradient),
    module_function("light_curve", {"t", "t0", "u0", "tE", "rho", "law", "coefficients", "rtol", "radii"},
                    LIGHT_CURVE_DOC, light_curve),
    module_function("light_curve_jacobian", {"t", "t0", "u0", "tE", "rho", "law", "coefficients", "rtol", "radii"},
                    LIGHT_CURVE_JACOBIAN_DOC, light_curve_jacobian));

// The functions of the original set, whose docstrings are the bare text
// signature.
constexpr std::size_t SIGNATURE_ONLY_FUNCTIONS = 7;

constexpr std::size_t MODULE_FUNCTION_COUNT = std::tuple_size_v<decltype(MODULE_FUNCTIONS)>;

// True when the docstring opens with "name(p1, p2, ...)\n--\n\n" (keyword-only
// parameters after ", *" with their defaults: ", *, rtol=1e-10"), and
// (signature_only) is exactly that.
template <class Row>
constexpr bool has_text_signature(const Row& row, bool signature_only) {
    const std::string_view doc = row.doc;
    std::size_t position = 0;
    auto take = [&](std::string_view expected) {
        if (doc.substr(position, expected.size()) != expected) return false;
        position += expected.size();
        return true;
    };
    if (!take(row.name) || !take("(")) return false;
    for (std::size_t i = 0; i < row.parameters.size(); ++i) {
        if (row.parameters[i].empty()) return false;
        if (i > 0 && !take(", ")) return false;
        if (i == row.positional && (!take("*") || !take(", "))) return false;
        if (!take(row.parameters[i])) return false;
        if (i >= row.positional) {
            // "=default", up to the next parameter or the end.
            if (!take("=")) return false;
            const std::size_t end = doc.find_first_of(",)", position);
            if (end == std::string_view::npos || end == position) return false;
            position = end;
        }
    }
    return take(")\n--\n\n") && (!signature_only || position == doc.size());
}

static_assert(
    [] {
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return (has_text_signature(std::get<I>(MODULE_FUNCTIONS), I < SIGNATURE_ONLY_FUNCTIONS) &&
                    ...);
        }(std::make_index_sequence<MODULE_FUNCTION_COUNT>{});
    }(),
    "every docstring must open with the text signature of its row, the first seven be only that");

template <std::size_t I>
PyObject* entry_point(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
    const auto& row = std::get<I>(MODULE_FUNCTIONS);
    const FunctionDescription description{row.name, row.parameters, row.positional};
    return boundary::trampoline(row.name, [&] {
        return boundary::call_model(description, row.model, args, nargs, kwnames);
    });
}

template <std::size_t... I>
std::array<PyMethodDef, sizeof...(I)> make_method_definitions(std::index_sequence<I...>) {
    // The fastcall-with-keywords signature travels in ml_meth under the
    // generic PyCFunction type, as CPython's own modules do.
    return {{PyMethodDef{
        std::get<I>(MODULE_FUNCTIONS).name,
        reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry_point<I>)),
        METH_FASTCALL | METH_KEYWORDS, std::get<I>(MODULE_FUNCTIONS).doc}...}};
}

// Never freed: the function objects point into it for as long as they live.
std::array<PyMethodDef, MODULE_FUNCTION_COUNT> method_definitions =
    make_method_definitions(std::make_index_sequence<MODULE_FUNCTION_COUNT>{});

// 1013 is the C API version constant PYTHON_API_VERSION.
constexpr int PYTHON_API_VERSION_1013 = 1013;

constexpr const char* SUBINTERPRETER_MESSAGE =
    "PyO3 modules do not yet support subinterpreters, see "
    "https://docs.python.org/3/c-api/init.html#bugs-and-caveats";

// The package the functions belong to, as users name it.
constexpr const char* PACKAGE_NAME = "lumevaro";

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "lumevaro._lumevaro",
    "Finite-source magnification of a point-mass gravitational lens "
    "(Witt-Mao uniform disc and Heyrovsky thin ring models).",
    0,        // m_size: no per-module state
    nullptr,  // m_methods: the module body adds the functions
    nullptr,  // m_slots
    nullptr,  // m_traverse
    nullptr,  // m_clear
    nullptr,  // m_free
};

// The interpreter that first initialised the module; -1 until then.
std::atomic<std::int64_t> module_interpreter{-1};
OnceCell module_cell;
OnceCell all_name_cell;
OnceCell name_name_cell;

PyObject* interned(OnceCell& cell, std::string_view text) {
    if (PyObject* cached = cell.get()) return cached;
    PyObject* string =
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (string == nullptr) {
        PyErr_Print();
        throw InternalFailure("Python API call failed");
    }
    PyUnicode_InternInPlace(&string);
    return cell.set(Owned::steal(string));
}

// The module's __all__ list, created empty if the module has none yet.
PyResult<Owned> module_all(PyObject* module) {
    PyObject* all_name = interned(all_name_cell, "__all__");
    Owned all = Owned::steal(PyObject_GetAttr(module, all_name));
    if (all) {
        if (!PyList_Check(all.get())) return cannot_convert(all.get(), "PyList");
        return all;
    }
    PyErr error = PyErr::fetch();
    if (!PyErr_GivenExceptionMatches(error.type(), PyExc_AttributeError)) return error;
    Owned list = Owned::steal(PyList_New(0));
    if (!list) return PyErr::fetch();
    if (PyObject_SetAttr(module, all_name, list.get()) < 0) return PyErr::fetch();
    return list;
}

MaybeError add_function(PyObject* module, PyMethodDef* definition) {
    Owned function;
    {
        Owned module_name = Owned::steal(PyUnicode_FromString(PACKAGE_NAME));
        if (!module_name) return PyErr::fetch();
        function = Owned::steal(PyCMethod_New(definition, module, module_name.get(), nullptr));
        if (!function) return PyErr::fetch();
    }

    Owned name = Owned::steal(PyObject_GetAttr(function.get(), interned(name_name_cell, "__name__")));
    if (!name) return PyErr::fetch();
    if (!PyUnicode_Check(name.get())) return cannot_convert(name.get(), "PyString");

    PyResult<Owned> all = module_all(module);
    if (!all) return all.take_error();
    if (PyList_Append(all.take_value().get(), name.get()) < 0) {
        throw InternalFailure("could not append __name__ to __all__: " +
                              PyErr::fetch().describe());
    }

    if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return PyErr::fetch();
    return std::nullopt;
}

MaybeError module_body(PyObject* module) {
    for (PyMethodDef& definition : method_definitions) {
        if (MaybeError error = add_function(module, &definition)) return error;
    }
    // The package version, given by the build; an attribute, not an export.
    if (PyModule_AddStringConstant(module, "__version__", LUMEVARO_VERSION) < 0) {
        return PyErr::fetch();
    }
    return std::nullopt;
}

PyResult<Owned> make_module() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1) return PyErr::fetch();
    std::int64_t first = -1;
    if (!module_interpreter.compare_exchange_strong(first, interpreter,
                                                     std::memory_order_seq_cst) &&
        first != interpreter) {
        return PyErr::deferred(PyExc_ImportError, SUBINTERPRETER_MESSAGE);
    }

    if (PyObject* cached = module_cell.get()) return Owned::borrow(cached);

    // The array functions take and give numpy arrays.
    if (MaybeError error = boundary::import_numpy()) return *std::move(error);
    Owned module = Owned::steal(PyModule_Create2(&module_definition, PYTHON_API_VERSION_1013));
    if (!module) return PyErr::fetch();
    if (MaybeError error = module_body(module.get())) return *std::move(error);
    return Owned::borrow(module_cell.set(std::move(module)));
}

}  // namespace
}  // namespace lumevaro

// The module runs without the GIL on free-threaded CPython. What threads
// share, and why it is safe without the lock:
//   - the cells of objects made once (module, interned names, exception
//     type, array.array's type): OnceCell, filled by compare-and-swap and
//     never emptied (boundary/reference.hpp);
//   - the instruction set in use: atomics, chosen once
//     (numeric/instruction_set.cpp);
//   - the first interpreter's number: an atomic (make_module above);
//   - the arguments: a list is read under its own lock, a buffer while its
//     export is held (boundary/conversion.cpp); numpy converts array-likes
//     under its own rules; every other object through its own protocols
//     (iteration, __float__), which hold strong references;
//   - results: new objects, owned by the calling thread until returned.
// The computation itself holds no state beyond the call's (no caches, no
// statics that change), and runs with the thread detached from the
// interpreter, as it runs without the GIL on other builds.
PyMODINIT_FUNC PyInit__lumevaro() {
    PyObject* module = lumevaro::boundary::trampoline("PyInit__lumevaro",
                                                      [] { return lumevaro::make_module(); });
#if defined(Py_GIL_DISABLED)
    if (module != nullptr && PyUnstable_Module_SetGIL(module, Py_MOD_GIL_NOT_USED) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
#endif
    return module;
}
