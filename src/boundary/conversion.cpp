// Argument and result conversion.
#include "boundary/conversion.hpp"

#include <algorithm>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace lumevaro::boundary {
namespace {

// What an allocation failure of the interpreter becomes while a result is
// converted: the pending error is printed, and the call fails as an internal
// failure.
PyErr python_api_call_failed() {
    PyErr_Print();
    return PyErr::panic("Python API call failed");
}

// Most doubles reserved up front on a sequence's word: 2^27 (1 GiB). A real
// list longer than that grows as its items arrive; a sequence that claims
// billions of items it does not hold cannot make the call ask for terabytes.
constexpr Py_ssize_t RESERVE_LIMIT = Py_ssize_t{1} << 27;

// The length a sequence reports is only a hint: one that cannot be reserved
// leaves the vector to grow as the items arrive.
void reserve_hint(std::vector<double>& values, Py_ssize_t hint) {
    try {
        values.reserve(static_cast<std::size_t>(std::min(hint, RESERVE_LIMIT)));
    } catch (const std::length_error&) {
    } catch (const std::bad_alloc&) {
    }
}

// Holds an object's per-object lock for its lifetime on free-threaded
// CPython (a critical section, which the interpreter suspends while the
// thread blocks and so cannot deadlock): the lock a list's methods, and from
// 3.14 on array.array's, hold while they change the object. Nothing where
// the GIL serialises callers.
class ObjectLock {
public:
#if defined(Py_GIL_DISABLED)
    explicit ObjectLock(PyObject* object) noexcept { PyCriticalSection_Begin(&section_, object); }
    ~ObjectLock() { PyCriticalSection_End(&section_); }
#else
    explicit ObjectLock(PyObject*) noexcept {}
#endif
    ObjectLock(const ObjectLock&) = delete;
    ObjectLock& operator=(const ObjectLock&) = delete;

private:
#if defined(Py_GIL_DISABLED)
    PyCriticalSection section_;
#endif
};

// The type array.array, looked up once; null when it cannot be imported.
OnceCell array_type_cell;

PyObject* array_type() {
    if (PyObject* cached = array_type_cell.get()) return cached;
    Owned module = Owned::steal(PyImport_ImportModule("array"));
    Owned type = module ? Owned::steal(PyObject_GetAttrString(module.get(), "array")) : Owned();
    if (!type) {
        PyErr_Clear();
        return nullptr;
    }
    return array_type_cell.set(std::move(type));
}

// True for the exact types whose items, one by one, are floats (or float
// subclasses) holding exactly the doubles of their buffer: memoryview,
// array.array and numpy.ndarray, never a subclass, which may iterate or
// convert otherwise. numpy is not imported for this: its array type is the
// static (non-heap) type named "numpy.ndarray", a name no class made in
// Python can carry together with that flag.
bool iterates_as_its_buffer(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyMemoryView_Type) return true;  // not subclassable
    const std::string_view name = type->tp_name;
    if (name == "numpy.ndarray") return !PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE);
    if (name == "array.array") return reinterpret_cast<PyObject*>(type) == array_type();
    return false;
}

// The values of a one-dimensional, C-contiguous buffer of native doubles
// ("d") exported by such a type, copied in one step while the export is
// held: neither array.array nor numpy resizes or frees the memory of an
// exported buffer meanwhile; nothing for any other
// object or buffer (which then takes the item-by-item path, errors included).
std::optional<std::vector<double>> read_double_buffer(PyObject* object) {
    if (!iterates_as_its_buffer(object)) return std::nullopt;
    // The export is taken and the values copied under the exporter's lock
    // too: on free-threaded CPython an array.array could otherwise be resized
    // by a thread that checked for exports just before this one took its own.
    const ObjectLock lock(object);
    Py_buffer view;
    if (PyObject_GetBuffer(object, &view, PyBUF_RECORDS_RO) < 0) {
        PyErr_Clear();  // a released memoryview, say: the item path reports it
        return std::nullopt;
    }
    std::optional<std::vector<double>> values;
    const bool plain_doubles = view.ndim == 1 && view.itemsize == sizeof(double) &&
                               view.format != nullptr && std::string_view(view.format) == "d" &&
                               PyBuffer_IsContiguous(&view, 'C');
    if (plain_doubles) {
        try {
            const auto* first = static_cast<const double*>(view.buf);
            values.emplace(first, first + view.shape[0]);
        } catch (...) {
            PyBuffer_Release(&view);
            throw;
        }
    }
    PyBuffer_Release(&view);
    return values;
}

}  // namespace

PyErr cannot_convert(PyObject* object, std::string_view target) {
    std::string message = "'";
    message += type_qualname(object);
    message += "' object cannot be converted to '";
    message += target;
    message += "'";
    return PyErr::deferred(PyExc_TypeError, std::move(message));
}

PyResult<double> extract_double(PyObject* object) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return PyErr::fetch();
    return value;
}

PyResult<std::string> extract_text(PyObject* object) {
    if (!PyUnicode_Check(object)) return cannot_convert(object, "PyString");
    std::optional<std::string> text = utf8(object);
    if (!text) return PyErr::fetch();
    return *std::move(text);
}

PyResult<std::vector<double>> extract_sequence(PyObject* object) {
    if (!PySequence_Check(object)) return cannot_convert(object, "Sequence");
    if (std::optional<std::vector<double>> values = read_double_buffer(object)) {
        return *std::move(values);
    }
    std::vector<double> values;
    const Py_ssize_t hint = PySequence_Size(object);
    if (hint < 0) {
        (void)PyErr::fetch();  // no usable length: start empty
    } else {
        reserve_hint(values, hint);
    }

    if (PyList_CheckExact(object)) {
        // A list's own iterator, step by step: the length read again before
        // every item (a __float__ may change the list) and the item held
        // while it converts; a float is read in place. Without the GIL
        // another thread may resize the list or replace an item at any
        // moment: the list's own lock is held meanwhile, as list methods
        // hold it. (A __float__ that blocks suspends it; the checks above
        // cover what changes then.)
        const ObjectLock lock(object);
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(object); ++i) {
            PyObject* item = PyList_GET_ITEM(object, i);
            if (PyFloat_CheckExact(item)) {
                values.push_back(PyFloat_AS_DOUBLE(item));
                continue;
            }
            const Owned held = Owned::borrow(item);
            PyResult<double> value = extract_double(held.get());
            if (!value) return value.take_error();
            values.push_back(value.take_value());
        }
        return values;
    }
    Owned iterator = Owned::steal(PyObject_GetIter(object));
    if (!iterator) return PyErr::fetch();
    while (Owned item = Owned::steal(PyIter_Next(iterator.get()))) {
        PyResult<double> value = extract_double(item.get());
        if (!value) return value.take_error();
        values.push_back(value.take_value());
    }
    if (PyErr_Occurred()) return PyErr::fetch();
    return values;
}

PyResult<std::vector<double>> extract_vector(PyObject* object) {
    if (PyUnicode_Check(object)) {
        return PyErr::deferred(PyExc_TypeError, "Can't extract `str` to `Vec`");
    }
    return extract_sequence(object);
}

PyResult<std::vector<std::vector<double>>> extract_vectors(PyObject* object) {
    if (PyUnicode_Check(object)) {
        return PyErr::deferred(PyExc_TypeError, "Can't extract `str` to `Vec`");
    }
    if (!PySequence_Check(object)) return cannot_convert(object, "Sequence");
    Owned iterator = Owned::steal(PyObject_GetIter(object));
    if (!iterator) return PyErr::fetch();
    std::vector<std::vector<double>> lists;
    while (Owned item = Owned::steal(PyIter_Next(iterator.get()))) {
        PyResult<std::vector<double>> values = extract_vector(item.get());
        if (!values) return values.take_error();
        lists.push_back(values.take_value());
    }
    if (PyErr_Occurred()) return PyErr::fetch();
    return lists;
}

PyErr argument_extraction_error(std::string_view parameter, PyErr error) {
    if (error.type() != PyExc_TypeError) return error;
    std::string message = "argument '";
    message += parameter;
    message += "': ";
    message += error.str();
    PyErr remapped = PyErr::deferred(PyExc_TypeError, std::move(message));
    remapped.set_cause(error.cause());
    return remapped;
}

PyResult<Owned> to_python(const std::vector<double>& values) {
    Owned list = Owned::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return python_api_call_failed();
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = PyFloat_FromDouble(values[i]);
        if (item == nullptr) return python_api_call_failed();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list;
}

PyResult<Owned> to_python(const std::vector<std::vector<double>>& lists) {
    Owned list = Owned::steal(PyList_New(static_cast<Py_ssize_t>(lists.size())));
    if (!list) return python_api_call_failed();
    for (std::size_t i = 0; i < lists.size(); ++i) {
        PyResult<Owned> inner = to_python(lists[i]);
        if (!inner) return inner.take_error();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), inner.take_value().release());
    }
    return list;
}

PyResult<Owned> to_python(double value) {
    Owned number = Owned::steal(PyFloat_FromDouble(value));
    if (!number) return python_api_call_failed();
    return number;
}

}  // namespace lumevaro::boundary
