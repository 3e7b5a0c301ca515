#pragma once

// What the benchmark programs share: the kernel tables beside their plain
// reference loops, and the median of a set of rounds. Baseline units only (the
// plain loops' own units include plain_kernels.h, never this).

#include <algorithm>
#include <cstddef>
#include <vector>

#include "perf/plain_kernels.h"
#include "solver/kernel_args.h"

namespace perf {

/// Each kernel set next to its plain reference loops (perf/plain_*.cpp).
struct VersusPair {
  const char* name;
  const solver::KernelTable* kernels;
  const PlainKernels* plain;
};
inline constexpr VersusPair kVersus[] = {{"sse2", &solver::sse2::kKernels, &plain_sse2::kPlain},
                                         {"avx", &solver::avx::kKernels, &plain_avx::kPlain},
                                         {"fma", &solver::fma::kKernels, &plain_fma::kPlain}};

/// The median of `values`; 0 when there are none.
inline double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

}  // namespace perf
