#pragma once

// Plain reference loops for the kernel benchmarks: the program's arithmetic in
// the program's order, with nothing else (no prefetch hints, no special cases),
// built at -O2 with the flags of the matching kernel unit. They live only
// here; the program never links them.

#include <cstdint>

#include "solver/kernel_args.h"

namespace perf {

/// The two half-steps of one reference; each returns true (there is nothing to fail).
struct PlainKernels {
  bool (*update_h)(const solver::KernelArgs& args);
  bool (*update_e)(const solver::KernelArgs& args);
};

// One table per unit, constant-initialised, like the program's kernel tables.
namespace plain_sse2 {
extern const PlainKernels kPlain;
}
namespace plain_avx {
extern const PlainKernels kPlain;
}
namespace plain_fma {
extern const PlainKernels kPlain;
}

}  // namespace perf
