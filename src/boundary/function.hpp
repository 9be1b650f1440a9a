// A module function: bind the arguments, convert them in declaration order,
// call the model routine, convert its result.
//
// The parameter kinds follow from the model routine's C++ signature: a
// std::vector<double> parameter is a sequence of floats, a double parameter
// one float, a std::string parameter a str, and an Accuracy the optional
// keyword-only float rtol (the model's default when not given). A model failure (an Outcome
// holding a message) becomes a RuntimeError with the message unchanged; a
// list routine's failure carries a note naming the separation it failed at.
// A rejected argument (a Checked holding a message) becomes a ValueError.
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
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "boundary/arguments.hpp"
#include "boundary/conversion.hpp"
#include "boundary/list_failure.hpp"
#include "boundary/pyerr.hpp"
#include "boundary/reference.hpp"
#include "elliptic/outcome.hpp"
#include "models/checked.hpp"
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

template <>
struct Parameter<Accuracy> {
    static constexpr bool keyword_only = true;
    static PyResult<Accuracy> extract(PyObject* object) {
        PyResult<double> rtol = extract_double(object);
        if (!rtol) return rtol.take_error();
        return Accuracy{rtol.take_value()};
    }
};

template <>
struct Parameter<std::vector<std::vector<double>>> {
    static PyResult<std::vector<std::vector<double>>> extract(PyObject* object) {
        return extract_vectors(object);
    }
};

inline PyResult<Owned> model_result(const std::vector<double>& values) { return to_python(values); }
inline PyResult<Owned> model_result(const std::vector<std::vector<double>>& lists) { return to_python(lists); }

// A magnification with its derivatives: the tuple (a, da_du, da_drho,
// [da_dc, ...]).
inline PyResult<Owned> model_result(const MagnificationGradient& gradient) {
    PyResult<Owned> parts[] = {to_python(gradient.a), to_python(gradient.d_u), to_python(gradient.d_rho),
                               to_python(gradient.d_coefficients)};
    Owned tuple = Owned::steal(PyTuple_New(4));
    if (!tuple) return PyErr::fetch();
    for (Py_ssize_t i = 0; i < 4; ++i) {
        if (!parts[i]) return parts[i].take_error();
        PyTuple_SET_ITEM(tuple.get(), i, parts[i].take_value().release());
    }
    return tuple;
}
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

// A list routine's failure also says which separation failed.
inline PyResult<Owned> model_result(const ListOutcome& outcome) {
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

    const std::size_t items = std::apply(
        [](const auto&... argument) { return (std::size_t{0} + ... + list_items(argument)); },
        arguments);
    Result result = [&] {
        const LockReleased unlocked(items >= RELEASE_LOCK_ITEMS);
        return std::apply(model, std::move(arguments));
    }();
    return model_result(result);
}

}  // namespace lumevaro::boundary
