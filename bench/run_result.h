#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench/progress_trace.h"
#include "platform/placement.h"
#include "platform/timer.h"

namespace bench {

/// One completed worker's account of its timed loop.
struct ThreadResult {
  std::uint32_t thread = 0;      // worker index
  std::int64_t coarse_ms = 0;    // loop length by the coarse timer
  std::int64_t fast_us = 0;      // the same span by the fast timer
  std::uint64_t iterations = 0;
  std::uint64_t updates = 0;     // iterations × updates_per_step
  ProgressTrace progress;        // ends at fast_us and updates
};

/// What the coordinator hands to the report.
struct RunResult {
  bool stopped = false;          // a stop was requested during the run
  std::uint32_t thread_count = 0;
  std::vector<ThreadResult> results;  // order of completion
  std::string workload;
  std::string isa;
  std::uint32_t duration_s = 0;  // after the clamp

  // What the run found out on its way, for the result file; each stays empty
  // when the run ended before reaching it.
  std::optional<platform::TimerInfo> fast_timer;
  std::optional<platform::TimerInfo> coarse_timer;
  std::optional<bool> timer_compliant;
  std::optional<std::int64_t> initialization_ms;  // worker 0's view, as printed
  bool fields_allocated = false;  // every worker got its fields
  // Entry i: where worker i really ran pinned; empty where the system refused
  // its placement entry. Workers beyond the list were not pinned.
  std::vector<std::optional<platform::LogicalProcessor>> placement;
  bool placement_refused = false;  // the warning about a refused entry was given
  std::string failure;  // the first message that ended the run early, as printed
};

/// What the run returns to the entry point; `score` is meaningful only when valid.
struct RunOutcome {
  double score = 0.0;  // MGups
  bool valid = false;
  std::string reason;  // for an invalid result, the lines that said why, as printed
};

/// A whole run: what happened and what the report made of it.
struct RunRecord {
  RunResult result;
  RunOutcome outcome;
  std::uint64_t field_bytes_per_thread = 0;  // what the plan counted for each worker's fields
};

}  // namespace bench
