#include "solver/standing_wave.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "platform/fp_control.h"
#include "solver/format_fixed.h"
#include "solver/guarded_call.h"

namespace solver {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kNodeTolerance = 1e-5;
constexpr double kFinalTolerance = 0.1;

std::uint64_t interior_edge(const FieldStorage& fields) {
  const std::uint64_t edge = fields.state().e.edge;
  return edge < 2 ? 0 : edge - 2;
}

// sin((i * a) / (n + 1)) for i = 1..n, a = m * pi: E.x depends on x only and
// E.y on y only, so one sine per coordinate gives the values of two per cell.
std::vector<double> wave_table(std::uint64_t n) {
  const double a = static_cast<double>(n / 32) * kPi;
  const double divisor = static_cast<double>(n + 1);
  std::vector<double> wave(n + 1, 0.0);
  for (std::uint64_t i = 1; i <= n; ++i) wave[i] = std::sin((static_cast<double>(i) * a) / divisor);
  return wave;
}

// Row (x, y) of E, halo cells included. The row is built in `scratch` (n + 2
// cells, in cache, zero at both ends) and copied: the library's block copy
// writes whole lines without first reading them from memory, which a loop of
// cell stores does; the set-up pass is bound by memory, and this saves a read
// of all of E.
void fill_wave_row(FieldState& state, const std::vector<double>& wave, std::vector<Cell>& scratch,
                   std::uint64_t x, std::uint64_t y) {
  const std::uint64_t n = wave.size() - 1;
  for (std::uint64_t z = 1; z <= n; ++z) scratch[z] = Cell{wave[x], wave[y], 0.0, 0.0};
  std::memcpy(&state.e.at(x, y, 0), scratch.data(), (n + 2) * sizeof(Cell));
}

// Zeroes `rows` whole rows of `a` from row (x, y) on (they may run on into the
// next planes). All-zero bytes are 0.0.
void zero_rows(const FieldArray& a, std::uint64_t x, std::uint64_t y, std::uint64_t rows) {
  std::memset(&a.at(x, y, 0), 0, rows * a.edge * sizeof(Cell));
}

}  // namespace

std::uint64_t StandingWave::nodes_per_axis(std::uint64_t n) {
  // Below n = 32 the node count would be negative; there is no node then.
  return n / 16 < 2 ? 0 : n / 16 - 2;
}

OptError StandingWave::initialize(FieldStorage& fields, const KernelTable& kernels,
                                  const EnergyTable& energy) {
  platform::enable_flush_denormals();
  if (!fields.ready()) return OptError::fail("failed to initalize H field");

  FieldState& state = fields.state();
  const std::uint64_t n = interior_edge(fields);
  const std::uint64_t edge = state.e.edge;
  const std::vector<double> wave = wave_table(n);
  std::vector<Cell> scratch(edge, Cell{0.0, 0.0, 0.0, 0.0});
  const KernelArgs args = state.kernel_args();
  // The arrays come unwritten (the solver leaves the zero-fill to this pass):
  // every cell of both is written below before anything reads it.
  if (n < 2) {
    // No row of H to update: the whole kernel's own completion test decides
    // (it fails for n = 0).
    zero_rows(state.e, 0, 0, edge * edge);
    zero_rows(state.h, 0, 0, edge * edge);
    for (std::uint64_t x = 1; x <= n; ++x) {
      for (std::uint64_t y = 1; y <= n; ++y) fill_wave_row(state, wave, scratch, x, y);
    }
    bool h_ok = false;
    if (!call_guarded(h_ok, kernels.update_h, args)) return OptError::illegal_instruction();
    if (!h_ok) return OptError::fail("failed to initalize H field");
    if (!call_guarded(energy_init_, energy.total_energy, args)) return OptError::illegal_instruction();
  } else {
    // One pass over memory, row by row: row y of E plane p is written, then H
    // row y - 1 of plane p - 1 is zeroed and updated (the update reads E rows
    // y - 1 and y of plane p - 1 and row y - 1 of plane p, all written by now)
    // and the energies of that row are added (they read H rows y - 1 and y - 2
    // of plane p - 1 and row y - 1 of plane p - 2, all final by now). Each row
    // is still in cache when it is read again, the zero-fill of H costs no
    // trip to memory of its own, and the energies are added in the order of
    // the whole sum, so the bits are those of a zero-fill and three whole passes.
    bool h_ok = true;
    double sum = 0.0;
    zero_rows(state.e, 0, 0, edge);
    for (std::uint64_t p = 1; p <= n + 1; ++p) {
      zero_rows(state.e, p, 0, 1);
      for (std::uint64_t y = 1; y <= n + 1; ++y) {
        if (p <= n && y <= n) {
          fill_wave_row(state, wave, scratch, p, y);
        } else {
          zero_rows(state.e, p, y, 1);
        }
        zero_rows(state.h, p - 1, y - 1, 1);
        bool row_ok = false;
        if (!call_guarded(row_ok, kernels.update_h_rows, args, p - 1, y - 1, y) ||
            !call_guarded(sum, energy.energy_rows, args, p - 1, y - 1, y, sum)) {
          return OptError::illegal_instruction();
        }
        h_ok = row_ok && h_ok;
      }
      zero_rows(state.h, p - 1, n + 1, 1);
    }
    zero_rows(state.h, n + 1, 0, edge);
    if (!h_ok) return OptError::fail("failed to initalize H field");
    energy_init_ = sum;
  }

  validation_nodes_.reset();
  validation_count_ = 0;
  const std::uint64_t c = nodes_per_axis(n);
  const std::optional<std::uint64_t> count = cube_count(c);
  if (c == 0 || !count || *count > std::numeric_limits<std::size_t>::max() / sizeof(double)) {
    return OptError::fail("allocation failed for validation buffer");
  }
  validation_nodes_.reset(new (std::nothrow) double[*count]);
  if (!validation_nodes_) return OptError::fail("allocation failed for validation buffer");
  validation_count_ = *count;
  for (std::uint64_t xi = 0; xi < c; ++xi) {
    for (std::uint64_t yi = 0; yi < c; ++yi) {
      for (std::uint64_t zi = 0; zi < c; ++zi) {
        if (!call_guarded(validation_nodes_[(xi * c + yi) * c + zi], energy.node_energy, args,
                          node_coordinate(xi), node_coordinate(yi), node_coordinate(zi))) {
          return OptError::illegal_instruction();
        }
      }
    }
  }
  return {};
}

OptError StandingWave::verify_step(const FieldStorage& fields, const EnergyTable& energy,
                                   std::uint32_t thread_index) const {
  const std::uint64_t n = interior_edge(fields);
  const std::uint64_t c = nodes_per_axis(n);
  if (c == 0) return {};
  // The nodes recorded by initialize must still lie on this grid; otherwise
  // (only reachable by misuse) every node reads as zero energy and fails.
  const bool measurable = fields.ready() && cube_count(c) == validation_count_;
  const KernelArgs args = fields.state().kernel_args();
  for (std::uint64_t xi = 0; xi < c; ++xi) {
    for (std::uint64_t yi = 0; yi < c; ++yi) {
      for (std::uint64_t zi = 0; zi < c; ++zi) {
        const double init_val = measurable ? validation_nodes_[(xi * c + yi) * c + zi] : 0.0;
        double calc_val = 0.0;
        if (measurable && !call_guarded(calc_val, energy.node_energy, args, node_coordinate(xi),
                                        node_coordinate(yi), node_coordinate(zi))) {
          return OptError::illegal_instruction();
        }
        const double ratio = std::fabs(init_val / calc_val - 1.0);
        if (std::isnan(ratio) || ratio > kNodeTolerance) {
          return OptError::fail("\nnode verification failure in thread " +
                                std::to_string(thread_index) + "\ninit_val = " +
                                format_fixed(init_val) + "\ncalc_val = " + format_fixed(calc_val) +
                                "\nratio = " + format_fixed(ratio));
        }
      }
    }
  }
  return {};
}

OptError StandingWave::verify_final(const FieldStorage& fields, const EnergyTable& energy,
                                    std::uint32_t thread_index) const {
  double energy_calc = 0.0;
  if (fields.ready() && !call_guarded(energy_calc, energy.total_energy, fields.state().kernel_args())) {
    return OptError::illegal_instruction();
  }
  const double ratio = energy_init_ / energy_calc;
  if (std::isfinite(ratio) && std::fabs(ratio - 1.0) < kFinalTolerance) return {};
  return OptError::fail("\nenergy ratio failure in thread " + std::to_string(thread_index) +
                        "\nenergy_init = " + format_fixed(energy_init_) + "\nenergy_calc = " +
                        format_fixed(energy_calc) + "\nratio = " + format_fixed(ratio));
}

}  // namespace solver
