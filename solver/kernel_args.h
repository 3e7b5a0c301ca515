#pragma once

// The only header the per-instruction-set units include besides <immintrin.h>:
// plain records and the tables each unit exports. Nothing here has a body, so
// no code compiled for one instruction set can leak into another unit.

#include <cstdint>

namespace solver {

/// One field vector: x, y, z and a pad lane that keeps every cell one 256-bit
/// vector. The workload's set-up makes the pad zero (a zero-filled allocation,
/// or every cell written by the set-up itself) and every kernel keeps it zero.
struct Cell {
  double x;
  double y;
  double z;
  double pad;
};
static_assert(sizeof(Cell) == 32, "a cell must be exactly one 256-bit vector");

/// What a kernel sees of a solver's fields: both arrays with their edges (halo
/// included), the constants derived from the cell size and the rows per strip
/// of the fused step (0 or at least n: one strip, all rows; the bits are the
/// same for every width). Cell (x, y, z) lies at z + edge * (y + edge * x).
struct KernelArgs {
  Cell* e;
  std::uint64_t e_edge;
  Cell* h;
  std::uint64_t h_edge;
  double e_coefficient;
  double h_coefficient;
  double cell_volume;
  std::uint64_t strip_rows;
};

/// The two half-steps; each returns true when its loops ran to their bound.
/// `update_h_rows` is `update_h` on the rows y_first <= y < y_end of plane x only
/// (clipped to 1..n-1; an empty range is a success, n = 0 a failure), so that a
/// caller can run the step row by row while the rows it reads are still in cache.
/// `step` is `update_h` then `update_e` in one sweep, with the same bits; it
/// fails for n = 0 and for arrays of different edges. The sweep walks strips of
/// `strip_rows` rows (y), each through all planes (x), so that the rows it
/// reuses from one plane to the next stay in a core's own cache.
struct KernelTable {
  bool (*update_h)(const KernelArgs& args);
  bool (*update_e)(const KernelArgs& args);
  bool (*update_h_rows)(const KernelArgs& args, std::uint64_t x, std::uint64_t y_first, std::uint64_t y_end);
  bool (*step)(const KernelArgs& args);
};

/// Field energy at one cell (E there, H averaged with its lower neighbours) and
/// summed over the cells 2..n of every axis. `energy_rows` adds the rows
/// y_first <= y < y_end of plane x (clipped to 2..n) to `sum` in the order of the
/// total, so rows summed in order from 0.0 give the total's exact bits.
struct EnergyTable {
  double (*node_energy)(const KernelArgs& args, std::uint64_t x, std::uint64_t y, std::uint64_t z);
  double (*total_energy)(const KernelArgs& args);
  double (*energy_rows)(const KernelArgs& args, std::uint64_t x, std::uint64_t y_first, std::uint64_t y_end,
                        double sum);
};

// Each unit defines exactly one of these, constant-initialised, so reading a
// table runs no code of the unit's instruction set.
namespace sse2 {
extern const KernelTable kKernels;
extern const EnergyTable kEnergy;
}  // namespace sse2
namespace avx {
extern const KernelTable kKernels;
extern const EnergyTable kEnergy;
}  // namespace avx
// The avx2 solvers step with the avx kernels; only their energy pass is built
// for the avx2 target.
namespace avx2 {
extern const EnergyTable kEnergy;
}  // namespace avx2
namespace fma {
extern const KernelTable kKernels;
}  // namespace fma

}  // namespace solver
