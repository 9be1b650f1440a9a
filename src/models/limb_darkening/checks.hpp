// The checks of the limb-darkened functions' arguments, and the messages of
// the ValueErrors that name the one at fault: each says what the argument
// is, what it must be, and what it was.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "models/array.hpp"
#include "models/checked.hpp"
#include "models/limb_darkening.hpp"
#include "models/limb_darkening/far_field.hpp"
#include "models/limb_darkening/profile.hpp"
#include "models/limb_darkening/quadrature.hpp"

namespace lumevaro::limb_darkening {

// A number as Python's repr() writes it: 1e-05, 0.0001, 1e+16, -0.0, inf, nan.
std::string number(double value);

// name[index]: an item of a one-dimensional argument.
std::string item(std::string_view name, std::size_t index);

InvalidArgument invalid(std::string message);

// Source radii in Einstein radii that the kernels serve without overflow.
inline constexpr double SMALLEST_RHO = 1e-50;
inline constexpr double LARGEST_RHO = 1e50;

// Separations finite and ≥ 0, every element of l named by its index in l's
// shape.
std::optional<InvalidArgument> check_separations(const Array& l);

// re and rstar finite and positive with ρ = rstar/re in range; on success
// rho holds ρ.
std::optional<InvalidArgument> check_radii_ratio(double re, double rstar, double& rho);

// ρ itself (the light curves take it directly): named `name`.
std::optional<InvalidArgument> check_rho(const Array& rho, std::string_view name);

// The accuracy asked for.
std::optional<InvalidArgument> check_rtol(double rtol);

// "'uniform', 'linear', ... or 'claret'".
std::string law_list();

// The law's name; its coefficients are checked by check_coefficients.
std::optional<InvalidArgument> check_law(const std::string& law, Law& named);

// A law's coefficients: as many as it takes, each in range, giving the
// source some flux. `what` names them in messages: "coefficients", or
// "bands[2]" for a band; item k is named what[k], or prefix + "k]" when a
// prefix is given ("coefficients[2, " for a row of an array).
std::optional<InvalidArgument> check_coefficients(Law law, std::span<const double> coefficients,
                                                  const std::string& what, std::string_view prefix = {});

// A table's radii: at least two, strictly ascending from exactly 0 to
// exactly 1, rows at least NARROWEST_ROW wide; `name` names them.
std::optional<InvalidArgument> check_table_radii(std::span<const double> bl, std::string_view name);

// A table's brightnesses (as many as its radii, checked by the caller):
// finite, ≥ 0, not all zero; `name` names them ("bf", "coefficients[1]").
std::optional<InvalidArgument> check_table_brightness(std::span<const double> bf, std::string_view name,
                                                      std::string_view prefix = {});

// A checked table, its brightness scaled to at most 1 (only the profile's
// shape matters, and so no moment overflows whatever the caller's units),
// with the slopes, flux and moments the kernels take; `brightest` is the
// scale taken out.
struct CheckedTable {
    BrightnessTable table;
    double brightest;
};

// The table of checked radii and brightnesses.
CheckedTable make_table(std::vector<double> radii, std::vector<double> brightness);

// The raw moments of each row radius's hat function (1 there, 0 at the
// other radii, linear between), for the brightness derivatives.
std::vector<std::array<double, FAR_FIELD_TERMS>> hat_moments(std::span<const double> radii);

}  // namespace lumevaro::limb_darkening
