// A module function: bind the arguments, convert them in declaration order,
// call the model routine, convert its result.
//
// The parameter kinds follow from the model routine's C++ signature: a
// std::vector<double> parameter is a sequence of floats, an Array real
// numbers of any shape (an array-like), a double parameter one float, a
// std::string parameter a str, an Accuracy the optional keyword-only float
// rtol (the model's default when not given) and a TableRadii the optional
// keyword-only sequence radii. Results follow the same way: a vector of
// doubles is a list of floats, an Array a numpy array of its shape, a
// gradient a tuple of them. A model failure (an Outcome holding a message)
// becomes a RuntimeError with the message unchanged; a list routine's
// failure carries a note naming the separation it failed at. A rejected
// argument (a Checked holding a message) becomes a ValueError.
//
// The model routine touches no Python object, so while it runs the frame
// lets other threads have the interpreter lock, for calls with enough list
// items that the hand-over (two lock transfers, some 0.1 µs) is lost in the
// work. The lock is taken back before the result or a failure is turned into
// Python objects, and before a C++ exception leaves the routine.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "boundary/arguments.hpp"
#include "boundary/arrays.hpp"
#include "boundary/conversion.hpp"
#include "boundary/list_failure.hpp"
#include "boundary/pyerr.hpp"
#include "boundary/reference.hpp"
#include "elliptic/outcome.hpp"
#include "models/checked.hpp"
#include "models/array.hpp"
#include "models/light_curve.hpp"
#include "models/limb_darkening.hpp"
#include "models/list_outcome.hpp"

namespace lumevaro::boundary {

template <class T>
struct Parameter;

// A parameter kind whose Parameter has keyword_only: optional, keyword-only,
// after every required one; its default is T{}.
template <class T>
concept KeywordOnly = Parameter<T>::keyword_only;

template <class... Params>
inline constexpr std::size_t POSITIONAL_COUNT = (std::size_t{0} + ... + (KeywordOnly<Params> ? 0 : 1));

// Each kind's extract(object, name) converts the argument `name`; a failed
// conversion's TypeError names it ("argument 'l': ...").
template <>
struct Parameter<double> {
    static PyResult<double> extract(PyObject* object, std::string_view name) {
        PyResult<double> value = extract_double(object);
        if (!value) return argument_extraction_error(name, value.take_error());
        return value;
    }
};

template <>
struct Parameter<std::string> {
    static PyResult<std::string> extract(PyObject* object, std::string_view name) {
        PyResult<std::string> text = extract_text(object);
        if (!text) return argument_extraction_error(name, text.take_error());
        return text;
    }
};

// A sequence of floats; a numpy array of other than one dimension is
// refused by its shape (iterating it would give rows, not numbers).
template <>
struct Parameter<std::vector<double>> {
    static PyResult<std::vector<double>> extract(PyObject* object, std::string_view name) {
        if (std::optional<Shape> shape = multidimensional_shape(object)) {
            return PyErr::deferred(PyExc_TypeError, std::string(name) + " must be one-dimensional, got an array of shape " +
                                                        shape_text(*shape));
        }
        PyResult<std::vector<double>> values = extract_vector(object);
        if (!values) return argument_extraction_error(name, values.take_error());
        return values;
    }
};

// Real numbers of any shape, as a numpy array takes them (boundary/arrays.hpp).
template <>
struct Parameter<Array> {
    static PyResult<Array> extract(PyObject* object, std::string_view name) { return extract_array(object, name); }
};

template <>
struct Parameter<Accuracy> {
    static constexpr bool keyword_only = true;
    static PyResult<Accuracy> extract(PyObject* object, std::string_view name) {
        PyResult<double> rtol = Parameter<double>::extract(object, name);
        if (!rtol) return rtol.take_error();
        return Accuracy{rtol.take_value()};
    }
};

// A table's radii, optional: None is the same as not given.
template <>
struct Parameter<TableRadii> {
    static constexpr bool keyword_only = true;
    static PyResult<TableRadii> extract(PyObject* object, std::string_view name) {
        if (object == Py_None) return TableRadii{};
        PyResult<std::vector<double>> radii = Parameter<std::vector<double>>::extract(object, name);
        if (!radii) return radii.take_error();
        return TableRadii{radii.take_value()};
    }
};

template <>
struct Parameter<std::vector<std::vector<double>>> {
    static PyResult<std::vector<std::vector<double>>> extract(PyObject* object, std::string_view name) {
        PyResult<std::vector<std::vector<double>>> lists = extract_vectors(object);
        if (!lists) return argument_extraction_error(name, lists.take_error());
        return lists;
    }
};

inline PyResult<Owned> model_result(const std::vector<double>& values) { return to_python(values); }
inline PyResult<Owned> model_result(const std::vector<std::vector<double>>& lists) { return to_python(lists); }
inline PyResult<Owned> model_result(Array&& array) { return to_numpy(std::move(array)); }

// A tuple of results, converted in order.
template <std::size_t N>
PyResult<Owned> tuple_of(std::array<PyResult<Owned>, N>& parts) {
    for (PyResult<Owned>& part : parts) {
        if (!part) return part.take_error();
    }
    Owned tuple = Owned::steal(PyTuple_New(static_cast<Py_ssize_t>(N)));
    if (!tuple) return PyErr::fetch();
    for (std::size_t i = 0; i < N; ++i) {
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), parts[i].take_value().release());
    }
    return tuple;
}

// A magnification with its derivatives: the tuple (a, da_du, da_drho,
// da_dcoefficients) of arrays.
inline PyResult<Owned> model_result(MagnificationGradient&& gradient) {
    std::array<PyResult<Owned>, 4> parts{to_numpy(std::move(gradient.a)), to_numpy(std::move(gradient.d_u)),
                                         to_numpy(std::move(gradient.d_rho)),
                                         to_numpy(std::move(gradient.d_coefficients))};
    return tuple_of(parts);
}

// A light curve with its Jacobian: the tuple (a, jacobian).
inline PyResult<Owned> model_result(LightCurveJacobian&& result) {
    std::array<PyResult<Owned>, 2> parts{to_numpy(std::move(result.a)), to_numpy(std::move(result.jacobian))};
    return tuple_of(parts);
}

inline PyResult<Owned> model_result(double value) { return to_python(value); }

// A model that checks its arguments: a bad one is a ValueError naming it.
template <class T>
PyResult<Owned> model_result(Checked<T>&& checked) {
    if (!checked) return PyErr::deferred(PyExc_ValueError, checked.message());
    return model_result(std::move(checked).value());
}

template <class T>
PyResult<Owned> model_result(Outcome<T>&& outcome) {
    if (!outcome) return PyErr::deferred(PyExc_RuntimeError, std::string(outcome.message()));
    return model_result(*outcome);
}

// A list routine's failure also says which separation failed.
inline PyResult<Owned> model_result(ListOutcome&& outcome) {
    if (!outcome) return list_failure_error(outcome.separation_failure());
    return model_result(*outcome);
}

// Least number of list items (all list arguments together) for which a call
// gives the interpreter lock away while its model runs.
inline constexpr std::size_t RELEASE_LOCK_ITEMS = 8;

// Holds the interpreter lock released for its lifetime (when asked to), and
// takes it back on every way out of the scope, an exception included.
class LockReleased {
public:
    explicit LockReleased(bool release) noexcept : state_(release ? PyEval_SaveThread() : nullptr) {}
    ~LockReleased() {
        if (state_ != nullptr) PyEval_RestoreThread(state_);
    }
    LockReleased(const LockReleased&) = delete;
    LockReleased& operator=(const LockReleased&) = delete;

private:
    PyThreadState* state_;
};

inline std::size_t list_items(double) noexcept { return 0; }
inline std::size_t list_items(Accuracy) noexcept { return 0; }
inline std::size_t list_items(const std::vector<double>& values) noexcept { return values.size(); }
inline std::size_t list_items(const std::string&) noexcept { return 0; }
inline std::size_t list_items(const Array& values) noexcept { return values.size(); }
inline std::size_t list_items(const TableRadii&) noexcept { return 0; }
inline std::size_t list_items(const std::vector<std::vector<double>>& lists) noexcept {
    std::size_t items = 0;
    for (const auto& list : lists) items += list.size();
    return items;
}

template <class Result, class... Params>
PyResult<Owned> call_model(const FunctionDescription& description, Result (*model)(Params...),
                           PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, sizeof...(Params)> slots{};
    if (MaybeError error = extract_arguments_fastcall(description, args, nargs, kwnames, slots)) {
        return *std::move(error);
    }

    std::tuple<std::decay_t<Params>...> arguments;
    MaybeError failure;
    auto convert = [&]<std::size_t I>() {
        using Kind = std::tuple_element_t<I, std::tuple<std::decay_t<Params>...>>;
        if constexpr (KeywordOnly<Kind>) {
            if (slots[I] == nullptr) return true;  // the default, as constructed
        }
        PyResult<Kind> value = Parameter<Kind>::extract(slots[I], description.parameters[I]);
        if (!value) {
            failure = value.take_error();
            return false;
        }
        std::get<I>(arguments) = value.take_value();
        return true;
    };
    // The fold stops at the first failing parameter.
    const bool converted = [&]<std::size_t... I>(std::index_sequence<I...>) {
        return (convert.template operator()<I>() && ...);
    }(std::index_sequence_for<Params...>{});
    if (!converted) return *std::move(failure);

    const std::size_t items = std::apply(
        [](const auto&... argument) { return (std::size_t{0} + ... + list_items(argument)); },
        arguments);
    Result result = [&] {
        const LockReleased unlocked(items >= RELEASE_LOCK_ITEMS);
        return std::apply(model, std::move(arguments));
    }();
    return model_result(std::move(result));
}

}  // namespace lumevaro::boundary
