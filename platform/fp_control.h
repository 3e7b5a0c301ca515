#pragma once

#include <cstdint>

namespace platform {

/// MXCSR bit that flushes denormal results to zero.
inline constexpr std::uint32_t kFlushToZero = 0x8000;
/// MXCSR bit that reads denormal operands as zero.
inline constexpr std::uint32_t kDenormalsAreZero = 0x0040;

/// The calling thread's SSE control and status register.
std::uint32_t fp_control();
/// Replaces the calling thread's SSE control and status register.
void set_fp_control(std::uint32_t value);
/// Turns flush-to-zero and denormals-are-zero on for the calling thread, other
/// bits unchanged.
void enable_flush_denormals();

}  // namespace platform
