// The two limb-darkened module functions: argument checks, the profile's
// moments and flux once per call, then one magnification per separation.
#include <array>
#include <charconv>
#include <optional>
#include <cmath>
#include <string>
#include <string_view>

#include "models/limb_darkening.hpp"
#include "models/limb_darkening/far_field.hpp"
#include "models/limb_darkening/profile.hpp"
#include "models/limb_darkening/quadrature.hpp"

namespace lumevaro {

namespace {

using limb_darkening::FAR_FIELD_TERMS;

// Source radii in Einstein radii that the kernels serve without overflow.
constexpr double SMALLEST_RHO = 1e-50;
constexpr double LARGEST_RHO = 1e50;
// Limb-darkening coefficients are of order one; these bounds keep every
// intermediate finite.
constexpr double LARGEST_COEFFICIENT = 1e6;
constexpr double LARGEST_EXPONENT = 10.0;
// Below this the limb's μ^(α−1) needs more pieces than the quadrature takes.
constexpr double SMALLEST_EXPONENT = 0.05;
constexpr double FLUX_CANCELLATION = 1e-9;
// A narrower row would lose its width to the rounding of its ends in the
// quadrature's variable (1e-16 absolute), and the 1e-10 with it.
constexpr double NARROWEST_ROW = 1e-6;

// A number as Python's repr() writes it.
std::string number(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (text.find_first_of(".eni") == std::string::npos) text += ".0";
    return text;
}

std::string item(std::string_view name, std::size_t index) {
    return std::string(name) + "[" + std::to_string(index) + "]";
}

InvalidArgument invalid(std::string message) { return InvalidArgument{std::move(message)}; }

// The separations, re and rstar; on success rho holds rstar/re.
std::optional<InvalidArgument> check_geometry(const Separations& l, double re, double rstar, double& rho) {
    for (std::size_t i = 0; i < l.size(); ++i) {
        if (!(std::isfinite(l[i]) && l[i] >= 0.0)) {
            return invalid(item("l", i) + " must be a finite separation of at least 0 source radii, got " +
                           number(l[i]));
        }
    }
    if (!(std::isfinite(re) && re > 0.0)) return invalid("re must be finite and positive, got " + number(re));
    if (!(std::isfinite(rstar) && rstar > 0.0)) {
        return invalid("rstar must be finite and positive, got " + number(rstar));
    }
    rho = rstar / re;
    if (!(rho >= SMALLEST_RHO && rho <= LARGEST_RHO)) {
        return invalid("rstar/re, the source radius in Einstein radii, must lie between 1e-50 and 1e50, got " +
                       number(rho));
    }
    return std::nullopt;
}

std::string law_list() {
    std::string list;
    for (std::size_t i = 0; i < limb_darkening::LAWS.size(); ++i) {
        if (i > 0) list += i + 1 == limb_darkening::LAWS.size() ? " or " : ", ";
        list += "'";
        list += limb_darkening::LAWS[i].name;
        list += "'";
    }
    return list;
}

template <class Magnification>
Magnifications each(const Separations& l, Magnification&& magnification) {
    Magnifications values;
    values.reserve(l.size());
    for (const double li : l) values.push_back(magnification(li));
    return values;
}

}  // namespace

Checked<Magnifications> limb_darkened_magnification(Separations l, double re, double rstar,
                                                    std::string law, std::vector<double> coefficients) {
    double rho = 0.0;
    if (auto error = check_geometry(l, re, rstar, rho)) return *std::move(error);

    const auto named = limb_darkening::law_named(law);
    if (!named) return invalid("law must be one of " + law_list() + ", got '" + law + "'");
    const limb_darkening::LawDescription& description = limb_darkening::describe(*named);
    const auto count = static_cast<std::size_t>(description.coefficient_count);
    if (coefficients.size() != count) {
        std::string message = "the '" + std::string(description.name) + "' law takes ";
        if (count == 0) {
            message += "no coefficients";
        } else {
            message += std::to_string(count) + (count == 1 ? " coefficient (" : " coefficients (");
            message += description.coefficient_names;
            message += ")";
        }
        message += ", got " + std::to_string(coefficients.size());
        return invalid(std::move(message));
    }
    for (std::size_t i = 0; i < coefficients.size(); ++i) {
        if (!(std::fabs(coefficients[i]) <= LARGEST_COEFFICIENT)) {
            return invalid(item("coefficients", i) + " must be a finite number between -1e6 and 1e6, got " +
                           number(coefficients[i]));
        }
    }
    if (*named == limb_darkening::Law::power_2) {
        const double alpha = coefficients[1];
        if (!(alpha == 0.0 || (alpha >= SMALLEST_EXPONENT && alpha <= LARGEST_EXPONENT))) {
            return invalid("coefficients[1], the power-2 exponent alpha, must be 0 or lie between 0.05 and "
                           "10, got " + number(alpha));
        }
    }

    // A flux that cancels to nothing beside the coefficients' size leaves the
    // normalised profile undefined.
    const limb_darkening::RadialProfile profile(*named, coefficients);
    double size = 1.0;
    for (const double c : coefficients) size += std::fabs(c);
    if (!(std::fabs(profile.flux()) > FLUX_CANCELLATION * size)) {
        return invalid("coefficients give the source no net flux (the integral of I(r) 2r dr over the "
                       "disc is " + number(profile.flux()) + ")");
    }
    std::array<double, FAR_FIELD_TERMS> moments{};
    profile.normalised_moments(moments);
    return each(l, [&](double li) { return limb_darkening::profile_magnification(li, rho, profile, moments); });
}

Checked<Magnifications> tabulated_limb_darkened_magnification(Separations l, double re, double rstar,
                                                              std::vector<double> bl,
                                                              std::vector<double> bf) {
    double rho = 0.0;
    if (auto error = check_geometry(l, re, rstar, rho)) return *std::move(error);

    if (bl.size() != bf.size()) {
        return invalid("bl and bf must have the same length, got " + std::to_string(bl.size()) + " and " +
                       std::to_string(bf.size()));
    }
    if (bl.size() < 2) {
        return invalid("bl must hold at least two radii, 0 and 1, got " + std::to_string(bl.size()));
    }
    for (std::size_t i = 0; i < bl.size(); ++i) {
        if (!std::isfinite(bl[i])) return invalid(item("bl", i) + " must be finite, got " + number(bl[i]));
    }
    if (bl.front() != 0.0) return invalid("bl[0] must be exactly 0 (the centre), got " + number(bl.front()));
    for (std::size_t i = 1; i < bl.size(); ++i) {
        if (!(bl[i] > bl[i - 1])) {
            return invalid("bl must be strictly ascending, but " + item("bl", i) + " = " + number(bl[i]) +
                           " follows " + item("bl", i - 1) + " = " + number(bl[i - 1]));
        }
        if (!(bl[i] - bl[i - 1] >= NARROWEST_ROW)) {
            return invalid("bl's rows must be at least 1e-6 source radii wide, but " + item("bl", i) + " = " +
                           number(bl[i]) + " follows " + item("bl", i - 1) + " = " + number(bl[i - 1]));
        }
    }
    if (bl.back() != 1.0) {
        return invalid(item("bl", bl.size() - 1) + " must be exactly 1 (the limb), got " + number(bl.back()));
    }
    bool lit = false;
    for (std::size_t i = 0; i < bf.size(); ++i) {
        if (!(std::isfinite(bf[i]) && bf[i] >= 0.0)) {
            return invalid(item("bf", i) + " must be finite and at least 0, got " + number(bf[i]));
        }
        lit = lit || bf[i] > 0.0;
    }
    if (!lit) return invalid("bf must not be all zero: the source would give no light");

    // Only the profile's shape matters: brightness scaled to at most 1, so
    // that no moment overflows whatever the caller's units.
    double brightest = 0.0;
    for (const double f : bf) brightest = std::fmax(brightest, f);
    for (double& f : bf) f = f / brightest;

    limb_darkening::BrightnessTable table;
    table.radii = std::move(bl);
    table.brightness = std::move(bf);
    const std::size_t rows = table.radii.size() - 1;
    table.slopes.resize(rows);
    table.moments.assign(FAR_FIELD_TERMS, 0.0);
    for (std::size_t j = 0; j < rows; ++j) {
        const double a = table.radii[j];
        const double b = table.radii[j + 1];
        const double slope = (table.brightness[j + 1] - table.brightness[j]) / (b - a);
        table.slopes[j] = slope;
        // ∫_a^b (I_a + s(r − a)) 2r^{2k+1} dr
        //   = (I_a − s a)(b^{2k+2} − a^{2k+2})/(k + 1) + 2s(b^{2k+3} − a^{2k+3})/(2k + 3).
        const double offset = table.brightness[j] - slope * a;
        double a_even = a * a;
        double b_even = b * b;
        for (int k = 0; k < FAR_FIELD_TERMS; ++k) {
            const double even = (b_even - a_even) / (k + 1);
            const double odd = 2.0 * (b_even * b - a_even * a) / (2 * k + 3);
            table.moments[k] += offset * even + slope * odd;
            a_even *= a * a;
            b_even *= b * b;
        }
    }
    table.flux = table.moments[0];
    for (double& moment : table.moments) moment = moment / table.flux;
    return each(l, [&](double li) { return limb_darkening::table_magnification(li, rho, table); });
}

}  // namespace lumevaro
