// The real processor, clocks, memory and console. Results depend on the
// machine, so neutral answers (0, null, false) are accepted.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/animation.h"
#include "platform/console.h"
#include "platform/cpu.h"
#include "platform/memory.h"
#include "platform/timer.h"

namespace platform {
namespace {

TEST(CpuBackend, ProcessorAnswersAreWellFormed) {
  const std::string brand = cpu_brand_string();
  EXPECT_LE(brand.size(), 48u);
  EXPECT_EQ(brand.find('\0'), std::string::npos);
  const CpuInfo info = identify_cpu();
  EXPECT_EQ(info.brand, brand);
  EXPECT_EQ(info.vendor, vendor_from_brand(brand));
  EXPECT_LE(info.family, 0xFu);
  EXPECT_LE(info.model, 0xFFu);
  // Every 64-bit x86 processor has SSE2.
  const CpuFeatures features = read_cpu_features();
  EXPECT_TRUE(features.sse2);
  EXPECT_EQ(cpu_feature_list(), cpu_feature_list(features));
  // AVX2 counts only with AVX state, which AVX needs too.
  if (features.avx2) {
    EXPECT_TRUE(features.avx);
  }
}

TEST(TimerBackend, CountersAdvanceAndTimersDescribeThemselves) {
  const TimerInfo fast = query_fast_timer();
  EXPECT_GE(fast.report_frequency, 0);
  EXPECT_EQ(fast.underlying_frequency, fast.report_frequency);
  const std::int64_t a = read_fast_counter();
  const std::int64_t b = read_fast_counter();
  EXPECT_LE(a, b);
  const std::uint64_t c = read_coarse_counter();
  const std::uint64_t d = read_coarse_counter();
  EXPECT_LE(c, d);

  const TimerInfo coarse = query_coarse_timer();
  EXPECT_EQ(coarse.report_frequency, 1000);
  EXPECT_GE(coarse.underlying_frequency, 0);
  EXPECT_EQ(coarse.source, TimerSource::kUnknown);

  const TscInfo tsc = query_tsc_info();
  EXPECT_GE(tsc.tsc_frequency, 0);
  EXPECT_GE(tsc.crystal_frequency, 0);
  // Whatever the verdict, asking must be possible.
  (void)is_hwbot_compliant(fast);
  EXPECT_FALSE(counter_would_overflow(fast, a, 1002));
}

TEST(MemoryBackend, AlignedBlocks) {
  for (const std::uint64_t size : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{63}, std::uint64_t{1000},
                                   std::uint64_t{1} << 20}) {
    void* block = allocate_aligned(size);
    if (size != 0) {
      ASSERT_NE(block, nullptr) << size;
      std::memset(block, 0xA5, static_cast<std::size_t>(size));
    }
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 64, 0u) << size;
    free_aligned(block);
  }
  free_aligned(nullptr);
  // A size that cannot be rounded is refused.
  EXPECT_EQ(allocate_aligned(UINT64_MAX), nullptr);
}

TEST(MemoryBackend, LargePagesOrNull) {
  const std::uint64_t minimum = large_page_minimum();
  EXPECT_EQ(large_page_minimum(), minimum);
  // Often no pages are reserved: null is the neutral answer.
  void* block = allocate_large_pages(1);
  if (block != nullptr) {
    EXPECT_NE(minimum, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % minimum, 0u);
    std::memset(block, 0x5A, static_cast<std::size_t>(minimum));
  }
  free_large_pages(block);
  free_large_pages(nullptr);
  EXPECT_EQ(allocate_large_pages(0), nullptr);
  EXPECT_EQ(allocate_large_pages(UINT64_MAX), nullptr);
  (void)available_physical_memory();
}

TEST(ConsoleBackend, NothingReachesAFile) {
  // Captured output goes to a file, which is no terminal.
  testing::internal::CaptureStdout();
  cursor_up(0);
  cursor_up(3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(AnimationBackend, SeventeenFramesOnAFile) {
  int pauses = 0;
  testing::internal::CaptureStdout();
  play_fish_animation([&pauses](std::chrono::milliseconds) { ++pauses; });
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(pauses, 16);
  EXPECT_EQ(out.find('\033'), std::string::npos);
  std::string expected;
  for (int round = 0; round < 4; ++round) {
    for (const std::string_view frame : fish_frames()) expected.append(frame);
  }
  expected.append(fish_frames()[3]);
  expected.push_back('\n');
  EXPECT_EQ(out.size(), 17u * 206u + 1u);
  EXPECT_EQ(out, expected);
}

}  // namespace
}  // namespace platform
