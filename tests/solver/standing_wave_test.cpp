#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "solver/factory.h"
#include "solver/format_fixed.h"
#include "solver/isa_solvers.h"
#include "solver/soft_gaussian.h"
#include "solver/standing_wave.h"
#include "tests/solver/solver_test_support.h"

namespace solver {
namespace {

using testing::snapshot;

class StandingWaveTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ZELVO_SKIP_UNLESS_SUPPORTED(GetParam());
    solver_ = make_solver("standing_wave", GetParam(), 3);
    ASSERT_TRUE(solver_->allocate(FieldParams{false, 64, 0.01}).ok());
    ASSERT_TRUE(solver_->initialize().ok());
  }
  FieldState& s() { return testing::state_of(*solver_); }
  double total_energy() { return sse2::kEnergy.total_energy(s().kernel_args()); }

  testing::FpControlGuard fp_guard_;
  std::unique_ptr<Solver> solver_;
};

TEST_P(StandingWaveTest, InitialStateAtSize64) {
  const std::uint32_t ftz_daz = platform::kFlushToZero | platform::kDenormalsAreZero;
  EXPECT_EQ(platform::fp_control() & ftz_daz, ftz_daz);
  EXPECT_EQ(s().e.at(1, 5, 9).x, std::sin(2.0 * 3.141592653589793 / 65.0));
  EXPECT_EQ(s().e.at(7, 1, 9).y, std::sin(2.0 * 3.141592653589793 / 65.0));
  EXPECT_EQ(s().e.at(7, 1, 9).z, 0.0);
  EXPECT_NEAR(total_energy(), 0.1289555, 1e-7);
  EXPECT_NEAR(sse2::kEnergy.node_energy(s().kernel_args(), 17, 17, 17), 9.9475e-7, 1e-10);
}

TEST_P(StandingWaveTest, CorrectRunKeepsEveryBit) {
  const auto e_start = snapshot(s().e);
  const double energy_init = total_energy();
  for (std::uint64_t i = 0; i < 30; ++i) {
    ASSERT_TRUE(solver_->pre_step(i).ok());
    ASSERT_TRUE(solver_->step().ok());
    ASSERT_TRUE(solver_->verify_step(i).ok()) << i;
  }
  EXPECT_TRUE(solver_->verify_final(30).ok());
  // Unchanged fields: each node deviation is exactly 0, the energy quotient exactly 1.
  EXPECT_EQ(snapshot(s().e), e_start);
  EXPECT_EQ(snapshot(s().h), std::vector<unsigned char>(e_start.size(), 0));
  EXPECT_EQ(total_energy(), energy_init);
}

TEST_P(StandingWaveTest, CorruptionIsCaughtWithTheMessages) {
  ASSERT_TRUE(solver_->step().ok());
  const Cell node = s().e.at(17, 17, 17);
  s().e.at(17, 17, 17).x *= 1.001;
  EXPECT_EQ(solver_->verify_step(1).message(),
            "\nnode verification failure in thread 3\ninit_val = 0.000001\ncalc_val = "
            "0.000001\nratio = 0.001000");
  // A node without energy: an infinite deviation.
  s().e.at(17, 17, 17) = Cell{0.0, 0.0, 0.0, 0.0};
  EXPECT_TRUE(solver_->verify_step(2).failed());
  s().e.at(17, 17, 17) = node;
  EXPECT_TRUE(solver_->verify_step(3).ok());

  // Scaling E scales the total energy: quotients strictly inside 0.9..1.1 pass.
  const auto scale_energy = [&](double f) {
    for (std::uint64_t i = 0; i < s().e.cells.count(); ++i) {
      s().e.cells.data()[i].x *= std::sqrt(f);
      s().e.cells.data()[i].y *= std::sqrt(f);
    }
  };
  scale_energy(1.0 / 1.05);
  EXPECT_TRUE(solver_->verify_final(0).ok());
  scale_energy(1.05 * 4.0);
  EXPECT_EQ(solver_->verify_final(0).message(),
            "\nenergy ratio failure in thread 3\nenergy_init = 0.128956\nenergy_calc = "
            "0.515822\nratio = 0.250000");
  scale_energy(0.0);
  EXPECT_EQ(solver_->verify_final(0).message(),
            "\nenergy ratio failure in thread 3\nenergy_init = 0.128956\nenergy_calc = "
            "0.000000\nratio = inf");
}

TEST_P(StandingWaveTest, GridsWithoutSampleNodes) {
  // n from 32 to 47 has no node; below 32 the count would be negative.
  for (std::uint64_t n : {32u, 47u, 16u, 2u}) {
    ASSERT_TRUE(solver_->allocate(FieldParams{false, n, 0.01}).ok());
    EXPECT_EQ(solver_->initialize().message(), "allocation failed for validation buffer") << n;
  }
  ASSERT_TRUE(solver_->allocate(FieldParams{false, 0, 0.01}).ok());
  EXPECT_EQ(solver_->initialize().message(), "failed to initalize H field");
  // Nodes recorded for a larger grid are not read past the new one.
  ASSERT_TRUE(solver_->allocate(FieldParams{false, 64, 0.01}).ok());
  ASSERT_TRUE(solver_->initialize().ok());
  ASSERT_TRUE(solver_->allocate(FieldParams{false, 48, 0.01}).ok());
  EXPECT_TRUE(solver_->verify_step(0).failed());
}

// The kernels and energy routines each standing-wave solver runs.
struct WaveTables {
  const KernelTable* kernels;
  const EnergyTable* energy;
};
WaveTables wave_tables(std::string_view isa) {
  if (isa == "sse2") return {&sse2::kKernels, &sse2::kEnergy};
  if (isa == "fma") return {&fma::kKernels, &avx::kEnergy};
  return {&avx::kKernels, &avx::kEnergy};  // avx and avx2
}

const StandingWave& wave_of(Solver& s) {
  if (auto* p = dynamic_cast<Sse2StandingWave*>(&s)) return p->workload();
  if (auto* p = dynamic_cast<AvxStandingWave*>(&s)) return p->workload();
  return dynamic_cast<FmaStandingWave&>(s).workload();
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// initialize zero-fills both arrays itself, fills E from one sine table and
// runs update_h and the energy row by row in one pass; the fields, energy_init
// and every node energy must carry the bits of the plain procedure: zeroed
// arrays, two sines per cell, one whole update_h, one whole total_energy. The
// arrays are filled with garbage first, so a cell the pass misses shows. Even
// and odd sizes, and the grids without nodes.
TEST_P(StandingWaveTest, InitializeMatchesPerCellFormulaBitForBit) {
  const WaveTables tables = wave_tables(GetParam());
  for (std::uint64_t n : {48u, 50u, 64u, 97u, 2u, 1u}) {
    ASSERT_TRUE(solver_->allocate(FieldParams{false, n, 0.01}).ok());
    for (const FieldArray* a : {&s().e, &s().h}) {
      std::memset(a->cells.data(), 0xa5, a->cells.count() * sizeof(Cell));
    }
    const OptError init = solver_->initialize();
    ASSERT_EQ(init.failed(), n < 48) << n;

    FieldStorage plain;
    ASSERT_TRUE(plain.allocate(FieldParams{false, n, 0.01}).ok());
    FieldState& p = plain.state();
    const double a = static_cast<double>(n / 32) * 3.141592653589793;
    for (std::uint64_t x = 1; x <= n; ++x)
      for (std::uint64_t y = 1; y <= n; ++y)
        for (std::uint64_t z = 1; z <= n; ++z)
          p.e.at(x, y, z) = Cell{std::sin((static_cast<double>(x) * a) / static_cast<double>(p.e.edge - 1)),
                                 std::sin((static_cast<double>(y) * a) / static_cast<double>(p.e.edge - 1)),
                                 0.0, 0.0};
    const KernelArgs args = p.kernel_args();
    ASSERT_TRUE(tables.kernels->update_h(args));
    EXPECT_EQ(snapshot(s().e), snapshot(p.e)) << "E, n = " << n;
    EXPECT_EQ(snapshot(s().h), snapshot(p.h)) << "H, n = " << n;
    if (n < 48) continue;
    const StandingWave& wave = wave_of(*solver_);
    EXPECT_EQ(bits(wave.energy_init()), bits(tables.energy->total_energy(args))) << "n = " << n;
    const std::uint64_t c = StandingWave::nodes_per_axis(n);
    ASSERT_EQ(wave.validation_count(), c * c * c);
    for (std::uint64_t xi = 0; xi < c; ++xi)
      for (std::uint64_t yi = 0; yi < c; ++yi)
        for (std::uint64_t zi = 0; zi < c; ++zi) {
          const double node = tables.energy->node_energy(args, StandingWave::node_coordinate(xi),
                                                         StandingWave::node_coordinate(yi),
                                                         StandingWave::node_coordinate(zi));
          ASSERT_EQ(bits(wave.validation_nodes()[(xi * c + yi) * c + zi]), bits(node)) << n << ": " << xi << yi << zi;
        }
  }
}

INSTANTIATE_TEST_SUITE_P(AllIsas, StandingWaveTest, ::testing::Values("sse2", "avx", "avx2", "fma"),
                         testing::isa_param_name);

// Kernel entries the processor refuses (ud2 with GCC and clang on x86-64), in
// place of an instruction set it lacks.
bool refused_step(const KernelArgs&) { __builtin_trap(); }
bool refused_rows(const KernelArgs&, std::uint64_t, std::uint64_t, std::uint64_t) { __builtin_trap(); }
double refused_node(const KernelArgs&, std::uint64_t, std::uint64_t, std::uint64_t) { __builtin_trap(); }
double refused_total(const KernelArgs&) { __builtin_trap(); }
double refused_energy_rows(const KernelArgs&, std::uint64_t, std::uint64_t, std::uint64_t, double) {
  __builtin_trap();
}
constexpr KernelTable kRefusedKernels{&refused_step, &refused_step, &refused_rows, &refused_step};
constexpr EnergyTable kRefusedEnergy{&refused_node, &refused_total, &refused_energy_rows};

// Every kernel call of both workloads answers a refused instruction with the
// error value and leaves nothing behind: the set-up holds heap buffers while it
// calls the kernels, and the leak checker of the sanitizer build fails this
// test if the guard's jump skipped their release.
TEST(RefusedKernels, EveryCallReportsTheIllegalInstruction) {
  testing::FpControlGuard fp_guard;
  // n = 64: the set-up's row pass and sample nodes; n = 1: its whole-array branch.
  for (const std::uint64_t n : {64u, 1u}) {
    FieldStorage fields;
    ASSERT_TRUE(fields.allocate(FieldParams{false, n, 0.01}).ok());
    StandingWave wave;
    EXPECT_TRUE(wave.initialize(fields, kRefusedKernels, sse2::kEnergy).is_illegal_instruction()) << n;
    EXPECT_TRUE(wave.initialize(fields, sse2::kKernels, kRefusedEnergy).is_illegal_instruction()) << n;
    EXPECT_TRUE(run_step(kRefusedKernels, fields, 0).is_illegal_instruction()) << n;
  }
  FieldStorage fields;
  ASSERT_TRUE(fields.allocate(FieldParams{false, 64, 0.01}).ok());
  StandingWave wave;
  ASSERT_TRUE(wave.initialize(fields, sse2::kKernels, sse2::kEnergy).ok());
  EXPECT_TRUE(wave.verify_step(fields, kRefusedEnergy, 0).is_illegal_instruction());
  EXPECT_TRUE(wave.verify_final(fields, kRefusedEnergy, 0).is_illegal_instruction());
  // The good kernels still run afterwards, and a refusal is no ordinary failure.
  EXPECT_TRUE(run_step(sse2::kKernels, fields, 0).ok());
  EXPECT_TRUE(wave.verify_step(fields, sse2::kEnergy, 0).ok());
  EXPECT_FALSE(OptError::fail("x").is_illegal_instruction());

  SoftGaussian pulse;
  ASSERT_TRUE(pulse.initialize(fields).ok());
  EXPECT_TRUE(pulse.verify_step(fields, kRefusedEnergy, 0, 0).is_illegal_instruction());
}

}  // namespace
}  // namespace solver
