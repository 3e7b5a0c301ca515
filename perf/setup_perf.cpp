// What a worker's set-up costs before the first step, phase by phase, next to
// the whole allocate + initialize of both workloads. Figures only, one thread,
// medians over paired rounds: every round runs the soft Gaussian and the
// standing wave back to back (alternating which goes first), then times the
// standing wave's phases again on its initialised grid.
//
// Usage: zelvo_setup_perf [--rounds=N] [--isa=NAME] n...
// Prints one line per n:
//   "setup n isa allocate-ms soft-ms wave-ms update_h-ms total_energy-ms nodes-ms"
// where soft and wave are allocate + initialize of each workload (what the
// program's "initialization took" line covers, less the thread start), and the
// last three are the standing wave's other phases, each timed alone as one
// whole pass over the initialised grid (the standing wave's allocate leaves the
// zero-fill to initialize, which runs it with the fill, update_h and the energy
// sum together, row by row).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "perf/perf_tables.h"
#include "solver/factory.h"
#include "solver/field_state.h"
#include "solver/isa_solvers.h"
#include "solver/kernel_args.h"
#include "solver/solver.h"
#include "solver/standing_wave.h"

namespace {

struct IsaTables {
  const char* name;
  const solver::KernelTable* kernels;
  const solver::EnergyTable* energy;
};
// The energy routines the standing-wave solvers of each instruction set use.
constexpr IsaTables kIsas[] = {{"sse2", &solver::sse2::kKernels, &solver::sse2::kEnergy},
                               {"avx", &solver::avx::kKernels, &solver::avx::kEnergy},
                               {"avx2", &solver::avx::kKernels, &solver::avx::kEnergy},
                               {"fma", &solver::fma::kKernels, &solver::avx::kEnergy}};

using perf::median;

template <class Body>
double time_ms(Body&& body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

volatile double g_sink = 0.0;

solver::FieldState& state_of(solver::Solver& s) {
  if (auto* p = dynamic_cast<solver::Sse2Solver*>(&s)) return p->fields().state();
  if (auto* p = dynamic_cast<solver::AvxSolver*>(&s)) return p->fields().state();
  return dynamic_cast<solver::FmaSolver&>(s).fields().state();
}

// allocate + initialize of one workload, in ms; negative when either failed.
double setup_ms(const char* workload, const IsaTables& isa, std::uint64_t n, std::unique_ptr<solver::Solver>& keep) {
  keep.reset();
  keep = solver::make_solver(workload, isa.name, 0);
  if (!keep) return -1.0;
  bool ok = true;
  const double ms = time_ms([&] {
    ok = keep->allocate(solver::FieldParams{false, n, 0.01}).ok() && keep->initialize().ok();
  });
  return ok ? ms : -1.0;
}

bool measure(const IsaTables& isa, std::uint64_t n, int rounds) {
  std::vector<double> alloc, soft, wave, update_h, energy, nodes;
  for (int r = 0; r < rounds; ++r) {
    std::unique_ptr<solver::Solver> s;
    double soft_ms = 0.0;
    double wave_ms = 0.0;
    // Alternate the order so neither always runs on freshly released memory.
    if (r % 2 == 0) soft_ms = setup_ms("soft_gaussian", isa, n, s);
    wave_ms = setup_ms("standing_wave", isa, n, s);
    if (r % 2 == 1) {
      std::unique_ptr<solver::Solver> other;
      soft_ms = setup_ms("soft_gaussian", isa, n, other);
      other.reset();
    }
    if (soft_ms < 0 || wave_ms < 0) {
      std::fprintf(stderr, "zelvo_setup_perf: set-up of n = %llu failed\n", static_cast<unsigned long long>(n));
      return false;
    }
    // The phases again on the initialised grid: H stays zero, so update_h and
    // the energies see exactly what initialize saw.
    const solver::KernelArgs args = state_of(*s).kernel_args();
    const double h_ms = time_ms([&] { g_sink = isa.kernels->update_h(args) ? 1.0 : 0.0; });
    const double e_ms = time_ms([&] { g_sink = isa.energy->total_energy(args); });
    const std::uint64_t c = solver::StandingWave::nodes_per_axis(n);
    const double n_ms = time_ms([&] {
      double sum = 0.0;
      for (std::uint64_t xi = 0; xi < c; ++xi)
        for (std::uint64_t yi = 0; yi < c; ++yi)
          for (std::uint64_t zi = 0; zi < c; ++zi)
            sum += isa.energy->node_energy(args, solver::StandingWave::node_coordinate(xi),
                                           solver::StandingWave::node_coordinate(yi),
                                           solver::StandingWave::node_coordinate(zi));
      g_sink = sum;
    });
    s.reset();
    solver::FieldStorage bare;
    const double a_ms = time_ms([&] { g_sink = bare.allocate(solver::FieldParams{false, n, 0.01}).ok(); });
    bare.release();
    alloc.push_back(a_ms);
    soft.push_back(soft_ms);
    wave.push_back(wave_ms);
    update_h.push_back(h_ms);
    energy.push_back(e_ms);
    nodes.push_back(n_ms);
  }
  std::printf("setup %llu %s %.1f %.1f %.1f %.1f %.1f %.2f\n", static_cast<unsigned long long>(n), isa.name,
              median(alloc), median(soft), median(wave), median(update_h), median(energy), median(nodes));
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  std::string isa_name = "sse2";
  std::vector<std::uint64_t> sizes;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    char* end = nullptr;
    if (arg.rfind("--rounds=", 0) == 0) {
      const long v = std::strtol(arg.c_str() + 9, &end, 10);
      if (end == arg.c_str() + 9 || *end != '\0' || v < 1 || v > 1000) {
        std::fprintf(stderr, "zelvo_setup_perf: '%s': rounds must be a whole number from 1 to 1000\n", arg.c_str());
        return 1;
      }
      rounds = static_cast<int>(v);
    } else if (arg.rfind("--isa=", 0) == 0) {
      isa_name = arg.substr(6);
    } else {
      const unsigned long long v = std::strtoull(arg.c_str(), &end, 10);
      if (arg.empty() || *end != '\0' || v < 48 || v > 8192) {
        std::fprintf(stderr, "zelvo_setup_perf: '%s': grid edges are whole numbers from 48 to 8192\n", arg.c_str());
        return 1;
      }
      sizes.push_back(v);
    }
  }
  const IsaTables* isa = nullptr;
  for (const IsaTables& t : kIsas) {
    if (isa_name == t.name) isa = &t;
  }
  if (isa == nullptr) {
    std::fprintf(stderr, "zelvo_setup_perf: unknown isa '%s'\n", isa_name.c_str());
    return 1;
  }
  if (const auto support = solver::check_isa_support(isa->name); support.failed()) {
    std::fprintf(stderr, "zelvo_setup_perf: %s: not supported by this processor\n", isa->name);
    return 1;
  }
  if (sizes.empty()) sizes = {192, 384};
  for (std::uint64_t n : sizes) {
    if (!measure(*isa, n, rounds)) return 1;
  }
  return 0;
}
