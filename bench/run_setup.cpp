#include "bench/run_setup.h"

#include "bench/coordinator.h"
#include "bench/report.h"
#include "bench/thread_count.h"
#include "platform/memory.h"
#include "platform/system_facts.h"

namespace bench {

RunRecord run_benchmark(RunOptions options, platform::TopologyCache& topology) {
  const bool large_pages = options.large_pages;
  // Also enables the lock-memory privilege where the system has one; done on
  // every run so that the first large-page request does not pay for it.
  const std::uint64_t large_page_bytes = platform::large_page_minimum();
  // Large pages come from their own pool where the system keeps one, and each
  // block takes whole pages.
  const std::uint64_t per_thread = field_bytes_per_thread(options.size, large_pages, large_page_bytes);

  RunPlan plan;
  plan.thread_count = options.numthreads;
  if (plan.thread_count == 0) {
    plan.thread_count =
        choose_thread_count(0, platform::core_count(topology.get_topology()),
                            large_pages ? platform::large_page_budget() : platform::field_memory_budget(), per_thread);
  }

  const platform::ThreadingMode mode = platform::threading_mode_from_name(options.threading);
  if (mode != platform::ThreadingMode::kOs) {
    // Read before any worker is pinned: worker 0 runs on this thread.
    plan.placement = platform::allowed_placement(platform::build_placement(topology.get_topology(), mode),
                                                 platform::allowed_processors());
  }

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
  record.outcome = report_results(record.result);
  record.field_bytes_per_thread = per_thread;
  return record;
}

}  // namespace bench
