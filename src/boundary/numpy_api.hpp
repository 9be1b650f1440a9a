// numpy's C API for the boundary: include this header, never numpy's own.
//
// The API's function table is one symbol of the module, filled once when
// the module initialises (import_numpy, boundary/arrays.hpp); every other
// file of the boundary sees it as declared elsewhere. The build is against
// numpy 2's headers with NPY_TARGET_VERSION at numpy 1.25's API
// (CMakeLists.txt), so that one build runs with numpy 1.26 and with 2.x.
#pragma once

#include <Python.h>

#define PY_ARRAY_UNIQUE_SYMBOL lumevaro_numpy_api
#ifndef LUMEVARO_NUMPY_API_HOME
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
