#pragma once

#include <cstdint>
#include <memory>

#include "solver/field_state.h"
#include "solver/isa_solvers.h"
#include "solver/kernel_args.h"

namespace solver {

/// The "standing_wave" workload's state and checks, shared by its three classes:
/// a curl-free sine field that a correct machine leaves bit-for-bit unchanged.
class StandingWave {
 public:
  /// Flush-to-zero on, the sine field in E (every other cell of both arrays
  /// zero, whatever they held), one `update_h` with the solver's own kernels,
  /// then the energies the checks compare against.
  [[nodiscard]] OptError initialize(FieldStorage& fields, const KernelTable& kernels,
                                    const EnergyTable& energy);
  /// Every sample node's energy against its starting value (deviation 1e-5).
  [[nodiscard]] OptError verify_step(const FieldStorage& fields, const EnergyTable& energy,
                                     std::uint32_t thread_index) const;
  /// Total energy against the starting total (quotient strictly within 0.9..1.1).
  [[nodiscard]] OptError verify_final(const FieldStorage& fields, const EnergyTable& energy,
                                      std::uint32_t thread_index) const;

  /// Total energy right after initialisation; 0 before.
  double energy_init() const { return energy_init_; }
  /// The node energies recorded by `initialize`, (xi·c + yi)·c + zi; null before.
  const double* validation_nodes() const { return validation_nodes_.get(); }
  std::uint64_t validation_count() const { return validation_count_; }
  /// Sample nodes per axis, n/16 − 2 (0 below n = 48).
  static std::uint64_t nodes_per_axis(std::uint64_t n);
  /// Grid coordinate of node index i on any axis.
  static std::uint64_t node_coordinate(std::uint64_t i) { return 17 + 16 * i; }

 private:
  double energy_init_ = 0.0;
  std::unique_ptr<double[]> validation_nodes_;
  std::uint64_t validation_count_ = 0;
};

/// The standing wave on the kernels of `Base`, checked with `energy`.
template <class Base, const EnergyTable& energy>
class StandingWaveSolver : public Base {
 public:
  explicit StandingWaveSolver(std::uint32_t thread_index) : Base(thread_index) {}
  /// The arrays without the zero-fill: `initialize` writes every cell in its
  /// one pass, so a separate fill would only cost a pass over memory.
  [[nodiscard]] OptError allocate(const FieldParams& params) override {
    return this->fields_.allocate(params, CellFill::unwritten);
  }
  [[nodiscard]] OptError initialize() override { return wave_.initialize(this->fields_, this->kernels(), energy); }
  [[nodiscard]] OptError pre_step(std::uint64_t) override { return {}; }
  [[nodiscard]] OptError verify_step(std::uint64_t) override {
    return wave_.verify_step(this->fields_, energy, this->thread_index_);
  }
  [[nodiscard]] OptError verify_final(std::uint64_t) override {
    return wave_.verify_final(this->fields_, energy, this->thread_index_);
  }
  const StandingWave& workload() const { return wave_; }

 private:
  StandingWave wave_;
};

/// Standing wave on the SSE2 kernels and energy routines.
class Sse2StandingWave final : public StandingWaveSolver<Sse2Solver, sse2::kEnergy> {
  using StandingWaveSolver::StandingWaveSolver;
};

/// Standing wave on the AVX kernels and energy routines; also the avx2 choice.
class AvxStandingWave final : public StandingWaveSolver<AvxSolver, avx::kEnergy> {
  using StandingWaveSolver::StandingWaveSolver;
};

/// Standing wave on the fma kernels, with the energy routines built for AVX.
class FmaStandingWave final : public StandingWaveSolver<FmaSolver, avx::kEnergy> {
  using StandingWaveSolver::StandingWaveSolver;
};

}  // namespace solver
