// IEEE floating-point exception flags around a block of arithmetic, for code
// that must report division by zero, overflow, underflow and invalid
// operations the way NumPy does after each scalar operation.
//
// Usage: put the block's inputs in memory, call fp_clear with their address,
// compute, store the result, call fp_raised with its address. Both functions
// are opaque to the optimiser (defined in their own translation unit, with a
// compiler barrier), so the block can be moved neither above the clearing nor
// below the test: its inputs are re-read after fp_clear and its result is
// written before fp_raised.
#pragma once

namespace fv::flame {

enum FpFlag : int {
  kFpDivideByZero = 1,
  kFpOverflow = 2,
  kFpUnderflow = 4,
  kFpInvalid = 8,
};

// Clears the four flags (the inexact flag is left alone); cheap when none is set.
void fp_clear(const void* inputs) noexcept;

// The flags (FpFlag bits) raised since the last fp_clear.
int fp_raised(const void* results) noexcept;

}  // namespace fv::flame
