// numpy arrays in and out of the array functions.
//
// An array parameter takes any array-like of real numbers, of any shape: a
// Python number, a (nested) list or tuple, or an array of any real dtype
// (bool, integers, floating point), any strides, any byte order. Its values
// are copied once, converted to double, into an Array in C order; an array
// of Python objects converts each element with the float conversion (the
// number protocol). Complex numbers, strings, dates and anything else numpy
// holds but cannot read as one real number are a TypeError naming the
// argument.
//
// A result Array becomes a new writeable float64 ndarray of its shape that
// takes over the Array's memory (a capsule owning the values is its base):
// the values are written once, by the model, and never copied.
#pragma once

#include <Python.h>

#include <optional>
#include <string_view>

#include "boundary/pyerr.hpp"
#include "boundary/reference.hpp"
#include "models/array.hpp"

namespace lumevaro::boundary {

// Loads numpy's C API; at module initialisation, before any other use.
MaybeError import_numpy();

// The argument `name` as an Array; conversion errors are TypeErrors that
// name the argument (the interpreter's other errors pass unchanged).
PyResult<Array> extract_array(PyObject* object, std::string_view name);

PyResult<Owned> to_numpy(Array&& array);

// The shape of a numpy array of other than one dimension; nothing for any
// other object. Sequence parameters refuse such arrays by their shape.
std::optional<Shape> multidimensional_shape(PyObject* object);

}  // namespace lumevaro::boundary
