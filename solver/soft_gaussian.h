#pragma once

#include <cstdint>
#include <span>

#include "solver/field_state.h"
#include "solver/isa_solvers.h"
#include "solver/kernel_args.h"

namespace solver {

/// One row of the expected-ratio table.
struct RatioBand {
  double tolerance;
  double expected_ratio;
  std::uint64_t iteration_threshold;
};

/// The 35 rows in their stored (search) order.
std::span<const RatioBand> ratio_bands();
/// The band iteration `t` is judged against: the first row whose threshold is
/// strictly below t; tolerance 0.1 around 1.33333 when none is.
RatioBand ratio_band_for(std::uint64_t t);

/// The "soft_gaussian" workload's state and checks, shared by its four classes:
/// a Gaussian pulse added at the centre cell before every step, with a running
/// account of the energy it injected.
class SoftGaussian {
 public:
  /// Flush-to-zero on and the source coefficients set; the fields stay zero.
  [[nodiscard]] OptError initialize(const FieldStorage& fields);
  /// Adds the pulse of iteration `t` to E.z and H.y at the source cell.
  [[nodiscard]] OptError pre_step(FieldStorage& fields, std::uint64_t t);
  /// Injected over measured energy against the band of iteration `t`.
  [[nodiscard]] OptError verify_step(const FieldStorage& fields, const EnergyTable& energy,
                                     std::uint32_t thread_index, std::uint64_t t) const;

  /// Energy injected so far.
  double energy_acc() const { return energy_acc_; }
  /// Coordinate of the source cell on every axis: half the array edge.
  static std::uint64_t source_coordinate(std::uint64_t edge) { return edge / 2; }

 private:
  double energy_acc_ = 0.0;
  double e_source_coefficient_ = 0.0;
  double h_source_coefficient_ = 0.0;
};

/// The soft Gaussian on the kernels of `Base`, checked with `energy`.
template <class Base, const EnergyTable& energy>
class SoftGaussianSolver : public Base {
 public:
  explicit SoftGaussianSolver(std::uint32_t thread_index) : Base(thread_index) {}
  [[nodiscard]] OptError initialize() override { return pulse_.initialize(this->fields_); }
  [[nodiscard]] OptError pre_step(std::uint64_t t) override { return pulse_.pre_step(this->fields_, t); }
  [[nodiscard]] OptError verify_step(std::uint64_t t) override {
    return pulse_.verify_step(this->fields_, energy, this->thread_index_, t);
  }
  [[nodiscard]] OptError verify_final(std::uint64_t) override { return {}; }
  const SoftGaussian& workload() const { return pulse_; }

 private:
  SoftGaussian pulse_;
};

/// Soft Gaussian on the SSE2 kernels and energy routines.
class Sse2SoftGaussian final : public SoftGaussianSolver<Sse2Solver, sse2::kEnergy> {
  using SoftGaussianSolver::SoftGaussianSolver;
};

/// Soft Gaussian on the AVX kernels and energy routines.
class AvxSoftGaussian final : public SoftGaussianSolver<AvxSolver, avx::kEnergy> {
  using SoftGaussianSolver::SoftGaussianSolver;
};

/// As AvxSoftGaussian (AVX kernels), with its energy check built for AVX2.
class Avx2SoftGaussian final : public SoftGaussianSolver<AvxSolver, avx2::kEnergy> {
  using SoftGaussianSolver::SoftGaussianSolver;
};

/// Soft Gaussian on the fma kernels, with the energy routines built for AVX.
class FmaSoftGaussian final : public SoftGaussianSolver<FmaSolver, avx::kEnergy> {
  using SoftGaussianSolver::SoftGaussianSolver;
};

}  // namespace solver
