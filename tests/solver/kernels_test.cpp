#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <utility>

#include "solver/factory.h"
#include "solver/field_state.h"
#include "tests/solver/solver_test_support.h"

namespace solver {
namespace {

using testing::snapshot;

struct KernelCase {
  const char* isa;
  const KernelTable* kernels;
};
void PrintTo(const KernelCase& c, std::ostream* os) { *os << c.isa; }

// Plain loops in the documented evaluation order, built for the baseline.
void reference_step(FieldState& s) {
  const std::uint64_t n = s.e.edge - 2;
  for (std::uint64_t x = 1; x < n; ++x)
    for (std::uint64_t y = 1; y < n; ++y)
      for (std::uint64_t z = 1; z < n; ++z) {
        const Cell &c = s.e.at(x, y, z), &ex = s.e.at(x + 1, y, z), &ey = s.e.at(x, y + 1, z),
                   &ez = s.e.at(x, y, z + 1);
        Cell& h = s.h.at(x, y, z);
        h.x -= s.h_coefficient * ((ey.z - c.z) - (ez.y - c.y));
        h.y -= s.h_coefficient * ((ez.x - c.x) - (ex.z - c.z));
        h.z -= s.h_coefficient * ((ex.y - c.y) - (ey.x - c.x));
      }
  for (std::uint64_t x = 2; x <= n; ++x)
    for (std::uint64_t y = 2; y <= n; ++y)
      for (std::uint64_t z = 2; z <= n; ++z) {
        const Cell &c = s.h.at(x, y, z), &hx = s.h.at(x - 1, y, z), &hy = s.h.at(x, y - 1, z),
                   &hz = s.h.at(x, y, z - 1);
        Cell& e = s.e.at(x, y, z);
        e.x += s.e_coefficient * ((c.z - hy.z) - (c.y - hz.y));
        e.y += s.e_coefficient * ((c.x - hz.x) - (c.z - hx.z));
        e.z += s.e_coefficient * ((c.y - hx.y) - (c.x - hy.x));
      }
}

class KernelTest : public ::testing::TestWithParam<KernelCase> {
 protected:
  void SetUp() override { ZELVO_SKIP_UNLESS_SUPPORTED(GetParam().isa); }
  void allocate(std::uint64_t n) { ASSERT_TRUE(fields_.allocate(FieldParams{false, n, 0.01}).ok()); }
  void steps(int count) {
    for (int i = 0; i < count; ++i) ASSERT_TRUE(run_step(*GetParam().kernels, fields_, 0).ok());
  }
  FieldState& s() { return fields_.state(); }

  testing::FpControlGuard fp_guard_;
  FieldStorage fields_;
};

TEST_P(KernelTest, CurlFreeFieldStaysBitForBit) {
  allocate(12);
  for (std::uint64_t x = 1; x <= 12; ++x)
    for (std::uint64_t y = 1; y <= 12; ++y)
      for (std::uint64_t z = 1; z <= 12; ++z)
        s().e.at(x, y, z) = Cell{std::sin(0.3 * double(x)), std::cos(0.7 * double(y)), 0.0, 0.0};
  const auto e_before = snapshot(s().e);
  const auto h_before = snapshot(s().h);
  steps(10);
  EXPECT_EQ(snapshot(s().e), e_before);
  EXPECT_EQ(snapshot(s().h), h_before);
}

TEST_P(KernelTest, SingleHzChangesExactlyFourEComponents) {
  allocate(8);
  s().h.at(4, 5, 3).z = 0.75;
  ASSERT_TRUE(GetParam().kernels->update_e(s().kernel_args()));
  // E.x at (4,5,3) and (4,6,3), E.y at (4,5,3) and (5,5,3); nothing else.
  s().e.at(4, 5, 3).x -= 0.375;
  s().e.at(4, 6, 3).x += 0.375;
  s().e.at(4, 5, 3).y += 0.375;
  s().e.at(5, 5, 3).y -= 0.375;
  EXPECT_EQ(snapshot(s().e), std::vector<unsigned char>(s().e.cells.count() * sizeof(Cell), 0));
}

TEST_P(KernelTest, MatchesReferenceAndKeepsUnupdatedCells) {
  const std::uint64_t n = 9;
  allocate(n);
  testing::fill_random(s().e, 42);
  testing::fill_random(s().h, 43);
  FieldStorage reference;
  ASSERT_TRUE(reference.allocate(FieldParams{false, n, 0.01}).ok());
  testing::fill_random(reference.state().e, 42);
  testing::fill_random(reference.state().h, 43);
  const auto e_start = snapshot(s().e);
  const auto h_start = snapshot(s().h);
  steps(6);
  for (int i = 0; i < 6; ++i) reference_step(reference.state());
  // The coefficients are 0.5, so every product is exact and even the fused
  // multiply-add reproduces the reference bits.
  EXPECT_EQ(snapshot(s().e), snapshot(reference.state().e));
  EXPECT_EQ(snapshot(s().h), snapshot(reference.state().h));

  // E cells with a coordinate of 0, 1 or n+1 and H cells with one of 0, n or
  // n+1 are never written.
  const auto same = [](const FieldArray& a, const std::vector<unsigned char>& start, std::uint64_t x,
                       std::uint64_t y, std::uint64_t z) {
    return std::memcmp(&a.at(x, y, z), &start[(z + a.edge * (y + a.edge * x)) * sizeof(Cell)],
                       sizeof(Cell)) == 0;
  };
  for (std::uint64_t x = 0; x <= n + 1; ++x)
    for (std::uint64_t y = 0; y <= n + 1; ++y)
      for (std::uint64_t z = 0; z <= n + 1; ++z) {
        const auto any = [&](std::uint64_t v) { return x == v || y == v || z == v; };
        const bool edge = any(0) || any(n + 1);
        ASSERT_TRUE(!(edge || any(1)) || same(s().e, e_start, x, y, z)) << x << "," << y << "," << z;
        ASSERT_TRUE(!(edge || any(n)) || same(s().h, h_start, x, y, z)) << x << "," << y << "," << z;
      }
}

TEST_P(KernelTest, CompletionTestAtTinyGrids) {
  const KernelTable& k = *GetParam().kernels;
  // n = 0: both loops start past their bound.
  allocate(0);
  EXPECT_FALSE(k.update_h(s().kernel_args()));
  EXPECT_FALSE(k.update_e(s().kernel_args()));
  EXPECT_EQ(run_step(k, fields_, 7).message(), "solver H step error in thread 7");
  // n = 1: nothing to update, yet the loops count as completed.
  allocate(1);
  testing::fill_random(s().e, 1);
  const auto before = snapshot(s().e);
  EXPECT_TRUE(run_step(k, fields_, 0).ok());
  EXPECT_EQ(snapshot(s().e), before);
  allocate(2);
  EXPECT_TRUE(run_step(k, fields_, 0).ok());
  // Never allocated: refused, not crashed.
  EXPECT_EQ(run_step(k, FieldStorage{}, 3).message(), "solver H step error in thread 3");
}

// update_h run in blocks of rows, plane by plane (any split, overlapping or
// out-of-range bounds clipped), gives the bits of the whole step; an empty range
// touches nothing.
TEST_P(KernelTest, HStepInRowsMatchesWholeStep) {
  const KernelTable& k = *GetParam().kernels;
  const std::uint64_t n = 10;
  FieldStorage whole;
  ASSERT_TRUE(whole.allocate(FieldParams{false, n, 0.01}).ok());
  testing::fill_random(whole.state().e, 5);
  testing::fill_random(whole.state().h, 6);
  ASSERT_TRUE(k.update_h(whole.state().kernel_args()));
  for (std::uint64_t rows : {1u, 3u, 4u, 20u}) {
    allocate(n);
    testing::fill_random(s().e, 5);
    testing::fill_random(s().h, 6);
    const auto untouched = snapshot(s().h);
    EXPECT_TRUE(k.update_h_rows(s().kernel_args(), 3, 7, 7));
    EXPECT_TRUE(k.update_h_rows(s().kernel_args(), 3, n, n + 5));
    EXPECT_TRUE(k.update_h_rows(s().kernel_args(), 0, 1, n));
    EXPECT_TRUE(k.update_h_rows(s().kernel_args(), n, 1, n));
    EXPECT_EQ(snapshot(s().h), untouched);
    for (std::uint64_t x = 0; x <= n + 1; ++x) {
      for (std::uint64_t first = 0; first <= n; first += rows) {
        EXPECT_TRUE(k.update_h_rows(s().kernel_args(), x, first, first + rows)) << rows << " " << first;
      }
    }
    EXPECT_EQ(snapshot(s().h), snapshot(whole.state().h)) << "rows " << rows;
    EXPECT_EQ(snapshot(s().e), snapshot(whole.state().e));
  }
  // n = 0 fails like the whole step.
  allocate(0);
  EXPECT_FALSE(k.update_h_rows(s().kernel_args(), 1, 1, 2));
}

// The fused step leaves the bits of update_h then update_e, whatever the
// coefficients (unequal and inexact, so the roundings and the fused multiply-add
// matter), on grids where some rows get only one half-step, on grids in cache
// and past the size where the vector loops add prefetch hints.
TEST_P(KernelTest, FusedStepMatchesHalfSteps) {
  const KernelTable& k = *GetParam().kernels;
  for (std::uint64_t n : {1u, 2u, 3u, 4u, 7u, 16u, 33u, 90u}) {
    for (const auto& [kh, ke] : {std::pair{0.5, 0.5}, std::pair{0.3, 0.7}}) {
      FieldStorage halves;
      ASSERT_TRUE(halves.allocate(FieldParams{false, n, 0.01}).ok());
      allocate(n);
      for (FieldState* f : {&halves.state(), &s()}) {
        testing::fill_random(f->e, 11 + n);
        testing::fill_random(f->h, 12 + n);
        f->h_coefficient = kh;
        f->e_coefficient = ke;
      }
      for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(k.update_h(halves.state().kernel_args()));
        ASSERT_TRUE(k.update_e(halves.state().kernel_args()));
        ASSERT_TRUE(k.step(s().kernel_args())) << "n = " << n;
      }
      EXPECT_EQ(snapshot(s().e), snapshot(halves.state().e)) << "n = " << n << ", kh = " << kh;
      EXPECT_EQ(snapshot(s().h), snapshot(halves.state().h)) << "n = " << n << ", kh = " << kh;
    }
  }
  // n = 0 fails as update_h does; arrays of different edges are refused untouched.
  allocate(0);
  EXPECT_FALSE(k.step(s().kernel_args()));
  allocate(4);
  testing::fill_random(s().e, 3);
  const auto before = snapshot(s().e);
  KernelArgs mismatched = s().kernel_args();
  mismatched.h_edge = 5;
  EXPECT_FALSE(k.step(mismatched));
  EXPECT_EQ(snapshot(s().e), before);
}

// The fused step in strips of any width gives the bits of the two half-steps:
// strips of one row, strips that leave a short last strip, one row short of
// all rows, all rows and more, the grid's own width and its neighbours; on
// grids smaller than a strip, odd ones, ones around their own strip width and
// ones with several strips and prefetch hints.
TEST_P(KernelTest, StripsOfAnyWidthMatchHalfSteps) {
  const KernelTable& k = *GetParam().kernels;
  for (std::uint64_t n : {1u, 2u, 3u, 4u, 7u, 16u, 41u, 89u}) {
    FieldStorage halves;
    ASSERT_TRUE(halves.allocate(FieldParams{false, n, 0.01}).ok());
    testing::fill_random(halves.state().e, 21 + n);
    testing::fill_random(halves.state().h, 22 + n);
    halves.state().h_coefficient = 0.3;
    halves.state().e_coefficient = 0.7;
    // 89 is its own width (at 90 the step above already runs two strips).
    const std::uint64_t own = fused_strip_rows(n + 2);
    ASSERT_EQ(halves.state().kernel_args().strip_rows, own);
    ASSERT_TRUE(k.update_h(halves.state().kernel_args()));
    ASSERT_TRUE(k.update_e(halves.state().kernel_args()));
    const auto e_want = snapshot(halves.state().e);
    const auto h_want = snapshot(halves.state().h);
    allocate(n);
    testing::fill_random(s().e, 21 + n);
    testing::fill_random(s().h, 22 + n);
    s().h_coefficient = 0.3;
    s().e_coefficient = 0.7;
    const auto e_start = snapshot(s().e);
    const auto h_start = snapshot(s().h);
    for (std::uint64_t rows : std::set<std::uint64_t>{0, 1, 2, 3, n - 1, n, n + 1, own - 1, own, own + 1}) {
      std::memcpy(s().e.cells.data(), e_start.data(), e_start.size());
      std::memcpy(s().h.cells.data(), h_start.data(), h_start.size());
      KernelArgs args = s().kernel_args();
      args.strip_rows = rows;
      ASSERT_TRUE(k.step(args)) << "n = " << n << ", rows " << rows;
      EXPECT_EQ(std::memcmp(s().e.cells.data(), e_want.data(), e_want.size()), 0) << "n = " << n << ", rows " << rows;
      EXPECT_EQ(std::memcmp(s().h.cells.data(), h_want.data(), h_want.size()), 0) << "n = " << n << ", rows " << rows;
    }
  }
  // Any edge gets a strip of at least one row.
  EXPECT_EQ(fused_strip_rows(0), 1u);
  EXPECT_EQ(fused_strip_rows(~std::uint64_t{0}), 1u);
}

INSTANTIATE_TEST_SUITE_P(AllIsas, KernelTest,
                         ::testing::Values(KernelCase{"sse2", &sse2::kKernels},
                                           KernelCase{"avx", &avx::kKernels},
                                           KernelCase{"fma", &fma::kKernels}),
                         [](const auto& info) { return std::string(info.param.isa); });

class WorkloadSteps : public ::testing::TestWithParam<KernelCase> {
 protected:
  void SetUp() override { ZELVO_SKIP_UNLESS_SUPPORTED(GetParam().isa); }
  testing::FpControlGuard fp_guard_;
};

// Every workload's step, as the solvers run it, leaves the bits the two
// separate half-steps of its kernels leave from the same fields: on a grid in
// cache and on one past the size where the vector loops add prefetch hints.
TEST_P(WorkloadSteps, FusedStepGivesTheBitsOfTheHalfSteps) {
  const char* isa = GetParam().isa;
  const KernelTable* kernels = GetParam().kernels;
  for (const char* workload : {"standing_wave", "soft_gaussian"}) {
    for (std::uint64_t n : {48u, 84u}) {
      const std::unique_ptr<Solver> solver = make_solver(workload, isa, 0);
      ASSERT_TRUE(solver->allocate(FieldParams{false, n, 0.01}).ok());
      ASSERT_TRUE(solver->initialize().ok());
      FieldStorage halves;
      ASSERT_TRUE(halves.allocate(FieldParams{false, n, 0.01}).ok());
      FieldState& run = testing::state_of(*solver);
      const std::size_t bytes = run.e.cells.count() * sizeof(Cell);
      for (std::uint64_t t = 0; t < 3; ++t) {
        ASSERT_TRUE(solver->pre_step(t).ok());
        std::memcpy(halves.state().e.cells.data(), run.e.cells.data(), bytes);
        std::memcpy(halves.state().h.cells.data(), run.h.cells.data(), bytes);
        ASSERT_TRUE(solver->step().ok());
        ASSERT_TRUE(kernels->update_h(halves.state().kernel_args()));
        ASSERT_TRUE(kernels->update_e(halves.state().kernel_args()));
        EXPECT_EQ(snapshot(run.e), snapshot(halves.state().e)) << workload << " n = " << n;
        EXPECT_EQ(snapshot(run.h), snapshot(halves.state().h)) << workload << " n = " << n;
      }
    }
  }
}

// The kernels behind each name: the avx2 solvers run the avx kernels.
INSTANTIATE_TEST_SUITE_P(AllIsas, WorkloadSteps,
                         ::testing::Values(KernelCase{"sse2", &sse2::kKernels}, KernelCase{"avx", &avx::kKernels},
                                           KernelCase{"avx2", &avx::kKernels}, KernelCase{"fma", &fma::kKernels}),
                         [](const auto& info) { return std::string(info.param.isa); });

struct EnergyCase {
  const char* isa;
  const EnergyTable* energy;
};
void PrintTo(const EnergyCase& c, std::ostream* os) { *os << c.isa; }

class EnergyTest : public ::testing::TestWithParam<EnergyCase> {
 protected:
  void SetUp() override { ZELVO_SKIP_UNLESS_SUPPORTED(GetParam().isa); }
  testing::FpControlGuard fp_guard_;
};

// The total is the node energies of cells 2..n added in x, y, z order into one
// accumulator, bit for bit, whatever shortcut the pass takes.
TEST_P(EnergyTest, TotalIsOrderedSumOfNodeEnergies) {
  const EnergyTable& energy = *GetParam().energy;
  for (std::uint64_t n : {1u, 2u, 3u, 11u}) {
    FieldStorage fields;
    ASSERT_TRUE(fields.allocate(FieldParams{false, n, 0.01}).ok());
    testing::fill_random(fields.state().e, 7 + n);
    testing::fill_random(fields.state().h, 8 + n);
    const KernelArgs args = fields.state().kernel_args();
    double sum = 0.0;
    for (std::uint64_t x = 2; x <= n; ++x)
      for (std::uint64_t y = 2; y <= n; ++y)
        for (std::uint64_t z = 2; z <= n; ++z) sum += energy.node_energy(args, x, y, z);
    const double total = energy.total_energy(args);
    EXPECT_EQ(std::memcmp(&total, &sum, sizeof(double)), 0) << "n = " << n << ": " << total << " vs " << sum;
  }
}

// Blocks of rows summed plane by plane in order, each continuing the previous
// sum, give the total's bits; ranges are clipped to 2..n and an empty one adds
// nothing.
TEST_P(EnergyTest, RowsInOrderGiveTheTotal) {
  const EnergyTable& energy = *GetParam().energy;
  for (std::uint64_t n : {2u, 9u}) {
    FieldStorage fields;
    ASSERT_TRUE(fields.allocate(FieldParams{false, n, 0.01}).ok());
    testing::fill_random(fields.state().e, 3 + n);
    testing::fill_random(fields.state().h, 4 + n);
    const KernelArgs args = fields.state().kernel_args();
    const double total = energy.total_energy(args);
    for (std::uint64_t rows : {1u, 2u, 5u, 40u}) {
      double sum = 0.0;
      for (std::uint64_t x = 0; x <= n + 2; ++x) {
        for (std::uint64_t first = 0; first <= n + 3; first += rows) {
          sum = energy.energy_rows(args, x, first, first + rows, sum);
        }
      }
      EXPECT_EQ(std::memcmp(&total, &sum, sizeof(double)), 0) << "n = " << n << ", rows " << rows;
    }
    EXPECT_EQ(energy.energy_rows(args, 2, 4, 4, 0.25), 0.25);
    EXPECT_EQ(energy.energy_rows(args, 2, n + 1, n + 9, 0.25), 0.25);
    EXPECT_EQ(energy.energy_rows(args, n + 1, 2, n, 0.25), 0.25);
    EXPECT_EQ(energy.energy_rows(args, 1, 2, n, 0.25), 0.25);
  }
}

INSTANTIATE_TEST_SUITE_P(AllIsas, EnergyTest,
                         ::testing::Values(EnergyCase{"sse2", &sse2::kEnergy},
                                           EnergyCase{"avx", &avx::kEnergy},
                                           EnergyCase{"avx2", &avx2::kEnergy}),
                         [](const auto& info) { return std::string(info.param.isa); });

}  // namespace
}  // namespace solver
