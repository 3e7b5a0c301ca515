#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fp_control.h"
#include "solver/field_state.h"
#include "solver/kernel_args.h"
#include "solver/solver.h"

namespace solver::testing {

/// Restores the thread's SSE control register: initialize turns flush-to-zero on
/// and other tests in this binary must not inherit it.
class FpControlGuard {
 public:
  FpControlGuard() : saved_(platform::fp_control()) {}
  ~FpControlGuard() { platform::set_fp_control(saved_); }
  FpControlGuard(const FpControlGuard&) = delete;
  FpControlGuard& operator=(const FpControlGuard&) = delete;

 private:
  std::uint32_t saved_;
};

/// Skips the running test when this processor cannot run the named kernels.
#define ZELVO_SKIP_UNLESS_SUPPORTED(isa)                                          \
  do {                                                                            \
    const ::platform::OptError support_ = ::solver::check_isa_support(isa);       \
    if (support_.failed()) GTEST_SKIP() << (isa) << ": " << support_.message();   \
  } while (false)

/// Byte copy of one array, for bit-for-bit comparisons.
inline std::vector<unsigned char> snapshot(const FieldArray& array) {
  std::vector<unsigned char> bytes(array.cells.count() * sizeof(Cell));
  if (!bytes.empty()) std::memcpy(bytes.data(), array.cells.data(), bytes.size());
  return bytes;
}

/// A small deterministic generator (values in [-1, 1)), so runs are repeatable.
class Lcg {
 public:
  explicit Lcg(std::uint64_t seed) : state_(seed) {}
  double next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state_ >> 11) * 0x1.0p-52 - 1.0;
  }

 private:
  std::uint64_t state_;
};

/// Fills x, y, z of every cell (halo included) with generator values; pad stays 0.
inline void fill_random(FieldArray& array, Lcg& lcg) {
  for (std::uint64_t i = 0; i < array.cells.count(); ++i) {
    Cell& c = array.cells.data()[i];
    c.x = lcg.next();
    c.y = lcg.next();
    c.z = lcg.next();
  }
}

}  // namespace solver::testing

#include "solver/isa_solvers.h"
#include "solver/soft_gaussian.h"
#include "solver/standing_wave.h"

namespace solver::testing {

/// The field storage behind any solver of the family.
inline FieldStorage& fields_of(Solver& solver) {
  if (auto* s = dynamic_cast<Sse2Solver*>(&solver)) return s->fields();
  if (auto* s = dynamic_cast<AvxSolver*>(&solver)) return s->fields();
  return dynamic_cast<FmaSolver&>(solver).fields();
}

/// The standing-wave state behind a standing-wave solver.
inline const StandingWave& standing_wave_of(Solver& solver) {
  if (auto* s = dynamic_cast<Sse2StandingWave*>(&solver)) return s->workload();
  if (auto* s = dynamic_cast<AvxStandingWave*>(&solver)) return s->workload();
  return dynamic_cast<FmaStandingWave&>(solver).workload();
}

/// The soft-Gaussian state behind a soft-Gaussian solver.
inline const SoftGaussian& soft_gaussian_of(Solver& solver) {
  if (auto* s = dynamic_cast<Sse2SoftGaussian*>(&solver)) return s->workload();
  if (auto* s = dynamic_cast<AvxSoftGaussian*>(&solver)) return s->workload();
  if (auto* s = dynamic_cast<Avx2SoftGaussian*>(&solver)) return s->workload();
  return dynamic_cast<FmaSoftGaussian&>(solver).workload();
}

inline std::string isa_param_name(const ::testing::TestParamInfo<const char*>& info) {
  return info.param;
}

}  // namespace solver::testing
