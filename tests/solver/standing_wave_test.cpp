#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>

#include "solver/factory.h"
#include "solver/format_fixed.h"
#include "solver/standing_wave.h"
#include "tests/solver/solver_test_support.h"

namespace solver {
namespace {

using testing::fields_of;
using testing::snapshot;
using testing::standing_wave_of;

class StandingWaveTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ZELVO_SKIP_UNLESS_SUPPORTED(GetParam());
    solver_ = make_solver("standing_wave", GetParam(), 3);
    ASSERT_NE(solver_, nullptr);
  }
  void start(std::uint64_t n) {
    ASSERT_TRUE(solver_->allocate(FieldParams{false, n, 0.01}).ok());
    ASSERT_TRUE(solver_->initialize().ok());
  }
  FieldState& state() { return fields_of(*solver_).state(); }

  testing::FpControlGuard fp_guard_;
  std::unique_ptr<Solver> solver_;
};

TEST_P(StandingWaveTest, InitialStateAtSize64) {
  start(64);
  EXPECT_EQ(platform::fp_control() & (platform::kFlushToZero | platform::kDenormalsAreZero),
            platform::kFlushToZero | platform::kDenormalsAreZero);
  const double energy_init = standing_wave_of(*solver_).energy_init();
  EXPECT_EQ(format_fixed(energy_init), "0.128956");
  EXPECT_NEAR(energy_init, 0.1289555, 1e-7);
  const KernelArgs args = state().kernel_args();
  EXPECT_NEAR(sse2::kEnergy.node_energy(args, 17, 17, 17), 9.9475e-7, 1e-10);
  EXPECT_EQ(sse2::kEnergy.total_energy(args), energy_init);
  EXPECT_EQ(state().e.at(1, 5, 9).x, std::sin(2.0 * 3.141592653589793 / 65.0));
  EXPECT_EQ(state().e.at(7, 1, 9).y, std::sin(2.0 * 3.141592653589793 / 65.0));
  EXPECT_EQ(state().e.at(7, 1, 9).z, 0.0);
  EXPECT_EQ(StandingWave::nodes_per_axis(64), 2u);
}

TEST_P(StandingWaveTest, CorrectRunKeepsEveryBit) {
  start(64);
  const auto e_start = snapshot(state().e);
  for (std::uint64_t i = 0; i < 30; ++i) {
    ASSERT_TRUE(solver_->pre_step(i).ok());
    ASSERT_TRUE(solver_->step().ok());
    ASSERT_TRUE(solver_->verify_step(i).ok()) << i;
  }
  EXPECT_TRUE(solver_->verify_final(30).ok());
  // Unchanged fields: every node deviation is exactly 0 and the energy quotient exactly 1.
  EXPECT_EQ(snapshot(state().e), e_start);
  EXPECT_EQ(snapshot(state().h), std::vector<unsigned char>(e_start.size(), 0));
  EXPECT_EQ(sse2::kEnergy.total_energy(state().kernel_args()),
            standing_wave_of(*solver_).energy_init());
}

TEST_P(StandingWaveTest, CorruptedNodeIsCaughtWithTheMessage) {
  start(64);
  ASSERT_TRUE(solver_->step().ok());
  state().e.at(17, 17, 17).x *= 1.001;
  EXPECT_EQ(solver_->verify_step(1).message(),
            "\nnode verification failure in thread 3\ninit_val = 0.000001\ncalc_val = "
            "0.000001\nratio = 0.001000");
  // A node with no energy at all fails too (infinite deviation).
  state().e.at(17, 17, 17) = Cell{0.0, 0.0, 0.0, 0.0};
  EXPECT_TRUE(solver_->verify_step(2).failed());
}

TEST_P(StandingWaveTest, FinalEnergyQuotientBounds) {
  start(64);
  FieldState& s = state();
  // Scale E so the total energy changes by the factor f: the quotient is 1/f.
  const auto scale_energy = [&](double f) {
    const double r = std::sqrt(f);
    for (std::uint64_t i = 0; i < s.e.cells.count(); ++i) {
      s.e.cells.data()[i].x *= r;
      s.e.cells.data()[i].y *= r;
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
  EXPECT_EQ(StandingWave::nodes_per_axis(48), 1u);
  EXPECT_EQ(StandingWave::nodes_per_axis(8192), 510u);
}

INSTANTIATE_TEST_SUITE_P(AllIsas, StandingWaveTest,
                         ::testing::Values("sse2", "avx", "avx2", "fma"),
                         testing::isa_param_name);

}  // namespace
}  // namespace solver
