// Entry points: every function the interpreter calls (methods, getters and
// setters, type slots, module functions) is entered through Entry<F>, which
// runs F and turns any C++ exception escaping it into the matching Python
// exception (set_python_error) with the failure value of F's return type:
// null for an object, -1 for an int, an unraisable error for void (dealloc).
// The tables below are the only way the type files build their method,
// property and slot tables, so no entry point can be left unguarded.
#pragma once

#include <type_traits>

#include "errors.hpp"
#include "fields.hpp"

namespace fv::py {

template <auto F>
struct Entry;

template <class R, class... A, R (*F)(A...)>
struct Entry<F> {
  static R call(A... a) noexcept {
    try {
      return F(a...);
    } catch (...) {
      if constexpr (std::is_same_v<R, void>) {
        set_python_error();
        PyErr_WriteUnraisable(nullptr);
      } else if constexpr (std::is_same_v<R, int>) {
        return set_python_error_int();
      } else {
        static_assert(std::is_pointer_v<R>, "entry points return an object, an int or void");
        set_python_error();
        return nullptr;
      }
    }
  }
};

// The guarded entry of F; null stays null (an absent slot or setter).
template <auto F>
constexpr auto entry() {
  if constexpr (std::is_null_pointer_v<decltype(F)>) return nullptr;
  else return &Entry<F>::call;
}

// ---- method tables ------------------------------------------------------------------

using MethNoArgs = PyObject* (*)(PyObject*, PyObject*);
using MethFast = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

template <auto F>
PyMethodDef method(const char* name, int flags, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(entry<F>())),
          flags, doc};
}

// METH_NOARGS, METH_O and METH_FASTCALL | METH_KEYWORDS methods
template <auto F>
PyMethodDef method_noargs(const char* name, const char* doc) {
  static_assert(std::is_convertible_v<decltype(F), MethNoArgs>);
  return method<F>(name, METH_NOARGS, doc);
}
template <auto F>
PyMethodDef method_o(const char* name, const char* doc) {
  static_assert(std::is_convertible_v<decltype(F), MethNoArgs>);
  return method<F>(name, METH_O, doc);
}
template <auto F>
PyMethodDef method_fast(const char* name, const char* doc) {
  static_assert(std::is_convertible_v<decltype(F), MethFast>);
  return method<F>(name, METH_FASTCALL | METH_KEYWORDS, doc);
}
inline PyMethodDef method_end() { return {nullptr, nullptr, 0, nullptr}; }

// ---- properties and stored fields -----------------------------------------------------

template <auto Get, auto Set = nullptr>
PyGetSetDef property(const char* name) {
  return {name, entry<Get>(), entry<Set>(), nullptr, nullptr};
}

template <auto Get, auto Set>
Field field(const char* name, Access access, FieldKind kind) {
  return {name, entry<Get>(), entry<Set>(), access, kind};
}

// ---- type slots ------------------------------------------------------------------------

template <auto New, auto Init, auto Dealloc, auto Traverse, auto Clear, auto Call = nullptr>
TypeSlots type_slots(const char* name, const char* doc, Py_ssize_t basicsize,
                     PyMethodDef* methods, PyGetSetDef* getset) {
  return {name,           doc,           basicsize,        entry<New>(), entry<Init>(),
          entry<Dealloc>(), entry<Traverse>(), entry<Clear>(), methods,   getset,
          entry<Call>()};
}

}  // namespace fv::py
