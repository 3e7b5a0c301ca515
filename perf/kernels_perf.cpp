// Kernel throughput per instruction set, next to the memory-bandwidth bound.
// Figures only: nothing here is asserted. With --rows the summary is followed
// by one plain line per grid benchmark for scripts/perf.sh.
//
// Every grid benchmark runs one private grid per benchmark thread (threads:1
// and one per core) in rounds: all threads run a triad probe together, then
// the measured work together, each phase timed from the first thread's start to
// the last thread's end. The probe counts 32 bytes per element (two loads, the
// store and its write-allocate read). A cell update of either half-step moves
// at least 96 bytes (the other field's cell, the own cell read and written), so
// bandwidth / 96 bounds the update rate of grids that do not fit in cache. Each
// round gives its own ratio of work to probe; the figures are the medians over
// the rounds, so a drift of the machine's share of memory bandwidth between
// rounds (common on shared or virtual machines) does not skew the ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/progress_board.h"
#include "perf/perf_tables.h"
#include "bench/progress_line.h"
#include "solver/guarded_call.h"
#include "platform/fp_control.h"
#include "platform/memory.h"
#include "platform/timer.h"
#include "platform/topology.h"
#include "solver/field_memory.h"
#include "solver/factory.h"
#include "solver/field_state.h"
#include "solver/kernel_args.h"
#include "solver/solver.h"

namespace {

constexpr double kBytesPerUpdate = 96.0;
constexpr double kBytesPerTriadElement = 32.0;
constexpr std::uint64_t kTriadElements = std::uint64_t{1} << 23;  // 64 MiB per array and thread
constexpr std::uint64_t kInCacheEdge = 20;
constexpr std::uint64_t kGridEdges[] = {64, 128, 192, 256};
constexpr int kDefaultRounds = 11;
// Steps per round: enough that the work phase of small grids is not just a
// few milliseconds.
constexpr std::uint64_t kUpdatesPerRound = std::uint64_t{1} << 23;
// Grids of all threads together up to this size may stay in the last-level
// cache, so the probe would leave them colder than a run ever sees them: they
// get one untimed step after the probe.
constexpr std::uint64_t kWarmUpBytes = std::uint64_t{64} << 20;

// The kernels and the energy pass that the solvers of each instruction set use
// (the avx2 solvers run the avx kernels, the fma solvers the avx energy pass).
struct IsaKernels {
  const char* name;
  const solver::KernelTable* kernels;
  const solver::EnergyTable* energy;
};
constexpr IsaKernels kIsas[] = {{"sse2", &solver::sse2::kKernels, &solver::sse2::kEnergy},
                                {"avx", &solver::avx::kKernels, &solver::avx::kEnergy},
                                {"avx2", &solver::avx::kKernels, &solver::avx2::kEnergy},
                                {"fma", &solver::fma::kKernels, &solver::avx::kEnergy}};

using perf::kVersus;
using perf::median;
using perf::VersusPair;
constexpr std::uint64_t kVersusEdges[] = {64, 128, 192, 256, 384, 512};
// Rounds of the kernel-versus-plain benchmarks. The scalar kernels run the plain
// loops' own instructions, so what their ratios show beyond 1 is the machine's
// noise: medians of 5 rounds strayed by up to 6 % on a shared two-core machine,
// medians of 11 by up to 2.4 %, medians of 21 by 0.3 % at the same points. The
// large sizes make this the longest table.
constexpr int kDefaultVersusRounds = 21;

// The energy routines exist for three targets (fma solvers use the avx ones).
struct EnergyIsa {
  const char* name;
  const solver::EnergyTable* energy;
};
constexpr EnergyIsa kEnergyIsas[] = {
    {"sse2", &solver::sse2::kEnergy}, {"avx", &solver::avx::kEnergy}, {"avx2", &solver::avx2::kEnergy}};
// The sizes of the whole-program rows of scripts/perf.sh: there the figures
// give the share of a soft-Gaussian step the two passes leave to the kernels.
constexpr std::uint64_t kEnergyEdges[] = {64, 192};

// A pseudo-random, stable field (the scheme is stable at these coefficients),
// so the timed arithmetic sees ordinary numbers rather than zeros.
void fill_fields(solver::FieldState& state, std::uint64_t seed) {
  std::uint64_t s = seed;
  for (solver::FieldArray* array : {&state.e, &state.h}) {
    for (std::uint64_t i = 0; i < array->cells.count(); ++i) {
      solver::Cell& c = array->cells.data()[i];
      double* lanes[] = {&c.x, &c.y, &c.z};
      for (double* lane : lanes) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        *lane = static_cast<double>(s >> 11) * 0x1.0p-53 - 0.5;
      }
    }
  }
}

// Fields of edge n for one benchmark thread, filled from `seed` and the thread's
// index, with denormals flushed as in a run; false when they cannot be allocated.
bool prepare_fields(const benchmark::State& state, solver::FieldStorage& fields, std::uint64_t n,
                    std::uint64_t seed) {
  platform::enable_flush_denormals();
  if (fields.allocate(solver::FieldParams{false, n, 0.01}).failed()) return false;
  fill_fields(fields.state(), seed + static_cast<std::uint64_t>(state.thread_index()));
  return true;
}

// Both fields once over the (n - 1)^3 cells of the energy pass: 64 bytes per cell.
double interior_bytes(std::uint64_t n) {
  const double edge = static_cast<double>(n - 1);
  return edge * edge * edge * 64.0;
}

// The step as the program runs it: both half-steps in one sweep.
void one_step(const solver::KernelTable& kernels, const solver::KernelArgs& args) {
  const bool done = kernels.step(args);
  benchmark::DoNotOptimize(done);
  benchmark::ClobberMemory();
}

// The bandwidth probe: a = b + s * c over arrays far larger than the caches,
// allocated like the fields (so on the same kind of pages).
class Triad {
 public:
  Triad() : a_(allocate()), b_(allocate()), c_(allocate()) {
    if (!ok()) return;
    std::fill_n(a_.get(), kTriadElements, 0.0);
    std::fill_n(b_.get(), kTriadElements, 1.0);
    std::fill_n(c_.get(), kTriadElements, 2.0);
  }
  bool ok() const { return a_ && b_ && c_; }
  void pass() {
    double* pa = a_.get();
    const double* pb = b_.get();
    const double* pc = c_.get();
    const double scalar = 0.5;
    for (std::uint64_t i = 0; i < kTriadElements; ++i) pa[i] = pb[i] + scalar * pc[i];
    benchmark::ClobberMemory();
  }
  static constexpr double kBytes = static_cast<double>(kTriadElements) * kBytesPerTriadElement;
  // Bandwidth of one pass on every one of `threads` threads, in GB/s.
  static double gbps(double threads, double seconds) { return threads * kBytes / seconds / 1e9; }

 private:
  struct Free {
    void operator()(double* p) const { platform::free_aligned(p); }
  };
  using Array = std::unique_ptr<double[], Free>;
  static Array allocate() { return Array(static_cast<double*>(platform::allocate_aligned(kTriadElements * 8))); }
  Array a_, b_, c_;
};

// The threads of one benchmark meet here between phases; one barrier per
// thread count, shared by every benchmark with that many threads.
class PhaseSync {
 public:
  explicit PhaseSync(const std::vector<int>& counts) {
    for (int count : counts) groups_.emplace(count, std::make_unique<Group>(count));
  }
  std::barrier<>& of(const benchmark::State& state) const { return group(state).barrier; }

  // True when every thread of the benchmark is ready. A thread that gave up
  // alone would leave the others waiting at the first barrier for ever.
  bool all_ready(const benchmark::State& state, bool ready) const {
    Group& g = group(state);
    g.barrier.arrive_and_wait();
    if (!ready) g.failed.store(true);
    g.barrier.arrive_and_wait();
    const bool all = !g.failed.load();
    g.barrier.arrive_and_wait();
    // Every thread has read the flag; the next benchmark of this group sets
    // it only after its own first barrier, which waits for this thread.
    if (state.thread_index() == 0) g.failed.store(false);
    return all;
  }

 private:
  struct Group {
    explicit Group(int count) : barrier(count) {}
    std::barrier<> barrier;
    std::atomic<bool> failed{false};
  };
  Group& group(const benchmark::State& state) const { return *groups_.at(state.threads()); }
  std::map<int, std::unique_ptr<Group>> groups_;
};
const PhaseSync* g_sync = nullptr;
// The progress counters of the iteration benchmarks, one board per thread count.
const std::map<int, std::unique_ptr<bench::ProgressBoard>>* g_boards = nullptr;

// Runs `phase` on every thread of the benchmark at once and returns the wall
// time from the common start to the last thread's end.
template <class Phase>
double timed_phase(std::barrier<>& sync, Phase&& phase) {
  sync.arrive_and_wait();
  const auto start = std::chrono::steady_clock::now();
  phase();
  sync.arrive_and_wait();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Steps of a grid with `updates` updates per step that make up one round.
std::uint64_t steps_per_round(std::uint64_t updates) {
  return std::max<std::uint64_t>(1, (kUpdatesPerRound + updates - 1) / updates);
}

// timed_phase of `count` calls of `body` on every thread.
template <class Body>
double timed_repeats(std::barrier<>& sync, std::uint64_t count, Body&& body) {
  return timed_phase(sync, [&] {
    for (std::uint64_t i = 0; i < count; ++i) body();
  });
}

// Figures of one benchmark's rounds; only the first thread keeps them.
class RoundLog {
 public:
  void add(const std::string& counter, double value) { values_[counter].push_back(value); }
  // Medians as counters of the first thread (counters of threads are summed,
  // and the other threads report none).
  void report(benchmark::State& state) const {
    for (const auto& [name, values] : values_) state.counters[name] = median(values);
  }

 private:
  std::map<std::string, std::vector<double>> values_;
};

// Fields and probe of one thread of a round benchmark; false (every thread of
// the benchmark skipped) when any thread could not get its memory.
bool prepare_rounds(benchmark::State& state, solver::FieldStorage& fields, const Triad& triad, std::uint64_t n,
                    std::uint64_t seed) {
  if (g_sync->all_ready(state, prepare_fields(state, fields, n, seed) && triad.ok())) return true;
  state.SkipWithError("field or probe allocation failed");
  return false;
}

// Whether the grids of all the benchmark's threads may stay in the last-level
// cache, and so need warming up after the probe.
bool may_stay_cached(const benchmark::State& state, std::uint64_t n) {
  return static_cast<std::uint64_t>(state.threads()) * solver::field_memory_per_thread(n) <= kWarmUpBytes;
}

// Rounds of probe and steps on one private grid per thread: MGups, GBps of the
// probe and their ratio as a share of the bound, medians over the rounds.
void step_benchmark(benchmark::State& state, const solver::KernelTable& kernels, std::uint64_t n) {
  solver::FieldStorage fields;
  Triad triad;
  if (!prepare_rounds(state, fields, triad, n, 12345)) return;
  const solver::KernelArgs args = fields.state().kernel_args();
  std::barrier<>& sync = g_sync->of(state);
  const std::uint64_t updates = fields.updates_per_step();
  const std::uint64_t steps = steps_per_round(updates);
  const auto threads = static_cast<std::uint64_t>(state.threads());
  const bool warm_up = may_stay_cached(state, n);
  const bool first = state.thread_index() == 0;
  RoundLog log;
  for (auto _ : state) {
    const double probe = timed_phase(sync, [&] { triad.pass(); });
    if (warm_up) one_step(kernels, args);
    const double work = timed_repeats(sync, steps, [&] { one_step(kernels, args); });
    if (!first) continue;
    const double gbps = Triad::gbps(static_cast<double>(threads), probe);
    const double mgups = static_cast<double>(threads * steps * updates) / work / 1e6;
    log.add("GBps", gbps);
    log.add("MGups", mgups);
    log.add("share", mgups / (gbps * 1e3 / kBytesPerUpdate));
  }
  if (first) log.report(state);
}

// What the energy pass needs at least: both fields read once, with no
// arithmetic beyond independent sums.
double read_fields(const solver::FieldState& f) {
  const std::uint64_t edge = f.e.edge;
  double sx = 0.0, sy = 0.0, tx = 0.0, ty = 0.0;
  for (std::uint64_t x = 2; x + 1 < edge; ++x) {
    for (std::uint64_t y = 2; y + 1 < edge; ++y) {
      const solver::Cell* e = f.e.cells.data() + edge * (y + edge * x);
      const solver::Cell* h = f.h.cells.data() + edge * (y + edge * x);
      for (std::uint64_t z = 2; z + 1 < edge; ++z) {
        sx += e[z].x;
        sy += e[z].z;
        tx += h[z].x;
        ty += h[z].z;
      }
    }
  }
  return sx + sy + tx + ty;
}

// Rounds of probe, plain read of both fields and the energy pass (64 bytes
// per cell each): GB/s of all three and the pass's share of the other two.
void energy_benchmark(benchmark::State& state, const solver::EnergyTable& energy, std::uint64_t n) {
  solver::FieldStorage fields;
  Triad triad;
  if (!prepare_rounds(state, fields, triad, n, 777)) return;
  const solver::KernelArgs args = fields.state().kernel_args();
  std::barrier<>& sync = g_sync->of(state);
  const double threads = static_cast<double>(state.threads());
  const bool warm_up = may_stay_cached(state, n);
  const bool first = state.thread_index() == 0;
  RoundLog log;
  for (auto _ : state) {
    const double probe = timed_phase(sync, [&] { triad.pass(); });
    if (warm_up) benchmark::DoNotOptimize(read_fields(fields.state()));
    const double read = timed_phase(sync, [&] { benchmark::DoNotOptimize(read_fields(fields.state())); });
    const double pass = timed_phase(sync, [&] { benchmark::DoNotOptimize(energy.total_energy(args)); });
    if (!first) continue;
    const double gbps = threads * interior_bytes(n) / pass / 1e9;
    const double triad_gbps = Triad::gbps(threads, probe);
    const double read_gbps = threads * interior_bytes(n) / read / 1e9;
    log.add("GBps", gbps);
    log.add("triad", triad_gbps);
    log.add("read", read_gbps);
    log.add("of_triad", gbps / triad_gbps);
    log.add("of_read", gbps / read_gbps);
  }
  if (first) log.report(state);
}

// Kernel-only throughput of a grid that fits in the per-core caches: plain
// repeated steps, no probe.
void in_cache_benchmark(benchmark::State& state, const solver::KernelTable& kernels, std::uint64_t n) {
  solver::FieldStorage fields;
  if (!prepare_fields(state, fields, n, 12345)) return state.SkipWithError("field allocation failed");
  const solver::KernelArgs args = fields.state().kernel_args();
  for (auto _ : state) one_step(kernels, args);
  const double updates = static_cast<double>(state.iterations()) *
                         static_cast<double>(fields.updates_per_step());
  state.counters["MGups"] = benchmark::Counter(updates / 1e6, benchmark::Counter::kIsRate);
}

void one_plain_step(const perf::PlainKernels& plain, const solver::KernelArgs& args) {
  bool done = plain.update_h(args);
  done = plain.update_e(args) && done;
  benchmark::DoNotOptimize(done);
  benchmark::ClobberMemory();
}

// True when the program's kernels and the plain loops of `pair` leave the same
// bits after a few steps from the same random fields (coefficients 0.5: every
// product is exact, so even the fused forms agree with the plain ones).
bool plain_matches(const VersusPair& pair) {
  solver::FieldStorage a, b;
  for (solver::FieldStorage* f : {&a, &b}) {
    if (f->allocate(solver::FieldParams{false, 13, 0.01}).failed()) return false;
    fill_fields(f->state(), 99);
  }
  for (int i = 0; i < 4; ++i) {
    one_step(*pair.kernels, a.state().kernel_args());
    one_plain_step(*pair.plain, b.state().kernel_args());
  }
  const auto bytes = a.state().e.cells.count() * sizeof(solver::Cell);
  return std::memcmp(a.state().e.cells.data(), b.state().e.cells.data(), bytes) == 0 &&
         std::memcmp(a.state().h.cells.data(), b.state().h.cells.data(), bytes) == 0;
}

// Rounds of the program's kernels and the plain reference loops on the same
// private grid per thread, every thread at once, for each instruction set in
// turn; the order of the two alternates between rounds. Counters per isa:
// MGups of both and their ratio (program / plain), medians over the rounds of
// each round's own figures.
void versus_benchmark(benchmark::State& state, const std::vector<VersusPair>& pairs, std::uint64_t n) {
  solver::FieldStorage fields;
  if (!g_sync->all_ready(state, prepare_fields(state, fields, n, 2024))) {
    return state.SkipWithError("field allocation failed");
  }
  const solver::KernelArgs args = fields.state().kernel_args();
  std::barrier<>& sync = g_sync->of(state);
  const std::uint64_t updates = fields.updates_per_step();
  const std::uint64_t steps = steps_per_round(updates);
  const auto threads = static_cast<std::uint64_t>(state.threads());
  const bool first = state.thread_index() == 0;
  const double total = static_cast<double>(threads * steps * updates);
  // Grids that may stay in the last-level cache get one untimed step before
  // each phase, so both start from the same cache state.
  const bool warm_up = may_stay_cached(state, n);
  RoundLog log;
  bool program_first = true;
  for (auto _ : state) {
    for (const VersusPair& pair : pairs) {
      const auto time_program = [&] {
        if (warm_up) one_step(*pair.kernels, args);
        return timed_repeats(sync, steps, [&] { one_step(*pair.kernels, args); });
      };
      const auto time_plain = [&] {
        if (warm_up) one_plain_step(*pair.plain, args);
        return timed_repeats(sync, steps, [&] { one_plain_step(*pair.plain, args); });
      };
      double program = program_first ? time_program() : 0.0;
      const double plain = time_plain();
      if (!program_first) program = time_program();
      if (!first) continue;
      log.add(std::string(pair.name) + "_program", total / program / 1e6);
      log.add(std::string(pair.name) + "_plain", total / plain / 1e6);
      log.add(std::string(pair.name) + "_ratio", plain / program);
    }
    program_first = !program_first;
  }
  if (first) log.report(state);
}

std::string versus_name(std::uint64_t n) { return "versus/" + std::to_string(n); }

// The whole-program configurations of scripts/perf.sh: n = 64 on one thread
// (in cache, thousands of iterations a second) and n = 192 on every core.
struct IterationConfig {
  std::uint64_t n;
  bool all_cores;
};
constexpr IterationConfig kIterationConfigs[] = {{64, false}, {192, true}};
constexpr const char* kWorkloads[] = {"standing_wave", "soft_gaussian"};

// Rounds of kernel-only steps on one grid and as many whole iterations of a
// real solver on another (pre_step, step, verify_step, the progress counters,
// the coarse timer and, on the first thread, the progress line formatted but
// not written), both on every thread at once: the share of an iteration left
// to the kernels, paired per round so the machine's drift cancels. For the
// soft Gaussian a third phase times the energy pass alone on the first grid,
// which gives the share the two passes allow (kernels / (kernels + pass)).
void iteration_benchmark(benchmark::State& state, const char* workload, const IsaKernels& isa, std::uint64_t n) {
  const auto index = static_cast<std::uint32_t>(state.thread_index());
  solver::FieldStorage fields;
  std::unique_ptr<solver::Solver> run = solver::make_solver(workload, isa.name, index);
  const bool ready = prepare_fields(state, fields, n, 4242) && run &&
                     run->allocate(solver::FieldParams{false, n, 0.01}).ok() && run->initialize().ok();
  if (!g_sync->all_ready(state, ready)) return state.SkipWithError("solver or field setup failed");
  const solver::KernelArgs args = fields.state().kernel_args();
  const solver::KernelTable& kernels = *isa.kernels;
  std::barrier<>& sync = g_sync->of(state);
  bench::ProgressBoard& board = *g_boards->at(state.threads());
  bench::ProgressSlot& slot = board[index];
  fmt::memory_buffer line;
  const std::uint64_t updates = fields.updates_per_step();
  const std::uint64_t steps = steps_per_round(updates);
  const std::uint64_t start_tick = platform::read_coarse_counter();
  std::uint64_t iteration = 0;
  std::string failure;
  const auto iterate = [&] {
    if (index == 0) benchmark::DoNotOptimize(bench::format_progress(line, 0, 10, board).size());
    platform::OptError e = run->pre_step(iteration);
    if (e.ok()) e = run->step();
    if (e.ok()) e = run->verify_step(iteration);
    if (e.failed() && failure.empty()) failure = e.message();
    ++iteration;
    // The loop's own bookkeeping: a coarse-timer read and the rate it gives.
    const std::uint64_t ticks = platform::read_coarse_counter() - start_tick;
    slot.rate.store(ticks > 0 ? static_cast<double>(updates * iteration) / static_cast<double>(ticks) : 0.0,
                    std::memory_order_relaxed);
    slot.iterations.store(iteration, std::memory_order_relaxed);
  };
  const bool energy_pass = std::string_view(workload) == "soft_gaussian";
  // Two grids of n = 64 together overflow the last-level cache, so each phase
  // starts from a warm-up of its own grid.
  const bool warm_up = may_stay_cached(state, n);
  const bool first = index == 0;
  RoundLog log;
  const auto time_iterations = [&] {
    if (warm_up) iterate();
    return timed_repeats(sync, steps, iterate);
  };
  bool whole_first = false;
  for (auto _ : state) {
    // The order of the phases alternates, so neither always runs after the other.
    double whole = whole_first ? time_iterations() : 0.0;
    if (warm_up) one_step(kernels, args);
    const double kernel = timed_repeats(sync, steps, [&] { one_step(kernels, args); });
    const double energy = !energy_pass ? 0.0 : timed_repeats(sync, steps, [&] {
      benchmark::DoNotOptimize(isa.energy->total_energy(args));
    });
    if (!whole_first) whole = time_iterations();
    whole_first = !whole_first;
    if (!first) continue;
    const double total = static_cast<double>(static_cast<std::uint64_t>(state.threads()) * steps * updates);
    const double share = kernel / whole;
    const double expect = kernel / (kernel + energy);
    log.add("kernel", total / kernel / 1e6);
    log.add("MGups", total / whole / 1e6);
    log.add("share", share);
    log.add("expect", expect);
    log.add("of_expect", share / expect);
  }
  if (first) log.report(state);
  if (!failure.empty()) state.SkipWithError(("validation failed: " + failure).c_str());
}

// Every kernel call of a solver runs under an illegal-instruction guard: the
// cost of one guarded call next to the same call made plainly (compare with the
// iteration rows, whose time per iteration is the figure it adds to).
void call_benchmark(benchmark::State& state, bool guarded) {
  std::uint64_t calls = 0;
  std::uint64_t (*volatile body)(std::uint64_t) = [](std::uint64_t c) {
    benchmark::DoNotOptimize(c);
    return c + 1;
  };
  for (auto _ : state) {
    if (!guarded) {
      calls = body(calls);
    } else if (!solver::call_guarded(calls, static_cast<std::uint64_t (*)(std::uint64_t)>(body), calls)) {
      state.SkipWithError("illegal instruction");
      break;
    }
  }
}

// Keeps the console output and remembers each benchmark's counters for the
// summary: the median over the repetitions when there are several (the machine
// may be shared), else the single run.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.error_occurred || (run.run_type != Run::RT_Iteration && !median)) continue;
      for (const auto& [name, counter] : run.counters) {
        values_[{run.run_name.function_name, run.threads}][name] = counter.value;
      }
    }
  }
  // The counter, or 0 when that run did not happen.
  double value(const std::string& benchmark, std::int64_t threads, const std::string& counter) const {
    const auto run = values_.find({benchmark, threads});
    if (run == values_.end()) return 0.0;
    const auto it = run->second.find(counter);
    return it == run->second.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::pair<std::string, std::int64_t>, std::map<std::string, double>> values_;
};

std::string step_name(const char* isa, std::uint64_t n) {
  return std::string("step/") + isa + "/" + std::to_string(n);
}
std::string energy_name(const char* isa, std::uint64_t n) {
  return std::string("energy/") + isa + "/" + std::to_string(n);
}

std::string iteration_name(const char* workload, const char* isa, std::uint64_t n) {
  return std::string("iteration/") + workload + "/" + isa + "/" + std::to_string(n);
}

std::vector<int> thread_counts(int cores) { return cores > 1 ? std::vector<int>{1, cores} : std::vector<int>{1}; }

// The probe's figure for one grid size: the median over the kernels' rounds.
double triad_of(const SummaryReporter& r, std::uint64_t n, int threads) {
  std::vector<double> probes;
  for (const IsaKernels& isa : kIsas) {
    const double gbps = r.value(step_name(isa.name, n), threads, "GBps");
    if (gbps > 0) probes.push_back(gbps);
  }
  return median(probes);
}

void print_summary(const SummaryReporter& r, int cores, int rounds) {
  std::printf("\nsummary: MGups, and in brackets the share of the bound = triad bandwidth / %.0f bytes;\n"
              "medians over %d rounds of probe and kernel (the triad row: median of all probes of the column)\n",
              kBytesPerUpdate, rounds);
  for (int threads : thread_counts(cores)) {
    std::printf("\n%d thread(s), one grid each\n  %-5s", threads, "");
    for (std::uint64_t n : kGridEdges) std::printf("  %16s", ("n = " + std::to_string(n)).c_str());
    std::printf("\n  %-5s", "triad");
    for (std::uint64_t n : kGridEdges) std::printf("  %10.1f GB/s", triad_of(r, n, threads));
    std::printf("\n");
    for (const IsaKernels& isa : kIsas) {
      std::printf("  %-5s", isa.name);
      for (std::uint64_t n : kGridEdges) {
        std::printf("  %7.1f (%5.2f)", r.value(step_name(isa.name, n), threads, "MGups"),
                    r.value(step_name(isa.name, n), threads, "share"));
      }
      std::printf("\n");
    }
  }
  const double sse2 = r.value(step_name("sse2", kInCacheEdge), 1, "MGups");
  std::printf("\nin cache, n = %llu, 1 thread:", static_cast<unsigned long long>(kInCacheEdge));
  for (const IsaKernels& isa : kIsas) {
    const double mgups = r.value(step_name(isa.name, kInCacheEdge), 1, "MGups");
    std::printf("  %s %.1f (%.2fx sse2)", isa.name, mgups, sse2 > 0 ? mgups / sse2 : 0.0);
  }
  std::printf("\n");
}

// The program's kernels against the plain reference loops: program MGups and,
// in brackets, program / plain (medians over the rounds of each round's ratio).
void print_versus(const SummaryReporter& r, const std::vector<VersusPair>& pairs, int cores, int rounds, bool rows) {
  std::printf("\nkernels against the plain reference loops: program MGups (program / plain); medians over %d\n"
              "rounds, each timing both on the same grids, the order alternating\n",
              rounds);
  for (int threads : thread_counts(cores)) {
    std::printf("\n%d thread(s), one grid each\n  %-5s", threads, "");
    for (std::uint64_t n : kVersusEdges) std::printf("  %14s", ("n = " + std::to_string(n)).c_str());
    std::printf("\n");
    for (const VersusPair& pair : pairs) {
      const std::string isa = pair.name;
      std::printf("  %-5s", pair.name);
      for (std::uint64_t n : kVersusEdges) {
        std::printf("  %6.1f (%5.3f)", r.value(versus_name(n), threads, isa + "_program"),
                    r.value(versus_name(n), threads, isa + "_ratio"));
      }
      std::printf("\n");
    }
  }
  if (!rows) return;
  // "versus isa n threads program-MGups plain-MGups program/plain"
  for (int threads : thread_counts(cores)) {
    for (std::uint64_t n : kVersusEdges) {
      for (const VersusPair& pair : pairs) {
        const std::string isa = pair.name;
        const double program = r.value(versus_name(n), threads, isa + "_program");
        if (program <= 0) continue;
        std::printf("versus %s %llu %d %.2f %.2f %.4f\n", pair.name, static_cast<unsigned long long>(n), threads,
                    program, r.value(versus_name(n), threads, isa + "_plain"),
                    r.value(versus_name(n), threads, isa + "_ratio"));
      }
    }
  }
}

// Plain lines for scripts, medians over the rounds:
//   "row isa n threads MGups triad-GB/s share-of-bound"
//   "energy isa n threads GB/s triad-GB/s read-GB/s share-of-triad share-of-read"
//   "iteration workload isa n threads kernel-MGups iteration-MGups share expect share-of-expect"
void print_rows(const SummaryReporter& r, const std::vector<IsaKernels>& isas, int cores) {
  for (const IterationConfig& config : kIterationConfigs) {
    const int threads = config.all_cores ? cores : 1;
    for (const char* workload : kWorkloads) {
      for (const IsaKernels& isa : isas) {
        const std::string name = iteration_name(workload, isa.name, config.n);
        const double mgups = r.value(name, threads, "MGups");
        if (mgups <= 0) continue;
        std::printf("iteration %s %s %llu %d %.2f %.2f %.3f %.3f %.3f\n", workload, isa.name,
                    static_cast<unsigned long long>(config.n), threads, r.value(name, threads, "kernel"), mgups,
                    r.value(name, threads, "share"), r.value(name, threads, "expect"),
                    r.value(name, threads, "of_expect"));
      }
    }
  }
  for (int threads : thread_counts(cores)) {
    for (std::uint64_t n : kGridEdges) {
      for (const IsaKernels& isa : isas) {
        const std::string name = step_name(isa.name, n);
        const double mgups = r.value(name, threads, "MGups");
        if (mgups <= 0) continue;
        std::printf("row %s %llu %d %.2f %.3f %.3f\n", isa.name, static_cast<unsigned long long>(n), threads,
                    mgups, r.value(name, threads, "GBps"), r.value(name, threads, "share"));
      }
      for (const EnergyIsa& isa : kEnergyIsas) {
        const std::string name = energy_name(isa.name, n);
        const double gbps = r.value(name, threads, "GBps");
        if (gbps <= 0) continue;
        std::printf("energy %s %llu %d %.3f %.3f %.3f %.3f %.3f\n", isa.name, static_cast<unsigned long long>(n),
                    threads, gbps, r.value(name, threads, "triad"), r.value(name, threads, "read"),
                    r.value(name, threads, "of_triad"), r.value(name, threads, "of_read"));
      }
    }
  }
}

struct OwnFlags {
  bool rows = false;
  int rounds = 0;  // 0: each group's default
  bool versus_only = false;
  bool check_plain = false;
};

// Removes this program's own options ("--rows", "--rounds=N", "--versus",
// "--check-plain") from the arguments, so Google Benchmark never sees them;
// false on a malformed count.
bool take_own_flags(int& argc, char** argv, OwnFlags& flags) {
  int kept = 1;
  int& rounds = flags.rounds;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rows") {
      flags.rows = true;
    } else if (arg == "--versus") {
      flags.versus_only = true;
    } else if (arg == "--check-plain") {
      flags.check_plain = true;
    } else if (arg.rfind("--rounds=", 0) == 0) {
      char* end = nullptr;
      const long value = std::strtol(arg.c_str() + 9, &end, 10);
      if (end == arg.c_str() + 9 || *end != '\0' || value < 1 || value > 100000) {
        std::fprintf(stderr, "zelvo_perf: '%s': the number of rounds must be a whole number from 1 to 100000\n",
                     arg.c_str());
        return false;
      }
      rounds = static_cast<int>(value);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  OwnFlags flags;
  if (!take_own_flags(argc, argv, flags)) return 1;
  const bool rows = flags.rows;
  const int rounds = flags.rounds > 0 ? flags.rounds : kDefaultRounds;
  const int versus_rounds = flags.rounds > 0 ? flags.rounds : kDefaultVersusRounds;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const int cores = static_cast<int>(std::max(1u, platform::core_count(platform::detect_topology())));
  const PhaseSync sync(thread_counts(cores));
  g_sync = &sync;
  std::map<int, std::unique_ptr<bench::ProgressBoard>> boards;
  for (int threads : thread_counts(cores)) {
    boards.emplace(threads, std::make_unique<bench::ProgressBoard>(static_cast<std::uint32_t>(threads)));
  }
  g_boards = &boards;

  std::vector<IsaKernels> isas;
  for (const IsaKernels& isa : kIsas) {
    if (solver::check_isa_support(isa.name).ok()) {
      isas.push_back(isa);
    } else {
      std::printf("%s: not supported by this processor, skipped\n", isa.name);
    }
  }
  std::vector<VersusPair> pairs;
  std::size_t supported_pairs = 0;
  for (const VersusPair& pair : kVersus) {
    if (solver::check_isa_support(pair.name).failed()) continue;
    ++supported_pairs;
    if (plain_matches(pair)) {
      pairs.push_back(pair);
    } else {
      std::printf("%s: the plain reference loops do not reproduce the kernels' bits, skipped\n", pair.name);
    }
  }
  if (flags.check_plain) {
    std::printf("plain reference loops matching the kernels bit for bit: %zu of %zu supported\n", pairs.size(),
                supported_pairs);
    return pairs.size() == supported_pairs ? 0 : 1;
  }
  // Grid benchmarks: a fixed number of rounds, each its own paired measurement.
  const auto add_rounds = [&](const std::string& name, auto body, int threads, int count) {
    benchmark::RegisterBenchmark(name.c_str(), body)
        ->Unit(benchmark::kMillisecond)
        ->Threads(threads)
        ->UseRealTime()
        ->Iterations(count);
  };
  for (int threads : thread_counts(cores)) {
    for (std::uint64_t n : kVersusEdges) {
      add_rounds(versus_name(n), [&pairs, n](benchmark::State& s) { versus_benchmark(s, pairs, n); }, threads,
                 versus_rounds);
    }
  }
  // --versus: the kernel-versus-plain rounds alone.
  if (!flags.versus_only) {
    for (int threads : thread_counts(cores)) {
      for (std::uint64_t n : kGridEdges) {
        for (const IsaKernels& isa : isas) {
          const solver::KernelTable* kernels = isa.kernels;
          add_rounds(step_name(isa.name, n), [kernels, n](benchmark::State& s) { step_benchmark(s, *kernels, n); },
                     threads, rounds);
        }
        if (std::find(std::begin(kEnergyEdges), std::end(kEnergyEdges), n) == std::end(kEnergyEdges)) continue;
        for (const EnergyIsa& isa : kEnergyIsas) {
          if (solver::check_isa_support(isa.name).failed()) continue;
          const solver::EnergyTable* energy = isa.energy;
          add_rounds(energy_name(isa.name, n), [energy, n](benchmark::State& s) { energy_benchmark(s, *energy, n); },
                     threads, rounds);
        }
      }
    }
    for (const IterationConfig& config : kIterationConfigs) {
      const std::uint64_t n = config.n;
      for (const char* workload : kWorkloads) {
        for (const IsaKernels& isa : isas) {
          add_rounds(iteration_name(workload, isa.name, n),
                     [workload, isa, n](benchmark::State& s) { iteration_benchmark(s, workload, isa, n); },
                     config.all_cores ? cores : 1, rounds);
        }
      }
    }
    // In cache the kernels alone, median of three timed repetitions.
    for (const IsaKernels& isa : isas) {
      const solver::KernelTable* kernels = isa.kernels;
      benchmark::RegisterBenchmark(step_name(isa.name, kInCacheEdge).c_str(),
                                   [kernels](benchmark::State& s) { in_cache_benchmark(s, *kernels, kInCacheEdge); })
          ->Unit(benchmark::kMicrosecond)
          ->UseRealTime()
          ->Repetitions(3)
          ->DisplayAggregatesOnly(true);
    }
  }

  for (const bool guarded : {false, true}) {
    benchmark::RegisterBenchmark(guarded ? "call/guarded" : "call/plain",
                                 [guarded](benchmark::State& s) { call_benchmark(s, guarded); })
        ->Unit(benchmark::kNanosecond)
        ->Repetitions(3)
        ->DisplayAggregatesOnly(true);
  }

  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (!flags.versus_only) print_summary(reporter, cores, rounds);
  print_versus(reporter, pairs, cores, versus_rounds, rows);
  if (rows && !flags.versus_only) print_rows(reporter, isas, cores);
  benchmark::Shutdown();
  return 0;
}
