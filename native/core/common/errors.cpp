#include "errors.hpp"

#include <cstdio>

namespace fv {

void throw_index_error(long index, std::size_t size, const char* what) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "index %ld is out of range for %s of length %zu", index, what,
                size);
  throw Error(ErrorKind::Index, buf);
}

void throw_zero_division(const char* message) { throw Error(ErrorKind::ZeroDivision, message); }

}  // namespace fv
