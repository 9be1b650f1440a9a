// Argument checks of the limb-darkened functions.
#include "models/limb_darkening/checks.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace lumevaro::limb_darkening {

namespace {

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
}  // namespace

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

std::optional<InvalidArgument> check_separations(const Array& l) {
    for (std::size_t i = 0; i < l.size(); ++i) {
        if (!(std::isfinite(l[i]) && l[i] >= 0.0)) {
            return invalid(element_name("l", l.shape(), i) +
                           " must be a finite separation of at least 0 source radii, got " + number(l[i]));
        }
    }
    return std::nullopt;
}

std::optional<InvalidArgument> check_radii_ratio(double re, double rstar, double& rho) {
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

std::optional<InvalidArgument> check_rho(const Array& rho, std::string_view name) {
    for (std::size_t i = 0; i < rho.size(); ++i) {
        if (!(rho[i] >= SMALLEST_RHO && rho[i] <= LARGEST_RHO)) {
            return invalid(element_name(name, rho.shape(), i) +
                           ", the source radius in Einstein radii, must lie between 1e-50 and 1e50, got " +
                           number(rho[i]));
        }
    }
    return std::nullopt;
}

std::optional<InvalidArgument> check_rtol(double rtol) {
    if (!(rtol >= TIGHTEST_RTOL && rtol <= LOOSEST_RTOL)) {
        return invalid("rtol, the relative accuracy asked for, must lie between 1e-11 and 0.01, got " +
                       number(rtol));
    }
    return std::nullopt;
}

std::string law_list() {
    std::string list;
    for (std::size_t i = 0; i < LAWS.size(); ++i) {
        if (i > 0) list += i + 1 == LAWS.size() ? " or " : ", ";
        list += "'";
        list += LAWS[i].name;
        list += "'";
    }
    return list;
}

std::optional<InvalidArgument> check_law(const std::string& law, Law& named) {
    const auto found = law_named(law);
    if (!found) return invalid("law must be one of " + law_list() + ", got '" + law + "'");
    named = *found;
    return std::nullopt;
}

namespace {

// Item i of an argument `what`: what[i], or prefix + "i]".
std::string item_of(std::string_view what, std::string_view prefix, std::size_t i) {
    if (prefix.empty()) return item(what, i);
    return std::string(prefix) + std::to_string(i) + "]";
}

}  // namespace

std::optional<InvalidArgument> check_coefficients(Law law, std::span<const double> coefficients,
                                                  const std::string& what, std::string_view prefix) {
    const bool band = what != "coefficients";
    const LawDescription& description = describe(law);
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
            return invalid(item_of(what, prefix, i) + " must be a finite number between -1e6 and 1e6, got " +
                           number(coefficients[i]));
        }
    }
    if (law == Law::power_2) {
        const double alpha = coefficients[1];
        if (!(alpha == 0.0 || (alpha >= SMALLEST_EXPONENT && alpha <= LARGEST_EXPONENT))) {
            return invalid(item_of(what, prefix, 1) + ", the power-2 exponent alpha, must be 0 or lie between 0.05 and "
                           "10, got " + number(alpha));
        }
    }

    // A flux that cancels to nothing beside the coefficients' size leaves the
    // normalised profile undefined.
    const RadialProfile profile(law, coefficients);
    double size = 1.0;
    for (const double c : coefficients) size += std::fabs(c);
    if (!(std::fabs(profile.flux()) > FLUX_CANCELLATION * size)) {
        return invalid((band ? "the coefficients of " + what + " give" : std::string("coefficients give")) +
                       " the source no net flux (the integral of I(r) 2r dr over the disc is " +
                       number(profile.flux()) + ")");
    }
    return std::nullopt;
}

std::optional<InvalidArgument> check_table_radii(std::span<const double> bl, std::string_view name) {
    const std::string n(name);
    if (bl.size() < 2) {
        return invalid(n + " must hold at least two radii, 0 and 1, got " + std::to_string(bl.size()));
    }
    for (std::size_t i = 0; i < bl.size(); ++i) {
        if (!std::isfinite(bl[i])) return invalid(item(n, i) + " must be finite, got " + number(bl[i]));
    }
    if (bl.front() != 0.0) return invalid(n + "[0] must be exactly 0 (the centre), got " + number(bl.front()));
    for (std::size_t i = 1; i < bl.size(); ++i) {
        if (!(bl[i] > bl[i - 1])) {
            return invalid(n + " must be strictly ascending, but " + item(n, i) + " = " + number(bl[i]) +
                           " follows " + item(n, i - 1) + " = " + number(bl[i - 1]));
        }
        if (!(bl[i] - bl[i - 1] >= NARROWEST_ROW)) {
            return invalid(n + "'s rows must be at least 1e-6 source radii wide, but " + item(n, i) + " = " +
                           number(bl[i]) + " follows " + item(n, i - 1) + " = " + number(bl[i - 1]));
        }
    }
    if (bl.back() != 1.0) {
        return invalid(item(n, bl.size() - 1) + " must be exactly 1 (the limb), got " + number(bl.back()));
    }
    return std::nullopt;
}

std::optional<InvalidArgument> check_table_brightness(std::span<const double> bf, std::string_view name,
                                                      std::string_view prefix) {
    const std::string n(name);
    bool lit = false;
    for (std::size_t i = 0; i < bf.size(); ++i) {
        if (!(std::isfinite(bf[i]) && bf[i] >= 0.0)) {
            return invalid(item_of(n, prefix, i) + " must be finite and at least 0, got " + number(bf[i]));
        }
        lit = lit || bf[i] > 0.0;
    }
    if (!lit) return invalid(n + " must not be all zero: the source would give no light");
    return std::nullopt;
}

namespace {

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

}  // namespace

CheckedTable make_table(std::vector<double> radii, std::vector<double> brightness) {
    double brightest = 0.0;
    for (const double f : brightness) brightest = std::fmax(brightest, f);
    for (double& f : brightness) f = f / brightest;

    CheckedTable checked{{}, brightest};
    BrightnessTable& table = checked.table;
    table.radii = std::move(radii);
    table.brightness = std::move(brightness);
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

std::vector<std::array<double, FAR_FIELD_TERMS>> hat_moments(std::span<const double> radii) {
    const std::size_t count = radii.size();
    std::vector<std::array<double, FAR_FIELD_TERMS>> hats(count, std::array<double, FAR_FIELD_TERMS>{});
    for (std::size_t j = 0; j + 1 < count; ++j) {
        const double a = radii[j];
        const double b = radii[j + 1];
        const double width = b - a;
        add_row_moments(a, b, b / width, -1.0 / width, hats[j]);
        add_row_moments(a, b, -a / width, 1.0 / width, hats[j + 1]);
    }
    return hats;
}

}  // namespace lumevaro::limb_darkening
