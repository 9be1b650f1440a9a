// The extension module lumevaro._xla: the XLA FFI handlers of lumevaro.jax
// (handlers.cpp) as capsules, for jax.ffi.register_ffi_target. Built only
// when the build finds jaxlib's FFI headers (CMakeLists.txt); lumevaro.jax
// calls back into Python through jax.pure_callback where it is absent.
#include <Python.h>

#include "jax/handlers.hpp"

namespace {

// {target name: capsule of its handler}.
PyObject* registrations(PyObject* /*module*/, PyObject* /*unused*/) {
    struct Target {
        const char* name;
        XLA_FFI_Error* (*handler)(XLA_FFI_CallFrame*);
    };
    static constexpr Target TARGETS[] = {
        {"lumevaro_light_curve", LumevaroLightCurve},
        {"lumevaro_light_curve_jacobian", LumevaroLightCurveJacobian},
        {"lumevaro_magnification", LumevaroMagnification},
        {"lumevaro_magnification_gradient", LumevaroMagnificationGradient},
    };
    PyObject* result = PyDict_New();
    if (result == nullptr) return nullptr;
    for (const Target& target : TARGETS) {
        PyObject* capsule = PyCapsule_New(reinterpret_cast<void*>(target.handler), nullptr, nullptr);
        if (capsule == nullptr || PyDict_SetItemString(result, target.name, capsule) < 0) {
            Py_XDECREF(capsule);
            Py_DECREF(result);
            return nullptr;
        }
        Py_DECREF(capsule);
    }
    return result;
}

PyMethodDef METHODS[] = {
    {"registrations", registrations, METH_NOARGS,
     "registrations()\n--\n\nThe XLA FFI targets of lumevaro.jax: {name: capsule of its CPU handler}."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef MODULE = {
    PyModuleDef_HEAD_INIT, "lumevaro._xla",
    "The XLA FFI handlers of lumevaro.jax.", 0, METHODS, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__xla() {
    PyObject* module = PyModule_Create(&MODULE);
#ifdef Py_GIL_DISABLED
    if (module != nullptr) PyUnstable_Module_SetGIL(module, Py_MOD_GIL_NOT_USED);
#endif
    return module;
}
