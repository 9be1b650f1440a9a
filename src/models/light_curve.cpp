// Light curves and their Jacobians (light_curve.hpp): the event's
// parameters broadcast, the source prepared once, then at each time the
// separation, the magnification's gradient in every band, and the chain rule.
#include "models/light_curve.hpp"

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

std::optional<InvalidArgument> check_each(const Array& values, std::string_view name, std::string_view rule,
                                          bool (*holds)(double)) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!holds(values[i])) {
            return invalid(element_name(name, values.shape(), i) + std::string(rule) + number(values[i]));
        }
    }
    return std::nullopt;
}

bool finite(double x) { return std::isfinite(x); }
bool positive(double x) { return std::isfinite(x) && x > 0.0; }

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

// A product with a factor that may be 0 where the other is infinite: 0.
double times(double factor, double slope) { return factor == 0.0 ? 0.0 : slope * factor; }

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

// The geometry at every time, computed in one pass before any magnification
// (a loop of divisions and roots alone, which the processor overlaps): the
// separation l = u/ρ in source radii (+inf where it overflows), ρ, and for a
// Jacobian the chain rule's factors, ∂u/∂t0 = −(τ/u)/tE, ∂u/∂u0 = u0/u and
// ∂u/∂tE = τ ∂u/∂t0, each 0 where its ratio is (u = 0 makes both 0).
struct Path {
    std::vector<double> l, rho, d_t0, d_u0, d_tE;
};

Path path_of(const Event& event, bool factors) {
    const std::size_t n = element_count(event.shape);
    Path path{std::vector<double>(n), std::vector<double>(n), {}, {}, {}};
    if (factors) {
        path.d_t0.resize(n);
        path.d_u0.resize(n);
        path.d_tE.resize(n);
    }
    const auto at = [&](std::size_t p, double t, double t0, double u0, double tE, double rho) {
        const double tau = (t - t0) / tE;
        const double u = separation(u0, tau);
        path.l[p] = u / rho;
        path.rho[p] = rho;
        if (!factors) return;
        // τ/u and u0/u are 0 at u = 0, and for an infinite u (A flat there).
        const double along = u == 0.0 || std::isinf(u) ? 0.0 : tau / u;
        const double across = u == 0.0 || std::isinf(u) ? 0.0 : u0 / u;
        path.d_t0[p] = -along / tE;
        path.d_u0[p] = across;
        path.d_tE[p] = times(path.d_t0[p], tau);
    };
    const auto& [t, t0, u0, tE, rho] = event.operands;
    if (t0->size() == 1 && u0->size() == 1 && tE->size() == 1 && rho->size() == 1) {
        // One event: the parameters are the same at every time.
        for (std::size_t p = 0; p < n; ++p) at(p, (*t)[p], (*t0)[0], (*u0)[0], (*tE)[0], (*rho)[0]);
        return path;
    }
    std::array<Shape, OPERANDS> shapes;
    for (std::size_t k = 0; k < OPERANDS; ++k) shapes[k] = event.operands[k]->shape();
    BroadcastWalk walk(event.shape, shapes);
    for (std::size_t p = 0; p < n; ++p, walk.next()) {
        at(p, (*t)[walk.at(T)], (*t0)[walk.at(T0)], (*u0)[walk.at(U0)], (*tE)[walk.at(TE)], (*rho)[walk.at(RHO)]);
    }
    return path;
}

}  // namespace

Checked<Array> light_curve(Array t, Array t0, Array u0, Array tE, Array rho, std::string law, Array coefficients,
                           Accuracy accuracy, TableRadii radii) {
    Checked<Call> prepared = prepare(t, t0, u0, tE, rho, law, coefficients, accuracy.rtol, radii);
    if (!prepared) return InvalidArgument{prepared.message()};
    Call call = std::move(prepared).value();
    Source& source = *call.source;
    const std::size_t bands = source.band_count();
    const Path path = path_of(call.event, false);
    Array a(call.banded ? stacked(bands, call.event.shape) : call.event.shape);
    source.magnifications(path.l, path.rho, std::span<double>(a.data(), a.size()));
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
    const Path path = path_of(call.event, true);
    const std::size_t n = path.l.size();
    const Shape shape = call.banded ? stacked(bands, call.event.shape) : call.event.shape;
    Shape jacobian_shape = shape;
    jacobian_shape.push_back(width);
    LightCurveJacobian result{Array(shape), Array(jacobian_shape)};
    // The magnification's own derivatives land in the Jacobian's rows, ∂A/∂u
    // in the column of t0 until the chain rule takes it from there.
    double* rows = result.jacobian.data();
    const limb_darkening::GradientOutput out{{result.a.data(), n, 1},
                                             {rows, n * width, width},
                                             {rows + 3, n * width, width},
                                             {rows + EVENT_PARAMETERS, n * width, width},
                                             1};
    source.gradients(path.l, path.rho, out);
    for (std::size_t b = 0; b < bands; ++b) {
        for (std::size_t p = 0; p < n; ++p) {
            double* row = &rows[(b * n + p) * width];
            const double d_u = row[0];
            row[0] = times(path.d_t0[p], d_u);
            row[1] = times(path.d_u0[p], d_u);
            row[2] = times(path.d_tE[p], d_u);
        }
    }
    return result;
}

}  // namespace lumevaro
