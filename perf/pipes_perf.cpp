// How many of each instruction the kernels use this core issues per cycle,
// alone and mixed: the facts behind perf.sh's issue limits. Every instruction
// of a pass writes its own register from two fixed inputs (or, for the FMA, its
// own accumulator), so nothing waits on anything and only the pipes count. The
// clock is timed as in zelvo_cycles_perf: a chain of dependent register adds,
// one per cycle, in processor time.
//
// Usage: zelvo_pipes_perf
// Prints "clock GHz", then one line per pass: "pipes NAME cycles-per-pass
// instructions-per-cycle" (best of five), for the vector passes only where the
// processor has AVX2 and FMA.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "perf/core_clock.h"

namespace {

using perf::core_clock_hz;
using perf::seconds;

// One instruction writing register i from the fixed registers 14 and 15.
#define BLEND(i) "vblendpd $5, %%ymm15, %%ymm14, %%ymm" #i "\n\t"
#define SHUF(i) "vshufpd $10, %%ymm15, %%ymm14, %%ymm" #i "\n\t"
#define PERM(i) "vpermpd $0xd2, %%ymm15, %%ymm" #i "\n\t"
#define VSUB(i) "vsubpd %%ymm15, %%ymm14, %%ymm" #i "\n\t"
#define FMA(i) "vfmadd231pd %%ymm15, %%ymm14, %%ymm" #i "\n\t"
#define ADDSD(i) "addsd %%xmm15, %%xmm" #i "\n\t"
#define MULSD(i) "mulsd %%xmm15, %%xmm" #i "\n\t"
#define TWELVE(op) op(0) op(1) op(2) op(3) op(4) op(5) op(6) op(7) op(8) op(9) op(10) op(11)
#define CLOBBERS "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", \
                 "xmm11", "xmm12", "xmm13"
// A pass function runs its instructions `passes` times. The vector ones clear
// the upper halves afterwards, so the compiler's own SSE code pays no
// transition penalty.
#define PASS(name, body) \
  void name(std::uint64_t passes) { \
    for (std::uint64_t i = 0; i < passes; ++i) asm volatile(body ::: CLOBBERS); \
  }
#define VECTOR_PASS(name, body) \
  void name(std::uint64_t passes) { \
    for (std::uint64_t i = 0; i < passes; ++i) asm volatile(body ::: CLOBBERS); \
    asm volatile("vzeroupper" ::: CLOBBERS); \
  }

// The scalar passes need SSE2 only.
PASS(adds, TWELVE(ADDSD))
PASS(muls, TWELVE(MULSD))
PASS(adds_muls, ADDSD(0) ADDSD(1) ADDSD(2) ADDSD(3) MULSD(4) ADDSD(5) ADDSD(6) ADDSD(7) ADDSD(8) MULSD(9)
                    ADDSD(10) ADDSD(11) ADDSD(12) ADDSD(13) MULSD(0))
// The vector passes: each alone, the pairs that tell which share pipes, and an
// fma update's mix (two updates per pass), as the kernels had it and as they are.
VECTOR_PASS(blends, TWELVE(BLEND))
VECTOR_PASS(shuffles, TWELVE(SHUF))
VECTOR_PASS(permutes, TWELVE(PERM))
VECTOR_PASS(vsubs, TWELVE(VSUB))
VECTOR_PASS(fmas, TWELVE(FMA))
VECTOR_PASS(blend_fma, BLEND(0) FMA(1) BLEND(2) FMA(3) BLEND(4) FMA(5) BLEND(6) FMA(7) BLEND(8) FMA(9) BLEND(10) FMA(11))
VECTOR_PASS(blend_vsub, BLEND(0) VSUB(1) BLEND(2) VSUB(3) BLEND(4) VSUB(5) BLEND(6) VSUB(7) BLEND(8) VSUB(9) BLEND(10)
                     VSUB(11))
VECTOR_PASS(blend_permute, BLEND(0) PERM(1) BLEND(2) PERM(3) BLEND(4) PERM(5) BLEND(6) PERM(7) BLEND(8) PERM(9)
                        BLEND(10) PERM(11))
VECTOR_PASS(permute_vsub, PERM(0) VSUB(1) PERM(2) VSUB(3) PERM(4) VSUB(5) PERM(6) VSUB(7) PERM(8) VSUB(9) PERM(10)
                       VSUB(11))
VECTOR_PASS(mix_4_blends, BLEND(0) BLEND(1) BLEND(2) BLEND(3) PERM(4) PERM(5) VSUB(6) VSUB(7) VSUB(8) FMA(9)
                       BLEND(10) BLEND(11) BLEND(12) BLEND(13) PERM(0) PERM(1) VSUB(2) VSUB(3) VSUB(4) FMA(5))
VECTOR_PASS(mix_3_blends, BLEND(0) BLEND(1) BLEND(2) SHUF(3) PERM(4) PERM(5) VSUB(6) VSUB(7) VSUB(8) FMA(9)
                       BLEND(10) BLEND(11) BLEND(12) SHUF(13) PERM(0) PERM(1) VSUB(2) VSUB(3) VSUB(4) FMA(5))

struct Pass {
  const char* name;
  void (*run)(std::uint64_t);
  int instructions;
  bool vector;
};

constexpr Pass kPasses[] = {
    {"addsd", adds, 12, false},
    {"mulsd", muls, 12, false},
    {"12addsd+3mulsd", adds_muls, 15, false},
    {"vblendpd", blends, 12, true},
    {"vshufpd", shuffles, 12, true},
    {"vpermpd", permutes, 12, true},
    {"vsubpd", vsubs, 12, true},
    {"vfmadd", fmas, 12, true},
    {"blend+fma", blend_fma, 12, true},
    {"blend+vsub", blend_vsub, 12, true},
    {"blend+permute", blend_permute, 12, true},
    {"permute+vsub", permute_vsub, 12, true},
    {"update(4blend,2perm,3sub,1fma)x2", mix_4_blends, 20, true},
    {"update(3blend,1shuf,2perm,3sub,1fma)x2", mix_3_blends, 20, true},
};

}  // namespace

int main() {
  const bool vector = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  const double hz = core_clock_hz();
  std::printf("clock %.3f\n", hz / 1e9);
  constexpr std::uint64_t kRuns = 1 << 21;
  for (const Pass& pass : kPasses) {
    if (pass.vector && !vector) {
      std::printf("pipes %s skipped: no AVX2 and FMA\n", pass.name);
      continue;
    }
    double best = 1e30;
    for (int attempt = 0; attempt < 5; ++attempt) best = std::min(best, seconds([&] { pass.run(kRuns); }));
    const double cycles = best * hz / static_cast<double>(kRuns);
    std::printf("pipes %s %.2f %.2f\n", pass.name, cycles, pass.instructions / cycles);
  }
  return 0;
}
