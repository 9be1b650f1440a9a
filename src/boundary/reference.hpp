// Owned references to Python objects, and a once-cell shared by threads.
//
// Owned holds one strong reference and releases it when it goes out of scope,
// so every path out of a conversion or a registration step, successful or
// not, gives back exactly what it took. OnceCell keeps one strong reference
// for the life of the process: the objects the module makes once (its
// exception type, interned names, the module itself) and looks up once (the
// type array.array). Threads may race to fill it: with the GIL, because an
// initialiser runs Python code and so lets another thread in; without it
// (free-threaded CPython), at any moment. Each racer builds its own value;
// the first stored wins, by one compare-and-swap, and the others drop theirs
// and use it. A stored object is never replaced or released, so the
// borrowed pointer a reader gets stays valid and its reference count is
// never touched by readers; the acquire load pairs with the release store,
// so a reader sees the object fully made.
#pragma once

#include <Python.h>

#include <atomic>
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

class OnceCell {
public:
    // The stored object (borrowed), or null while the cell is empty.
    PyObject* get() const noexcept { return object_.load(std::memory_order_acquire); }

    // Stores value unless the cell was filled meanwhile (value is then
    // released); either way returns the object the cell holds (borrowed).
    PyObject* set(Owned value) noexcept {
        PyObject* expected = nullptr;
        if (object_.compare_exchange_strong(expected, value.get(), std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
            return value.release();
        }
        return expected;
    }

private:
    std::atomic<PyObject*> object_{nullptr};
};

}  // namespace lumevaro::boundary
