// The PyErr value: fetching errors out of the interpreter, describing them
// and putting them back.
#include "boundary/pyerr.hpp"

#include <cstdio>
#include <cstdlib>

#include "boundary/panic.hpp"

namespace lumevaro::boundary {
namespace {

constexpr const char* NO_PENDING_ERROR = "attempted to fetch exception but none was set";
constexpr const char* UNPRINTABLE_PANIC = "Unwrapped panic from Python code";

std::string qualname_of(PyObject* type) {
    Owned name = Owned::steal(PyObject_GetAttrString(type, "__qualname__"));
    if (name) {
        if (auto text = utf8(name.get())) return *std::move(text);
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

// str() of an object, or nullopt if it fails; never leaves an error pending.
std::optional<std::string> str_of(PyObject* object) {
    Owned text = Owned::steal(PyObject_Str(object));
    if (text) {
        if (auto utf8_text = utf8(text.get())) return utf8_text;
    }
    PyErr_Clear();
    return std::nullopt;
}

}  // namespace

std::string display(PyObject* object) {
    if (auto text = str_of(object)) return *std::move(text);
    return "<unprintable " + type_qualname(object) + " object>";
}

std::optional<std::string> utf8(PyObject* text) {
    if (!PyUnicode_Check(text)) return std::nullopt;
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(text, &size)) return std::string(data, size);
    // Lone surrogates have no strict UTF-8 form; keep them byte for byte.
    PyErr_Clear();
    Owned bytes = Owned::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    if (!bytes) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(PyBytes_AS_STRING(bytes.get()), PyBytes_GET_SIZE(bytes.get()));
}

std::string type_qualname(PyObject* object) {
    return qualname_of(reinterpret_cast<PyObject*>(Py_TYPE(object)));
}

void abort_at_boundary(std::string_view reason) noexcept {
    std::fprintf(stderr, "lumevaro: uncaught panic at ffi boundary: %.*s\n",
                 static_cast<int>(reason.size()), reason.data());
    std::fflush(stderr);
    std::abort();
}

PyErr PyErr::deferred(PyObject* type, std::string message) {
    PyErr error;
    error.type_ = Owned::borrow(type);
    error.message_ = std::move(message);
    return error;
}

PyErr PyErr::panic(std::string message) {
    PyErr error;
    error.message_ = std::move(message);
    error.panic_args_ = true;
    return error;
}

PyErr PyErr::fetch() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        Py_XDECREF(value);
        Py_XDECREF(traceback);
        return deferred(PyExc_SystemError, NO_PENDING_ERROR);
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    PyErr error;
    error.type_ = Owned::steal(type);
    error.value_ = Owned::steal(value);
    error.traceback_ = Owned::steal(traceback);

    if (type == panic_exception_type()) {
        // Caller code raised our own PanicException through us (from a
        // __float__, say): treat it as an internal failure of the module.
        std::string message = str_of(value).value_or(UNPRINTABLE_PANIC);
        std::fputs("lumevaro: a PanicException raised by Python code reached native code; "
                   "raising it again.\nPython stack trace below:\n",
                   stderr);
        std::move(error).restore();
        PyErr_PrintEx(0);
        throw ResumedPanic(std::move(message));
    }
    return error;
}

PyObject* PyErr::type() const noexcept {
    return panic_args_ ? panic_exception_type() : type_.get();
}

std::string PyErr::str() const { return value_ ? display(value_.get()) : message_; }

std::string PyErr::describe() const { return qualname_of(type()) + ": " + str(); }

Owned PyErr::cause() const {
    if (has_cause_) return Owned::borrow(cause_.get());
    if (value_) return Owned::steal(PyException_GetCause(value_.get()));
    return Owned();
}

void PyErr::set_cause(Owned cause) noexcept {
    has_cause_ = true;
    cause_ = std::move(cause);
}

void PyErr::restore() && noexcept {
    if (value_) {
        if (has_cause_) PyException_SetCause(value_.get(), cause_.release());
        PyErr_Restore(type_.release(), value_.release(), traceback_.release());
        return;
    }

    Owned argument = Owned::steal(PyUnicode_DecodeUTF8(
        message_.data(), static_cast<Py_ssize_t>(message_.size()), "surrogatepass"));
    if (!argument) abort_at_boundary("the message of an exception could not be created");
    if (panic_args_) {
        Owned args = Owned::steal(PyTuple_New(1));
        if (!args) abort_at_boundary("the arguments of a PanicException could not be created");
        PyTuple_SET_ITEM(args.get(), 0, argument.release());
        argument = std::move(args);
    }
    PyErr_SetObject(type(), argument.get());

    if (has_cause_) {
        PyObject* raised_type = nullptr;
        PyObject* raised_value = nullptr;
        PyObject* raised_traceback = nullptr;
        PyErr_Fetch(&raised_type, &raised_value, &raised_traceback);
        PyErr_NormalizeException(&raised_type, &raised_value, &raised_traceback);
        if (raised_value) PyException_SetCause(raised_value, cause_.release());
        PyErr_Restore(raised_type, raised_value, raised_traceback);
    }
}

}  // namespace lumevaro::boundary
