// NumPy C-API for the extension. module.cpp defines FV_NUMPY_IMPORT to own the
// API table; every other file uses it.
#pragma once

#include "ref.hpp"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define NPY_TARGET_VERSION NPY_1_23_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL fumivex2_ARRAY_API
#ifndef FV_NUMPY_IMPORT
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
