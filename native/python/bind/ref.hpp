// Ref — RAII owner of one strong reference to a Python object.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace fv::py {

class Ref {
 public:
  Ref() = default;
  explicit Ref(PyObject* owned) : p_(owned) {}  // steals a new reference
  static Ref borrow(PyObject* o) { return Ref(Py_XNewRef(o)); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref&& o) noexcept {
    if (this != &o) reset(std::exchange(o.p_, nullptr));
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  PyObject* release() { return std::exchange(p_, nullptr); }  // hands the reference over
  void reset(PyObject* owned = nullptr) {
    PyObject* old = std::exchange(p_, owned);
    Py_XDECREF(old);
  }

 private:
  PyObject* p_ = nullptr;
};

// Replace the reference held in a struct field by a new reference to `v`.
inline void assign(PyObject*& field, PyObject* v) { Py_XSETREF(field, Py_XNewRef(v)); }

}  // namespace fv::py
