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

using limb_darkening::gradients;
using limb_darkening::magnifications;
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
