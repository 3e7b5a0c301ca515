// The energy routines, written once and included by each energy unit inside its
// own anonymous namespace (after solver/kernel_args.h), like kernel_body.h. The
// additions keep their written order: the totals are compared across builds.

constexpr std::uint64_t energy_cell_index(std::uint64_t edge, std::uint64_t x, std::uint64_t y,
                                          std::uint64_t z) {
  return z + edge * (y + edge * x);
}

// E at the cell, each H component averaged with its lower neighbour along its
// own axis.
double node_energy(const KernelArgs& args, std::uint64_t x, std::uint64_t y, std::uint64_t z) {
  const std::uint64_t ne = args.e_edge;
  const std::uint64_t nh = args.h_edge;
  const Cell& e = args.e[energy_cell_index(ne, x, y, z)];
  const Cell& h = args.h[energy_cell_index(nh, x, y, z)];
  const double hx = (args.h[energy_cell_index(nh, x - 1, y, z)].x + h.x) * 0.5;
  const double hy = (args.h[energy_cell_index(nh, x, y - 1, z)].y + h.y) * 0.5;
  const double hz = (args.h[energy_cell_index(nh, x, y, z - 1)].z + h.z) * 0.5;
  const double se = (e.x * e.x + e.y * e.y) + e.z * e.z;
  const double sh = (hx * hx + hy * hy) + hz * hz;
  return (0.5 * args.cell_volume) * (se + sh);
}

// Sum over x, y, z from 2 to n, x outermost, into one accumulator.
double total_energy(const KernelArgs& args) {
  if (args.e_edge < 3) return 0.0;
  const std::uint64_t bound = args.e_edge - 1;
  double sum = 0.0;
  for (std::uint64_t x = 2; x < bound; ++x) {
    for (std::uint64_t y = 2; y < bound; ++y) {
      for (std::uint64_t z = 2; z < bound; ++z) {
        sum += node_energy(args, x, y, z);
      }
    }
  }
  return sum;
}
