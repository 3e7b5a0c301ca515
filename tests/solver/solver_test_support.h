#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/fp_control.h"
#include "solver/isa_solvers.h"
#include "solver/soft_gaussian.h"

namespace solver::testing {

/// Restores the thread's SSE control register, which initialize changes.
class FpControlGuard {
 public:
  FpControlGuard() : saved_(platform::fp_control()) {}
  ~FpControlGuard() { platform::set_fp_control(saved_); }

 private:
  std::uint32_t saved_;
};

/// Skips the running test when this processor cannot run the named kernels.
#define ZELVO_SKIP_UNLESS_SUPPORTED(isa)                                        \
  if (const auto support = ::solver::check_isa_support(isa); support.failed()) \
  GTEST_SKIP() << (isa) << ": " << support.message()

/// Byte copy of one array, for bit-for-bit comparisons.
inline std::vector<unsigned char> snapshot(const FieldArray& a) {
  std::vector<unsigned char> bytes(a.cells.count() * sizeof(Cell));
  if (!bytes.empty()) std::memcpy(bytes.data(), a.cells.data(), bytes.size());
  return bytes;
}

/// Repeatable values in [-1, 1) in x, y, z of every cell, halo included.
inline void fill_random(FieldArray& a, std::uint64_t seed) {
  const auto next = [&seed] {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(seed >> 11) * 0x1.0p-52 - 1.0;
  };
  for (std::uint64_t i = 0; i < a.cells.count(); ++i) {
    Cell& c = a.cells.data()[i];
    c.x = next();
    c.y = next();
    c.z = next();
  }
}

/// The field storage behind any solver of the family.
inline FieldState& state_of(Solver& solver) {
  if (auto* s = dynamic_cast<Sse2Solver*>(&solver)) return s->fields().state();
  if (auto* s = dynamic_cast<AvxSolver*>(&solver)) return s->fields().state();
  return dynamic_cast<FmaSolver&>(solver).fields().state();
}

/// Energy injected so far by a soft-Gaussian solver.
inline double energy_acc_of(Solver& solver) {
  if (auto* s = dynamic_cast<Sse2SoftGaussian*>(&solver)) return s->workload().energy_acc();
  if (auto* s = dynamic_cast<AvxSoftGaussian*>(&solver)) return s->workload().energy_acc();
  if (auto* s = dynamic_cast<Avx2SoftGaussian*>(&solver)) return s->workload().energy_acc();
  return dynamic_cast<FmaSoftGaussian&>(solver).workload().energy_acc();
}

inline std::string isa_param_name(const ::testing::TestParamInfo<const char*>& info) {
  return info.param;
}

}  // namespace solver::testing
