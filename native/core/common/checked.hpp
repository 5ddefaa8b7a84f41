// Checked arithmetic and element access shared by every process of the core.
#pragma once

#include <cstddef>
#include <vector>

#include "errors.hpp"

namespace fv {

// a / b, raising ZeroDivisionError "float division" for a zero divisor
// (the message the soot-model formulas use throughout).
inline double fdiv(double a, double b) {
  if (b == 0.0) throw_zero_division("float division");
  return a / b;
}

// a / b, raising ZeroDivisionError "float division by zero" (the interpreter's
// own message, used where the quotient is formed from method results).
inline double pydiv(double a, double b) {
  if (b == 0.0) throw_zero_division("float division by zero");
  return a / b;
}

// Bounds-checked element of an internal array; negative indices are errors.
template <class T>
inline T& checked_at(std::vector<T>& v, long i, const char* what) {
  if (i < 0 || static_cast<std::size_t>(i) >= v.size()) throw_index_error(i, v.size(), what);
  return v[static_cast<std::size_t>(i)];
}
template <class T>
inline const T& checked_at(const std::vector<T>& v, long i, const char* what) {
  if (i < 0 || static_cast<std::size_t>(i) >= v.size()) throw_index_error(i, v.size(), what);
  return v[static_cast<std::size_t>(i)];
}

// v[i] with the array's name in the error text.
#define FV_AT(vec, i) ::fv::checked_at((vec), static_cast<long>(i), #vec)

}  // namespace fv
