// The Python types of the extension and their module-level reconstructors.
#pragma once

#include "bind/ref.hpp"

namespace fv::py {

extern PyTypeObject SootModelType;
extern PyTypeObject SootGasType;
extern PyMethodDef g_unpickle_soot_model;
extern PyMethodDef g_unpickle_soot_gas;

// PyType_Ready and publish in the module; -1 with an exception on failure.
int ready_soot_model(PyObject* module);
int ready_soot_gas(PyObject* module);

}  // namespace fv::py
