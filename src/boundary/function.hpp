// A module function: bind the arguments, convert them in declaration order,
// call the model routine, convert its result.
//
// The parameter kinds follow from the model routine's C++ signature: a
// std::vector<double> parameter is a sequence of floats, a double parameter
// one float, a std::string parameter a str. A model failure (an Outcome
// holding a message) becomes a RuntimeError with the message unchanged; a
// rejected argument (a Checked holding a message) a ValueError.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "boundary/arguments.hpp"
#include "boundary/conversion.hpp"
#include "boundary/pyerr.hpp"
#include "boundary/reference.hpp"
#include "elliptic/outcome.hpp"
#include "models/checked.hpp"

namespace lumevaro::boundary {

template <class T>
struct Parameter;

template <>
struct Parameter<double> {
    static PyResult<double> extract(PyObject* object) { return extract_double(object); }
};

template <>
struct Parameter<std::string> {
    static PyResult<std::string> extract(PyObject* object) { return extract_text(object); }
};

template <>
struct Parameter<std::vector<double>> {
    static PyResult<std::vector<double>> extract(PyObject* object) {
        return extract_vector(object);
    }
};

inline PyResult<Owned> model_result(const std::vector<double>& values) { return to_python(values); }
inline PyResult<Owned> model_result(double value) { return to_python(value); }

// A model that checks its arguments: a bad one is a ValueError naming it.
template <class T>
PyResult<Owned> model_result(const Checked<T>& checked) {
    if (!checked) return PyErr::deferred(PyExc_ValueError, checked.message());
    return model_result(checked.value());
}

template <class T>
PyResult<Owned> model_result(const Outcome<T>& outcome) {
    if (!outcome) return PyErr::deferred(PyExc_RuntimeError, std::string(outcome.message()));
    return model_result(*outcome);
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
        PyResult<Kind> value = Parameter<Kind>::extract(slots[I]);
        if (!value) {
            failure = argument_extraction_error(description.parameters[I], value.take_error());
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

    return model_result(std::apply(model, std::move(arguments)));
}

}  // namespace lumevaro::boundary
