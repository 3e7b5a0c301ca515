#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

/// One completed worker's account of its timed loop.
struct ThreadResult {
  std::uint32_t thread = 0;      // worker index
  std::int64_t coarse_ms = 0;    // loop length by the coarse timer
  std::int64_t fast_us = 0;      // the same span by the fast timer
  std::uint64_t iterations = 0;
  std::uint64_t updates = 0;     // iterations × updates_per_step
};

/// What the coordinator hands to the report.
struct RunResult {
  bool stopped = false;          // a stop was requested during the run
  std::uint32_t thread_count = 0;
  std::vector<ThreadResult> results;  // order of completion
  std::string workload;
  std::string isa;
};

/// What the run returns to the entry point; `score` is meaningful only when valid.
struct RunOutcome {
  double score = 0.0;  // MGups
  bool valid = false;
};

}  // namespace bench
