// Owned references to Python objects, and a once-cell filled under the GIL.
//
// Owned holds one strong reference and releases it when it goes out of scope,
// so every path out of a conversion or a registration step, successful or
// not, gives back exactly what it took. GilOnceCell keeps one strong
// reference for the life of the process; it takes no lock of its own because
// the GIL serialises every reader and writer, and it tolerates a racing
// initialiser (one that runs Python code and so lets another thread in) by
// keeping the first value stored.
#pragma once

#include <Python.h>

#include <utility>

namespace lumevaro::boundary {

class Owned {
public:
    Owned() noexcept = default;
    // Takes over a new reference (which may be null).
    static Owned steal(PyObject* object) noexcept { return Owned(object); }
    // Takes a new reference to a borrowed object (which may be null).
    static Owned borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return Owned(object);
    }

    Owned(Owned&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(object_);
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    // Hands the reference to the caller.
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    explicit Owned(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

class GilOnceCell {
public:
    // The stored object (borrowed), or null while the cell is empty.
    PyObject* get() const noexcept { return object_; }

    // Stores value unless the cell was filled meanwhile; either way returns
    // the object the cell holds (borrowed).
    PyObject* set(Owned value) noexcept {
        if (object_ == nullptr) object_ = value.release();
        return object_;
    }

private:
    PyObject* object_ = nullptr;
};

}  // namespace lumevaro::boundary
