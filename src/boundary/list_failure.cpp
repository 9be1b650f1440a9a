#include "boundary/list_failure.hpp"

#include <Python.h>

#include <string>

#include "boundary/reference.hpp"

namespace lumevaro::boundary {
namespace {

// repr() of a float: the shortest text that reads back as the same double.
std::string float_repr(double value) {
    char* text = PyOS_double_to_string(value, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (text == nullptr) {
        PyErr_Clear();
        return "?";
    }
    std::string repr(text);
    PyMem_Free(text);
    return repr;
}

// Appends the note to the exception's notes; false, with an error pending,
// when it cannot.
bool add_note(PyObject* exception, const std::string& text) {
    Owned note = Owned::steal(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!note) return false;
#if PY_VERSION_HEX >= 0x030B0000
    Owned result = Owned::steal(PyObject_CallMethod(exception, "add_note", "O", note.get()));
    return static_cast<bool>(result);
#else
    // A new exception has no notes yet: __notes__ is a new list of one.
    Owned notes = Owned::steal(PyList_New(1));
    if (!notes) return false;
    PyList_SET_ITEM(notes.get(), 0, note.release());
    return PyObject_SetAttrString(exception, "__notes__", notes.get()) == 0;
#endif
}

}  // namespace

PyErr list_failure_error(const SeparationFailure& failure) {
    const std::string_view message = failure.failure.message;
    Owned text = Owned::steal(
        PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!text) return PyErr::fetch();
    Owned exception = Owned::steal(PyObject_CallOneArg(PyExc_RuntimeError, text.get()));
    if (!exception) return PyErr::fetch();

    const std::string note = "raised for l[" + std::to_string(failure.index) +
                             "] = " + float_repr(failure.separation) +
                             " (the first element of l that failed)";
    if (!add_note(exception.get(), note)) PyErr_Clear();

    PyErr_SetObject(PyExc_RuntimeError, exception.get());
    return PyErr::fetch();
}

}  // namespace lumevaro::boundary
