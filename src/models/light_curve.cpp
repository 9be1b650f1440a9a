// Light curves and their Jacobians (light_curve.hpp): the event's
// parameters broadcast, the source prepared once, then at each time the
// separation, the magnification's gradient in every band, and the chain rule.
#include "models/light_curve.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "models/limb_darkening/checks.hpp"
#include "models/limb_darkening/source.hpp"

namespace lumevaro {

namespace {

using limb_darkening::Gradient;
using limb_darkening::invalid;
using limb_darkening::number;
using limb_darkening::Source;

// The name of the tabulated profile among the laws.
constexpr std::string_view TABLE_LAW = "table";

// The parameters beside the profile's: ∂A/∂(t0, u0, tE, ρ).
constexpr std::size_t EVENT_PARAMETERS = 4;

// The event's five arguments in the order of the call.
enum Operand : std::size_t { T, T0, U0, TE, RHO, OPERANDS };

struct Event {
    std::array<const Array*, OPERANDS> operands;
    Shape shape;  // the broadcast shape
};

template <class Holds>
std::optional<InvalidArgument> check_each(const Array& values, std::string_view name, std::string_view rule,
                                          Holds holds) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!holds(values[i])) {
            return invalid(element_name(name, values.shape(), i) + std::string(rule) + number(values[i]));
        }
    }
    return std::nullopt;
}

constexpr auto finite = [](double x) { return std::isfinite(x); };
constexpr auto positive = [](double x) { return std::isfinite(x) && x > 0.0; };

std::optional<InvalidArgument> check_event(Event& event) {
    const auto& [t, t0, u0, tE, rho] = event.operands;
    if (auto error = check_each(*t, "t", " must be a finite time, got ", finite)) return error;
    if (auto error = check_each(*t0, "t0", " must be a finite time, got ", finite)) return error;
    if (auto error = check_each(*u0, "u0", ", the impact parameter in Einstein radii, must be finite, got ", finite)) {
        return error;
    }
    if (auto error = check_each(*tE, "tE", ", the Einstein timescale, must be finite and positive, got ", positive)) {
        return error;
    }
    if (auto error = limb_darkening::check_rho(*rho, "rho")) return error;
    std::array<Shape, OPERANDS> shapes;
    for (std::size_t k = 0; k < OPERANDS; ++k) shapes[k] = event.operands[k]->shape();
    std::optional<Shape> shape = broadcast_shapes(shapes);
    if (!shape) {
        return invalid("t, t0, u0, tE and rho must broadcast to one shape, got shapes " + shape_text(shapes[T]) +
                       ", " + shape_text(shapes[T0]) + ", " + shape_text(shapes[U0]) + ", " +
                       shape_text(shapes[TE]) + " and " + shape_text(shapes[RHO]));
    }
    event.shape = *std::move(shape);
    return std::nullopt;
}

// The coefficients' rows: one set, or one per band.
std::vector<std::vector<double>> rows_of(const Array& coefficients) {
    std::vector<std::vector<double>> rows;
    if (coefficients.ndim() == 1) {
        rows.emplace_back(coefficients.begin(), coefficients.end());
    } else {
        for (std::size_t b = 0; b < coefficients.shape()[0]; ++b) {
            const std::span<const double> row = coefficients.slice(b);
            rows.emplace_back(row.begin(), row.end());
        }
    }
    return rows;
}

// The name of a row of coefficients in messages, and the prefix of its
// items' names.
std::string row_name(const Array& coefficients, std::size_t b) {
    return coefficients.ndim() == 1 ? "coefficients" : limb_darkening::item("coefficients", b);
}
std::string row_prefix(const Array& coefficients, std::size_t b) {
    return coefficients.ndim() == 1 ? "coefficients[" : "coefficients[" + std::to_string(b) + ", ";
}

// The profile's checks, then the accuracy's; on success the source.
Checked<std::unique_ptr<Source>> prepare_source(const std::string& law, const Array& coefficients,
                                                const TableRadii& radii, double rtol) {
    const bool table = law == TABLE_LAW;
    limb_darkening::Law named{};
    if (!table && limb_darkening::check_law(law, named)) {
        return invalid("law must be one of " + limb_darkening::law_list() + " or 'table', got '" + law + "'");
    }
    if (coefficients.ndim() != 1 && coefficients.ndim() != 2) {
        return invalid("coefficients must hold one set of coefficients (one dimension) or one set for each band "
                       "(two dimensions), got an array of shape " + shape_text(coefficients.shape()));
    }
    const std::vector<std::vector<double>> rows = rows_of(coefficients);
    if (table) {
        if (!radii.radii) {
            return invalid("law 'table' needs radii: the radii, from 0 to 1 source radius, at which coefficients "
                           "give the brightness");
        }
        if (auto error = limb_darkening::check_table_radii(*radii.radii, "radii")) return *std::move(error);
        const std::size_t count = radii.radii->size();
        const std::size_t given = coefficients.shape().back();
        if (given != count) {
            return invalid("coefficients must hold one brightness for each of the " + std::to_string(count) +
                           " radii, got an array of shape " + shape_text(coefficients.shape()));
        }
        for (std::size_t b = 0; b < rows.size(); ++b) {
            if (auto error = limb_darkening::check_table_brightness(rows[b], row_name(coefficients, b),
                                                                     row_prefix(coefficients, b))) {
                return *std::move(error);
            }
        }
    } else {
        if (radii.radii) {
            return invalid("radii is only for law 'table' (the radii of a tabulated brightness profile), got law '" +
                           law + "'");
        }
        for (std::size_t b = 0; b < rows.size(); ++b) {
            if (auto error = limb_darkening::check_coefficients(named, rows[b], row_name(coefficients, b),
                                                                 row_prefix(coefficients, b))) {
                return *std::move(error);
            }
        }
    }
    if (auto error = limb_darkening::check_rtol(rtol)) return *std::move(error);
    if (table) return std::make_unique<Source>(*radii.radii, rows, rtol);
    return std::make_unique<Source>(named, rows, rtol);
}

// u = √(u0² + τ²), the root scaled where the sum of squares overflows.
double separation(double u0, double tau) {
    const double u = std::sqrt(u0 * u0 + tau * tau);
    if (!std::isinf(u) || std::isinf(tau)) return u;
    const double scale = std::fmax(std::fabs(u0), std::fabs(tau));
    const double a = u0 / scale;
    const double b = tau / scale;
    return scale * std::sqrt(a * a + b * b);
}

// A product of a chain rule's factor and a slope, either of which may be 0
// where the other is infinite (the limb; a timescale so short that a factor
// overflows): 0.
double times(double factor, double slope) { return factor == 0.0 || slope == 0.0 ? 0.0 : slope * factor; }

struct Call {
    Event event;
    std::unique_ptr<Source> source;
    bool banded;
};

Checked<Call> prepare(const Array& t, const Array& t0, const Array& u0, const Array& tE, const Array& rho,
                      const std::string& law, const Array& coefficients, double rtol, const TableRadii& radii) {
    Event event{{&t, &t0, &u0, &tE, &rho}, {}};
    if (auto error = check_event(event)) return *std::move(error);
    Checked<std::unique_ptr<Source>> source = prepare_source(law, coefficients, radii, rtol);
    if (!source) return InvalidArgument{source.message()};
    return Call{std::move(event), std::move(source).value(), coefficients.ndim() == 2};
}

// The geometry of a stretch of times, computed in one pass before their
// magnifications (a loop of divisions and roots alone, which the processor
// overlaps): the separation l = u/ρ in source radii (+inf where it
// overflows), ρ (one for all times when the event's parameters are single
// numbers), and for a Jacobian the chain rule's factors, ∂u/∂t0 = −(τ/u)/tE
// and ∂u/∂u0 = u0/u, each 0 where its ratio is (u = 0 makes both 0), and τ
// (∂A/∂tE = τ ∂A/∂t0). The times are taken a stretch at a time, so that these
// stay small and in cache whatever the length of the light curve.
constexpr std::size_t STRETCH = 256;

class Path {
public:
    Path(const Event& event, bool factors)
        : event_(event), factors_(factors), walk_(event.shape, shapes(event)), n_(element_count(event.shape)) {
        const auto& [t, t0, u0, tE, rho] = event.operands;
        one_event_ = t0->size() == 1 && u0->size() == 1 && tE->size() == 1 && rho->size() == 1;
    }

    std::size_t size() const noexcept { return n_; }

    // The geometry of the times [first, first + count), count ≤ STRETCH, the
    // stretches taken in order.
    void stretch(std::size_t first, std::size_t count) {
        count_ = count;
        const auto& [t, t0, u0, tE, rho] = event_.operands;
        if (one_event_) {
            const double start = (*t0)[0], impact = (*u0)[0], timescale = (*tE)[0], radius = (*rho)[0];
            const double inverse_tE = 1.0 / timescale;
            rho_[0] = radius;
            for (std::size_t p = 0; p < count; ++p) {
                at(p, (*t)[first + p], start, impact, timescale, radius, inverse_tE);
            }
            return;
        }
        for (std::size_t p = 0; p < count; ++p, walk_.next()) {
            const double rho_p = (*rho)[walk_.at(RHO)];
            rho_[p] = rho_p;
            const double tE_p = (*tE)[walk_.at(TE)];
            at(p, (*t)[walk_.at(T)], (*t0)[walk_.at(T0)], (*u0)[walk_.at(U0)], tE_p, rho_p, factors_ ? 1.0 / tE_p : 0.0);
        }
    }

    std::span<const double> l() const noexcept { return std::span<const double>(l_.data(), count_); }
    std::span<const double> rho() const noexcept {
        return std::span<const double>(rho_.data(), one_event_ ? 1 : count_);
    }
    double d_t0(std::size_t p) const noexcept { return d_t0_[p]; }
    double d_u0(std::size_t p) const noexcept { return d_u0_[p]; }
    double tau(std::size_t p) const noexcept { return tau_[p]; }

private:
    static std::array<Shape, OPERANDS> shapes(const Event& event) {
        std::array<Shape, OPERANDS> result;
        for (std::size_t k = 0; k < OPERANDS; ++k) result[k] = event.operands[k]->shape();
        return result;
    }

    // (inverse_tE: 1/tE.)
    void at(std::size_t p, double t, double t0, double u0, double tE, double rho, double inverse_tE) {
        const double tau = (t - t0) / tE;
        const double u = separation(u0, tau);
        l_[p] = u / rho;
        if (!factors_) return;
        // τ/u and u0/u are 0 at u = 0, and for an infinite u (A flat there).
        tau_[p] = tau;
        if (u == 0.0 || std::isinf(u)) {
            d_t0_[p] = d_u0_[p] = 0.0;
            return;
        }
        const double inverse = 1.0 / u;
        d_t0_[p] = times(-(tau * inverse), inverse_tE);
        d_u0_[p] = u0 * inverse;
    }

    const Event& event_;
    bool factors_;
    bool one_event_ = false;
    BroadcastWalk walk_;
    std::size_t n_;
    std::size_t count_ = 0;
    std::array<double, STRETCH> l_, rho_, d_t0_, d_u0_, tau_;
};

}  // namespace

Checked<Array> light_curve(Array t, Array t0, Array u0, Array tE, Array rho, std::string law, Array coefficients,
                           Accuracy accuracy, TableRadii radii) {
    Checked<Call> prepared = prepare(t, t0, u0, tE, rho, law, coefficients, accuracy.rtol, radii);
    if (!prepared) return InvalidArgument{prepared.message()};
    Call call = std::move(prepared).value();
    Source& source = *call.source;
    const std::size_t bands = source.band_count();
    auto path = std::make_unique<Path>(call.event, false);
    const std::size_t n = path->size();
    Array a(call.banded ? stacked(bands, call.event.shape) : call.event.shape);
    std::vector<double> values(bands * STRETCH);
    for (std::size_t first = 0; first < n; first += STRETCH) {
        const std::size_t count = std::min(STRETCH, n - first);
        path->stretch(first, count);
        source.magnifications(path->l(), path->rho(), std::span<double>(values.data(), bands * count));
        for (std::size_t b = 0; b < bands; ++b) {
            std::copy_n(&values[b * count], count, &a[b * n + first]);
        }
    }
    return a;
}

Checked<LightCurveJacobian> light_curve_jacobian(Array t, Array t0, Array u0, Array tE, Array rho, std::string law,
                                                 Array coefficients, Accuracy accuracy, TableRadii radii) {
    Checked<Call> prepared = prepare(t, t0, u0, tE, rho, law, coefficients, accuracy.rtol, radii);
    if (!prepared) return InvalidArgument{prepared.message()};
    Call call = std::move(prepared).value();
    Source& source = *call.source;
    const std::size_t bands = source.band_count();
    const std::size_t count = source.parameter_count();
    const std::size_t width = EVENT_PARAMETERS + count;
    auto path = std::make_unique<Path>(call.event, true);
    const std::size_t n = path->size();
    const Shape shape = call.banded ? stacked(bands, call.event.shape) : call.event.shape;
    Shape jacobian_shape = shape;
    jacobian_shape.push_back(width);
    LightCurveJacobian result{Array(shape), Array(jacobian_shape)};
    double* rows = result.jacobian.data();
    for (std::size_t first = 0; first < n; first += STRETCH) {
        const std::size_t stretch = std::min(STRETCH, n - first);
        path->stretch(first, stretch);
        // The magnification's own derivatives land in the Jacobian's rows,
        // ∂A/∂u in the column of t0 until the chain rule takes it from there.
        double* first_row = rows + first * width;
        const limb_darkening::GradientOutput out{{result.a.data() + first, n, 1},
                                                 {first_row, n * width, width},
                                                 {first_row + 3, n * width, width},
                                                 {first_row + EVENT_PARAMETERS, n * width, width},
                                                 1};
        source.gradients(path->l(), path->rho(), out);
        for (std::size_t b = 0; b < bands; ++b) {
            for (std::size_t p = 0; p < stretch; ++p) {
                double* row = &first_row[(b * n + p) * width];
                const double d_u = row[0];
                row[0] = times(path->d_t0(p), d_u);
                row[1] = times(path->d_u0(p), d_u);
                row[2] = times(path->tau(p), row[0]);
            }
        }
    }
    return result;
}

namespace {

// The separations' and radii's checks, then the profile's: the source.
Checked<std::unique_ptr<Source>> prepare_profile(const Array& l, double re, double rstar, double& rho,
                                                 const std::string& law, const Array& coefficients,
                                                 const TableRadii& radii, double rtol) {
    if (auto error = limb_darkening::check_separations(l)) return *std::move(error);
    if (auto error = limb_darkening::check_radii_ratio(re, rstar, rho)) return *std::move(error);
    return prepare_source(law, coefficients, radii, rtol);
}

}  // namespace

Checked<Array> profile_magnification(Array l, double re, double rstar, std::string law, Array coefficients,
                                     Accuracy accuracy, TableRadii radii) {
    double rho = 0.0;
    Checked<std::unique_ptr<Source>> prepared =
        prepare_profile(l, re, rstar, rho, law, coefficients, radii, accuracy.rtol);
    if (!prepared) return InvalidArgument{prepared.message()};
    return limb_darkening::magnifications(l, rho, *prepared.value(), coefficients.ndim() == 2);
}

Checked<MagnificationGradient> profile_magnification_gradient(Array l, double re, double rstar, std::string law,
                                                              Array coefficients, Accuracy accuracy,
                                                              TableRadii radii) {
    double rho = 0.0;
    Checked<std::unique_ptr<Source>> prepared =
        prepare_profile(l, re, rstar, rho, law, coefficients, radii, accuracy.rtol);
    if (!prepared) return InvalidArgument{prepared.message()};
    return limb_darkening::gradients(l, rho, *prepared.value(), coefficients.ndim() == 2);
}

}  // namespace lumevaro
