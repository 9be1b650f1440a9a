// numpy arrays in and out.
#define LUMEVARO_NUMPY_API_HOME
#include "boundary/arrays.hpp"

#include <memory>
#include <string>
#include <vector>

#include "boundary/conversion.hpp"
#include "boundary/numpy_api.hpp"

namespace lumevaro::boundary {
namespace {

constexpr const char* CAPSULE_NAME = "lumevaro.values";

void release_values(PyObject* capsule) {
    delete static_cast<std::vector<double>*>(PyCapsule_GetPointer(capsule, CAPSULE_NAME));
}

std::vector<npy_intp> dimensions(const Shape& shape) { return std::vector<npy_intp>(shape.begin(), shape.end()); }

PyErr argument_type_error(std::string_view name, const std::string& message) {
    return PyErr::deferred(PyExc_TypeError, "argument '" + std::string(name) + "': " + message);
}

// An array of a numeric kind, converted by numpy (any dtype, strides or byte
// order) straight into the values' memory.
MaybeError copy_numbers(PyArrayObject* source, Array& values) {
    if (values.empty()) return std::nullopt;
    std::vector<npy_intp> dims = dimensions(values.shape());
    Owned target = Owned::steal(PyArray_New(&PyArray_Type, static_cast<int>(dims.size()), dims.data(), NPY_DOUBLE,
                                            nullptr, values.data(), 0, NPY_ARRAY_CARRAY, nullptr));
    if (!target) return PyErr::fetch();
    if (PyArray_CopyInto(reinterpret_cast<PyArrayObject*>(target.get()), source) < 0) return PyErr::fetch();
    return std::nullopt;
}

// An array of Python objects, each converted as a float argument is. Without
// the GIL another thread may replace an item of the caller's array between
// its read and the reference taken on it: there the items are read from a
// private copy, which holds a reference to each.
MaybeError convert_objects(PyArrayObject* source, Array& values, std::string_view name) {
#if defined(Py_GIL_DISABLED)
    Owned contiguous = Owned::steal(PyArray_NewCopy(source, NPY_CORDER));
#else
    Owned contiguous = Owned::steal(reinterpret_cast<PyObject*>(PyArray_GETCONTIGUOUS(source)));
#endif
    if (!contiguous) return PyErr::fetch();
    auto* items = static_cast<PyObject**>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(contiguous.get())));
    for (std::size_t i = 0; i < values.size(); ++i) {
        // Held while it converts: a __float__ may rewrite the array.
        const Owned item = Owned::borrow(items[i]);
        PyResult<double> value = extract_double(item.get());
        if (!value) {
            PyErr error = value.take_error();
            if (error.type() != PyExc_TypeError) return error;
            const std::string what = values.ndim() == 0 ? "must be a real number or an array of real numbers"
                                                        : element_name(name, values.shape(), i) +
                                                              " must be a real number";
            return argument_type_error(name, what + ", got '" + type_qualname(item.get()) + "'");
        }
        values[i] = value.take_value();
    }
    return std::nullopt;
}

}  // namespace

MaybeError import_numpy() {
    if (_import_array() < 0) return PyErr::fetch();
    return std::nullopt;
}

PyResult<Array> extract_array(PyObject* object, std::string_view name) {
    if (PyUnicode_Check(object) || PyBytes_Check(object)) {
        return argument_type_error(name, "must be a real number or an array of real numbers, got '" +
                                             type_qualname(object) + "'");
    }
    Owned converted = Owned::steal(PyArray_FromAny(object, nullptr, 0, 0, 0, nullptr));
    if (!converted) return argument_extraction_error(name, PyErr::fetch());
    auto* array = reinterpret_cast<PyArrayObject*>(converted.get());
    const npy_intp* dims = PyArray_DIMS(array);
    Array values(Shape(dims, dims + PyArray_NDIM(array)));
    MaybeError error;
    switch (PyArray_DESCR(array)->kind) {
        case 'b':
        case 'i':
        case 'u':
        case 'f':
            error = copy_numbers(array, values);
            break;
        case 'O':
            error = convert_objects(array, values, name);
            break;
        case 'c':
            return argument_type_error(name, "must be real, got complex numbers");
        default: {
            Owned dtype = Owned::steal(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(array))));
            const std::string text = dtype ? display(dtype.get()) : "?";
            if (!dtype) PyErr_Clear();
            return argument_type_error(name, "must be real numbers, got an array of dtype " + text);
        }
    }
    if (error) return *std::move(error);
    return values;
}

PyResult<Owned> to_numpy(Array&& array) {
    std::vector<npy_intp> dims = dimensions(array.shape());
    const int ndim = static_cast<int>(dims.size());
    if (array.empty()) {
        Owned empty = Owned::steal(PyArray_ZEROS(ndim, dims.data(), NPY_DOUBLE, 0));
        if (!empty) return PyErr::fetch();
        return empty;
    }
    auto owner = std::make_unique<std::vector<double>>(std::move(array).take_values());
    double* data = owner->data();
    Owned capsule = Owned::steal(PyCapsule_New(owner.get(), CAPSULE_NAME, release_values));
    if (!capsule) return PyErr::fetch();
    owner.release();  // the capsule's now
    Owned result = Owned::steal(
        PyArray_New(&PyArray_Type, ndim, dims.data(), NPY_DOUBLE, nullptr, data, 0, NPY_ARRAY_CARRAY, nullptr));
    if (!result) return PyErr::fetch();
    // Takes the capsule's reference, even when it fails.
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(result.get()), capsule.release()) < 0) {
        return PyErr::fetch();
    }
    return result;
}

std::optional<Shape> multidimensional_shape(PyObject* object) {
    if (!PyArray_Check(object)) return std::nullopt;
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    if (PyArray_NDIM(array) == 1) return std::nullopt;
    const npy_intp* dims = PyArray_DIMS(array);
    return Shape(dims, dims + PyArray_NDIM(array));
}

}  // namespace lumevaro::boundary
