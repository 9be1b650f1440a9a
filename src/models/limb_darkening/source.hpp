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

#include "models/array.hpp"
#include "models/limb_darkening.hpp"
#include "models/limb_darkening/checks.hpp"
#include "models/limb_darkening/far_field.hpp"
#include "models/limb_darkening/profile.hpp"
#include "models/limb_darkening/quadrature.hpp"

namespace lumevaro::limb_darkening {

// Where a batch of gradients goes: quantity q of band b at separation i is
// q.data[b·q.band + i·q.point], and parameter k's derivative
// d_parameters.data[b·band + k·parameter + i·point]; so that the results
// land in the caller's arrays whatever their layout.
struct Strided {
    double* data;
    std::size_t band;
    std::size_t point;
    double& at(std::size_t b, std::size_t i) const noexcept { return data[b * band + i * point]; }
};
struct GradientOutput {
    Strided a, d_u, d_rho, d_parameters;
    std::size_t parameter;
};

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

    // a[b·n + i], every band's magnification at separations l[i] ≥ 0 (source
    // radii, finite) of a source of radius rho[i] (Einstein radii), or rho[0]
    // for all when rho holds one; n = l.size().
    void magnifications(std::span<const double> l, std::span<const double> rho, std::span<double> a);

    // A, ∂A/∂u at fixed ρ, ∂A/∂ρ at fixed u and ∂A/∂(parameter k) of every
    // band at the same separations, into `out`.
    void gradients(std::span<const double> l, std::span<const double> rho, const GradientOutput& out);

private:
    using Moments = std::array<double, FAR_FIELD_TERMS>;

    // One separation: a[b], geometry[b], d_parameters[b·m + k].
    void magnifications(double l, double rho, std::span<double> a);
    void gradients(double l, double rho, std::span<Gradient> geometry, std::span<double> d_parameters);

    // The far field, where every band takes the series of one method: the
    // separations from far_start_ on, their series formed side by side.
    const Method* far_method_ = nullptr;
    double far_start_ = 0.0;
    template <class Each>
    void split(std::span<const double> l, std::span<const double> rho, Each&& each);

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

// Every band's magnification at every separation l of a source of radius
// rho: an array of l's shape, or (bands, *l.shape) when banded.
Array magnifications(const Array& l, double rho, Source& source, bool banded);

// Every band's gradient at every separation: a, d_u and d_rho of l's shape
// and d_coefficients (parameters, *l.shape), each with a leading axis of
// bands when banded.
MagnificationGradient gradients(const Array& l, double rho, Source& source, bool banded);

}  // namespace lumevaro::limb_darkening
