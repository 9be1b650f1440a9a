// The XLA FFI handlers behind lumevaro.jax: light curves and limb-darkened
// magnifications computed by the models straight from XLA's buffers, with
// no Python in between (python/lumevaro/jax/__init__.py registers them).
//
// Shapes. A light curve's t, t0, u0, tE and rho come with their own shapes,
// which broadcast to the curve's S, and a magnification's re and rstar are
// single numbers; under jax.vmap (vmap_method "broadcast_all") every operand
// gains the same leading batch axes. A handler reads the batch from the
// coefficients, whose own rank (1, or 2 with bands) the adapter passes, and
// computes each batch element with its own coefficients and parameters:
//
//   light curve     t, t0, u0, tE, rho (B…, their own…), coefficients (B…, [bands,] n)
//                   -> a (B…, [bands,] S…), jacobian (B…, [bands,] S…, 4 + n)
//   magnification   l (B…, S…), re, rstar (B…), coefficients as above
//                   -> a, da_du, da_drho (B…, [bands,] S…),
//                      da_dcoefficients (B…, [bands,] S…, n)
//
// Errors. A bad value is refused by the models with a message naming it.
// With raise_errors the call fails with that message (XLA raises it where
// the result is awaited); otherwise the elements it touches are NaN: a bad
// time or parameter makes its own points NaN, a bad profile its whole batch
// element, so that a sampler rejects the step and goes on.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "models/light_curve.hpp"
#include "xla/ffi/api/ffi.h"

namespace ffi = xla::ffi;

namespace lumevaro::jax {
namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

using Dimensions = ffi::Buffer<ffi::F64>::Dimensions;

Shape shape_of(Dimensions dims, std::size_t from, std::size_t to) {
    Shape shape;
    for (std::size_t axis = from; axis < to; ++axis) shape.push_back(static_cast<std::size_t>(dims[axis]));
    return shape;
}

// The batch a call was vmapped over: the coefficients' axes before their
// own `core` ones.
struct Batch {
    std::size_t rank;
    std::size_t count;
};

// Nothing for coefficients of fewer axes than their own.
std::optional<Batch> batch_of(const ffi::Buffer<ffi::F64>& coefficients, std::int64_t core) {
    const Dimensions dims = coefficients.dimensions();
    if (core < 1 || core > 2 || dims.size() < static_cast<std::size_t>(core)) return std::nullopt;
    const std::size_t rank = dims.size() - static_cast<std::size_t>(core);
    std::size_t count = 1;
    for (std::size_t axis = 0; axis < rank; ++axis) count *= static_cast<std::size_t>(dims[axis]);
    return Batch{rank, count};
}

// Element b of a batch of arrays of `shape`.
Array element(const ffi::Buffer<ffi::F64>& buffer, std::size_t b, const Shape& shape) {
    const std::size_t size = element_count(shape);
    const double* first = buffer.typed_data() + b * size;
    return Array(shape, std::vector<double>(first, first + size));
}

TableRadii radii_of(const ffi::Buffer<ffi::F64>& radii, bool table) {
    if (!table) return {};
    const double* first = radii.typed_data();
    return TableRadii{std::vector<double>(first, first + radii.element_count())};
}

// An array broadcast to `shape`, each element its own.
Array spread(const Array& values, const Shape& shape) {
    if (values.shape() == shape) return values;
    Array spread_out(shape);
    const std::vector<Shape> operands{values.shape()};
    BroadcastWalk walk(shape, operands);
    for (std::size_t p = 0; p < spread_out.size(); ++p, walk.next()) spread_out[p] = values[walk.at(0)];
    return spread_out;
}

// A light curve's point the models take: its time and parameters finite,
// tE > 0, ρ in range (the checks of models/light_curve.cpp, which name the
// first point that fails them).
bool good_point(double t, double t0, double u0, double tE, double rho) {
    return std::isfinite(t) && std::isfinite(t0) && std::isfinite(u0) && std::isfinite(tE) && tE > 0.0 &&
           rho >= 1e-50 && rho <= 1e50;
}

// Every time and parameter the models take.
bool all_good(const Array& t, const Array& t0, const Array& u0, const Array& tE, const Array& rho) {
    const auto each = [](const Array& values, auto&& good) {
        return std::all_of(values.begin(), values.end(), good);
    };
    const auto finite = [](double x) { return std::isfinite(x); };
    return each(t, finite) && each(t0, finite) && each(u0, finite) &&
           each(tE, [](double x) { return std::isfinite(x) && x > 0.0; }) &&
           each(rho, [](double x) { return x >= 1e-50 && x <= 1e50; });
}

template <bool Jacobian>
ffi::Error light_curve_batch(ffi::Buffer<ffi::F64> t, ffi::Buffer<ffi::F64> t0, ffi::Buffer<ffi::F64> u0,
                             ffi::Buffer<ffi::F64> tE, ffi::Buffer<ffi::F64> rho, ffi::Buffer<ffi::F64> coefficients,
                             ffi::Buffer<ffi::F64> radii, std::string_view law, double rtol,
                             std::int64_t coefficient_rank, std::int64_t table, std::int64_t raise_errors,
                             ffi::ResultBuffer<ffi::F64> a, ffi::ResultBuffer<ffi::F64>* jacobian) {
    const std::optional<Batch> batch = batch_of(coefficients, coefficient_rank);
    if (!batch) return ffi::Error::InvalidArgument("lumevaro: coefficients of an unexpected rank");
    const Dimensions coefficient_dims = coefficients.dimensions();
    const Shape core = shape_of(coefficient_dims, batch->rank, coefficient_dims.size());
    // Each operand's own shape, after the batch's axes.
    const auto own = [&](const ffi::Buffer<ffi::F64>& x) { return shape_of(x.dimensions(), batch->rank, x.dimensions().size()); };
    const Shape t_shape = own(t), t0_shape = own(t0), u0_shape = own(u0), tE_shape = own(tE), rho_shape = own(rho);
    const std::optional<Shape> broadcast =
        broadcast_shapes(std::vector<Shape>{t_shape, t0_shape, u0_shape, tE_shape, rho_shape});
    if (!broadcast) return ffi::Error::InvalidArgument("lumevaro: t, t0, u0, tE and rho of shapes that do not broadcast");
    const std::size_t points = element_count(*broadcast);
    const std::size_t a_size = a->element_count() / std::max<std::size_t>(batch->count, 1);
    const std::size_t jacobian_size = Jacobian ? (*jacobian)->element_count() / std::max<std::size_t>(batch->count, 1) : 0;
    const std::size_t width = Jacobian ? 4 + static_cast<std::size_t>(coefficient_dims[coefficient_dims.size() - 1]) : 0;
    const TableRadii table_radii = radii_of(radii, table != 0);
    for (std::size_t b = 0; b < batch->count; ++b) {
        Array ts = element(t, b, t_shape), t0s = element(t0, b, t0_shape), u0s = element(u0, b, u0_shape),
              tEs = element(tE, b, tE_shape), rhos = element(rho, b, rho_shape);
        // Under the NaN policy the bad points are computed as a harmless
        // one and given NaN after; the parameters then broadcast to the
        // curve's shape first, each point having its own.
        std::vector<bool> bad(points, false);
        if (raise_errors == 0 && !all_good(ts, t0s, u0s, tEs, rhos)) {
            ts = spread(ts, *broadcast);
            t0s = spread(t0s, *broadcast);
            u0s = spread(u0s, *broadcast);
            tEs = spread(tEs, *broadcast);
            rhos = spread(rhos, *broadcast);
            for (std::size_t p = 0; p < points; ++p) {
                if (good_point(ts[p], t0s[p], u0s[p], tEs[p], rhos[p])) continue;
                bad[p] = true;
                ts[p] = t0s[p] = 0.0;
                u0s[p] = tEs[p] = rhos[p] = 1.0;
            }
        }
        double* a_out = a->typed_data() + b * a_size;
        double* jacobian_out = Jacobian ? (*jacobian)->typed_data() + b * jacobian_size : nullptr;
        const auto write = [&](const Array& values, double* out) { std::copy(values.begin(), values.end(), out); };
        bool failed = false;
        std::string message;
        if constexpr (Jacobian) {
            Checked<LightCurveJacobian> result =
                light_curve_jacobian(std::move(ts), std::move(t0s), std::move(u0s), std::move(tEs), std::move(rhos),
                                     std::string(law), element(coefficients, b, core), Accuracy{rtol}, table_radii);
            if (result) {
                write(result.value().a, a_out);
                write(result.value().jacobian, jacobian_out);
            } else {
                failed = true;
                message = result.message();
            }
        } else {
            Checked<Array> result =
                light_curve(std::move(ts), std::move(t0s), std::move(u0s), std::move(tEs), std::move(rhos),
                            std::string(law), element(coefficients, b, core), Accuracy{rtol}, table_radii);
            if (result) {
                write(result.value(), a_out);
            } else {
                failed = true;
                message = result.message();
            }
        }
        if (failed) {
            if (raise_errors != 0) return ffi::Error::InvalidArgument(message);
            std::fill(a_out, a_out + a_size, NOT_A_NUMBER);
            if (Jacobian) std::fill(jacobian_out, jacobian_out + jacobian_size, NOT_A_NUMBER);
            continue;
        }
        // The bad points of every band.
        const std::size_t bands = points == 0 ? 0 : a_size / points;
        for (std::size_t p = 0; p < points; ++p) {
            if (!bad[p]) continue;
            for (std::size_t band = 0; band < bands; ++band) {
                a_out[band * points + p] = NOT_A_NUMBER;
                if (Jacobian) std::fill_n(jacobian_out + (band * points + p) * width, width, NOT_A_NUMBER);
            }
        }
    }
    return ffi::Error::Success();
}

// A handler's body, with any C++ exception (an allocation that fails) turned
// into the call's error: nothing unwinds into XLA.
template <class Body>
ffi::Error guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ffi::Error::Internal("lumevaro: out of memory");
    } catch (const std::exception& failure) {
        return ffi::Error::Internal(std::string("lumevaro: internal failure: ") + failure.what());
    } catch (...) {
        return ffi::Error::Internal("lumevaro: internal failure");
    }
}

ffi::Error light_curve_value(ffi::Buffer<ffi::F64> t, ffi::Buffer<ffi::F64> t0, ffi::Buffer<ffi::F64> u0,
                             ffi::Buffer<ffi::F64> tE, ffi::Buffer<ffi::F64> rho, ffi::Buffer<ffi::F64> coefficients,
                             ffi::Buffer<ffi::F64> radii, std::string_view law, double rtol,
                             std::int64_t coefficient_rank, std::int64_t table, std::int64_t raise_errors,
                             ffi::ResultBuffer<ffi::F64> a) {
    return guarded([&] {
        return light_curve_batch<false>(t, t0, u0, tE, rho, coefficients, radii, law, rtol, coefficient_rank, table,
                                        raise_errors, a, nullptr);
    });
}

ffi::Error light_curve_with_jacobian(ffi::Buffer<ffi::F64> t, ffi::Buffer<ffi::F64> t0, ffi::Buffer<ffi::F64> u0,
                                     ffi::Buffer<ffi::F64> tE, ffi::Buffer<ffi::F64> rho,
                                     ffi::Buffer<ffi::F64> coefficients, ffi::Buffer<ffi::F64> radii,
                                     std::string_view law, double rtol, std::int64_t coefficient_rank,
                                     std::int64_t table, std::int64_t raise_errors, ffi::ResultBuffer<ffi::F64> a,
                                     ffi::ResultBuffer<ffi::F64> jacobian) {
    return guarded([&] {
        return light_curve_batch<true>(t, t0, u0, tE, rho, coefficients, radii, law, rtol, coefficient_rank, table,
                                       raise_errors, a, &jacobian);
    });
}

// A separation the models take.
bool good_separation(double l) { return std::isfinite(l) && l >= 0.0; }

template <bool Gradient>
ffi::Error magnification_batch(ffi::Buffer<ffi::F64> l, ffi::Buffer<ffi::F64> re, ffi::Buffer<ffi::F64> rstar,
                               ffi::Buffer<ffi::F64> coefficients, ffi::Buffer<ffi::F64> radii, std::string_view law,
                               double rtol, std::int64_t coefficient_rank, std::int64_t table,
                               std::int64_t raise_errors, ffi::ResultBuffer<ffi::F64> a,
                               ffi::ResultBuffer<ffi::F64>* d_u, ffi::ResultBuffer<ffi::F64>* d_rho,
                               ffi::ResultBuffer<ffi::F64>* d_coefficients) {
    const std::optional<Batch> batch = batch_of(coefficients, coefficient_rank);
    if (!batch) return ffi::Error::InvalidArgument("lumevaro: coefficients of an unexpected rank");
    const Dimensions coefficient_dims = coefficients.dimensions();
    const Shape separations = shape_of(l.dimensions(), batch->rank, l.dimensions().size());
    const Shape core = shape_of(coefficient_dims, batch->rank, coefficient_dims.size());
    const std::size_t points = element_count(separations);
    const std::size_t count = static_cast<std::size_t>(coefficient_dims[coefficient_dims.size() - 1]);
    const std::size_t a_size = a->element_count() / std::max<std::size_t>(batch->count, 1);
    const std::size_t bands = points == 0 ? 0 : a_size / points;
    const TableRadii table_radii = radii_of(radii, table != 0);
    for (std::size_t b = 0; b < batch->count; ++b) {
        Array ls = element(l, b, separations);
        std::vector<bool> bad(points, false);
        if (raise_errors == 0) {
            for (std::size_t p = 0; p < points; ++p) {
                if (good_separation(ls[p])) continue;
                bad[p] = true;
                ls[p] = 0.0;
            }
        }
        const double re_b = re.typed_data()[b], rstar_b = rstar.typed_data()[b];
        double* a_out = a->typed_data() + b * a_size;
        double* outs[3] = {a_out, nullptr, nullptr};
        double* d_c_out = nullptr;
        if constexpr (Gradient) {
            outs[1] = (*d_u)->typed_data() + b * a_size;
            outs[2] = (*d_rho)->typed_data() + b * a_size;
            d_c_out = (*d_coefficients)->typed_data() + b * a_size * count;
        }
        std::string message;
        bool failed = false;
        if constexpr (Gradient) {
            Checked<MagnificationGradient> result = profile_magnification_gradient(
                std::move(ls), re_b, rstar_b, std::string(law), element(coefficients, b, core), Accuracy{rtol},
                table_radii);
            if (result) {
                const MagnificationGradient& g = result.value();
                std::copy(g.a.begin(), g.a.end(), outs[0]);
                std::copy(g.d_u.begin(), g.d_u.end(), outs[1]);
                std::copy(g.d_rho.begin(), g.d_rho.end(), outs[2]);
                // From ([bands,] n, points) to ([bands,] points, n).
                for (std::size_t band = 0; band < bands; ++band) {
                    for (std::size_t k = 0; k < count; ++k) {
                        for (std::size_t p = 0; p < points; ++p) {
                            d_c_out[(band * points + p) * count + k] = g.d_coefficients[(band * count + k) * points + p];
                        }
                    }
                }
            } else {
                failed = true;
                message = result.message();
            }
        } else {
            Checked<Array> result = profile_magnification(std::move(ls), re_b, rstar_b, std::string(law),
                                                          element(coefficients, b, core), Accuracy{rtol}, table_radii);
            if (result) {
                std::copy(result.value().begin(), result.value().end(), outs[0]);
            } else {
                failed = true;
                message = result.message();
            }
        }
        const std::size_t arrays = Gradient ? 3 : 1;
        if (failed) {
            if (raise_errors != 0) return ffi::Error::InvalidArgument(message);
            for (std::size_t k = 0; k < arrays; ++k) std::fill_n(outs[k], a_size, NOT_A_NUMBER);
            if (Gradient) std::fill_n(d_c_out, a_size * count, NOT_A_NUMBER);
            continue;
        }
        for (std::size_t p = 0; p < points; ++p) {
            if (!bad[p]) continue;
            for (std::size_t band = 0; band < bands; ++band) {
                for (std::size_t k = 0; k < arrays; ++k) outs[k][band * points + p] = NOT_A_NUMBER;
                if (Gradient) std::fill_n(d_c_out + (band * points + p) * count, count, NOT_A_NUMBER);
            }
        }
    }
    return ffi::Error::Success();
}

ffi::Error magnification_value(ffi::Buffer<ffi::F64> l, ffi::Buffer<ffi::F64> re, ffi::Buffer<ffi::F64> rstar,
                               ffi::Buffer<ffi::F64> coefficients, ffi::Buffer<ffi::F64> radii, std::string_view law,
                               double rtol, std::int64_t coefficient_rank, std::int64_t table,
                               std::int64_t raise_errors, ffi::ResultBuffer<ffi::F64> a) {
    return guarded([&] {
        return magnification_batch<false>(l, re, rstar, coefficients, radii, law, rtol, coefficient_rank, table,
                                          raise_errors, a, nullptr, nullptr, nullptr);
    });
}

ffi::Error magnification_with_gradient(ffi::Buffer<ffi::F64> l, ffi::Buffer<ffi::F64> re,
                                       ffi::Buffer<ffi::F64> rstar, ffi::Buffer<ffi::F64> coefficients,
                                       ffi::Buffer<ffi::F64> radii, std::string_view law, double rtol,
                                       std::int64_t coefficient_rank, std::int64_t table, std::int64_t raise_errors,
                                       ffi::ResultBuffer<ffi::F64> a, ffi::ResultBuffer<ffi::F64> d_u,
                                       ffi::ResultBuffer<ffi::F64> d_rho, ffi::ResultBuffer<ffi::F64> d_coefficients) {
    return guarded([&] {
        return magnification_batch<true>(l, re, rstar, coefficients, radii, law, rtol, coefficient_rank, table,
                                         raise_errors, a, &d_u, &d_rho, &d_coefficients);
    });
}

// The attributes every handler binds, after its arguments.
template <class Binding>
auto with_attributes(Binding&& binding) {
    return std::forward<Binding>(binding)
        .template Attr<std::string_view>("law")
        .template Attr<double>("rtol")
        .template Attr<std::int64_t>("coefficient_rank")
        .template Attr<std::int64_t>("table")
        .template Attr<std::int64_t>("raise_errors");
}

// The arguments and attributes of each kind of handler, in order.
auto light_curve_binding() {
    return with_attributes(ffi::Ffi::Bind()
                               .Arg<ffi::Buffer<ffi::F64>>()    // t
                               .Arg<ffi::Buffer<ffi::F64>>()    // t0
                               .Arg<ffi::Buffer<ffi::F64>>()    // u0
                               .Arg<ffi::Buffer<ffi::F64>>()    // tE
                               .Arg<ffi::Buffer<ffi::F64>>()    // rho
                               .Arg<ffi::Buffer<ffi::F64>>()    // coefficients
                               .Arg<ffi::Buffer<ffi::F64>>());  // radii (empty but for law "table")
}

auto magnification_binding() {
    return with_attributes(ffi::Ffi::Bind()
                               .Arg<ffi::Buffer<ffi::F64>>()    // l
                               .Arg<ffi::Buffer<ffi::F64>>()    // re
                               .Arg<ffi::Buffer<ffi::F64>>()    // rstar
                               .Arg<ffi::Buffer<ffi::F64>>()    // coefficients
                               .Arg<ffi::Buffer<ffi::F64>>());  // radii
}

}  // namespace
}  // namespace lumevaro::jax

XLA_FFI_DEFINE_HANDLER_SYMBOL(LumevaroLightCurve, lumevaro::jax::light_curve_value,
                              lumevaro::jax::light_curve_binding().Ret<ffi::Buffer<ffi::F64>>());
XLA_FFI_DEFINE_HANDLER_SYMBOL(LumevaroLightCurveJacobian, lumevaro::jax::light_curve_with_jacobian,
                              lumevaro::jax::light_curve_binding()
                                  .Ret<ffi::Buffer<ffi::F64>>()
                                  .Ret<ffi::Buffer<ffi::F64>>());
XLA_FFI_DEFINE_HANDLER_SYMBOL(LumevaroMagnification, lumevaro::jax::magnification_value,
                              lumevaro::jax::magnification_binding().Ret<ffi::Buffer<ffi::F64>>());
XLA_FFI_DEFINE_HANDLER_SYMBOL(LumevaroMagnificationGradient, lumevaro::jax::magnification_with_gradient,
                              lumevaro::jax::magnification_binding()
                                  .Ret<ffi::Buffer<ffi::F64>>()
                                  .Ret<ffi::Buffer<ffi::F64>>()
                                  .Ret<ffi::Buffer<ffi::F64>>()
                                  .Ret<ffi::Buffer<ffi::F64>>());
