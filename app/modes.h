#pragma once

#include "bench/run_options.h"
#include "platform/topology.h"

namespace app {

// The modes that live in other modules. Each returns the process exit code.

/// The benchmark run with a copy of `options`, after the overflow guards passed;
/// ends with the closing prompt. Exit code 0 for a valid result.
int run_benchmark_mode(const bench::RunOptions& options, platform::TopologyCache& topology);

}  // namespace app
