// The call frame shared by every module function and by the import.
//
// The calling thread holds the GIL. The frame runs a body that returns a new
// reference or a PyErr, raises the PyErr, and catches every C++ exception so
// that none unwinds into the interpreter:
//   InternalFailure          -> PanicException with its message (and a
//                               diagnostic line on standard error),
//   a resumed PanicException -> a new PanicException with the same message,
//   std::bad_alloc           -> MemoryError,
//   any other std::exception -> PanicException with its what() text,
//   anything else            -> PanicException with a fixed generic message.
#pragma once

#include <Python.h>

#include <utility>

#include "boundary/pyerr.hpp"
#include "boundary/reference.hpp"

namespace lumevaro::boundary {

// Raises the C++ exception being handled as a Python exception. Must be
// called from inside a catch block; function_name names the failing call in
// the diagnostic.
void raise_caught_failure(const char* function_name) noexcept;

template <class Body>
PyObject* trampoline(const char* function_name, Body&& body) noexcept {
    try {
        PyResult<Owned> result = std::forward<Body>(body)();
        if (result) return result.take_value().release();
        result.take_error().restore();
    } catch (...) {
        raise_caught_failure(function_name);
    }
    return nullptr;
}

}  // namespace lumevaro::boundary
