// PanicException: created once, cached, raised for internal failures.
#include "boundary/panic.hpp"

#include "boundary/pyerr.hpp"
#include "boundary/reference.hpp"

namespace lumevaro::boundary {
namespace {

constexpr const char* PANIC_EXCEPTION_NAME = "pyo3_runtime.PanicException";

constexpr const char* PANIC_EXCEPTION_DOC =
    "Raised when the native code of lumevaro meets an internal failure.\n"
    "\n"
    "Like SystemExit, this exception derives from BaseException rather than\n"
    "Exception, so that it typically propagates all the way up the stack\n"
    "and ends the Python interpreter.\n";

OnceCell panic_exception_cell;

}  // namespace

PyObject* panic_exception_type() noexcept {
    if (PyObject* type = panic_exception_cell.get()) return type;
    Owned type = Owned::steal(PyErr_NewExceptionWithDoc(
        PANIC_EXCEPTION_NAME, PANIC_EXCEPTION_DOC, PyExc_BaseException, nullptr));
    if (!type) {
        PyErr_Print();
        abort_at_boundary("Failed to initialize new exception type.");
    }
    return panic_exception_cell.set(std::move(type));
}

}  // namespace lumevaro::boundary
