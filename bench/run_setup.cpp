#include "bench/run_setup.h"

#include "bench/coordinator.h"
#include "bench/report.h"
#include "bench/thread_count.h"
#include "platform/memory.h"
#include "solver/field_memory.h"

namespace bench {

RunRecord run_benchmark(RunOptions options, platform::TopologyCache& topology) {
  RunPlan plan;
  plan.thread_count = options.numthreads;
  if (plan.thread_count == 0) {
    plan.thread_count =
        choose_thread_count(0, platform::core_count(topology.get_topology()), platform::field_memory_budget(),
                            solver::field_request_per_thread(options.size));
  }

  const platform::ThreadingMode mode = platform::threading_mode_from_name(options.threading);
  if (mode != platform::ThreadingMode::kOs) plan.placement = platform::build_placement(topology.get_topology(), mode);

  const bool large_pages = options.large_pages;
  // Also enables the lock-memory privilege where the system has one; done on
  // every run so that the first large-page request does not pay for it.
  (void)platform::large_page_minimum();

  const BenchParams params{large_pages,
                           plan,
                           options.workload,
                           options.isa,
                           options.strict_isa_check,
                           clamp_duration(options.duration),
                           options.size,
                           options.bypass_timer_check,
                           options.threading};
  RunRecord record;
  record.result = run_coordinator(params);
  record.result.placement = plan.placement;
  record.outcome = report_results(record.result);
  return record;
}

}  // namespace bench
