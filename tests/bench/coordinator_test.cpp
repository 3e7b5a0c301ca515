#include "bench/coordinator.h"
#include "bench/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "solver/guarded_call.h"

namespace {

using bench::CapturedConsole;
using bench::RunHooks;
using platform::OptError;

// What the fake solvers of one test do; reset by each test.
struct Script {
  std::int64_t fail_allocate_in = -1;
  std::int64_t fail_initialize_in = -1;
  std::int64_t fail_verify_in = -1;
  std::uint64_t fail_verify_at = 0;
  std::int64_t fail_final_in = -1;
  // Workers that execute an illegal instruction (ud2) there; kEveryone: all.
  std::int64_t trap_allocate_in = -1;
  std::int64_t trap_initialize_in = -1;
  std::int64_t trap_step_in = -1;
  std::uint64_t trap_step_at = 0;
  std::int64_t trap_final_in = -1;
  bool no_solver = false;
  std::int64_t solver_out_of_memory_in = -1;  // make_solver throws std::bad_alloc there
  std::uint32_t refuse_thread = 0;  // 0: every thread starts
  bool compliant = true;
  bool isa_supported = true;
  std::uint64_t coarse_base = 0;
  std::uint64_t capacity = UINT64_MAX;
  std::vector<std::uint32_t> refused_processors;  // pinning there fails
};
constexpr std::int64_t kEveryone = -2;
Script script;
std::atomic<int> solvers_made{0};
std::atomic<std::int64_t> fast_clock{0};
std::atomic<std::uint64_t> coarse_clock{0};

// A kernel entry the processor refuses: ud2 with GCC and clang on x86-64.
bool refused_kernel(std::uint64_t) { __builtin_trap(); }

// What a solver does when its kernel is refused: the call is guarded, and the
// solver's own frame holds heap memory meanwhile, which must still be released
// (the leak checker of the sanitizer build fails the test otherwise).
OptError run_refused_kernel() {
  const std::vector<double> scratch(1024, 1.0);
  bool ok = false;
  if (!solver::call_guarded(ok, &refused_kernel, scratch.size())) return OptError::illegal_instruction();
  return OptError::fail("the refused kernel ran");
}

class FakeSolver final : public solver::Solver {
 public:
  using Solver::Solver;
  OptError allocate(const solver::FieldParams&) override {
    if (mine(script.trap_allocate_in)) return run_refused_kernel();
    return mine(script.fail_allocate_in) ? OptError::fail("field allocation failed") : OptError{};
  }
  OptError initialize() override {
    if (mine(script.trap_initialize_in)) return run_refused_kernel();
    return mine(script.fail_initialize_in) ? OptError::fail("bad start") : OptError{};
  }
  OptError pre_step(std::uint64_t) override { return {}; }
  OptError step() override { return {}; }
  OptError verify_step(std::uint64_t i) override {
    if (mine(script.trap_step_in) && i == script.trap_step_at) return run_refused_kernel();
    if (mine(script.fail_verify_in) && i == script.fail_verify_at)
      return OptError::fail("\nenergy drifted in thread " + std::to_string(thread_index()));
    return {};
  }
  OptError verify_final(std::uint64_t) override {
    if (mine(script.trap_final_in)) return run_refused_kernel();
    return mine(script.fail_final_in) ? OptError::fail("final check failed") : OptError{};
  }
  std::uint64_t updates_per_step() const override { return 1000; }

 private:
  bool mine(std::int64_t who) const { return who == kEveryone || who == static_cast<std::int64_t>(thread_index()); }
};

RunHooks fake_hooks() {
  RunHooks h = bench::system_hooks();
  h.make_solver = [](std::string_view, std::string_view, std::uint32_t index) -> std::unique_ptr<solver::Solver> {
    ++solvers_made;
    if (script.no_solver) return nullptr;
    if (script.solver_out_of_memory_in == static_cast<std::int64_t>(index)) throw std::bad_alloc();
    return std::make_unique<FakeSolver>(index);
  };
  h.check_isa_support = [](std::string_view) {
    return script.isa_supported ? OptError{} : OptError::fail("avx2 support not detected\n");
  };
  h.query_fast_timer = [] { return platform::TimerInfo{1000000, 1000000, platform::TimerSource::kItsc}; };
  h.query_coarse_timer = [] { return platform::TimerInfo{1000, 64, platform::TimerSource::kUnknown}; };
  h.is_hwbot_compliant = [](const platform::TimerInfo&) { return script.compliant; };
  // Every reading moves time on, so the loop of a 1 s run ends after a few iterations.
  h.read_fast_counter = [] { return fast_clock.fetch_add(50000); };
  h.read_coarse_counter = [] { return script.coarse_base + coarse_clock.fetch_add(50); };
  h.may_start_thread = [](std::uint32_t index) { return index != script.refuse_thread; };
  h.cpu_brand_string = [] { return std::string("Fake CPU"); };
  h.cpu_feature_list = [] { return std::string("SSE2 AVX"); };
  h.aligned_capacity = [] { return script.capacity; };
  // The test's threads stay where they are; only the answer is played.
  h.pin_current_thread = [](const platform::LogicalProcessor& lp) {
    const auto& refused = script.refused_processors;
    return std::find(refused.begin(), refused.end(), lp.os) == refused.end();
  };
  return h;
}

struct FakeRun {
  explicit FakeRun(std::uint32_t threads, std::string_view threading = "os") {
    plan.thread_count = threads;
    this->threading = threading;
  }
  bench::RunResult go(bool strict = false, bool bypass = false) {
    const bench::BenchParams params{large_pages, plan, "standing_wave", "avx2", strict, 1, 64, bypass, threading};
    return bench::run_coordinator(params, console, hooks);
  }
  bool large_pages = false;
  bench::RunPlan plan;
  std::string_view threading;
  RunHooks hooks = fake_hooks();
  CapturedConsole console;
};

class CoordinatorTest : public testing::Test {
 protected:
  void SetUp() override {
    script = Script{};
    solvers_made = 0;
  }
};

TEST_F(CoordinatorTest, SingleThreadRunPrintsHeaderPhasesAndOneResult) {
  FakeRun run(1);
  const bench::RunResult r = run.go();
  EXPECT_FALSE(r.stopped);
  ASSERT_EQ(r.results.size(), 1u);
  EXPECT_EQ(r.results[0].thread, 0u);
  EXPECT_GT(r.results[0].iterations, 0u);
  EXPECT_EQ(r.results[0].updates, r.results[0].iterations * 1000);
  // Each iteration reads the fast clock once, 50 ms on, and crosses five
  // hundredths of the second: a point for each until the loop's end.
  const auto trace = r.results[0].progress.points();
  ASSERT_GT(trace.size(), 1u);
  EXPECT_EQ(trace[0].updates, 1000u);
  EXPECT_EQ(trace.back(), (bench::ProgressPoint{r.results[0].fast_us, r.results[0].updates}));
  for (std::size_t i = 1; i < trace.size(); ++i) {
    EXPECT_EQ(trace[i].updates, trace[i - 1].updates + 1000) << i;
    EXPECT_GT(trace[i].fast_us, trace[i - 1].fast_us) << i;
  }
  EXPECT_EQ(run.console.err_text, "");
  const std::string& out = run.console.out_text;
  EXPECT_EQ(out.rfind("Fake CPU\nSSE2 AVX\nrunning with 1 thread (os)\n64 x 64 x 64 grid\n"
                      "17.55 MiB per thread\n17.55 MiB total\n"
                      "Fast Timer Frequency: 1.00 MHz (iTSC)\nCoarse Timer Frequency: 64 Hz\n"
                      "allocating fields.... \ninitalizing fields...\ninitialization took ",
                      0),
            0u)
      << out;
  EXPECT_NE(out.find("ms\nstarting bench..\n\rbenchmarking... 0/1s"), std::string::npos);
  EXPECT_NE(out.find(" iterations\nvalidating result..\n"), std::string::npos);
}

TEST_F(CoordinatorTest, EveryWorkerReportsInAMultiThreadRun) {
  FakeRun run(4, "numa");
  run.large_pages = true;
  const bench::RunResult r = run.go();
  EXPECT_FALSE(r.stopped);
  EXPECT_EQ(r.results.size(), 4u);
  EXPECT_NE(run.console.out_text.find("running with 4 threads (numa)\n"), std::string::npos);
  EXPECT_NE(run.console.out_text.find("70.19 MiB total\n"), std::string::npos);
  EXPECT_NE(run.console.out_text.find("allocating fields.... (large pages)\n"), std::string::npos);
}

TEST_F(CoordinatorTest, AllocationFailureStopsEveryoneAfterPhaseOne) {
  for (int failing : {3, 0}) {
    script.fail_allocate_in = failing;
    FakeRun run(4);
    const bench::RunResult r = run.go();
    EXPECT_TRUE(r.stopped);
    EXPECT_TRUE(r.results.empty());
    EXPECT_EQ(run.console.err_text,
              "field allocation failed in thread " + std::to_string(failing) + "\nfield allocation failed\n");
    EXPECT_EQ(run.console.out_text.find("initalizing fields..."), std::string::npos);
  }
}

TEST_F(CoordinatorTest, FieldsThatCannotAllFitFailBeforeAnyWorkerAllocates) {
  // 64 x 64 x 64 with halo: E, and H with its 1 KiB lead.
  constexpr std::uint64_t kPerThread = 18399744 + 1024;
  script.capacity = 3 * kPerThread + kPerThread / 2;
  FakeRun short_of_one(4);
  const bench::RunResult r = short_of_one.go();
  EXPECT_TRUE(r.stopped);
  EXPECT_TRUE(r.results.empty());
  EXPECT_EQ(solvers_made.load(), 0);
  EXPECT_EQ(short_of_one.console.err_text, "field allocation failed in thread 3\nfield allocation failed\n");
  // Both streams in one file read like a run whose worker 3 failed to allocate.
  EXPECT_TRUE(bench::report_results(r, short_of_one.console, "Fake CPU").valid == false);
  const std::string& merged = short_of_one.console.merged_text;
  const std::string tail =
      "Coarse Timer Frequency: 64 Hz\nallocating fields.... \n"
      "field allocation failed in thread 3\nfield allocation failed\n"
      "==================\n  invalid result \n==================\n";
  ASSERT_GE(merged.size(), tail.size());
  EXPECT_EQ(merged.substr(merged.size() - tail.size()), tail) << merged;

  // A count no machine holds is refused at once, before its records are built.
  script.capacity = 1000 * kPerThread;
  FakeRun absurd(4000000000u);
  const bench::RunResult huge = absurd.go();
  EXPECT_TRUE(huge.stopped);
  EXPECT_EQ(huge.results.capacity(), 0u);
  EXPECT_EQ(absurd.console.err_text, "field allocation failed in thread 1000\nfield allocation failed\n");

  // Exactly enough runs; large pages come from their own reserved pool.
  script.capacity = 4 * kPerThread;
  FakeRun exact(4);
  EXPECT_EQ(exact.go().results.size(), 4u);
  script.capacity = 0;
  FakeRun large(2);
  large.large_pages = true;
  EXPECT_EQ(large.go().results.size(), 2u);
}

TEST_F(CoordinatorTest, RecordsBeyondMemoryAbortBeforeAnyWorker) {
  // Large-page fields are not counted, but the per-thread records of four
  // billion workers (half a terabyte of progress slots) cannot be had.
  script.capacity = std::uint64_t{1} << 30;
  FakeRun absurd(4000000000u);
  absurd.large_pages = true;
  const bench::RunResult r = absurd.go();
  EXPECT_FALSE(r.stopped);
  EXPECT_TRUE(r.results.empty());
  EXPECT_EQ(solvers_made.load(), 0);
  EXPECT_EQ(absurd.console.err_text, "not enough memory for the records of 4000000000 worker threads; aborting\n");
  EXPECT_EQ(absurd.console.out_text.find("allocating fields"), std::string::npos);
}

TEST_F(CoordinatorTest, FailuresInLaterPhasesAreReportedAndStopTheRun) {
  script.fail_initialize_in = 1;
  FakeRun init(2);
  EXPECT_TRUE(init.go().stopped);
  EXPECT_EQ(init.console.err_text, "failed to initalize field in thread 1\nbad start\n");

  script = Script{};
  script.fail_verify_in = 1;
  // The first iteration: every worker runs at least one, whereas a later one
  // may never come when the shared fake clock runs out first.
  script.fail_verify_at = 0;
  FakeRun verify(3);
  const bench::RunResult r = verify.go();
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(verify.console.err_text, "\nenergy drifted in thread 1\n");
  for (const auto& t : r.results) EXPECT_NE(t.thread, 1u);

  script = Script{};
  script.fail_final_in = 0;
  FakeRun final_check(1);
  EXPECT_TRUE(final_check.go().stopped);
  EXPECT_EQ(final_check.console.err_text, "final check failed\n");

  script = Script{};
  script.no_solver = true;
  FakeRun none(1);
  EXPECT_TRUE(none.go().stopped);
  EXPECT_EQ(none.console.err_text, "could not initalize workload standing_wave in thread 0\n");

  // No memory for the solver object on a worker thread: the same failure, not terminate.
  script = Script{};
  script.solver_out_of_memory_in = 1;
  FakeRun no_memory(2);
  EXPECT_TRUE(no_memory.go().stopped);
  EXPECT_EQ(no_memory.console.err_text, "could not initalize workload standing_wave in thread 1\n");
}

TEST_F(CoordinatorTest, IllegalInstructionFailsItsWorkerInOrder) {
  const auto message = [](int thread, std::string text = "") {
    text += "illegal instruction in thread " + std::to_string(thread) + ": this processor cannot run the avx2 kernels\n";
    return text;
  };
  // Two workers, so a faulting one that skipped its barrier arrival would hang the other.
  script.trap_allocate_in = 1;
  FakeRun allocate(2);
  bench::RunResult r = allocate.go();
  EXPECT_TRUE(r.stopped);
  EXPECT_TRUE(r.results.empty());
  EXPECT_EQ(allocate.console.err_text, message(1));
  EXPECT_EQ(allocate.console.out_text.find("initalizing fields..."), std::string::npos);
  // The report turns it into the invalid verdict.
  bench::CapturedConsole report;
  EXPECT_FALSE(bench::report_results(r, report, "Fake CPU").valid);
  EXPECT_NE(report.err_text.find("  invalid result \n"), std::string::npos);

  script = Script{};
  script.trap_initialize_in = 0;
  FakeRun initialize(2);
  EXPECT_TRUE(initialize.go().stopped);
  EXPECT_EQ(initialize.console.err_text, message(0));
  EXPECT_NE(initialize.console.out_text.find("initalizing fields...\n"), std::string::npos);
  EXPECT_EQ(initialize.console.out_text.find("starting bench.."), std::string::npos);

  // In the timed loop the message first ends worker 0's progress line.
  script = Script{};
  script.trap_step_in = 1;
  script.trap_step_at = 1;
  FakeRun step(2);
  r = step.go();
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(step.console.err_text, message(1, "\n"));
  for (const auto& t : r.results) EXPECT_NE(t.thread, 1u);

  // Both workers at once: each reports its own fault.
  script = Script{};
  script.trap_step_in = kEveryone;
  FakeRun both(2);
  r = both.go();
  EXPECT_TRUE(r.results.empty());
  EXPECT_TRUE(both.console.err_text == message(1, message(0, "\n") + "\n") ||
              both.console.err_text == message(0, message(1, "\n") + "\n"))
      << both.console.err_text;

  script = Script{};
  script.trap_final_in = 0;
  FakeRun final_check(1);
  EXPECT_TRUE(final_check.go().results.empty());
  EXPECT_EQ(final_check.console.err_text, message(0));

  // The guards leave nothing behind: the next run is an ordinary one.
  script = Script{};
  FakeRun after(2);
  EXPECT_EQ(after.go().results.size(), 2u);
  EXPECT_EQ(after.console.err_text, "");
}

TEST_F(CoordinatorTest, RefusedThreadEndsTheRunInOrder) {
  script.refuse_thread = 2;
  FakeRun run(4);
  const bench::RunResult r = run.go();
  EXPECT_TRUE(r.stopped);
  EXPECT_TRUE(r.results.empty());
  EXPECT_EQ(run.console.err_text, "could not start worker thread 2 of 4: the system refused\n");
  // Told after worker 0's first line, as a worker's own failure would be.
  EXPECT_NE(run.console.merged_text.find("allocating fields.... \ncould not start worker thread 2 of 4"),
            std::string::npos)
      << run.console.merged_text;
  // Worker 0 starts after the stop and spares its fields; worker 1 may have
  // made its solver before the refusal.
  EXPECT_LE(solvers_made.load(), 1);
}

TEST_F(CoordinatorTest, TimerRuleAbortsUnlessBypassed) {
  script.compliant = false;
  FakeRun strict(2);
  const bench::RunResult r = strict.go();
  EXPECT_FALSE(r.stopped);
  EXPECT_TRUE(r.results.empty());
  EXPECT_EQ(solvers_made.load(), 0);
  EXPECT_EQ(strict.console.err_text,
            "Fast Timer is not HWBOT compliant (fast timer source: iTSC); aborting\n"
            "Use --bypass-timer-check to run regardless if you are sure that this is a detection error in terms "
            "of your windows version, processor, or timer\n");

  FakeRun bypass(1);
  EXPECT_EQ(bypass.go(false, true).results.size(), 1u);
  EXPECT_EQ(bypass.console.err_text,
            "===========\n  warning  \n===========\n"
            "Fast timer is not compliant with HWBOT rules (fast timer source: iTSC)\n"
            "Check that this is a detection error in terms of your windows version, processor, or timer before "
            "submitting\n");
}

TEST_F(CoordinatorTest, IsaCheckWarnsOrAbortsWithStrictCheck) {
  script.isa_supported = false;
  FakeRun warn(1);
  EXPECT_EQ(warn.go().results.size(), 1u);
  EXPECT_EQ(warn.console.err_text, "===========\n  warning  \n===========\navx2 support not detected\n");

  FakeRun strict(1);
  EXPECT_TRUE(strict.go(true).results.empty());
  EXPECT_EQ(strict.console.err_text,
            "===========\n  warning  \n===========\navx2 support not detected\n"
            "isa support check failed; aborting\n");
  EXPECT_EQ(strict.console.out_text, "Fake CPU\nSSE2 AVX\n");
}

TEST_F(CoordinatorTest, CoarseCounterNearItsLimitAborts) {
  script.coarse_base = static_cast<std::uint64_t>(INT64_MAX) - 1000;  // 1 s of headroom
  FakeRun run(1);
  EXPECT_TRUE(run.go().results.empty());
  EXPECT_EQ(run.console.err_text, "coarse timer will overflow during the run; aborting\n");
  EXPECT_EQ(solvers_made.load(), 0);
}

}  // namespace

namespace {

// What the run records for the result file, beside what it prints: the first
// message that ended it (exactly as printed) and how far it got.
TEST_F(CoordinatorTest, RecordsTheFactsAndTheFirstFailure) {
  FakeRun good(2);
  const bench::RunResult ok = good.go();
  EXPECT_TRUE(ok.failure.empty());
  EXPECT_TRUE(ok.fields_allocated);
  EXPECT_TRUE(ok.initialization_ms.has_value());
  ASSERT_TRUE(ok.fast_timer.has_value());
  EXPECT_TRUE(ok.coarse_timer.has_value());
  EXPECT_EQ(ok.timer_compliant, true);

  script.fail_allocate_in = 1;
  FakeRun allocation(2);
  const bench::RunResult a = allocation.go();
  EXPECT_EQ(a.failure, "field allocation failed in thread 1\nfield allocation failed\n");
  EXPECT_FALSE(a.fields_allocated);
  EXPECT_FALSE(a.initialization_ms.has_value());
  script.fail_allocate_in = -1;

  script.refuse_thread = 1;
  FakeRun refused(2);
  EXPECT_EQ(refused.go().failure, "could not start worker thread 1 of 2: the system refused\n");
  script.refuse_thread = 0;

  script.compliant = false;
  FakeRun timer(1);
  const bench::RunResult t = timer.go();
  EXPECT_EQ(t.failure, timer.console.err_text);
  EXPECT_EQ(t.timer_compliant, false);
  EXPECT_TRUE(t.fast_timer.has_value());
  script.compliant = true;

  // The strict check's reason includes the check's own message, not the warning box.
  script.isa_supported = false;
  FakeRun strict(1);
  const bench::RunResult s = strict.go(true);
  EXPECT_EQ(s.failure, "avx2 support not detected\nisa support check failed; aborting\n");
  EXPECT_FALSE(s.fast_timer.has_value());
  EXPECT_FALSE(s.timer_compliant.has_value());
}

// Where a worker really ran is recorded, not where the plan meant it to: a
// refused entry stays empty, and the first refusal alone is told.
TEST_F(CoordinatorTest, RefusedPlacementIsRecordedAndToldOnce) {
  FakeRun run(4, "numa");
  run.plan.placement = {{0, 0, 0, 0}, {0, 1, 5, 0}, {0, 2, 6, 0}};  // worker 3 is not pinned
  script.refused_processors = {5, 6};
  const bench::RunResult r = run.go();
  EXPECT_EQ(r.results.size(), 4u);  // the run goes on
  ASSERT_EQ(r.placement.size(), 3u);
  ASSERT_TRUE(r.placement[0].has_value());
  EXPECT_EQ(r.placement[0]->os, 0u);
  EXPECT_FALSE(r.placement[1].has_value());
  EXPECT_FALSE(r.placement[2].has_value());
  EXPECT_TRUE(r.failure.empty());
  const std::string& err = run.console.err_text;
  EXPECT_TRUE(err == "could not pin thread 1 to processor 5: placement not applied\n" ||
              err == "could not pin thread 2 to processor 6: placement not applied\n")
      << err;

  script.refused_processors.clear();
  FakeRun pinned(2, "numa");
  pinned.plan.placement = {{0, 0, 0, 0}, {0, 1, 1, 0}};
  const bench::RunResult p = pinned.go();
  ASSERT_EQ(p.placement.size(), 2u);
  EXPECT_TRUE(p.placement[0].has_value() && p.placement[1].has_value());
  EXPECT_EQ(pinned.console.err_text, "");
}

}  // namespace
