#include "bench/coordinator.h"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "bench/worker.h"
#include "platform/cpu.h"
#include "platform/format.h"
#include "platform/memory.h"
#include "solver/factory.h"
#include "solver/field_memory.h"
#include "solver/field_state.h"

namespace bench {
namespace {

// What the run keeps per worker besides its fields: a progress slot, a thread
// handle and a result.
constexpr std::uint64_t kRecordBytesPerThread = sizeof(ProgressSlot) + sizeof(std::thread) + sizeof(ThreadResult);
// Records this small come out of the memory kept back from the fields.
constexpr std::uint64_t kRecordBytesWithinMargin = std::uint64_t{64} << 20;

std::string freq(std::int64_t hz) {
  return platform::format_si(hz < 0 ? 0 : static_cast<std::uint64_t>(hz), "Hz");
}

platform::OptError real_check_isa_support(std::string_view isa) { return solver::check_isa_support(isa); }
bool always_may_start(std::uint32_t) { return true; }

// Prints an error that ends the run and keeps the first one for the result file.
void report_failure(RunResult& result, Console& console, std::string_view text) {
  console.err(text);
  if (result.failure.empty()) result.failure = text;
}

// The fields of all workers together. Thousands of workers of the largest grid
// ask for more than 64 bits can count: the figure is then worked out in
// floating point, which is what the run would really ask for.
std::string total_field_memory(std::uint32_t threads, std::uint64_t per_thread) {
  if (per_thread != 0 && threads > UINT64_MAX / per_thread) {
    return platform::format_bytes_wide(static_cast<double>(threads) * static_cast<double>(per_thread));
  }
  return platform::format_bytes(std::uint64_t{threads} * per_thread);
}

}  // namespace

const RunHooks& system_hooks() {
  static const RunHooks hooks{
      &solver::make_solver,
      &real_check_isa_support,
      &platform::query_fast_timer,
      &platform::query_coarse_timer,
      &platform::is_hwbot_compliant,
      &platform::read_fast_counter,
      &platform::read_coarse_counter,
      &always_may_start,
      &platform::cpu_brand_string,
      [] { return platform::cpu_feature_list(); },
      &platform::aligned_capacity,
      &platform::pin_current_thread,
  };
  return hooks;
}

void print_warning_box(Console& console) { console.err("===========\n  warning  \n===========\n"); }

RunResult run_coordinator(const BenchParams& params, Console& console, const RunHooks& hooks) {
  const std::uint32_t c = params.plan.thread_count;
  RunResult result;
  result.thread_count = c;
  result.workload = std::string(params.workload);
  result.isa = std::string(params.isa);
  result.duration_s = params.duration;

  // No worker exists before the threads are started, so the header needs no lock.
  console.out(hooks.cpu_brand_string() + "\n");
  console.out(hooks.cpu_feature_list() + "\n");

  if (platform::OptError m = hooks.check_isa_support(params.isa); m.failed()) {
    print_warning_box(console);
    console.err(m.message());
    if (params.strict_isa_check) {
      constexpr std::string_view kAbort = "isa support check failed; aborting\n";
      console.err(kAbort);
      // The check's own message is part of the reason once it ends the run.
      result.failure = m.message() + std::string(kAbort);
      return result;
    }
  }

  console.out(fmt::format("running with {} thread{} ({})\n", c, c > 1 ? "s" : "", params.threading));
  console.out(fmt::format("{} x {} x {} grid\n", params.size, params.size, params.size));
  const std::uint64_t per_thread = solver::field_memory_per_thread(params.size);
  console.out(platform::format_bytes(per_thread) + " per thread\n");
  console.out(total_field_memory(c, per_thread) + " total\n");

  const platform::TimerInfo fast = hooks.query_fast_timer();
  const platform::TimerInfo coarse = hooks.query_coarse_timer();
  const std::string_view source = platform::timer_source_name(fast.source);
  result.fast_timer = fast;
  result.coarse_timer = coarse;
  console.out(fmt::format("Fast Timer Frequency: {} ({})\n",
                          freq(platform::shown_frequency(fast)),
                          source));
  console.out("Coarse Timer Frequency: " +
              freq(platform::shown_frequency(coarse)) +
              "\n");

  result.timer_compliant = hooks.is_hwbot_compliant(fast);
  if (!*result.timer_compliant) {
    if (!params.bypass_timer_check) {
      report_failure(
          result, console,
          fmt::format("Fast Timer is not HWBOT compliant (fast timer source: {}); aborting\n"
                      "Use --bypass-timer-check to run regardless if you are sure that this is a detection error in "
                      "terms of your windows version, processor, or timer\n",
                      source));
      return result;
    }
    print_warning_box(console);
    console.err(fmt::format("Fast timer is not compliant with HWBOT rules (fast timer source: {})\n", source));
    console.err(
        "Check that this is a detection error in terms of your windows version, processor, or timer before "
        "submitting\n");
  }

  const std::int64_t horizon = std::int64_t{params.duration} + 2;
  if (platform::counter_would_overflow(fast, hooks.read_fast_counter(), horizon)) {
    report_failure(result, console, "fast timer will overflow during the run; aborting\n");
    return result;
  }
  const std::uint64_t coarse_now = hooks.read_coarse_counter();
  // A coarse reading beyond the signed range has overflowed already.
  if (coarse_now > static_cast<std::uint64_t>(INT64_MAX) ||
      platform::counter_would_overflow(coarse, static_cast<std::int64_t>(coarse_now), horizon)) {
    report_failure(result, console, "coarse timer will overflow during the run; aborting\n");
    return result;
  }
  console.flush_out();

  // Every worker holds its fields until the end, so when they cannot all fit
  // the worker past the limit fails anyway: fail it now, before thousands of
  // threads touch memory that must be given back. The output reads as that
  // worker's own failure would.
  const std::uint64_t capacity = hooks.aligned_capacity();
  const std::uint64_t request = solver::field_request_per_thread(params.size);
  if (!params.large_pages && request != 0) {
    const std::uint64_t fitting = capacity / request;
    if (fitting < c) {
      console.out(allocating_fields_line(false));
      console.out("\n");
      report_failure(result, console,
                     field_allocation_failure(static_cast<std::uint32_t>(fitting), solver::kFieldAllocationFailed));
      result.stopped = true;
      return result;
    }
  }

  // A count far beyond the machine may not even get its records: they are
  // written at once, so where the system over-commits, records beyond the
  // small share the capacity's margin leaves the process are checked against
  // the capacity as the fields are; elsewhere the allocation itself refuses.
  std::unique_ptr<SharedRunState> shared;
  std::vector<std::thread> threads;
  const std::uint64_t records = std::uint64_t{c} * kRecordBytesPerThread;
  bool records_fit = records <= kRecordBytesWithinMargin || records <= capacity;
  if (records_fit) {
    try {
      shared = std::make_unique<SharedRunState>(c);
      threads.reserve(c > 0 ? c - 1 : 0);
      result.results.reserve(c);
      // One entry per pinned worker, each written by its own worker only.
      result.placement.resize(std::min<std::size_t>(c, params.plan.placement.size()));
    } catch (const std::exception&) {
      records_fit = false;
    }
  }
  if (!records_fit) {
    report_failure(result, console,
                   fmt::format("not enough memory for the records of {} worker threads; aborting\n", c));
    return result;
  }

  auto context = [&](std::uint32_t index) {
    return WorkerContext{index,
                         params,
                         result,
                         shared->output_mutex,
                         shared->results_mutex,
                         shared->phase_barrier,
                         shared->stop_source,
                         shared->progress,
                         fast,
                         coarse,
                         index == 0,
                         console,
                         hooks};
  };

  std::string refusal;
  for (std::uint32_t i = 1; i < c; ++i) {
    // A worker has failed already: starting the rest only costs time.
    if (shared->stop_source.stop_requested()) {
      for (std::uint32_t j = i; j < c; ++j) shared->phase_barrier.arrive_and_drop();
      break;
    }
    std::string reason;
    if (!hooks.may_start_thread(i)) {
      reason = "the system refused";
    } else {
      try {
        threads.emplace_back(worker_main, context(i));
        continue;
      } catch (const std::exception& e) {
        reason = e.what();
      }
    }
    // Orderly retreat: stop everyone, and drop the workers that never started
    // from the barrier so the started ones (and worker 0) never wait for them.
    refusal = fmt::format("could not start worker thread {} of {}: {}\n", i, c, reason);
    shared->stop_source.request_stop();
    for (std::uint32_t j = i; j < c; ++j) shared->phase_barrier.arrive_and_drop();
    break;
  }

  worker_main(context(0));
  for (std::thread& t : threads) t.join();
  // Told after worker 0's first line, as a worker's own failure would be.
  if (!refusal.empty()) report_failure(result, console, refusal);

  result.stopped = shared->stop_source.stop_requested();
  return result;
}

}  // namespace bench
