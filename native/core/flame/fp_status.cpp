#include "fp_status.hpp"

#if !(defined(__x86_64__) && defined(__SSE2__) && defined(__GNUC__))
#include <cfenv>

namespace fv::flame {

namespace {

constexpr int kWatched = FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW | FE_INVALID;

// Tells the compiler that the memory at p may be read and written here.
inline void opaque(const void* p) noexcept {
#if defined(__GNUC__)
  asm volatile("" : : "r"(p) : "memory");
#else
  (void)p;
#endif
}

}  // namespace

[[gnu::noinline]] void fp_clear(const void* inputs) noexcept {
  opaque(inputs);
  if (std::fetestexcept(kWatched)) std::feclearexcept(kWatched);
  opaque(inputs);
}

[[gnu::noinline]] int fp_raised(const void* results) noexcept {
  opaque(results);
  const int e = std::fetestexcept(kWatched);
  int flags = 0;
  if (e & FE_DIVBYZERO) flags |= kFpDivideByZero;
  if (e & FE_OVERFLOW) flags |= kFpOverflow;
  if (e & FE_UNDERFLOW) flags |= kFpUnderflow;
  if (e & FE_INVALID) flags |= kFpInvalid;
  return flags;
}

}  // namespace fv::flame
#endif
