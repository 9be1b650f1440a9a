// The two limb-darkened module functions: argument checks, the profile's
// moments and flux once per call, then one magnification per separation.
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
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

// The decimal [-]digits × 10^(exponent − digits + 1) read back as a double
// equals value. (Written without a decimal point, which strtod would take
// from the locale.)
bool reads_back(bool negative, const std::string& digits, int exponent, double value) {
    std::string text = negative ? "-" : "";
    text.append(digits).append("e").append(std::to_string(exponent - static_cast<int>(digits.size()) + 1));
    return std::strtod(text.c_str(), nullptr) == value;
}

// A number as Python's repr() writes it: the fewest significant digits that
// read back as the same double, the nearest such digits to it, then fixed
// notation for a decimal point from 10^-4 up to 10^16 and scientific notation
// with a signed exponent of at least two digits otherwise: 1e-05, 0.0001,
// 1e+16, 1000000000000000.0, -0.0, inf, nan. The digits of each precision
// from 1 to 17 are printf's, correctly rounded, until they read back; at a
// power of two, whose neighbour below is half as far as the one above, the
// next digits up in magnitude may read back where the rounded ones do not.
// (printf and strtod are in every C library, unlike std::to_chars for
// double; printf writes the locale's decimal point, so only its digits and
// exponent are taken.)
std::string number(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0.0 ? "-inf" : "inf";
    int binary_exponent = 0;
    const bool power_of_two = std::frexp(std::fabs(value), &binary_exponent) == 0.5;
    const bool negative = std::signbit(value);
    std::string digits;
    int exponent = 0;
    for (int precision = 1; precision <= 17; ++precision) {
        // buffer holds [-]d[<point>ddd]e±dd.
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "%.*e", precision - 1, value);
        digits.clear();
        const char* c = buffer;
        for (; *c != 'e' && *c != 'E' && *c != '\0'; ++c) {
            if (std::isdigit(static_cast<unsigned char>(*c))) digits += *c;
        }
        exponent = *c == '\0' ? 0 : std::atoi(c + 1);
        if (reads_back(negative, digits, exponent, value)) break;
        if (power_of_two) {
            // One unit up in the last digit, carrying.
            std::string up = digits;
            int up_exponent = exponent;
            auto digit = up.rbegin();
            for (; digit != up.rend() && *digit == '9'; ++digit) *digit = '0';
            if (digit != up.rend()) {
                ++*digit;
            } else {
                up.insert(up.begin(), '1');
                up.pop_back();
                ++up_exponent;
            }
            if (reads_back(negative, up, up_exponent, value)) {
                digits = up;
                exponent = up_exponent;
                break;
            }
        }
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    // The decimal point falls after `point` digits.
    const int point = exponent + 1;
    const int count = static_cast<int>(digits.size());
    std::string text = negative ? "-" : "";
    const auto size = [](int n) { return static_cast<std::size_t>(n); };
    if (point > -4 && point <= 16) {
        if (point <= 0) {
            text.append("0.").append(size(-point), '0').append(digits);
        } else if (point >= count) {
            text.append(digits).append(size(point - count), '0').append(".0");
        } else {
            text.append(digits, 0, size(point)).append(".").append(digits, size(point));
        }
        return text;
    }
    text.append(digits, 0, 1);
    if (count > 1) text.append(".").append(digits, 1);
    const int magnitude = exponent < 0 ? -exponent : exponent;
    text.append(exponent < 0 ? "e-" : "e+");
    if (magnitude < 10) text.append("0");
    return text + std::to_string(magnitude);
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

// The accuracy asked for.
std::optional<InvalidArgument> check_rtol(double rtol) {
    if (!(rtol >= TIGHTEST_RTOL && rtol <= LOOSEST_RTOL)) {
        return invalid("rtol, the relative accuracy asked for, must lie between 1e-11 and 0.01, got " +
                       number(rtol));
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

// The law's name; its coefficients are checked by check_coefficients.
std::optional<InvalidArgument> check_law(const std::string& law, limb_darkening::Law& named) {
    const auto found = limb_darkening::law_named(law);
    if (!found) return invalid("law must be one of " + law_list() + ", got '" + law + "'");
    named = *found;
    return std::nullopt;
}

// A law's coefficients: as many as it takes, each in range, giving the
// source some flux. `what` names them in messages: "coefficients", or
// "bands[2]" for a band.
std::optional<InvalidArgument> check_coefficients(limb_darkening::Law law, const std::vector<double>& coefficients,
                                                  const std::string& what) {
    const bool band = what != "coefficients";
    const limb_darkening::LawDescription& description = limb_darkening::describe(law);
    const auto count = static_cast<std::size_t>(description.coefficient_count);
    if (coefficients.size() != count) {
        std::string message = (band ? what + ": the '" : "the '") + std::string(description.name) + "' law takes ";
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
            return invalid(item(what, i) + " must be a finite number between -1e6 and 1e6, got " +
                           number(coefficients[i]));
        }
    }
    if (law == limb_darkening::Law::power_2) {
        const double alpha = coefficients[1];
        if (!(alpha == 0.0 || (alpha >= SMALLEST_EXPONENT && alpha <= LARGEST_EXPONENT))) {
            return invalid(item(what, 1) + ", the power-2 exponent alpha, must be 0 or lie between 0.05 and "
                           "10, got " + number(alpha));
        }
    }

    // A flux that cancels to nothing beside the coefficients' size leaves the
    // normalised profile undefined.
    const limb_darkening::RadialProfile profile(law, coefficients);
    double size = 1.0;
    for (const double c : coefficients) size += std::fabs(c);
    if (!(std::fabs(profile.flux()) > FLUX_CANCELLATION * size)) {
        return invalid((band ? "the coefficients of " + what + " give" : std::string("coefficients give")) +
                       " the source no net flux (the integral of I(r) 2r dr over the disc is " +
                       number(profile.flux()) + ")");
    }
    return std::nullopt;
}

// A checked table, its brightness scaled to at most 1 (only the profile's
// shape matters, and so no moment overflows whatever the caller's units),
// with the slopes, flux and moments the kernels take; `brightest` is the
// scale taken out.
struct CheckedTable {
    limb_darkening::BrightnessTable table;
    double brightest;
};

// ∫_a^b (offset + slope·r) r^{2k} 2r dr
//   = offset (b^{2k+2} − a^{2k+2})/(k + 1) + 2 slope (b^{2k+3} − a^{2k+3})/(2k + 3), k = 0, 1, ...,
// added to moments.
void add_row_moments(double a, double b, double offset, double slope, std::span<double> moments) {
    double a_even = a * a;
    double b_even = b * b;
    for (std::size_t k = 0; k < moments.size(); ++k) {
        const double even = (b_even - a_even) / static_cast<double>(k + 1);
        const double odd = 2.0 * (b_even * b - a_even * a) / static_cast<double>(2 * k + 3);
        moments[k] += offset * even + slope * odd;
        a_even *= a * a;
        b_even *= b * b;
    }
}

Checked<CheckedTable> check_table(std::vector<double> bl, std::vector<double> bf) {
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

    double brightest = 0.0;
    for (const double f : bf) brightest = std::fmax(brightest, f);
    for (double& f : bf) f = f / brightest;

    CheckedTable checked{{}, brightest};
    limb_darkening::BrightnessTable& table = checked.table;
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
        add_row_moments(a, b, table.brightness[j] - slope * a, slope, table.moments);
    }
    table.flux = table.moments[0];
    for (double& moment : table.moments) moment = moment / table.flux;
    return checked;
}

using Moments = std::array<double, FAR_FIELD_TERMS>;

Moments moments_of(const limb_darkening::RadialProfile& profile) {
    Moments moments{};
    profile.normalised_moments(moments);
    return moments;
}

// A table function's checks: the geometry, then the table; on success rho
// holds ρ.
Checked<CheckedTable> check_table_call(const Separations& l, double re, double rstar, std::vector<double> bl,
                                       std::vector<double> bf, double rtol, double& rho) {
    if (auto error = check_geometry(l, re, rstar, rho)) return *std::move(error);
    Checked<CheckedTable> checked = check_table(std::move(bl), std::move(bf));
    if (!checked) return checked;
    if (auto error = check_rtol(rtol)) return *std::move(error);
    return checked;
}

// A law function's checks: the geometry, the law and its coefficients; on
// success rho and named hold ρ and the law.
std::optional<InvalidArgument> check_law_call(const Separations& l, double re, double rstar, const std::string& law,
                                              const std::vector<double>& coefficients, double rtol, double& rho,
                                              limb_darkening::Law& named) {
    if (auto error = check_geometry(l, re, rstar, rho)) return error;
    if (auto error = check_law(law, named)) return error;
    if (auto error = check_coefficients(named, coefficients, "coefficients")) return error;
    return check_rtol(rtol);
}

// The geometric part of a gradient at separation i.
void store(MagnificationGradient& gradient, std::size_t i, const limb_darkening::Gradient& g) {
    gradient.a[i] = g.a;
    gradient.d_u[i] = g.d_u;
    gradient.d_rho[i] = g.d_rho;
}

// Built with the sizing constructors only: resize, assign and copies of
// vectors pull in the C++ library's newer bad-array-length symbol, which
// raises the wheels' manylinux tag (checked by the test command).
MagnificationGradient sized_gradient(std::size_t count, std::size_t coefficients) {
    MagnificationGradient gradient{Magnifications(count), Magnifications(count), Magnifications(count),
                                   std::vector<Magnifications>(coefficients)};
    for (Magnifications& column : gradient.d_coefficients) column = Magnifications(count);
    return gradient;
}

}  // namespace

Checked<Magnifications> limb_darkened_magnification(Separations l, double re, double rstar,
                                                    std::string law, std::vector<double> coefficients,
                                                    Accuracy accuracy) {
    const double rtol = accuracy.rtol;
    double rho = 0.0;
    limb_darkening::Law named{};
    if (auto error = check_law_call(l, re, rstar, law, coefficients, rtol, rho, named)) return *std::move(error);
    const limb_darkening::RadialProfile profile(named, coefficients);
    const limb_darkening::Method& method = limb_darkening::method_for(rtol, profile);
    const Moments moments = moments_of(profile);
    return each(l, [&](double li) { return limb_darkening::profile_magnification(li, rho, profile, moments, method); });
}

Checked<Magnifications> tabulated_limb_darkened_magnification(Separations l, double re, double rstar,
                                                              std::vector<double> bl,
                                                              std::vector<double> bf, Accuracy accuracy) {
    const double rtol = accuracy.rtol;
    double rho = 0.0;
    Checked<CheckedTable> checked = check_table_call(l, re, rstar, std::move(bl), std::move(bf), rtol, rho);
    if (!checked) return InvalidArgument{checked.message()};
    const limb_darkening::Method& method = limb_darkening::method_for(rtol);
    const limb_darkening::BrightnessTable& table = checked.value().table;
    return each(l, [&](double li) { return limb_darkening::table_magnification(li, rho, table, method); });
}

Checked<MagnificationGradient> limb_darkened_magnification_gradient(Separations l, double re, double rstar,
                                                                    std::string law,
                                                                    std::vector<double> coefficients,
                                                                    Accuracy accuracy) {
    const double rtol = accuracy.rtol;
    double rho = 0.0;
    limb_darkening::Law named{};
    if (auto error = check_law_call(l, re, rstar, law, coefficients, rtol, rho, named)) return *std::move(error);
    const limb_darkening::RadialProfile profile(named, coefficients);
    const limb_darkening::Method& method = limb_darkening::method_for(rtol, profile);
    const Moments moments = moments_of(profile);
    std::vector<limb_darkening::CoefficientDerivative> derivatives;
    for (std::size_t k = 0; k < coefficients.size(); ++k) {
        limb_darkening::CoefficientDerivative derivative{
            limb_darkening::RadialProfile::coefficient_derivative(named, coefficients, static_cast<int>(k)), {},
            named == limb_darkening::Law::power_2 && k == 1};
        derivative.profile.raw_moments(derivative.raw_moments);
        derivatives.push_back(std::move(derivative));
    }

    MagnificationGradient gradient = sized_gradient(l.size(), coefficients.size());
    std::array<double, 4> d_coefficients{};
    for (std::size_t i = 0; i < l.size(); ++i) {
        store(gradient, i, limb_darkening::profile_gradient(l[i], rho, profile, moments, derivatives, d_coefficients, method));
        for (std::size_t k = 0; k < coefficients.size(); ++k) gradient.d_coefficients[k][i] = d_coefficients[k];
    }
    return gradient;
}

Checked<MagnificationGradient> tabulated_limb_darkened_magnification_gradient(Separations l, double re,
                                                                              double rstar,
                                                                              std::vector<double> bl,
                                                                              std::vector<double> bf,
                                                                              Accuracy accuracy) {
    const double rtol = accuracy.rtol;
    double rho = 0.0;
    Checked<CheckedTable> checked = check_table_call(l, re, rstar, std::move(bl), std::move(bf), rtol, rho);
    if (!checked) return InvalidArgument{checked.message()};
    const limb_darkening::Method& method = limb_darkening::method_for(rtol);
    const limb_darkening::BrightnessTable& table = checked.value().table;
    const double brightest = checked.value().brightest;

    // The raw moments of each row radius's hat function.
    const std::size_t count = table.radii.size();
    std::vector<Moments> hats(count, Moments{});
    for (std::size_t j = 0; j + 1 < count; ++j) {
        const double a = table.radii[j];
        const double b = table.radii[j + 1];
        const double width = b - a;
        add_row_moments(a, b, b / width, -1.0 / width, hats[j]);
        add_row_moments(a, b, -a / width, 1.0 / width, hats[j + 1]);
    }

    MagnificationGradient gradient = sized_gradient(l.size(), count);
    std::vector<double> d_brightness(count);
    for (std::size_t i = 0; i < l.size(); ++i) {
        store(gradient, i, limb_darkening::table_gradient(l[i], rho, table, hats, d_brightness, method));
        // In the caller's units: the kernels saw bf / brightest.
        for (std::size_t j = 0; j < count; ++j) gradient.d_coefficients[j][i] = d_brightness[j] / brightest;
    }
    return gradient;
}

Checked<std::vector<Magnifications>> limb_darkened_magnification_bands(Separations l, double re,
                                                                       double rstar, std::string law,
                                                                       std::vector<std::vector<double>> bands,
                                                                       Accuracy accuracy) {
    const double rtol = accuracy.rtol;
    double rho = 0.0;
    if (auto error = check_geometry(l, re, rstar, rho)) return *std::move(error);
    limb_darkening::Law named{};
    if (auto error = check_law(law, named)) return *std::move(error);
    for (std::size_t b = 0; b < bands.size(); ++b) {
        if (auto error = check_coefficients(named, bands[b], item("bands", b))) return *std::move(error);
    }
    if (auto error = check_rtol(rtol)) return *std::move(error);

    std::vector<limb_darkening::RadialProfile> profiles;
    for (const std::vector<double>& band : bands) profiles.emplace_back(named, band);
    limb_darkening::Bands engine(std::move(profiles), rtol);
    // Sized, not copied (see sized_gradient).
    std::vector<Magnifications> magnifications(bands.size());
    for (Magnifications& band : magnifications) band = Magnifications(l.size());
    std::vector<double> values(bands.size());
    for (std::size_t i = 0; i < l.size(); ++i) {
        engine.magnifications(l[i], rho, values);
        for (std::size_t b = 0; b < bands.size(); ++b) magnifications[b][i] = values[b];
    }
    return magnifications;
}

}  // namespace lumevaro
