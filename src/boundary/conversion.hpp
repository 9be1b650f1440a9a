// Conversion between Python objects and the doubles and vectors of doubles
// the models take and return.
//
// Arguments: a float parameter accepts an exact float directly and anything
// else through the number protocol (int, bool, __float__, __index__), with
// the interpreter's own rules and messages; a sequence parameter accepts any
// object that passes the sequence check except str, converting its items one
// by one, or, from a memoryview, array.array or numpy array holding one
// contiguous row of doubles, copying the buffer (the same values). A conversion TypeError is reported with the parameter's name in
// front; every other error reaches the caller unchanged.
//
// Results: a vector becomes a new list of floats, created at its final length
// and filled in place; a double becomes a new float.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>
#include <vector>

#include "boundary/pyerr.hpp"
#include "boundary/reference.hpp"

namespace lumevaro::boundary {

// TypeError "'{type}' object cannot be converted to '{target}'", {type} being
// the __qualname__ of the object's type.
PyErr cannot_convert(PyObject* object, std::string_view target);

PyResult<double> extract_double(PyObject* object);

// A str parameter, as UTF-8 (lone surrogates kept); anything else is refused
// with "cannot be converted to 'PyString'".
PyResult<std::string> extract_text(PyObject* object);

// Any sequence (the length it reports only sizes the vector), items
// converted with extract_double.
PyResult<std::vector<double>> extract_sequence(PyObject* object);

// A sequence parameter: str is refused before extract_sequence.
PyResult<std::vector<double>> extract_vector(PyObject* object);

// A sequence (not str) of sequences of floats, each item as extract_vector
// takes it; for parameters such as several bands' coefficients.
PyResult<std::vector<std::vector<double>>> extract_vectors(PyObject* object);

// The error to report for a failed conversion of the named parameter: an
// exact TypeError becomes "argument '{name}': {message}" with the same
// __cause__; any other error is returned unchanged.
PyErr argument_extraction_error(std::string_view parameter, PyErr error);

PyResult<Owned> to_python(const std::vector<double>& values);
PyResult<Owned> to_python(double value);
// A list of lists of floats.
PyResult<Owned> to_python(const std::vector<std::vector<double>>& lists);

}  // namespace lumevaro::boundary
