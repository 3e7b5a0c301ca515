#pragma once

#include <cstdint>

#include "solver/field_state.h"
#include "solver/kernel_args.h"
#include "solver/solver.h"

namespace solver {

/// The kernel-dependent half of every solver: field storage and `step` with
/// the scalar kernels built for SSE2. Workload classes derive from it.
class Sse2Solver : public Solver {
 public:
  explicit Sse2Solver(std::uint32_t thread_index) : Solver(thread_index) {}

  [[nodiscard]] OptError allocate(const FieldParams& params) override { return fields_.allocate(params); }
  [[nodiscard]] OptError step() override { return run_step(sse2::kKernels, fields_, thread_index_); }
  std::uint64_t updates_per_step() const override { return fields_.updates_per_step(); }

  /// The fields, for inspection (tests and diagnostics).
  FieldStorage& fields() { return fields_; }
  const FieldStorage& fields() const { return fields_; }
  /// The kernels `step` runs.
  static const KernelTable& kernels() { return sse2::kKernels; }

 protected:
  FieldStorage fields_;
};

/// As Sse2Solver, with the scalar kernels built for AVX (VEX-encoded); the
/// base of the avx and avx2 workload classes.
class AvxSolver : public Solver {
 public:
  explicit AvxSolver(std::uint32_t thread_index) : Solver(thread_index) {}

  [[nodiscard]] OptError allocate(const FieldParams& params) override { return fields_.allocate(params); }
  [[nodiscard]] OptError step() override { return run_step(avx::kKernels, fields_, thread_index_); }
  std::uint64_t updates_per_step() const override { return fields_.updates_per_step(); }

  FieldStorage& fields() { return fields_; }
  const FieldStorage& fields() const { return fields_; }
  static const KernelTable& kernels() { return avx::kKernels; }

 protected:
  FieldStorage fields_;
};

/// As Sse2Solver, with the 256-bit fused multiply-add kernels.
class FmaSolver : public Solver {
 public:
  explicit FmaSolver(std::uint32_t thread_index) : Solver(thread_index) {}

  [[nodiscard]] OptError allocate(const FieldParams& params) override { return fields_.allocate(params); }
  [[nodiscard]] OptError step() override { return run_step(fma::kKernels, fields_, thread_index_); }
  std::uint64_t updates_per_step() const override { return fields_.updates_per_step(); }

  FieldStorage& fields() { return fields_; }
  const FieldStorage& fields() const { return fields_; }
  static const KernelTable& kernels() { return fma::kKernels; }

 protected:
  FieldStorage fields_;
};

}  // namespace solver
