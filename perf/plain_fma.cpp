// Plain vector reference loops built like the program's fma kernels (flags in
// perf/CMakeLists.txt, at -O2): one cell per 256-bit vector, the same lane
// assembly (two blends per operand from the neighbours, one difference with
// the cell, one permute each) and one fused multiply-add per cell.
#include <immintrin.h>

#include "perf/plain_kernels.h"

namespace perf::plain_fma {
namespace {

using solver::Cell;
using solver::KernelArgs;

__m256d load(const Cell* c) { return _mm256_loadu_pd(&c->x); }

// A = (dY.z, dZ.x, dX.y, dY.pad) and B = (dZ.y, dX.z, dY.x, dZ.pad), their
// difference; dX, dY, dZ are "neighbour minus cell" (or the reverse for E).
__m256d curl(__m256d c, __m256d nx, __m256d ny, __m256d nz, bool forward) {
  const __m256d t = _mm256_blend_pd(_mm256_blend_pd(ny, nz, 0b0001), nx, 0b0010);
  const __m256d u = _mm256_blend_pd(_mm256_blend_pd(nz, ny, 0b0001), nx, 0b0100);
  const __m256d dt = forward ? _mm256_sub_pd(t, c) : _mm256_sub_pd(c, t);
  const __m256d du = forward ? _mm256_sub_pd(u, c) : _mm256_sub_pd(c, u);
  const __m256d a = _mm256_permute4x64_pd(dt, 2 | (0 << 2) | (1 << 4) | (3 << 6));
  const __m256d b = _mm256_permute4x64_pd(du, 1 | (2 << 2) | (0 << 4) | (3 << 6));
  return _mm256_sub_pd(a, b);
}

bool plain_update_h(const KernelArgs& a) {
  const std::uint64_t n = a.e_edge;
  const std::uint64_t b = n - 2;
  const __m256d k = _mm256_set1_pd(a.h_coefficient);
  for (std::uint64_t x = 1; x < b; ++x) {
    for (std::uint64_t y = 1; y < b; ++y) {
      const std::uint64_t row = n * (y + n * x);
      const Cell* e = a.e + row;
      const Cell* ex = e + n * n;
      const Cell* ey = e + n;
      Cell* h = a.h + row;
      for (std::uint64_t z = 1; z < b; ++z) {
        const __m256d r = curl(load(e + z), load(ex + z), load(ey + z), load(e + z + 1), true);
        _mm256_storeu_pd(&h[z].x, _mm256_fnmadd_pd(r, k, load(h + z)));
      }
    }
  }
  return true;
}

bool plain_update_e(const KernelArgs& a) {
  const std::uint64_t n = a.e_edge;
  const std::uint64_t b = n - 1;
  const __m256d k = _mm256_set1_pd(a.e_coefficient);
  for (std::uint64_t x = 2; x < b; ++x) {
    for (std::uint64_t y = 2; y < b; ++y) {
      const std::uint64_t row = n * (y + n * x);
      const Cell* h = a.h + row;
      const Cell* hx = h - n * n;
      const Cell* hy = h - n;
      Cell* e = a.e + row;
      for (std::uint64_t z = 2; z < b; ++z) {
        const __m256d r = curl(load(h + z), load(hx + z), load(hy + z), load(h + z - 1), false);
        _mm256_storeu_pd(&e[z].x, _mm256_fmadd_pd(r, k, load(e + z)));
      }
    }
  }
  return true;
}

}  // namespace

extern const PlainKernels kPlain = {&plain_update_h, &plain_update_e};

}  // namespace perf::plain_fma
