#include "bench/worker.h"

#include <fmt/format.h>

#include <new>
#include <string>

#include "bench/progress_line.h"

namespace bench {
namespace {

class Worker {
 public:
  explicit Worker(const WorkerContext& context) : c_(context), stop_(context.stop_source.get_token()) {}

  void run();

 private:
  void say(std::string_view line) {
    if (!c_.is_main) return;
    std::lock_guard lock(c_.output_mutex);
    c_.console.out(line);
    c_.console.out("\n");
    c_.console.flush_out();
  }
  void fail(std::string_view text) {
    std::lock_guard lock(c_.output_mutex);
    c_.console.err(text);
    // The first failure is the run's reason; the result's other fields are not
    // touched until the workers are joined.
    if (c_.result.failure.empty()) c_.result.failure = text;
    c_.stop_source.request_stop();
  }
  void print_progress(std::int64_t seconds, bool end_line) {
    const std::string_view line = format_progress(progress_buffer_, seconds, c_.params.duration, c_.progress);
    c_.console.out(line);
    if (end_line) c_.console.out("\n");
    c_.console.flush_out();
  }
  void pin();
  bool timed_loop();
  // The solver's kernels run the chosen instruction set, which the check before
  // the run only warns about; the solver guards them and answers a refused
  // instruction with its own error value, so a processor that lacks the set
  // fails this worker in order instead of killing the process. True (reported,
  // stop requested) when `e` is that error.
  bool illegal_instruction(const platform::OptError& e, std::string_view before = {}) {
    if (!e.is_illegal_instruction()) return false;
    fail(fmt::format("{}illegal instruction in thread {}: this processor cannot run the {} kernels\n", before,
                     c_.index, c_.params.isa));
    return true;
  }

  const WorkerContext& c_;
  std::stop_token stop_;
  std::unique_ptr<solver::Solver> solver_;
  fmt::memory_buffer progress_buffer_;
  std::uint64_t iterations_ = 0;
  std::uint64_t start_tick_ = 0;
  ProgressTrace trace_;
};

// Returns false when the worker must leave without a result.
bool Worker::timed_loop() {
  const std::uint64_t limit_ms = std::uint64_t{c_.params.duration} * 1000;
  const std::uint64_t updates = solver_->updates_per_step();
  ProgressSlot& slot = c_.progress[c_.index];
  std::int64_t elapsed_ms = 0;
  if (limit_ms == 0) return true;
  for (;;) {
    if (c_.is_main) {
      std::lock_guard lock(c_.output_mutex);
      print_progress(elapsed_ms / 1000, false);
    }
    platform::OptError e = solver_->pre_step(iterations_);
    if (e.ok()) e = solver_->step();
    if (e.ok()) e = solver_->verify_step(iterations_);
    // The line break ends worker 0's progress line, as the workloads' own messages do.
    if (illegal_instruction(e, "\n")) return false;
    if (e.failed()) {
      fail(e.message() + "\n");
      return false;
    }
    if (stop_.stop_requested()) return false;

    ++iterations_;
    trace_.at_iteration_end(c_.hooks.read_fast_counter(), updates * iterations_);
    const std::uint64_t now = c_.hooks.read_coarse_counter();
    elapsed_ms = platform::elapsed_milliseconds(c_.coarse_timer, static_cast<std::int64_t>(start_tick_),
                                                static_cast<std::int64_t>(now));
    if (elapsed_ms > 0) {
      const double rate = static_cast<double>(updates * iterations_) / (static_cast<double>(elapsed_ms) * 1000.0);
      slot.rate.store(rate, std::memory_order_relaxed);
    }
    slot.iterations.store(iterations_, std::memory_order_relaxed);
    if (elapsed_ms >= 0 && static_cast<std::uint64_t>(elapsed_ms) >= limit_ms) return true;
  }
}

// A refused entry leaves the worker where the system puts it; the run goes on,
// but the first refusal of a run is said, and the record keeps the truth.
void Worker::pin() {
  const platform::PlacementList& placement = c_.params.plan.placement;
  if (c_.index >= placement.size() || c_.index >= c_.result.placement.size()) return;
  const platform::LogicalProcessor& lp = placement[c_.index];
  if (c_.hooks.pin_current_thread(lp)) {
    c_.result.placement[c_.index] = lp;
    return;
  }
  std::lock_guard lock(c_.output_mutex);
  if (c_.result.placement_refused) return;
  c_.result.placement_refused = true;
  c_.console.err(placement_refused_line(c_.index, platform::processor_number(lp)));
}

void Worker::run() {
  const BenchParams& p = c_.params;
  pin();

  say(allocating_fields_line(p.large_pages));
  const std::int64_t init_start = c_.hooks.read_fast_counter();

  // A run that is failing already spares the memory and the writing of it.
  if (stop_.stop_requested()) {
    (void)c_.phase_barrier.arrive_and_wait();
    return;
  }
  // Out of memory for the solver object itself counts as a workload that could
  // not be made: an exception must not end a worker thread (terminate).
  try {
    solver_ = c_.hooks.make_solver(p.workload, p.isa, c_.index);
  } catch (const std::bad_alloc&) {
    solver_.reset();
  }
  if (!solver_) {
    fail(fmt::format("could not initalize workload {} in thread {}\n", p.workload, c_.index));
    (void)c_.phase_barrier.arrive_and_wait();
    return;
  }
  const solver::FieldParams field{p.large_pages, p.size, 0.01};
  platform::OptError e = solver_->allocate(field);
  if (illegal_instruction(e)) {
    (void)c_.phase_barrier.arrive_and_wait();
    return;
  }
  if (e.failed()) {
    fail(field_allocation_failure(c_.index, e.message()));
    (void)c_.phase_barrier.arrive_and_wait();
    return;
  }
  if (c_.phase_barrier.arrive_and_wait()) return;  // phase 1
  if (c_.is_main) c_.result.fields_allocated = true;

  say("initalizing fields...");
  e = solver_->initialize();
  if (illegal_instruction(e)) {
    (void)c_.phase_barrier.arrive_and_wait();
    return;
  }
  if (e.failed()) {
    fail(fmt::format("failed to initalize field in thread {}\n{}\n", c_.index, e.message()));
    (void)c_.phase_barrier.arrive_and_wait();
    return;
  }
  if (c_.phase_barrier.arrive_and_wait()) return;  // phase 2

  const std::int64_t init_end = c_.hooks.read_fast_counter();
  if (c_.is_main) {
    const std::int64_t init_ms = platform::elapsed_milliseconds(c_.fast_timer, init_start, init_end);
    c_.result.initialization_ms = init_ms;
    say(fmt::format("initialization took {}ms", init_ms));
  }
  (void)c_.phase_barrier.arrive_and_wait();  // phase 3: everyone starts timing together
  say("starting bench..");

  start_tick_ = c_.hooks.read_coarse_counter();
  const std::int64_t start_fast = c_.hooks.read_fast_counter();
  trace_.begin(c_.fast_timer, start_fast, p.duration);
  if (!timed_loop()) return;
  const std::int64_t end_fast = c_.hooks.read_fast_counter();
  const std::uint64_t end_tick = c_.hooks.read_coarse_counter();

  if (c_.is_main) {
    {
      std::lock_guard lock(c_.output_mutex);
      print_progress(platform::elapsed_seconds(c_.fast_timer, start_fast, end_fast), true);
    }
    say("validating result..");
  }
  e = solver_->verify_final(iterations_);
  if (illegal_instruction(e)) return;
  if (e.failed()) {
    fail(e.message() + "\n");
    return;
  }

  const std::uint64_t updates = solver_->updates_per_step() * iterations_;
  trace_.finish(end_fast, updates);
  ThreadResult r{c_.index,
                 platform::elapsed_milliseconds(c_.coarse_timer, static_cast<std::int64_t>(start_tick_),
                                                static_cast<std::int64_t>(end_tick)),
                 platform::elapsed_microseconds(c_.fast_timer, start_fast, end_fast), iterations_, updates, trace_};
  std::lock_guard lock(c_.results_mutex);
  c_.result.results.push_back(r);
}

}  // namespace

std::string_view allocating_fields_line(bool large_pages) {
  return large_pages ? "allocating fields.... (large pages)" : "allocating fields.... ";
}

std::string placement_refused_line(std::uint32_t thread_index, std::uint32_t processor) {
  return fmt::format("could not pin thread {} to processor {}: placement not applied\n", thread_index, processor);
}

std::string field_allocation_failure(std::uint32_t thread_index, std::string_view reason) {
  return fmt::format("field allocation failed in thread {}\n{}\n", thread_index, reason);
}

void worker_main(WorkerContext context) {
  Worker worker(context);
  worker.run();
}

}  // namespace bench
