#include "errors.hpp"

#include <new>

#include "common/errors.hpp"

namespace fv::py {

void throw_pending() { throw PythonErrorPending(); }

PyObject* set_python_error() noexcept {
  try {
    throw;
  } catch (const PythonErrorPending&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception");
  } catch (const Error& e) {
    PyObject* type = PyExc_RuntimeError;
    switch (e.kind()) {
      case ErrorKind::ZeroDivision: type = PyExc_ZeroDivisionError; break;
      case ErrorKind::Index: type = PyExc_IndexError; break;
      case ErrorKind::Value: type = PyExc_ValueError; break;
      case ErrorKind::Type: type = PyExc_TypeError; break;
      case ErrorKind::Overflow: type = PyExc_OverflowError; break;
      case ErrorKind::NotImplemented: type = PyExc_NotImplementedError; break;
      case ErrorKind::Runtime: type = PyExc_RuntimeError; break;
      case ErrorKind::Exception: type = PyExc_Exception; break;
      case ErrorKind::PythonPending: break;
    }
    PyErr_SetString(type, e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
  }
  return nullptr;
}

}  // namespace fv::py
