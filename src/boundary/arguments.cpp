// Binding of fastcall arguments, and the TypeError messages of its failures.
#include "boundary/arguments.hpp"

#include <optional>
#include <vector>

namespace lumevaro::boundary {
namespace {

std::string call_name(const FunctionDescription& description) {
    return std::string(description.function_name) + "()";
}

PyErr too_many_positional(const FunctionDescription& description, Py_ssize_t given) {
    return PyErr::deferred(
        PyExc_TypeError, call_name(description) + " takes " +
                             std::to_string(description.positional) +
                             " positional arguments but " + std::to_string(given) +
                             (given == 1 ? " was given" : " were given"));
}

PyErr unexpected_keyword(const FunctionDescription& description, PyObject* keyword) {
    return PyErr::deferred(PyExc_TypeError, call_name(description) +
                                                " got an unexpected keyword argument '" +
                                                display(keyword) + "'");
}

PyErr multiple_values(const FunctionDescription& description, std::string_view parameter) {
    return PyErr::deferred(PyExc_TypeError, call_name(description) +
                                                " got multiple values for argument '" +
                                                std::string(parameter) + "'");
}

PyErr missing_required(const FunctionDescription& description,
                       std::span<const std::string_view> missing) {
    return PyErr::deferred(PyExc_TypeError,
                           call_name(description) + " missing " + std::to_string(missing.size()) +
                               " required positional argument" +
                               (missing.size() == 1 ? ": " : "s: ") +
                               push_parameter_list(missing));
}

// The parameter whose name is exactly the keyword's UTF-8 text; a keyword
// without UTF-8 text matches none.
std::optional<std::size_t> parameter_index(const FunctionDescription& description,
                                           PyObject* keyword) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(keyword, &size);
    if (text == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    const std::string_view name(text, static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < description.parameters.size(); ++i) {
        if (description.parameters[i] == name) return i;
    }
    return std::nullopt;
}

}  // namespace

std::string push_parameter_list(std::span<const std::string_view> names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() > 2) list += ",";
            if (i + 1 == names.size()) list += " and";
            list += " ";
        }
        list += "'";
        list += names[i];
        list += "'";
    }
    return list;
}

MaybeError extract_arguments_fastcall(const FunctionDescription& description,
                                      PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames, std::span<PyObject*> slots) {
    const auto parameter_count = static_cast<Py_ssize_t>(description.positional);
    if (nargs > parameter_count) return too_many_positional(description, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];

    const Py_ssize_t keyword_count = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t i = 0; i < keyword_count; ++i) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, i);
        const auto index = parameter_index(description, keyword);
        if (!index) return unexpected_keyword(description, keyword);
        if (slots[*index] != nullptr) {
            return multiple_values(description, description.parameters[*index]);
        }
        slots[*index] = args[nargs + i];
    }

    if (nargs < parameter_count) {
        std::vector<std::string_view> missing;
        for (std::size_t i = static_cast<std::size_t>(nargs); i < description.positional; ++i) {
            if (slots[i] == nullptr) missing.push_back(description.parameters[i]);
        }
        if (!missing.empty()) return missing_required(description, missing);
    }
    return std::nullopt;
}

}  // namespace lumevaro::boundary
