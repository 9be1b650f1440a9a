// Binding of fastcall arguments to a function's parameters.
//
// A module function has required positional-or-keyword parameters, then
// (some of them) optional keyword-only ones, so binding fills one slot per
// parameter from the positional arguments and then from the keywords, and
// can fail in four ways only: too many positional arguments, an unknown
// keyword, a parameter given twice, or required parameters left empty. Each
// failure is a TypeError whose message names the function the way Python's
// own functions do. An optional parameter not given keeps an empty slot.
#pragma once

#include <Python.h>

#include <span>
#include <string>
#include <string_view>

#include "boundary/pyerr.hpp"

namespace lumevaro::boundary {

struct FunctionDescription {
    std::string_view function_name;
    // In declaration order: the first `positional` positional-or-keyword and
    // required, the rest keyword-only and optional.
    std::span<const std::string_view> parameters;
    std::size_t positional;
};

// Fills slots (one per parameter, initially null) with borrowed references to
// the arguments: args holds nargs positional values followed by one value per
// name in kwnames (a tuple of str, or null).
MaybeError extract_arguments_fastcall(const FunctionDescription& description,
                                      PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames, std::span<PyObject*> slots);

// 'a' — 'a' and 'b' — 'a', 'b', and 'c'.
std::string push_parameter_list(std::span<const std::string_view> names);

}  // namespace lumevaro::boundary
