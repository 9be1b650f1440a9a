#include "models/limb_darkening/source.hpp"

#include <cmath>

namespace lumevaro::limb_darkening {

Source::Source(Law law, std::span<const std::vector<double>> bands, double rtol)
    : bands_(bands.size()), parameters_(static_cast<std::size_t>(describe(law).coefficient_count)) {
    profiles_.reserve(bands.size());
    for (const std::vector<double>& coefficients : bands) {
        const RadialProfile& profile = profiles_.emplace_back(law, coefficients);
        methods_.push_back(&method_for(rtol, profile));
        profile.normalised_moments(moments_.emplace_back());
        std::vector<CoefficientDerivative>& derivatives = derivatives_.emplace_back();
        for (std::size_t k = 0; k < coefficients.size(); ++k) {
            CoefficientDerivative derivative{
                RadialProfile::coefficient_derivative(law, coefficients, static_cast<int>(k)), {},
                law == Law::power_2 && k == 1};
            derivative.profile.raw_moments(derivative.raw_moments);
            derivatives.push_back(std::move(derivative));
        }
    }
    // Bands of unlike conditioning may take unlike methods: then every
    // separation goes its own way.
    bool shared = !methods_.empty();
    for (const Method* method : methods_) shared = shared && method == methods_[0];
    if (shared) {
        far_method_ = methods_[0];
        far_start_ = far_method_->far_field_start;
    }
    if (bands_ > 1) {
        values_ = std::make_unique<Bands>(profiles_, rtol);
        std::vector<LawBand> law_bands;
        for (std::size_t b = 0; b < bands_; ++b) {
            law_bands.push_back(LawBand{&profiles_[b], moments_[b], derivatives_[b], methods_[b]});
        }
        // Every law but power-2 is affine in its coefficients, with
        // derivative profiles that do not depend on them.
        law_gradients_ = std::make_unique<LawBandGradients>(law_bands, law != Law::power_2);
    }
}

Source::Source(std::vector<double> radii, std::span<const std::vector<double>> bands, double rtol)
    : bands_(bands.size()), parameters_(radii.size()), table_(true), table_method_(&method_for(rtol)) {
    for (const std::vector<double>& brightness : bands) tables_.push_back(make_table(radii, brightness));
    hats_ = hat_moments(radii);
    far_method_ = table_method_;
    far_start_ = table_method_->far_field_start;
    if (bands_ > 1) {
        std::vector<const BrightnessTable*> tables;
        for (const CheckedTable& checked : tables_) tables.push_back(&checked.table);
        table_gradients_ = std::make_unique<TableBandGradients>(tables, hats_, *table_method_);
        scratch_.resize(bands_);
        scratch_parameters_.resize(bands_ * parameters_);
    }
}

Source::~Source() = default;

namespace {
// Far-field separations whose series are formed at once.
constexpr std::size_t FAR_GROUP = 32;
}  // namespace

// Calls each(i, series) for the separations the far-field series serves in
// every band, with series[i]'s series at (l[i], rho[i]) formed in groups, and
// each(i, nullptr) for the others.
template <class Each>
void Source::split(std::span<const double> l, std::span<const double> rho, Each&& each) {
    const std::size_t n = l.size();
    const auto rho_at = [&](std::size_t i) { return rho[rho.size() == 1 ? 0 : i]; };
    std::array<double, FAR_GROUP> group_l, group_rho;
    std::array<std::size_t, FAR_GROUP> group_index;
    std::array<FarFieldSeries, FAR_GROUP> series;
    std::size_t count = 0;
    const auto flush = [&] {
        far_field_series(std::span<const double>(group_l.data(), count), std::span<const double>(group_rho.data(), count),
                         far_method_->truncation, std::span<FarFieldSeries>(series.data(), count));
        for (std::size_t j = 0; j < count; ++j) each(group_index[j], &series[j]);
        count = 0;
    };
    for (std::size_t i = 0; i < n; ++i) {
        if (far_method_ == nullptr || !(l[i] >= far_start_)) {
            each(i, nullptr);
            continue;
        }
        group_l[count] = l[i];
        group_rho[count] = rho_at(i);
        group_index[count] = i;
        if (++count == FAR_GROUP) flush();
    }
    if (count > 0) flush();
}

void Source::magnifications(std::span<const double> l, std::span<const double> rho, std::span<double> a) {
    const std::size_t n = l.size();
    std::vector<double> values(bands_);
    split(l, rho, [&](std::size_t i, const FarFieldSeries* series) {
        if (series == nullptr) {
            magnifications(l[i], rho[rho.size() == 1 ? 0 : i], values);
            for (std::size_t b = 0; b < bands_; ++b) a[b * n + i] = values[b];
            return;
        }
        for (std::size_t b = 0; b < bands_; ++b) {
            a[b * n + i] = far_field_sum(*series, table_ ? std::span<const double>(tables_[b].table.moments)
                                                         : std::span<const double>(moments_[b]));
        }
    });
}

void Source::gradients(std::span<const double> l, std::span<const double> rho, const GradientOutput& out) {
    const std::size_t m = parameters_;
    std::vector<Gradient> one(bands_);
    std::vector<double> d(bands_ * m);
    const auto store = [&](std::size_t b, std::size_t i, const Gradient& g, const double* d_band) {
        out.a.at(b, i) = g.a;
        out.d_u.at(b, i) = g.d_u;
        out.d_rho.at(b, i) = g.d_rho;
        if (m == 0) return;  // a law without coefficients: no array behind them
        double* d_out = &out.d_parameters.at(b, i);
        for (std::size_t k = 0; k < m; ++k) d_out[k * out.parameter] = d_band[k];
    };
    split(l, rho, [&](std::size_t i, const FarFieldSeries* series) {
        const double rho_i = rho[rho.size() == 1 ? 0 : i];
        if (series == nullptr) {
            gradients(l[i], rho_i, one, d);
            for (std::size_t b = 0; b < bands_; ++b) store(b, i, one[b], d.data() + b * m);
            return;
        }
        for (std::size_t b = 0; b < bands_; ++b) {
            const std::span<double> d_band = std::span<double>(d).subspan(b * m, m);
            if (table_) {
                const Gradient g = far_table_gradient(*series, l[i], rho_i, tables_[b].table, hats_, d_band);
                for (double& x : d_band) x = x / tables_[b].brightest;
                store(b, i, g, d_band.data());
            } else {
                store(b, i, far_law_gradient(*series, l[i], rho_i, profiles_[b], moments_[b], derivatives_[b], d_band),
                      d_band.data());
            }
        }
    });
}

void Source::magnifications(double l, double rho, std::span<double> a) {
    if (bands_ == 0) return;
    if (table_) {
        if (bands_ == 1) {
            a[0] = table_magnification(l, rho, tables_[0].table, *table_method_);
            return;
        }
        // The tables' values with their derivatives (the same bits as the
        // values alone), so that the bands share their discs.
        table_gradients_->gradients(l, rho, scratch_, scratch_parameters_);
        for (std::size_t b = 0; b < bands_; ++b) a[b] = scratch_[b].a;
        return;
    }
    if (bands_ == 1) {
        a[0] = profile_magnification(l, rho, profiles_[0], moments_[0], *methods_[0]);
        return;
    }
    values_->magnifications(l, rho, a);
}

void Source::gradients(double l, double rho, std::span<Gradient> geometry, std::span<double> d_parameters) {
    if (bands_ == 0) return;
    if (table_) {
        if (bands_ == 1) {
            geometry[0] = table_gradient(l, rho, tables_[0].table, hats_, d_parameters, *table_method_);
        } else {
            table_gradients_->gradients(l, rho, geometry, d_parameters);
        }
        // In the caller's units: the kernels saw bf / brightest.
        for (std::size_t b = 0; b < bands_; ++b) {
            const double brightest = tables_[b].brightest;
            for (double& d : d_parameters.subspan(b * parameters_, parameters_)) d = d / brightest;
        }
        return;
    }
    if (bands_ == 1) {
        geometry[0] = profile_gradient(l, rho, profiles_[0], moments_[0], derivatives_[0], d_parameters, *methods_[0]);
        return;
    }
    law_gradients_->gradients(l, rho, geometry, d_parameters);
}

Array magnifications(const Array& l, double rho, Source& source, bool banded) {
    const std::size_t bands = source.band_count();
    Array a(banded ? stacked(bands, l.shape()) : l.shape());
    source.magnifications(l.values(), std::span<const double>(&rho, 1), std::span<double>(a.data(), a.size()));
    return a;
}

MagnificationGradient gradients(const Array& l, double rho, Source& source, bool banded) {
    const std::size_t bands = source.band_count();
    const std::size_t count = source.parameter_count();
    const std::size_t n = l.size();
    const Shape shape = banded ? stacked(bands, l.shape()) : l.shape();
    Shape parameters_shape = stacked(count, l.shape());
    if (banded) parameters_shape = stacked(bands, parameters_shape);
    MagnificationGradient gradient{Array(shape), Array(shape), Array(shape), Array(parameters_shape)};
    const GradientOutput out{{gradient.a.data(), n, 1},
                                             {gradient.d_u.data(), n, 1},
                                             {gradient.d_rho.data(), n, 1},
                                             {gradient.d_coefficients.data(), count * n, 1},
                                             n};
    source.gradients(l.values(), std::span<const double>(&rho, 1), out);
    return gradient;
}

}  // namespace lumevaro::limb_darkening
