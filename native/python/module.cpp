// Module fumivex2._fumivex2: types, enumerations and pickling reconstructors.
#define FV_NUMPY_IMPORT
#include "bind/numpy.hpp"

#include "bind/entry.hpp"
#include "bind/fields.hpp"
#include "types.hpp"

namespace fv::py {
namespace {

int64_t g_main_interpreter = -1;

// Integer enumerations: name, then members in value order.
struct EnumDef {
  const char* name;
  std::vector<std::pair<const char*, long>> members;
};

int add_enumerations(PyObject* module) {
  const EnumDef enums[] = {
      {"PAH_GROWTH_MODELS",
       {{"reactive_dimerization", 1}, {"self_collision", 2}, {"self_collision_lump", 3},
        {"cross_linking", 4}, {"irrev_dimerization", 5}}},
      {"SOOT_COALES_TYPES",
       {{"no_coales", 0}, {"titania", 1}, {"silica", 2}, {"md_derived", 3}, {"ctoh_based", 4}}},
      {"VALIDATION_CASES", {{"no_validation", 0}, {"coagulation", 1}}},
      {"VI", {{"N_agg", 1}, {"N_pri", 2}, {"C_tot", 3}, {"H_tot", 4}}},
      {"boundary_type", {{"inlet", 0}, {"outlet", 1}}},
  };
  Ref collections(PyImport_ImportModule("collections"));
  Ref enum_module(PyImport_ImportModule("enum"));
  if (!collections || !enum_module) return -1;
  Ref ordered_dict(PyObject_GetAttrString(collections.get(), "OrderedDict"));
  Ref int_enum(PyObject_GetAttrString(enum_module.get(), "IntEnum"));
  if (!ordered_dict || !int_enum) return -1;
  for (const EnumDef& e : enums) {
    Ref members(PyObject_CallNoArgs(ordered_dict.get()));
    if (!members) return -1;
    for (const auto& [name, value] : e.members) {
      Ref v(PyLong_FromLong(value));
      if (!v || PyObject_SetItem(members.get(), Ref(PyUnicode_FromString(name)).get(), v.get()) < 0)
        return -1;
    }
    Ref args(Py_BuildValue("(sO)", e.name, members.get()));
    Ref kwargs(Py_BuildValue("{ss}", "module", "fumivex2._fumivex2"));
    if (!args || !kwargs) return -1;
    Ref cls(PyObject_Call(int_enum.get(), args.get(), kwargs.get()));
    if (!cls) return -1;
    if (PyModule_AddObjectRef(module, e.name, cls.get()) < 0) return -1;
    for (const auto& member : e.members) {
      Ref m(PyObject_GetAttrString(cls.get(), member.first));
      if (!m || PyModule_AddObjectRef(module, member.first, m.get()) < 0) return -1;
    }
  }
  return 0;
}

int add_function(PyObject* module, PyMethodDef* def) {
  Ref name(PyUnicode_FromString("fumivex2._fumivex2"));
  if (!name) return -1;
  Ref fn(PyCFunction_NewEx(def, nullptr, name.get()));
  if (!fn) return -1;
  return PyModule_AddObjectRef(module, def->ml_name, fn.get());
}

PyObject* module_create(PyObject* module_spec, PyModuleDef*) {
  const int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (g_main_interpreter == -1) {
    g_main_interpreter = id;
    if (id == -1) return nullptr;
  } else if (id != g_main_interpreter) {
    PyErr_SetString(PyExc_ImportError,
                    "Interpreter change detected - this module can only be loaded into one "
                    "interpreter per process.");
    return nullptr;
  }
  if (g_module) return Py_NewRef(g_module);
  Ref name(PyObject_GetAttrString(module_spec, "name"));
  if (!name) return nullptr;
  return PyModule_NewObject(name.get());
}

int module_exec(PyObject* module) {
  if (g_module) {
    if (g_module == module) return 0;
    PyErr_SetString(PyExc_RuntimeError,
                    "Module '_fumivex2' has already been imported. Re-initialisation is not "
                    "supported.");
    return -1;
  }
  PyObject* modules = PyImport_GetModuleDict();
  if (!PyDict_GetItemString(modules, "fumivex2._fumivex2") &&
      PyDict_SetItemString(modules, "fumivex2._fumivex2", module) < 0)
    return -1;
  if (PyModule_AddObjectRef(module, "__builtins__", PyEval_GetBuiltins()) < 0) return -1;

  if (ready_soot_model(module) < 0 || ready_soot_gas(module) < 0 ||
      ready_plug_flow(module) < 0 || ready_flame_solver(module) < 0 ||
      ready_flame_solver_vec(module) < 0)
    return -1;

  if (_import_array() < 0) {
    PyErr_SetString(PyExc_ImportError, "numpy.core.multiarray failed to import");
    return -1;
  }
  Ref np(PyImport_ImportModule("numpy"));
  if (!np || PyModule_AddObjectRef(module, "np", np.get()) < 0) return -1;
  if (add_function(module, &g_unpickle_soot_model) < 0 ||
      add_function(module, &g_unpickle_soot_gas) < 0 ||
      add_function(module, &g_unpickle_plug_flow) < 0 ||
      add_function(module, &g_unpickle_flame_solver) < 0 ||
      add_function(module, &g_unpickle_flame_solver_vec) < 0 ||
      add_function(module, &g_solve_steady) < 0 || add_function(module, &g_steady_residual) < 0 ||
      add_function(module, &g_pseudo_time_steps) < 0 ||
      add_function(module, &g_network_load) < 0 || add_function(module, &g_network_soot_rows) < 0 ||
      add_function(module, &g_network_eval) < 0 ||
      add_function(module, &g_solve_coupled_flame) < 0 ||
      add_function(module, &g_coupled_flame_residual) < 0 ||
      add_function(module, &g_coupled_flame_jacobian) < 0 ||
      add_function(module, &g_solve_soot_on_gas) < 0 ||
      ready_steady_report(module) < 0 || ready_mixture_viscosity(module) < 0)
    return -1;
  Ref test(PyDict_New());
  if (!test || PyModule_AddObjectRef(module, "__test__", test.get()) < 0) return -1;
  if (add_enumerations(module) < 0) return -1;
  g_module = Py_NewRef(module);
  return 0;
}

PyModuleDef_Slot g_slots[] = {{Py_mod_create, reinterpret_cast<void*>(entry<module_create>())},
                              {Py_mod_exec, reinterpret_cast<void*>(entry<module_exec>())},
                              {0, nullptr}};

PyModuleDef g_module_def = {PyModuleDef_HEAD_INIT, "_fumivex2", nullptr, 0, nullptr,
                            g_slots, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace fv::py

PyMODINIT_FUNC PyInit__fumivex2(void) { return PyModuleDef_Init(&fv::py::g_module_def); }
