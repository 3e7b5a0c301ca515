#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>

#include "solver/field_state.h"
#include "solver/kernel_args.h"
#include "tests/solver/solver_test_support.h"

namespace solver {
namespace {

using testing::FpControlGuard;
using testing::Lcg;
using testing::snapshot;

struct KernelCase {
  const char* isa;
  const KernelTable* kernels;
};

std::string case_name(const ::testing::TestParamInfo<KernelCase>& info) { return info.param.isa; }
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const KernelCase& c, std::ostream* os) { *os << c.isa; }

// Straightforward loops in the documented evaluation order, built for the
// baseline: every variant must reproduce them.
void reference_step(FieldState& s) {
  const std::uint64_t n = s.e.edge - 2;
  const double kh = s.h_coefficient;
  for (std::uint64_t x = 1; x < n; ++x)
    for (std::uint64_t y = 1; y < n; ++y)
      for (std::uint64_t z = 1; z < n; ++z) {
        const Cell& c = s.e.at(x, y, z);
        const Cell& ex = s.e.at(x + 1, y, z);
        const Cell& ey = s.e.at(x, y + 1, z);
        const Cell& ez = s.e.at(x, y, z + 1);
        Cell& h = s.h.at(x, y, z);
        h.x -= kh * ((ey.z - c.z) - (ez.y - c.y));
        h.y -= kh * ((ez.x - c.x) - (ex.z - c.z));
        h.z -= kh * ((ex.y - c.y) - (ey.x - c.x));
      }
  const double ke = s.e_coefficient;
  for (std::uint64_t x = 2; x <= n; ++x)
    for (std::uint64_t y = 2; y <= n; ++y)
      for (std::uint64_t z = 2; z <= n; ++z) {
        const Cell& c = s.h.at(x, y, z);
        const Cell& hx = s.h.at(x - 1, y, z);
        const Cell& hy = s.h.at(x, y - 1, z);
        const Cell& hz = s.h.at(x, y, z - 1);
        Cell& e = s.e.at(x, y, z);
        e.x += ke * ((c.z - hy.z) - (c.y - hz.y));
        e.y += ke * ((c.x - hz.x) - (c.z - hx.z));
        e.z += ke * ((c.y - hx.y) - (c.x - hy.x));
      }
}

class KernelTest : public ::testing::TestWithParam<KernelCase> {
 protected:
  void SetUp() override { ZELVO_SKIP_UNLESS_SUPPORTED(GetParam().isa); }

  static void allocate(FieldStorage& fields, std::uint64_t n) {
    ASSERT_TRUE(fields.allocate(FieldParams{false, n, 0.01}).ok());
  }
  void step(FieldStorage& fields) {
    const KernelArgs args = fields.state().kernel_args();
    ASSERT_TRUE(GetParam().kernels->update_h(args));
    ASSERT_TRUE(GetParam().kernels->update_e(args));
  }

  FpControlGuard fp_guard_;
};

TEST_P(KernelTest, CurlFreeFieldStaysBitForBit) {
  FieldStorage fields;
  allocate(fields, 12);
  FieldState& s = fields.state();
  for (std::uint64_t x = 1; x <= 12; ++x)
    for (std::uint64_t y = 1; y <= 12; ++y)
      for (std::uint64_t z = 1; z <= 12; ++z)
        s.e.at(x, y, z) = Cell{std::sin(0.3 * static_cast<double>(x)),
                               std::cos(0.7 * static_cast<double>(y)), 0.0, 0.0};
  const auto e_before = snapshot(s.e);
  const auto h_before = snapshot(s.h);
  for (int i = 0; i < 10; ++i) step(fields);
  EXPECT_EQ(snapshot(s.e), e_before);
  EXPECT_EQ(snapshot(s.h), h_before);
}

TEST_P(KernelTest, SingleHzChangesExactlyFourEComponents) {
  FieldStorage fields;
  allocate(fields, 8);
  FieldState& s = fields.state();
  const double v = 0.75;
  s.h.at(4, 5, 3).z = v;
  ASSERT_TRUE(GetParam().kernels->update_e(s.kernel_args()));
  for (std::uint64_t x = 0; x < s.e.edge; ++x)
    for (std::uint64_t y = 0; y < s.e.edge; ++y)
      for (std::uint64_t z = 0; z < s.e.edge; ++z) {
        const Cell& c = s.e.at(x, y, z);
        const bool here = x == 4 && y == 5 && z == 3;
        const double ex = here ? 0.5 * v : (x == 4 && y == 6 && z == 3) ? -0.5 * v : 0.0;
        const double ey = here ? -0.5 * v : (x == 5 && y == 5 && z == 3) ? 0.5 * v : 0.0;
        ASSERT_EQ(c.x, ex) << x << "," << y << "," << z;
        ASSERT_EQ(c.y, ey) << x << "," << y << "," << z;
        ASSERT_EQ(c.z, 0.0);
        ASSERT_EQ(c.pad, 0.0);
      }
}

TEST_P(KernelTest, MatchesReferenceAndKeepsUnupdatedCells) {
  const std::uint64_t n = 9;
  FieldStorage fields;
  FieldStorage reference;
  allocate(fields, n);
  allocate(reference, n);
  Lcg lcg(42);
  testing::fill_random(fields.state().e, lcg);
  testing::fill_random(fields.state().h, lcg);
  std::memcpy(reference.state().e.cells.data(), fields.state().e.cells.data(),
              fields.state().e.cells.count() * sizeof(Cell));
  std::memcpy(reference.state().h.cells.data(), fields.state().h.cells.data(),
              fields.state().h.cells.count() * sizeof(Cell));
  const auto e_start = snapshot(fields.state().e);
  const auto h_start = snapshot(fields.state().h);
  for (int i = 0; i < 6; ++i) {
    step(fields);
    reference_step(reference.state());
  }
  // The coefficients are 0.5, so every product is exact and even the fused
  // multiply-add must give the reference bits.
  EXPECT_EQ(snapshot(fields.state().e), snapshot(reference.state().e));
  EXPECT_EQ(snapshot(fields.state().h), snapshot(reference.state().h));

  // E cells with a coordinate of 0, 1 or n+1 and H cells with a coordinate of 0
  // or n or n+1 are never written.
  const FieldState& s = fields.state();
  const auto unchanged = [](const FieldArray& a, const std::vector<unsigned char>& start,
                            std::uint64_t x, std::uint64_t y, std::uint64_t z) {
    const std::uint64_t i = z + a.edge * (y + a.edge * x);
    return std::memcmp(&a.cells.data()[i], &start[i * sizeof(Cell)], sizeof(Cell)) == 0;
  };
  for (std::uint64_t x = 0; x <= n + 1; ++x)
    for (std::uint64_t y = 0; y <= n + 1; ++y)
      for (std::uint64_t z = 0; z <= n + 1; ++z) {
        const auto on = [&](std::uint64_t a, std::uint64_t b) {
          return x == a || y == a || z == a || x == b || y == b || z == b;
        };
        if (on(1, 0) || on(n + 1, n + 1)) {
          EXPECT_TRUE(unchanged(s.e, e_start, x, y, z)) << "E " << x << "," << y << "," << z;
        }
        if (on(n, 0) || on(n + 1, n + 1)) {
          EXPECT_TRUE(unchanged(s.h, h_start, x, y, z)) << "H " << x << "," << y << "," << z;
        }
      }
}

TEST_P(KernelTest, CompletionTestAtTinyGrids) {
  const KernelTable& k = *GetParam().kernels;
  // n = 0: both loops start past their bound.
  FieldStorage empty;
  allocate(empty, 0);
  EXPECT_FALSE(k.update_h(empty.state().kernel_args()));
  EXPECT_FALSE(k.update_e(empty.state().kernel_args()));
  EXPECT_EQ(run_step(k, empty, 7).message(), "solver H step error in thread 7");
  // n = 1: nothing to update, but the loops count as completed.
  FieldStorage one;
  allocate(one, 1);
  Lcg lcg(1);
  testing::fill_random(one.state().e, lcg);
  const auto before = snapshot(one.state().e);
  EXPECT_TRUE(run_step(k, one, 0).ok());
  EXPECT_EQ(snapshot(one.state().e), before);
  // n = 2: the smallest grid that updates.
  FieldStorage two;
  allocate(two, 2);
  EXPECT_TRUE(run_step(k, two, 0).ok());
}

TEST_P(KernelTest, StepRefusesArraysWithoutStorage) {
  FieldStorage none;
  EXPECT_EQ(run_step(*GetParam().kernels, none, 3).message(), "solver H step error in thread 3");
}

INSTANTIATE_TEST_SUITE_P(AllIsas, KernelTest,
                         ::testing::Values(KernelCase{"sse2", &sse2::kKernels},
                                           KernelCase{"avx", &avx::kKernels},
                                           KernelCase{"avx2", &avx2::kKernels},
                                           KernelCase{"fma", &fma::kKernels}),
                         case_name);

}  // namespace
}  // namespace solver
