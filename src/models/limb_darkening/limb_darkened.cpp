// The limb-darkened module functions: argument checks, the source prepared
// once per call (source.hpp), then one magnification per separation, in the
// separations' shape.
#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "models/limb_darkening.hpp"
#include "models/limb_darkening/checks.hpp"
#include "models/limb_darkening/source.hpp"

namespace lumevaro {

namespace {

using limb_darkening::Gradient;
using limb_darkening::Source;

// A law function's checks: the geometry, the law and its coefficients (one
// set, or one per band), then rtol; on success rho and named hold ρ and
// the law.
std::optional<InvalidArgument> check_law_call(const Array& l, double re, double rstar, const std::string& law,
                                              std::span<const std::vector<double>> bands, bool banded,
                                              double rtol, double& rho, limb_darkening::Law& named) {
    if (auto error = limb_darkening::check_separations(l)) return error;
    if (auto error = limb_darkening::check_radii_ratio(re, rstar, rho)) return error;
    if (auto error = limb_darkening::check_law(law, named)) return error;
    for (std::size_t b = 0; b < bands.size(); ++b) {
        const std::string what = banded ? limb_darkening::item("bands", b) : "coefficients";
        if (auto error = limb_darkening::check_coefficients(named, bands[b], what)) return error;
    }
    return limb_darkening::check_rtol(rtol);
}

// A table function's checks: the geometry, the table, then rtol.
std::optional<InvalidArgument> check_table_call(const Array& l, double re, double rstar,
                                                const std::vector<double>& bl, const std::vector<double>& bf,
                                                double rtol, double& rho) {
    if (auto error = limb_darkening::check_separations(l)) return error;
    if (auto error = limb_darkening::check_radii_ratio(re, rstar, rho)) return error;
    if (bl.size() != bf.size()) {
        return limb_darkening::invalid("bl and bf must have the same length, got " + std::to_string(bl.size()) +
                                       " and " + std::to_string(bf.size()));
    }
    if (auto error = limb_darkening::check_table_radii(bl, "bl")) return error;
    if (auto error = limb_darkening::check_table_brightness(bf, "bf")) return error;
    return limb_darkening::check_rtol(rtol);
}

// Every band's magnification at every separation: (bands, *shape), or
// l's shape for a single band.
Array magnifications(const Array& l, double rho, Source& source, bool banded) {
    const std::size_t bands = source.band_count();
    Array a(banded ? stacked(bands, l.shape()) : l.shape());
    source.magnifications(l.values(), std::span<const double>(&rho, 1), std::span<double>(a.data(), a.size()));
    return a;
}

// Every band's gradient at every separation: a, da_du and da_drho of shape
// (bands, *shape) and the parameters' derivatives (bands, parameters,
// *shape); without the bands axis for a single band.
MagnificationGradient gradients(const Array& l, double rho, Source& source, bool banded) {
    const std::size_t bands = source.band_count();
    const std::size_t count = source.parameter_count();
    const std::size_t n = l.size();
    const Shape shape = banded ? stacked(bands, l.shape()) : l.shape();
    Shape parameters_shape = stacked(count, l.shape());
    if (banded) parameters_shape = stacked(bands, parameters_shape);
    MagnificationGradient gradient{Array(shape), Array(shape), Array(shape), Array(parameters_shape)};
    const limb_darkening::GradientOutput out{{gradient.a.data(), n, 1},
                                             {gradient.d_u.data(), n, 1},
                                             {gradient.d_rho.data(), n, 1},
                                             {gradient.d_coefficients.data(), count * n, 1},
                                             n};
    source.gradients(l.values(), std::span<const double>(&rho, 1), out);
    return gradient;
}

}  // namespace

Checked<Array> limb_darkened_magnification(Array l, double re, double rstar, std::string law,
                                           std::vector<double> coefficients, Accuracy accuracy) {
    double rho = 0.0;
    limb_darkening::Law named{};
    const std::span<const std::vector<double>> bands(&coefficients, 1);
    if (auto error = check_law_call(l, re, rstar, law, bands, false, accuracy.rtol, rho, named)) {
        return *std::move(error);
    }
    Source source(named, bands, accuracy.rtol);
    return magnifications(l, rho, source, false);
}

Checked<Array> tabulated_limb_darkened_magnification(Array l, double re, double rstar, std::vector<double> bl,
                                                     std::vector<double> bf, Accuracy accuracy) {
    double rho = 0.0;
    if (auto error = check_table_call(l, re, rstar, bl, bf, accuracy.rtol, rho)) return *std::move(error);
    Source source(std::move(bl), std::span<const std::vector<double>>(&bf, 1), accuracy.rtol);
    return magnifications(l, rho, source, false);
}

Checked<MagnificationGradient> limb_darkened_magnification_gradient(Array l, double re, double rstar,
                                                                    std::string law,
                                                                    std::vector<double> coefficients,
                                                                    Accuracy accuracy) {
    double rho = 0.0;
    limb_darkening::Law named{};
    const std::span<const std::vector<double>> bands(&coefficients, 1);
    if (auto error = check_law_call(l, re, rstar, law, bands, false, accuracy.rtol, rho, named)) {
        return *std::move(error);
    }
    Source source(named, bands, accuracy.rtol);
    return gradients(l, rho, source, false);
}

Checked<MagnificationGradient> tabulated_limb_darkened_magnification_gradient(Array l, double re, double rstar,
                                                                              std::vector<double> bl,
                                                                              std::vector<double> bf,
                                                                              Accuracy accuracy) {
    double rho = 0.0;
    if (auto error = check_table_call(l, re, rstar, bl, bf, accuracy.rtol, rho)) return *std::move(error);
    Source source(std::move(bl), std::span<const std::vector<double>>(&bf, 1), accuracy.rtol);
    return gradients(l, rho, source, false);
}

Checked<Array> limb_darkened_magnification_bands(Array l, double re, double rstar, std::string law,
                                                 std::vector<std::vector<double>> bands, Accuracy accuracy) {
    double rho = 0.0;
    limb_darkening::Law named{};
    if (auto error = check_law_call(l, re, rstar, law, bands, true, accuracy.rtol, rho, named)) {
        return *std::move(error);
    }
    Source source(named, bands, accuracy.rtol);
    return magnifications(l, rho, source, true);
}

Checked<MagnificationGradient> limb_darkened_magnification_bands_gradient(Array l, double re, double rstar,
                                                                          std::string law,
                                                                          std::vector<std::vector<double>> bands,
                                                                          Accuracy accuracy) {
    double rho = 0.0;
    limb_darkening::Law named{};
    if (auto error = check_law_call(l, re, rstar, law, bands, true, accuracy.rtol, rho, named)) {
        return *std::move(error);
    }
    Source source(named, bands, accuracy.rtol);
    return gradients(l, rho, source, true);
}

}  // namespace lumevaro
