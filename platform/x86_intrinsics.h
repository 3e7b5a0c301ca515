#pragma once

// The CPUID and XGETBV instructions behind one compiler-neutral face. This is
// the only place that tells compilers apart.

#include <cstdint>

#if defined(_MSC_VER)
#include <intrin.h>
#elif defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace platform::x86 {

/// Executes CPUID for `leaf` and `subleaf`; `regs` receives EAX, EBX, ECX, EDX.
/// All zero where the build has no CPUID.
inline void cpuid(std::uint32_t leaf, std::uint32_t subleaf, std::uint32_t regs[4]) {
  regs[0] = regs[1] = regs[2] = regs[3] = 0;
#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
  int out[4];
  __cpuidex(out, static_cast<int>(leaf), static_cast<int>(subleaf));
  for (int i = 0; i < 4; ++i) regs[i] = static_cast<std::uint32_t>(out[i]);
#elif defined(__x86_64__) || defined(__i386__)
  __cpuid_count(leaf, subleaf, regs[0], regs[1], regs[2], regs[3]);
#else
  (void)leaf;
  (void)subleaf;
#endif
}

/// Executes XGETBV for extended control register `xcr`. Faults unless CPUID
/// leaf 1 ECX bit 27 (OSXSAVE) is set: callers check that first.
inline std::uint64_t xgetbv(std::uint32_t xcr) {
#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
  return _xgetbv(xcr);
#elif defined(__x86_64__) || defined(__i386__)
  // Spelled as an instruction so that no -mxsave flag is needed for the unit.
  std::uint32_t lo = 0;
  std::uint32_t hi = 0;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(xcr));
  return (static_cast<std::uint64_t>(hi) << 32) | lo;
#else
  (void)xcr;
  return 0;
#endif
}

}  // namespace platform::x86
