#pragma once

#include "bench/run_options.h"
#include "bench/run_result.h"
#include "platform/topology.h"

namespace bench {

/// The whole benchmark: thread count, placement, large-page preparation,
/// duration clamp, coordinator and report. Detects the topology through
/// `topology` only when the automatic count or a placement manager needs it.
/// Returns what the run recorded beside the report's verdict.
RunRecord run_benchmark(RunOptions options, platform::TopologyCache& topology);

}  // namespace bench
