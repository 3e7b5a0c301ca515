#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string_view>

#include "bench/console.h"
#include "bench/phase_barrier.h"
#include "bench/progress_board.h"
#include "bench/run_result.h"
#include "platform/opt_error.h"
#include "platform/placement.h"
#include "platform/timer.h"
#include "solver/solver.h"

namespace bench {

/// How many workers run and where; read-only during the run.
struct RunPlan {
  std::uint32_t thread_count = 1;
  platform::PlacementList placement;  // empty under "os"
};

/// Everything the coordinator needs; the texts refer to strings owned by the
/// run set-up, which outlive the run.
struct BenchParams {
  const bool& large_pages;
  const RunPlan& plan;
  std::string_view workload;
  std::string_view isa;
  bool strict_isa_check = false;
  std::uint32_t duration = 30;  // seconds, already clamped
  std::uint64_t size = 192;
  bool bypass_timer_check = false;
  std::string_view threading;
};

/// The system facilities a run uses. The defaults are the real ones; tests
/// replace single entries to provoke failures no machine produces on demand.
struct RunHooks {
  std::unique_ptr<solver::Solver> (*make_solver)(std::string_view workload, std::string_view isa,
                                                 std::uint32_t thread_index);
  platform::OptError (*check_isa_support)(std::string_view isa);
  platform::TimerInfo (*query_fast_timer)();
  platform::TimerInfo (*query_coarse_timer)();
  bool (*is_hwbot_compliant)(const platform::TimerInfo& fast);
  std::int64_t (*read_fast_counter)();
  std::uint64_t (*read_coarse_counter)();
  /// Worker `index` may be started on a new thread (false: the system refused).
  bool (*may_start_thread)(std::uint32_t index);
  std::string (*cpu_brand_string)();
  std::string (*cpu_feature_list)();
  /// Bytes of ordinary field memory the process may hold at once.
  std::uint64_t (*aligned_capacity)();
  /// Pins the calling thread to one processor; false when the system refused.
  bool (*pin_current_thread)(const platform::LogicalProcessor& lp);
};

/// The real facilities.
const RunHooks& system_hooks();

/// State the workers of one run share; owned by the coordinator.
struct SharedRunState {
  explicit SharedRunState(std::uint32_t threads)
      : phase_barrier(threads, stop_source.get_token()), progress(threads) {}
  std::mutex output_mutex;   // every console write while workers may run
  std::mutex results_mutex;  // the result list
  std::stop_source stop_source;  // before the barrier, which watches it
  PhaseBarrier phase_barrier;
  ProgressBoard progress;
};

/// What one worker receives.
struct WorkerContext {
  std::uint32_t index = 0;
  const BenchParams& params;
  RunResult& result;
  std::mutex& output_mutex;
  std::mutex& results_mutex;
  PhaseBarrier& phase_barrier;
  std::stop_source& stop_source;
  ProgressBoard& progress;
  platform::TimerInfo fast_timer;
  platform::TimerInfo coarse_timer;
  bool is_main = false;
  Console& console;
  const RunHooks& hooks;
};

}  // namespace bench
