// The plain scalar loops, included by each scalar reference unit inside its
// own anonymous namespace (after perf/plain_kernels.h), so every unit keeps a
// private copy built with its own flags. No include guard on purpose.
//
// Three loops, z innermost, flat indices; the same differences, products and
// sums, in the same order and rounding, as the program's scalar kernels.

using solver::Cell;
using solver::KernelArgs;

bool plain_update_h(const KernelArgs& a) {
  const std::uint64_t n = a.e_edge;
  const std::uint64_t b = n - 2;
  const double k = a.h_coefficient;
  for (std::uint64_t x = 1; x < b; ++x) {
    for (std::uint64_t y = 1; y < b; ++y) {
      const std::uint64_t row = n * (y + n * x);
      const Cell* e = a.e + row;
      const Cell* ex = e + n * n;
      const Cell* ey = e + n;
      Cell* h = a.h + row;
      for (std::uint64_t z = 1; z < b; ++z) {
        h[z].x = h[z].x - k * ((ey[z].z - e[z].z) - (e[z + 1].y - e[z].y));
        h[z].y = h[z].y - k * ((e[z + 1].x - e[z].x) - (ex[z].z - e[z].z));
        h[z].z = h[z].z - k * ((ex[z].y - e[z].y) - (ey[z].x - e[z].x));
      }
    }
  }
  return true;
}

bool plain_update_e(const KernelArgs& a) {
  const std::uint64_t n = a.e_edge;
  const std::uint64_t b = n - 1;
  const double k = a.e_coefficient;
  for (std::uint64_t x = 2; x < b; ++x) {
    for (std::uint64_t y = 2; y < b; ++y) {
      const std::uint64_t row = n * (y + n * x);
      const Cell* h = a.h + row;
      const Cell* hx = h - n * n;
      const Cell* hy = h - n;
      Cell* e = a.e + row;
      for (std::uint64_t z = 2; z < b; ++z) {
        e[z].x = e[z].x + k * ((h[z].z - hy[z].z) - (h[z].y - h[z - 1].y));
        e[z].y = e[z].y + k * ((h[z].x - h[z - 1].x) - (h[z].z - hx[z].z));
        e[z].z = e[z].z + k * ((h[z].y - hx[z].y) - (h[z].x - hy[z].x));
      }
    }
  }
  return true;
}
