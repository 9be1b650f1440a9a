// The error value that travels back to the call frame.
//
// A PyErr is either deferred (an exception class and its message; the Python
// exception object is made only when the error is raised) or fetched (the
// type, normalised value and traceback taken out of the interpreter's error
// indicator, put back unchanged when raised). Either kind can carry a cause,
// which becomes the raised exception's __cause__.
#pragma once

#include <Python.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "boundary/reference.hpp"
#include "models/internal_failure.hpp"

namespace lumevaro::boundary {

class PyErr {
public:
    // A deferred error of exception class type with a UTF-8 message.
    static PyErr deferred(PyObject* type, std::string message);
    // A deferred PanicException; it is raised with the one-element tuple
    // (message,) so that its args hold the message.
    static PyErr panic(std::string message);
    // The error pending in the interpreter, or SystemError when none is.
    // A pending PanicException (raised by caller code) is not returned: it
    // is reported on standard error and rethrown as ResumedPanic.
    static PyErr fetch();

    PyErr(PyErr&&) noexcept = default;
    PyErr& operator=(PyErr&&) noexcept = default;

    // The exception's class (borrowed).
    PyObject* type() const noexcept;
    // str() of the exception: the message of a deferred error.
    std::string str() const;
    // "{type qualname}: {str}", for diagnostics.
    std::string describe() const;
    // The exception's __cause__, or null.
    Owned cause() const;
    void set_cause(Owned cause) noexcept;

    // Puts the error into the interpreter's error indicator. A failure here
    // cannot be reported to Python: the process aborts.
    void restore() && noexcept;

private:
    PyErr() = default;

    Owned type_;  // null for a deferred PanicException, whose type is made on demand
    std::string message_;
    bool panic_args_ = false;
    Owned value_;  // null for a deferred error
    Owned traceback_;
    bool has_cause_ = false;
    Owned cause_;
};

// The value of a step that can fail with a PyErr.
template <class T>
class PyResult {
public:
    PyResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    PyResult(PyErr error) : state_(std::in_place_index<1>, std::move(error)) {}

    explicit operator bool() const noexcept { return state_.index() == 0; }
    T take_value() { return std::get<0>(std::move(state_)); }
    PyErr take_error() { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, PyErr> state_;
};

// The outcome of a step that yields nothing but can fail.
using MaybeError = std::optional<PyErr>;

// A PanicException raised by caller code and fetched by the module: an
// internal failure, already reported on standard error when it was fetched.
// It unwinds to the call frame, which raises a new PanicException with this
// message.
class ResumedPanic : public InternalFailure {
public:
    using InternalFailure::InternalFailure;
};

// UTF-8 text of a str object; lone surrogates are kept (surrogatepass), so the
// text turns back into the same str. Clears any error and returns nullopt when
// the object is not a str.
std::optional<std::string> utf8(PyObject* text);

// str() of an object as UTF-8, or "<unprintable {type} object>" if str()
// fails; never leaves an error pending.
std::string display(PyObject* object);

// The __qualname__ of an object's type, or "<failed to extract type name>".
std::string type_qualname(PyObject* object);

// Writes "... uncaught panic at ffi boundary" and the reason to standard error
// and aborts: the one way out when an error cannot even be raised.
[[noreturn]] void abort_at_boundary(std::string_view reason) noexcept;

}  // namespace lumevaro::boundary
