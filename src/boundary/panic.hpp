// PanicException: the module's exception for internal failures.
//
// The type is created on first use with PyErr_NewExceptionWithDoc under the
// dotted name "pyo3_runtime.PanicException", with BaseException as its only
// base, and kept for the life of the process. It is never added to the
// module's namespace; callers meet it only as a raised exception.
#pragma once

#include <Python.h>

namespace lumevaro::boundary {

// The PanicException type (borrowed). Aborts the process if the type cannot
// be created, since no exception could then be raised for the failure.
PyObject* panic_exception_type() noexcept;

}  // namespace lumevaro::boundary
