#pragma once

// Processor time and the core clock, as the cycle-counting benchmarks take
// them: a virtual machine often hides the cycle counter, so cycles are time ×
// the clock. Header only, no library needed.

#include <algorithm>
#include <cstdint>
#include <ctime>

namespace perf {

/// Processor time of `body` in seconds (the calling process runs one thread).
template <class Body>
double seconds(Body&& body) {
  const std::clock_t start = std::clock();
  body();
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

/// Core clock in Hz: 64 dependent register adds per pass, each waiting for the
/// one before. Register operands, because newer cores resolve chains of adds of
/// an immediate at rename, several per cycle. The best of a few tries, since
/// interference only slows a try down.
inline double core_clock_hz() {
  constexpr std::uint64_t kPasses = 1 << 18;
  double best = 0.0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::uint64_t v = 0;
    const std::uint64_t one = 1;
    const double s = seconds([&] {
      for (std::uint64_t i = 0; i < kPasses; ++i) {
        asm volatile(".rept 64\n\taddq %1, %0\n\t.endr" : "+r"(v) : "r"(one));
      }
    });
    if (v == kPasses * 64 && s > 0) best = std::max(best, static_cast<double>(kPasses * 64) / s);
  }
  return best;
}

}  // namespace perf
