// The energy routines, written once and included by each energy unit inside its
// own anonymous namespace (after solver/kernel_args.h), like kernel_body.h. The
// additions keep their written order: the totals are compared across builds.

constexpr std::uint64_t energy_cell_index(std::uint64_t edge, std::uint64_t x, std::uint64_t y,
                                          std::uint64_t z) {
  return z + edge * (y + edge * x);
}

// One cell's energy from E there and the three lower H neighbours' own
// components: each H component averaged with its lower neighbour along its
// own axis.
inline double cell_energy(const Cell& e, const Cell& h, double hx_lower, double hy_lower,
                          double hz_lower, double half_volume) {
  const double hx = (hx_lower + h.x) * 0.5;
  const double hy = (hy_lower + h.y) * 0.5;
  const double hz = (hz_lower + h.z) * 0.5;
  const double se = (e.x * e.x + e.y * e.y) + e.z * e.z;
  const double sh = (hx * hx + hy * hy) + hz * hz;
  return half_volume * (se + sh);
}

double node_energy(const KernelArgs& args, std::uint64_t x, std::uint64_t y, std::uint64_t z) {
  const std::uint64_t ne = args.e_edge;
  const std::uint64_t nh = args.h_edge;
  return cell_energy(args.e[energy_cell_index(ne, x, y, z)], args.h[energy_cell_index(nh, x, y, z)],
                     args.h[energy_cell_index(nh, x - 1, y, z)].x, args.h[energy_cell_index(nh, x, y - 1, z)].y,
                     args.h[energy_cell_index(nh, x, y, z - 1)].z, 0.5 * args.cell_volume);
}

// Prefetch distances of the pass, in cells: near hints into the first-level
// cache for the three streams that come from memory (the lower-x plane is
// evicted from the shared cache before it is needed again on a loaded
// machine), far hints into the second level for the two fields' own rows.
constexpr std::uintptr_t kEnergyNearBytes = 16 * sizeof(Cell);
constexpr std::uintptr_t kEnergyFarBytes = 128 * sizeof(Cell);

inline const void* energy_ahead(const Cell* cell, std::uintptr_t bytes) {
  // As integers: a hint past the end of the buffer must not be pointer arithmetic.
  return reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(cell) + bytes);
}

// Adds the energies of the cells x_first <= x < x_end, y_first <= y < y_end
// (clipped to 2..n) to `sum`, x outermost, in one accumulator: continuing from
// the previous block's sum, blocks in order give exactly the bits of one pass.
// Walks rows of z with plain pointers: the pass streams both fields once, and
// the index arithmetic per cell would otherwise cost as much as the energy itself.
template <bool kHints>
double energy_block(const KernelArgs& args, std::uint64_t x_first, std::uint64_t x_end,
                    std::uint64_t y_first, std::uint64_t y_end, double sum) {
  if (args.e_edge < 3) return sum;
  const std::uint64_t ne = args.e_edge;
  const std::uint64_t nh = args.h_edge;
  const std::uint64_t bound = ne - 1;
  const std::uint64_t first = x_first < 2 ? 2 : x_first;
  const std::uint64_t end = x_end < bound ? x_end : bound;
  const std::uint64_t row_first = y_first < 2 ? 2 : y_first;
  const std::uint64_t row_end = y_end < bound ? y_end : bound;
  const double half_volume = 0.5 * args.cell_volume;
  for (std::uint64_t x = first; x < end; ++x) {
    for (std::uint64_t y = row_first; y < row_end; ++y) {
      const Cell* e = args.e + energy_cell_index(ne, x, y, 0);
      const Cell* h = args.h + energy_cell_index(nh, x, y, 0);
      const Cell* hx = args.h + energy_cell_index(nh, x - 1, y, 0);
      const Cell* hy = args.h + energy_cell_index(nh, x, y - 1, 0);
      for (std::uint64_t z = 2; z < bound; ++z) {
        if constexpr (kHints) {
          __builtin_prefetch(energy_ahead(e + z, kEnergyNearBytes), 0, 3);
          __builtin_prefetch(energy_ahead(h + z, kEnergyNearBytes), 0, 3);
          __builtin_prefetch(energy_ahead(hx + z, kEnergyNearBytes), 0, 3);
          __builtin_prefetch(energy_ahead(e + z, kEnergyFarBytes), 0, 1);
          __builtin_prefetch(energy_ahead(h + z, kEnergyFarBytes), 0, 1);
        }
        sum += cell_energy(e[z], h[z], hx[z].x, hy[z].y, h[z - 1].z, half_volume);
      }
    }
  }
  return sum;
}

// Without hints: a caller that walks single rows has just written what they read.
double energy_rows(const KernelArgs& args, std::uint64_t x, std::uint64_t y_first, std::uint64_t y_end,
                   double sum) {
  return energy_block<false>(args, x, x + 1, y_first, y_end, sum);
}

// Sum over x, y, z from 2 to n, x outermost, into one accumulator from 0.0.
double total_energy(const KernelArgs& args) {
  if (args.e_edge < 3) return 0.0;
  return energy_block<true>(args, 2, args.e_edge - 1, 2, args.e_edge - 1, 0.0);
}
