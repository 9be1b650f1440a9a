// A limb-darkened source ready to be magnified: a law's profile in one or
// more bands (one set of coefficients each), or a brightness table in one
// or more bands on one set of radii, with everything its magnifications and
// derivatives need, prepared once per call from checked arguments.
//
// Every band's value and derivatives are, to the bit, those of the one-band
// functions for that band alone; bands that take the same quadrature nodes
// share every disc.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "models/limb_darkening/checks.hpp"
#include "models/limb_darkening/far_field.hpp"
#include "models/limb_darkening/profile.hpp"
#include "models/limb_darkening/quadrature.hpp"

namespace lumevaro::limb_darkening {

class Source {
public:
    // A law with one set of checked coefficients per band.
    Source(Law law, std::span<const std::vector<double>> bands, double rtol);
    // A table: checked radii, and per band the checked brightnesses at them
    // (in the caller's units: derivatives are taken in those units).
    Source(std::vector<double> radii, std::span<const std::vector<double>> bands, double rtol);
    ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    std::size_t band_count() const noexcept { return bands_; }
    // The derivatives each band has beside u and ρ: the law's coefficients,
    // or the table's brightnesses.
    std::size_t parameter_count() const noexcept { return parameters_; }

    // a[b] at separation l ≥ 0 (source radii) for a source of radius rho
    // (Einstein radii).
    void magnifications(double l, double rho, std::span<double> a);

    // geometry[b] = {A, ∂A/∂u at fixed ρ, ∂A/∂ρ at fixed u} and
    // d_parameters[b·n + k] = ∂A/∂(parameter k) of band b, n = parameter_count().
    void gradients(double l, double rho, std::span<Gradient> geometry, std::span<double> d_parameters);

private:
    using Moments = std::array<double, FAR_FIELD_TERMS>;

    std::size_t bands_ = 0;
    std::size_t parameters_ = 0;
    bool table_ = false;

    // A law's bands.
    std::vector<RadialProfile> profiles_;
    std::vector<const Method*> methods_;
    std::vector<Moments> moments_;
    std::vector<std::vector<CoefficientDerivative>> derivatives_;
    std::unique_ptr<Bands> values_;               // several bands' values
    std::unique_ptr<LawBandGradients> law_gradients_;  // several bands' derivatives

    // A table's bands.
    std::vector<CheckedTable> tables_;
    std::vector<Moments> hats_;
    const Method* table_method_ = nullptr;
    std::unique_ptr<TableBandGradients> table_gradients_;
    std::vector<Gradient> scratch_;
    std::vector<double> scratch_parameters_;
};

}  // namespace lumevaro::limb_darkening
