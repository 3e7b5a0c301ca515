#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "solver/field_state.h"
#include "solver/soft_gaussian.h"
#include "solver/standing_wave.h"
#include "tests/solver/solver_test_support.h"

namespace solver {
namespace {

bool all_zero(const FieldArray& a) {
  return testing::snapshot(a) == std::vector<unsigned char>(a.cells.count() * sizeof(Cell), 0);
}

TEST(FieldStorage, AllocateGivesZeroedArraysAndExactConstants) {
  FieldStorage fields;
  EXPECT_EQ(fields.updates_per_step(), 0u);
  ASSERT_TRUE(fields.allocate(FieldParams{false, 64, 0.01}).ok());
  const FieldState& s = fields.state();
  EXPECT_EQ(s.e.edge, 66u);
  EXPECT_EQ(s.h.edge, 66u);
  EXPECT_EQ(s.e.cells.count(), 287496u);
  EXPECT_EQ(s.h.cells.count(), 287496u);
  EXPECT_TRUE(all_zero(s.e));  // pad lanes and halo included
  EXPECT_TRUE(all_zero(s.h));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(s.e.cells.data()) % 64, 0u);
  EXPECT_EQ(s.time_step, 0.01 * 0.5);
  EXPECT_EQ(s.cell_volume, std::pow(0.01, 3.0));
  EXPECT_EQ(s.e_coefficient, 0.5);
  EXPECT_EQ(s.h_coefficient, 0.5);
  EXPECT_EQ(fields.updates_per_step(), 524288u);

  // A second allocate replaces the pair (under AddressSanitizer a leaked first
  // pair shows up here).
  fields.state().e.at(3, 3, 3).x = 1.0;
  ASSERT_TRUE(fields.allocate(FieldParams{false, 20, 0.01}).ok());
  EXPECT_EQ(fields.state().e.edge, 22u);
  EXPECT_EQ(fields.state().h.cells.count(), 22u * 22u * 22u);
  EXPECT_TRUE(all_zero(fields.state().e));
  EXPECT_EQ(fields.updates_per_step(), 16000u);
}

TEST(FieldStorage, HArrayStartsAwayFromTheEArraysPlaceInThePage) {
  // Both blocks are 2 MiB-aligned from n = 64 on; an H cell at the same place
  // in its page as the E cell it is computed from made every step several
  // times slower. The stagger must keep cells 64-byte aligned and be given
  // back with the block.
  for (std::uint64_t n : {64, 128}) {
    FieldStorage fields;
    ASSERT_TRUE(fields.allocate(FieldParams{false, n, 0.01}).ok());
    const auto e = reinterpret_cast<std::uintptr_t>(fields.state().e.cells.data());
    const auto h = reinterpret_cast<std::uintptr_t>(fields.state().h.cells.data());
    EXPECT_EQ(h % 64, 0u);
    EXPECT_EQ((h - e) % 4096, kFieldStaggerBytes) << "n = " << n;
    EXPECT_TRUE(all_zero(fields.state().h));
  }
  // The blocks the storage obtains are the ones the memory plan counts.
  for (std::uint64_t n : {1, 16, 64}) {
    FieldStorage fields;
    ASSERT_TRUE(fields.allocate(FieldParams{false, n, 0.01}).ok());
    const FieldBlocks planned = field_blocks(n);
    EXPECT_EQ(fields.state().e.cells.block_bytes(), planned.e_bytes) << "n = " << n;
    EXPECT_EQ(fields.state().h.cells.block_bytes(), planned.h_bytes) << "n = " << n;
    EXPECT_EQ(field_request_per_thread(n), field_memory_per_thread(n) + kFieldStaggerBytes);
  }
  EXPECT_EQ(field_request_per_thread(std::numeric_limits<std::uint64_t>::max() / 2),
            std::numeric_limits<std::uint64_t>::max());
  // A lead that would break the alignment or overflow gets no storage.
  EXPECT_EQ(CellBuffer(8, false, 32).data(), nullptr);
  EXPECT_EQ(CellBuffer(8, false, std::numeric_limits<std::uint64_t>::max() - 63).data(), nullptr);
  const CellBuffer led(8, false, 128);
  ASSERT_NE(led.data(), nullptr);
  EXPECT_EQ(led.count(), 8u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(led.data()) % 64, 0u);
}

TEST(FieldStorage, FailedAllocationsReportAndNeverCrash) {
  // (n + 2)³ cells or their bytes past 64 bits, n + 2 itself wrapping, and a
  // count that fits but that no allocator can satisfy.
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  for (std::uint64_t n : {std::uint64_t{1} << 22, std::uint64_t{3} << 20, kMax, kMax - 1,
                          std::uint64_t{100000}}) {
    FieldStorage fields;
    EXPECT_EQ(fields.allocate(FieldParams{false, n, 0.01}).message(), "field allocation failed");
    EXPECT_FALSE(fields.ready());
    EXPECT_EQ(run_step(sse2::kKernels, fields, 2).message(), "solver H step error in thread 2");
  }
  EXPECT_EQ(cube_count(2642245), 18446724184312856125u);  // the largest cube below 2^64
  EXPECT_FALSE(cube_count(2642246).has_value());

  // The workloads on top of failed storage fail their checks instead of crashing.
  testing::FpControlGuard fp_guard;
  const FieldParams huge{false, std::uint64_t{1} << 22, 0.01};
  Sse2StandingWave wave(4);
  EXPECT_TRUE(wave.allocate(huge).failed());
  EXPECT_EQ(wave.initialize().message(), "failed to initalize H field");
  EXPECT_TRUE(wave.verify_final(0).failed());
  Sse2SoftGaussian pulse(5);
  EXPECT_TRUE(pulse.allocate(huge).failed());
  EXPECT_TRUE(pulse.initialize().ok());
  EXPECT_TRUE(pulse.pre_step(0).ok());
  // 0/0: the C library spells the NaN "nan" or "-nan".
  const std::string message = pulse.verify_step(0).message();
  EXPECT_EQ(message.substr(0, message.rfind(' ') + 1),
            "\nenergy ratio failure in thread 5\nenergy_acc = 0.000000\nenergy_calc = "
            "0.000000\nratio = ");
  EXPECT_EQ(message.substr(message.size() - 3), "nan");
}

TEST(FieldStorage, LargePagesGiveZeroedArraysOrTheAllocationMessage) {
  // Depends on the machine's large-page pool; there is no fallback either way.
  FieldStorage fields;
  const OptError result = fields.allocate(FieldParams{true, 16, 0.01});
  if (result.failed()) {
    EXPECT_EQ(result.message(), "field allocation failed");
  } else {
    EXPECT_TRUE(fields.state().e.cells.large_pages());
    EXPECT_TRUE(all_zero(fields.state().e));
  }
}

}  // namespace
}  // namespace solver
