// Kernel throughput per instruction set, next to the memory-bandwidth bound.
// Figures only: nothing here is asserted. With --rows the summary is followed
// by one plain line per grid benchmark for scripts/perf.sh.
//
// Every step benchmark runs one private grid per benchmark thread (threads:1
// and one per core). The triad probe measures the bandwidth the same threads
// get from memory, counting 32 bytes per element (two loads, the store and its
// write-allocate read). A cell update of either half-step moves
// at least 96 bytes (the other field's cell, the own cell read and written), so
// bandwidth / 96 bounds the update rate of grids that do not fit in cache.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/fp_control.h"
#include "platform/topology.h"
#include "solver/field_state.h"
#include "solver/kernel_args.h"
#include "solver/solver.h"

namespace {

constexpr double kBytesPerUpdate = 96.0;
constexpr std::uint64_t kTriadElements = std::uint64_t{1} << 24;  // 128 MiB per array
constexpr std::uint64_t kInCacheEdge = 20;
constexpr std::uint64_t kGridEdges[] = {64, 128, 192, 256};

struct IsaKernels {
  const char* name;
  const solver::KernelTable* kernels;
};
constexpr IsaKernels kIsas[] = {{"sse2", &solver::sse2::kKernels},
                                {"avx", &solver::avx::kKernels},
                                {"avx2", &solver::avx2::kKernels},
                                {"fma", &solver::fma::kKernels}};

// The energy routines exist for three targets (fma solvers use the avx ones).
struct EnergyIsa {
  const char* name;
  const solver::EnergyTable* energy;
};
constexpr EnergyIsa kEnergyIsas[] = {
    {"sse2", &solver::sse2::kEnergy}, {"avx", &solver::avx::kEnergy}, {"avx2", &solver::avx2::kEnergy}};
constexpr std::uint64_t kEnergyEdge = 192;

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
// index, with denormals flushed as in a run; false (the benchmark skipped) when
// they cannot be allocated.
bool prepare_fields(benchmark::State& state, solver::FieldStorage& fields, std::uint64_t n, std::uint64_t seed) {
  platform::enable_flush_denormals();
  if (fields.allocate(solver::FieldParams{false, n, 0.01}).failed()) {
    state.SkipWithError("field allocation failed");
    return false;
  }
  fill_fields(fields.state(), seed + static_cast<std::uint64_t>(state.thread_index()));
  return true;
}

// Both fields once over the (n - 1)^3 cells of the energy pass: 64 bytes per cell.
void count_interior_bytes(benchmark::State& state, std::uint64_t n) {
  const double cells = static_cast<double>(n - 1) * static_cast<double>(n - 1) * static_cast<double>(n - 1);
  state.counters["GBps"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * cells * 64.0 / 1e9, benchmark::Counter::kIsRate);
}

void step_benchmark(benchmark::State& state, const solver::KernelTable& kernels, std::uint64_t n) {
  solver::FieldStorage fields;
  if (!prepare_fields(state, fields, n, 12345)) return;
  const solver::KernelArgs args = fields.state().kernel_args();
  for (auto _ : state) {
    bool done = kernels.update_h(args);
    done = kernels.update_e(args) && done;
    benchmark::DoNotOptimize(done);
    benchmark::ClobberMemory();
  }
  const double updates = static_cast<double>(state.iterations()) *
                         static_cast<double>(fields.updates_per_step());
  state.counters["MGups"] = benchmark::Counter(updates / 1e6, benchmark::Counter::kIsRate);
}

// The energy pass reads both fields once: 64 bytes per cell from memory.
void energy_benchmark(benchmark::State& state, const solver::EnergyTable& energy, std::uint64_t n) {
  solver::FieldStorage fields;
  if (!prepare_fields(state, fields, n, 777)) return;
  const solver::KernelArgs args = fields.state().kernel_args();
  for (auto _ : state) benchmark::DoNotOptimize(energy.total_energy(args));
  count_interior_bytes(state, n);
}

// What the energy pass needs at least: both fields read once, with no
// arithmetic beyond independent sums, counted like the pass.
void read_benchmark(benchmark::State& state, std::uint64_t n) {
  solver::FieldStorage fields;
  if (!prepare_fields(state, fields, n, 4242)) return;
  const solver::FieldState& f = fields.state();
  const std::uint64_t edge = f.e.edge;
  for (auto _ : state) {
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
    benchmark::DoNotOptimize(sx + sy + tx + ty);
  }
  count_interior_bytes(state, n);
}

void triad_benchmark(benchmark::State& state) {
  const std::uint64_t count = kTriadElements;
  std::unique_ptr<double[]> a(new double[count]);
  std::unique_ptr<double[]> b(new double[count]);
  std::unique_ptr<double[]> c(new double[count]);
  std::fill_n(a.get(), count, 0.0);
  std::fill_n(b.get(), count, 1.0);
  std::fill_n(c.get(), count, 2.0);
  const double scalar = 0.5;
  for (auto _ : state) {
    double* pa = a.get();
    const double* pb = b.get();
    const double* pc = c.get();
    for (std::uint64_t i = 0; i < count; ++i) pa[i] = pb[i] + scalar * pc[i];
    benchmark::ClobberMemory();
  }
  const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(count) * 32.0;
  state.counters["GBps"] = benchmark::Counter(bytes / 1e9, benchmark::Counter::kIsRate);
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
std::string triad_name(std::uint64_t n) { return "triad/before_n" + std::to_string(n); }
std::string read_name(std::uint64_t n) { return "read_fields/" + std::to_string(n); }

std::vector<int> thread_counts(int cores) { return cores > 1 ? std::vector<int>{1, cores} : std::vector<int>{1}; }

void print_summary(const SummaryReporter& r, int cores) {
  std::printf("\nsummary: MGups, and in brackets the share of the bound = triad bandwidth / %.0f bytes\n",
              kBytesPerUpdate);
  for (int threads : thread_counts(cores)) {
    std::printf("\n%d thread(s), one grid each\n  %-5s", threads, "");
    for (std::uint64_t n : kGridEdges) std::printf("  %16s", ("n = " + std::to_string(n)).c_str());
    std::printf("\n  %-5s", "triad");
    for (std::uint64_t n : kGridEdges) std::printf("  %10.1f GB/s", r.value(triad_name(n), threads, "GBps"));
    std::printf("\n");
    for (const IsaKernels& isa : kIsas) {
      std::printf("  %-5s", isa.name);
      for (std::uint64_t n : kGridEdges) {
        const double bound = r.value(triad_name(n), threads, "GBps") * 1e9 / kBytesPerUpdate / 1e6;
        const double mgups = r.value(step_name(isa.name, n), threads, "MGups");
        std::printf("  %7.1f (%5.2f)", mgups, bound > 0 ? mgups / bound : 0.0);
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

// One line per measured grid benchmark, for scripts: "row isa n threads MGups GB/s"
// (the bandwidth of the probe before that grid group, 0 when it was filtered out).
void print_rows(const SummaryReporter& r, const std::vector<IsaKernels>& isas, int cores) {
  for (int threads : thread_counts(cores)) {
    for (std::uint64_t n : kGridEdges) {
      for (const IsaKernels& isa : isas) {
        const double mgups = r.value(step_name(isa.name, n), threads, "MGups");
        if (mgups <= 0) continue;
        std::printf("row %s %llu %d %.2f %.3f\n", isa.name, static_cast<unsigned long long>(n), threads,
                    mgups, r.value(triad_name(n), threads, "GBps"));
      }
      for (const EnergyIsa& isa : kEnergyIsas) {
        const double gbps = r.value(energy_name(isa.name, n), threads, "GBps");
        if (gbps <= 0) continue;
        std::printf("energy %s %llu %d %.3f %.3f %.3f\n", isa.name, static_cast<unsigned long long>(n), threads,
                    gbps, r.value(triad_name(n), threads, "GBps"), r.value(read_name(n), threads, "GBps"));
      }
    }
  }
}

// Removes "--rows" from the arguments, so Google Benchmark never sees it.
bool take_rows_flag(int& argc, char** argv) {
  bool found = false;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--rows") {
      found = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  const bool rows = take_rows_flag(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const int cores = static_cast<int>(std::max(1u, platform::core_count(platform::detect_topology())));

  const auto configure = [](benchmark::internal::Benchmark* b, int threads) {
    b->Threads(threads)->UseRealTime()->Repetitions(3)->DisplayAggregatesOnly(true);
  };
  std::vector<IsaKernels> isas;
  for (const IsaKernels& isa : kIsas) {
    if (solver::check_isa_support(isa.name).ok()) {
      isas.push_back(isa);
    } else {
      std::printf("%s: not supported by this processor, skipped\n", isa.name);
    }
  }
  // Registers one benchmark with the repetitions above on `threads` threads.
  const auto add = [&](const std::string& name, auto body, benchmark::TimeUnit unit, int threads) {
    configure(benchmark::RegisterBenchmark(name.c_str(), body)->Unit(unit), threads);
  };
  // Each group of grid benchmarks follows its own bandwidth probe, so the
  // ratios compare figures taken close together on a machine whose share of
  // memory bandwidth may drift.
  for (int threads : thread_counts(cores)) {
    for (std::uint64_t n : kGridEdges) {
      add(triad_name(n), triad_benchmark, benchmark::kMillisecond, threads);
      for (const IsaKernels& isa : isas) {
        const solver::KernelTable* kernels = isa.kernels;
        add(step_name(isa.name, n), [kernels, n](benchmark::State& s) { step_benchmark(s, *kernels, n); },
            benchmark::kMillisecond, threads);
      }
      if (n != kEnergyEdge) continue;
      add(read_name(n), [n](benchmark::State& s) { read_benchmark(s, n); }, benchmark::kMillisecond, threads);
      for (const EnergyIsa& isa : kEnergyIsas) {
        if (solver::check_isa_support(isa.name).failed()) continue;
        const solver::EnergyTable* energy = isa.energy;
        add(energy_name(isa.name, n), [energy, n](benchmark::State& s) { energy_benchmark(s, *energy, n); },
            benchmark::kMillisecond, threads);
      }
    }
  }
  for (const IsaKernels& isa : isas) {
    const solver::KernelTable* kernels = isa.kernels;
    add(step_name(isa.name, kInCacheEdge),
        [kernels](benchmark::State& s) { step_benchmark(s, *kernels, kInCacheEdge); }, benchmark::kMicrosecond, 1);
  }

  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  print_summary(reporter, cores);
  if (rows) print_rows(reporter, isas, cores);
  benchmark::Shutdown();
  return 0;
}
