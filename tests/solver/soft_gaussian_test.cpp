#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "solver/factory.h"
#include "solver/format_fixed.h"
#include "solver/soft_gaussian.h"
#include "tests/solver/solver_test_support.h"

namespace solver {
namespace {

using testing::energy_acc_of;
using testing::snapshot;
using testing::state_of;

TEST(RatioBands, StrictThresholdLookup) {
  EXPECT_EQ(ratio_bands().size(), 35u);
  const auto expect_band = [](std::uint64_t t, double tolerance, double expected) {
    EXPECT_EQ(ratio_band_for(t).tolerance, tolerance) << t;
    EXPECT_EQ(ratio_band_for(t).expected_ratio, expected) << t;
  };
  expect_band(0, 0.1, 1.33333);  // no row qualifies: the fallback
  expect_band(1, 0.1, 1.33333);  // the threshold-0 row
  expect_band(3, 0.05, 1.34695);
  expect_band(26, 0.025, 1.51619);
  expect_band(37, 0.025, 1.51892);
  expect_band(100, 0.025, 1.51892);
  expect_band(101, 0.01, 1.51955);
  expect_band(117, 0.01, 1.51904);
}

class SoftGaussianTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ZELVO_SKIP_UNLESS_SUPPORTED(GetParam());
    solver_ = make_solver("soft_gaussian", GetParam(), 6);
    ASSERT_TRUE(solver_->allocate(FieldParams{false, 64, 0.01}).ok());
    ASSERT_TRUE(solver_->initialize().ok());
  }
  FieldState& s() { return state_of(*solver_); }
  double ratio() { return energy_acc_of(*solver_) / sse2::kEnergy.total_energy(s().kernel_args()); }

  testing::FpControlGuard fp_guard_;
  std::unique_ptr<Solver> solver_;
};

TEST_P(SoftGaussianTest, PulseInjection) {
  ASSERT_TRUE(solver_->pre_step(0).ok());
  const double first = s().cell_volume * 0.5 * 2.0 * std::pow(200.0 * std::exp(-8.0) * 0.005, 2.0);
  EXPECT_NEAR(energy_acc_of(*solver_), first, first * 1e-12);
  EXPECT_NEAR(energy_acc_of(*solver_), 1.125e-13, 0.001e-13);
  // At t = 20 the pulse is exactly 200, times the 0.005 coefficients, at (33, 33, 33).
  const Cell e_before = s().e.at(33, 33, 33);
  ASSERT_TRUE(solver_->pre_step(20).ok());
  EXPECT_EQ(s().e.at(33, 33, 33).z, e_before.z - 1.0);
  EXPECT_EQ(s().h.at(33, 33, 33).y, -1.0 - 200.0 * std::exp(-8.0) * 0.005);
  EXPECT_TRUE(solver_->verify_final(0).ok());
}

TEST_P(SoftGaussianTest, RatiosOfACorrectRunStayInTheirBands) {
  const std::map<std::uint64_t, std::string> known{{0, "1.333333"}, {1, "1.333333"}, {2, "1.346955"},
                                                   {3, "1.367138"}, {4, "1.379895"}, {10, "1.418445"},
                                                   {15, "1.458892"}};
  for (std::uint64_t t = 0; t < 200; ++t) {
    ASSERT_TRUE(solver_->pre_step(t).ok());
    ASSERT_TRUE(solver_->step().ok());
    ASSERT_TRUE(solver_->verify_step(t).ok()) << "iteration " << t;
    if (known.count(t) != 0) {
      EXPECT_EQ(format_fixed(ratio()), known.at(t)) << t;
    }
    if (t == 33 || t == 80 || t == 134) {
      EXPECT_NEAR(ratio(), 1.51925, 0.00045) << t;
    }
  }
}

TEST_P(SoftGaussianTest, RatioOutsideTheBandFailsWithTheMessage) {
  for (std::uint64_t t = 0; t < 5; ++t) {
    ASSERT_TRUE(solver_->pre_step(t).ok());
    ASSERT_TRUE(solver_->step().ok());
  }
  // Doubling every E value quadruples its energy; the ratio drops far out of its band.
  for (std::uint64_t i = 0; i < s().e.cells.count(); ++i) s().e.cells.data()[i].z *= 2.0;
  const OptError error = solver_->verify_step(4);
  EXPECT_EQ(error.message().rfind("\nenergy ratio failure in thread 6\nenergy_acc = 0.000000\n"
                                  "energy_calc = 0.000000\nratio = 0.",
                                  0),
            0u)
      << error.message();
}

INSTANTIATE_TEST_SUITE_P(AllIsas, SoftGaussianTest, ::testing::Values("sse2", "avx", "avx2", "fma"),
                         testing::isa_param_name);

// A long pulse run: the scalar variants must agree bit for bit, and the fused
// one too, since every product by 0.5 is exact.
TEST(SoftGaussianAcrossIsas, IdenticalFieldsAfterManySteps) {
  testing::FpControlGuard fp_guard;
  std::vector<unsigned char> reference_e, reference_h;
  for (const char* isa : {"sse2", "avx", "avx2", "fma"}) {
    if (check_isa_support(isa).failed()) continue;
    const std::unique_ptr<Solver> solver = make_solver("soft_gaussian", isa, 0);
    ASSERT_TRUE(solver->allocate(FieldParams{false, 24, 0.01}).ok());
    ASSERT_TRUE(solver->initialize().ok());
    for (std::uint64_t t = 0; t < 150; ++t) {
      ASSERT_TRUE(solver->pre_step(t).ok());
      ASSERT_TRUE(solver->step().ok());
    }
    if (reference_e.empty()) {
      reference_e = snapshot(state_of(*solver).e);
      reference_h = snapshot(state_of(*solver).h);
    }
    EXPECT_EQ(snapshot(state_of(*solver).e), reference_e) << isa;
    EXPECT_EQ(snapshot(state_of(*solver).h), reference_h) << isa;
  }
}

}  // namespace
}  // namespace solver
