#include "models/limb_darkening/source.hpp"

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
    if (bands_ > 1) {
        std::vector<const BrightnessTable*> tables;
        for (const CheckedTable& checked : tables_) tables.push_back(&checked.table);
        table_gradients_ = std::make_unique<TableBandGradients>(tables, hats_, *table_method_);
        scratch_.resize(bands_);
        scratch_parameters_.resize(bands_ * parameters_);
    }
}

Source::~Source() = default;

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

}  // namespace lumevaro::limb_darkening
