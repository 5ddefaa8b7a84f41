// IEEE floating-point exception flags around a block of arithmetic, for code
// that must report division by zero, overflow, underflow and invalid
// operations the way NumPy does after each scalar operation.
//
// Usage: put the block's inputs in memory, call fp_clear with their address,
// compute, store the result, call fp_raised with its address. Both act as
// compiler barriers on that memory, so the block can be moved neither above
// the clearing nor below the test: its inputs are re-read after fp_clear and
// its result is written before fp_raised.
#pragma once

namespace fv::flame {

enum FpFlag : int {
  kFpDivideByZero = 1,
  kFpOverflow = 2,
  kFpUnderflow = 4,
  kFpInvalid = 8,
};

#if defined(__x86_64__) && defined(__SSE2__) && defined(__GNUC__)
// Double arithmetic on x86-64 runs in SSE registers, whose flags live in
// MXCSR: read and cleared inline (fetestexcept also reads the x87 status
// word, at several times the cost, for nothing this code computes).
namespace fp_detail {
constexpr unsigned kInvalid = 0x01, kDivide = 0x04, kOverflow = 0x08, kUnderflow = 0x10;
constexpr unsigned kWatched = kInvalid | kDivide | kOverflow | kUnderflow;
inline unsigned read_mxcsr(const void* p) noexcept {
  unsigned csr;
  asm volatile("stmxcsr %0" : "=m"(csr) : "r"(p) : "memory");
  return csr;
}
}  // namespace fp_detail

// Clears the four flags (the inexact flag is left alone); cheap when none is set.
inline void fp_clear(const void* inputs) noexcept {
  unsigned csr = fp_detail::read_mxcsr(inputs);
  if (csr & fp_detail::kWatched) {
    csr &= ~fp_detail::kWatched;
    asm volatile("ldmxcsr %0" : : "m"(csr), "r"(inputs) : "memory");
  }
}

// The flags (FpFlag bits) raised since the last fp_clear.
inline int fp_raised(const void* results) noexcept {
  using namespace fp_detail;
  const unsigned csr = read_mxcsr(results);
  if (!(csr & kWatched)) return 0;
  return ((csr & kDivide) ? kFpDivideByZero : 0) | ((csr & kOverflow) ? kFpOverflow : 0) |
         ((csr & kUnderflow) ? kFpUnderflow : 0) | ((csr & kInvalid) ? kFpInvalid : 0);
}
#else
// Other platforms: <cfenv>, behind calls the optimiser cannot see through.
void fp_clear(const void* inputs) noexcept;
int fp_raised(const void* results) noexcept;
#endif

}  // namespace fv::flame
