// Vector field updates: one cell per 256-bit vector, one fused multiply-add per
// cell. Built with AVX2 and FMA (flags in solver/CMakeLists.txt).
#include <immintrin.h>

#include "solver/kernel_args.h"

namespace solver::fma {
namespace {
#include "solver/kernel_body.h"

struct Avx2FmaOps {
  using Vector = __m256d;
  // Unaligned forms: a cell is never split across a line in our buffers, and on
  // aligned addresses these cost the same as the aligned ones.
  static Vector load(const Cell* cell) { return _mm256_loadu_pd(reinterpret_cast<const double*>(cell)); }
  // The empty statement claims to change the register, so the value cannot be
  // re-read from memory by each instruction that uses it.
  static Vector load_once(const Cell* cell) {
    Vector v = load(cell);
    asm("" : "+x"(v));
    return v;
  }
  static void store(Cell* cell, Vector v) { _mm256_storeu_pd(reinterpret_cast<double*>(cell), v); }
  static Vector broadcast(double v) { return _mm256_set1_pd(v); }
  static Vector sub(Vector a, Vector b) { return _mm256_sub_pd(a, b); }
  template <int kMask>
  static Vector blend(Vector a, Vector b) {
    return _mm256_blend_pd(a, b, kMask);
  }
  // (a0, b1, a2, b3): the same lanes as a blend with mask 0b1010, but the
  // shuffle's encoding, which more vector pipes run.
  static Vector interleave(Vector a, Vector b) { return _mm256_shuffle_pd(a, b, 0b1010); }
  template <int kOrder>
  static Vector permute(Vector v) {
    return _mm256_permute4x64_pd(v, kOrder);
  }
  // a * b + c and c - a * b, each with a single rounding.
  static Vector fmadd(Vector a, Vector b, Vector c) { return _mm256_fmadd_pd(a, b, c); }
  static Vector fnmadd(Vector a, Vector b, Vector c) { return _mm256_fnmadd_pd(a, b, c); }
};

using Cells = VectorCells<Avx2FmaOps>;

bool update_h(const KernelArgs& args) { return update_h_kernel<Cells>(args); }
bool update_e(const KernelArgs& args) { return update_e_kernel<Cells>(args); }
bool update_h_rows(const KernelArgs& args, std::uint64_t x, std::uint64_t y_first, std::uint64_t y_end) {
  return update_h_rows_kernel<Cells>(args, x, y_first, y_end);
}
bool step(const KernelArgs& args) { return step_kernel<Cells>(args); }
}  // namespace

extern const KernelTable kKernels = {&update_h, &update_e, &update_h_rows, &step};

}  // namespace solver::fma
