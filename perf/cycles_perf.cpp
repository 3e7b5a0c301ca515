// Cycles per cell update of the kernels, one thread, next to the plain
// reference loops and a bound. A virtual machine often hides the cycle counter,
// so cycles are time × the core clock, and the clock is taken from a dependent
// chain of integer adds (one add per cycle on every x86 core of the last
// fifteen years) timed in the same round as the kernels. Time is the process's
// processor time, not wall time: on a shared machine the time other programs
// hold the core would otherwise count as the kernel's.
//
// Usage: zelvo_cycles_perf [--rounds=N] n...
// Prints "clock GHz-median GHz-min GHz-max", one line per instruction set and n
//   "cycles isa n H E halves fused plain probe"
// (cycles per cell, medians over the rounds; a cell is one of the 2·n³
// updates a step counts, so H and E alone count n³ each) and, for the spread,
//   "spread isa n halves-min halves-max fused-min fused-max".
// H, E: update_h, update_e alone; halves: both, one sweep after the other
// (the step as two sweeps); fused: the kernels' step (one sweep); plain: the
// plain reference loops' two sweeps; probe: a pass that reads and writes both
// arrays once with next to no arithmetic (the least traffic a step has).
#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "perf/core_clock.h"
#include "perf/perf_tables.h"
#include "platform/fp_control.h"
#include "solver/field_state.h"
#include "solver/kernel_args.h"
#include "solver/solver.h"

namespace {

using perf::median;
using IsaKernels = perf::VersusPair;
constexpr const auto& kIsas = perf::kVersus;

// Updates per timed phase: a few milliseconds even for the smallest grids.
constexpr double kUpdatesPerPhase = 1 << 23;
constexpr int kDefaultRounds = 7;

using perf::core_clock_hz;
using perf::seconds;

// Reads and writes every cell of both arrays once, as the fused step does, and
// computes nothing: it swaps the two fields (which leaves them as stable as before).
void probe_pass(const solver::FieldState& s) {
  solver::Cell* e = s.e.cells.data();
  solver::Cell* h = s.h.cells.data();
  const std::uint64_t count = s.e.cells.count();
  for (std::uint64_t i = 0; i < count; ++i) {
    const solver::Cell a = e[i];
    e[i] = h[i];
    h[i] = a;
  }
  asm volatile("" ::: "memory");
}

// Repeatable values in [-0.5, 0.5) (the scheme is stable at these coefficients).
void fill(solver::FieldState& state) {
  std::uint64_t s = 12345;
  for (solver::FieldArray* array : {&state.e, &state.h}) {
    for (std::uint64_t i = 0; i < array->cells.count(); ++i) {
      solver::Cell& c = array->cells.data()[i];
      for (double* lane : {&c.x, &c.y, &c.z}) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        *lane = static_cast<double>(s >> 11) * 0x1.0p-53 - 0.5;
      }
    }
  }
}

struct Samples {
  std::vector<double> h, e, halves, fused, plain;
};

bool parse_rounds(const std::string& arg, int& rounds) {
  char* end = nullptr;
  const long value = std::strtol(arg.c_str() + 9, &end, 10);
  if (end == arg.c_str() + 9 || *end != '\0' || value < 1 || value > 1000) return false;
  rounds = static_cast<int>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = kDefaultRounds;
  std::vector<std::uint64_t> sizes;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    char* end = nullptr;
    const unsigned long long n = std::strtoull(arg.c_str(), &end, 10);
    if (arg.rfind("--rounds=", 0) == 0) {
      if (!parse_rounds(arg, rounds)) {
        std::fprintf(stderr, "zelvo_cycles_perf: '%s': rounds must be a whole number from 1 to 1000\n", arg.c_str());
        return 1;
      }
    } else if (!arg.empty() && *end == '\0' && n >= 3 && n <= 1024) {
      sizes.push_back(n);
    } else {
      std::fprintf(stderr, "zelvo_cycles_perf: '%s': expected --rounds=N or a grid edge from 3 to 1024\n",
                   arg.c_str());
      return 1;
    }
  }
  if (sizes.empty()) sizes = {16, 32, 64, 192};
  platform::enable_flush_denormals();

  std::vector<const IsaKernels*> isas;
  for (const IsaKernels& isa : kIsas) {
    if (solver::check_isa_support(isa.name).ok()) {
      isas.push_back(&isa);
    } else {
      std::printf("%s: not supported by this processor, skipped\n", isa.name);
    }
  }
  std::vector<double> clocks;
  for (const std::uint64_t n : sizes) {
    solver::FieldStorage fields;
    if (fields.allocate(solver::FieldParams{false, n, 0.01}).failed()) {
      std::fprintf(stderr, "zelvo_cycles_perf: no memory for n = %llu\n", static_cast<unsigned long long>(n));
      return 1;
    }
    fill(fields.state());
    const solver::KernelArgs args = fields.state().kernel_args();
    const double cells = 2.0 * static_cast<double>(n * n * n);
    const auto steps = static_cast<std::uint64_t>(std::max(1.0, kUpdatesPerPhase / cells));
    std::vector<Samples> samples(isas.size());
    std::vector<double> probe;
    for (int round = 0; round < rounds; ++round) {
      const double hz = core_clock_hz();
      clocks.push_back(hz);
      // Cycles per counted cell of `steps` calls of `body`, after one untimed
      // call so every phase starts from the cache state a run leaves.
      const auto cycles = [&](double per_step_cells, auto&& body) {
        body();
        const double s = seconds([&] {
          for (std::uint64_t i = 0; i < steps; ++i) body();
        });
        return s * hz / (per_step_cells * static_cast<double>(steps));
      };
      bool ok = true;
      for (std::size_t i = 0; i < isas.size(); ++i) {
        const solver::KernelTable& k = *isas[i]->kernels;
        const perf::PlainKernels& p = *isas[i]->plain;
        Samples& s = samples[i];
        s.h.push_back(cycles(cells / 2, [&] { ok = k.update_h(args) && ok; }));
        s.e.push_back(cycles(cells / 2, [&] { ok = k.update_e(args) && ok; }));
        s.halves.push_back(cycles(cells, [&] { ok = k.update_h(args) && k.update_e(args) && ok; }));
        s.fused.push_back(cycles(cells, [&] { ok = k.step(args) && ok; }));
        s.plain.push_back(cycles(cells, [&] { ok = p.update_h(args) && p.update_e(args) && ok; }));
      }
      probe.push_back(cycles(cells, [&] { probe_pass(fields.state()); }));
      if (!ok) {
        std::fprintf(stderr, "zelvo_cycles_perf: a kernel reported failure at n = %llu\n",
                     static_cast<unsigned long long>(n));
        return 1;
      }
    }
    for (std::size_t i = 0; i < isas.size(); ++i) {
      const Samples& s = samples[i];
      std::printf("cycles %s %llu %.2f %.2f %.2f %.2f %.2f %.2f\n", isas[i]->name,
                  static_cast<unsigned long long>(n), median(s.h), median(s.e), median(s.halves), median(s.fused),
                  median(s.plain), median(probe));
      std::printf("spread %s %llu %.2f %.2f %.2f %.2f\n", isas[i]->name, static_cast<unsigned long long>(n),
                  *std::min_element(s.halves.begin(), s.halves.end()),
                  *std::max_element(s.halves.begin(), s.halves.end()),
                  *std::min_element(s.fused.begin(), s.fused.end()),
                  *std::max_element(s.fused.begin(), s.fused.end()));
    }
    std::fflush(stdout);
  }
  std::printf("clock %.3f %.3f %.3f\n", median(clocks) / 1e9, *std::min_element(clocks.begin(), clocks.end()) / 1e9,
              *std::max_element(clocks.begin(), clocks.end()) / 1e9);
  return 0;
}
