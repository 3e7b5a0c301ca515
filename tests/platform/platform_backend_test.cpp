// The real processor, clocks, memory and console. Results depend on the
// machine, so neutral answers (0, null, false) are accepted.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/animation.h"
#include "platform/console.h"
#include "platform/cpu.h"
#include "platform/memory.h"
#include "platform/timer.h"

namespace platform {
namespace {

TEST(CpuBackend, ProcessorAnswersAreWellFormed) {
  const CpuInfo info = identify_cpu();
  EXPECT_EQ(info.brand, cpu_brand_string());
  EXPECT_EQ(info.brand.find('\0'), std::string::npos);
  EXPECT_EQ(info.vendor, vendor_from_brand(info.brand));
  // Every 64-bit x86 processor has SSE2.
  EXPECT_TRUE(read_cpu_features().sse2);
  EXPECT_NE(cpu_feature_list().find("SSE2"), std::string::npos);
}

TEST(TimerBackend, CountersAdvanceAndTimersDescribeThemselves) {
  const TimerInfo fast = query_fast_timer();
  EXPECT_GE(fast.report_frequency, 0);
  const std::int64_t a = read_fast_counter();
  EXPECT_LE(a, read_fast_counter());
  const std::uint64_t c = read_coarse_counter();
  EXPECT_LE(c, read_coarse_counter());
  const TimerInfo coarse = query_coarse_timer();
  EXPECT_EQ(coarse.report_frequency, 1000);
  EXPECT_GE(coarse.underlying_frequency, 0);
  EXPECT_GE(query_tsc_info().tsc_frequency, 0);
  (void)is_hwbot_compliant(fast);
  EXPECT_FALSE(counter_would_overflow(fast, a, 1002));
}

TEST(MemoryBackend, AlignedAndLargePageBlocks) {
  for (const std::uint64_t size : {1u, 63u, 1000u, 1u << 20}) {
    void* block = allocate_aligned(size);
    ASSERT_NE(block, nullptr) << size;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 64, 0u) << size;
    std::memset(block, 0xA5, size);
    free_aligned(block);
  }
  free_aligned(nullptr);
  EXPECT_EQ(allocate_aligned(UINT64_MAX), nullptr);

  // Usually no large pages are reserved: null is the neutral answer.
  const std::uint64_t minimum = large_page_minimum();
  void* block = allocate_large_pages(1);
  if (block != nullptr) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % minimum, 0u);
    std::memset(block, 0x5A, static_cast<std::size_t>(minimum));
  }
  free_large_pages(block);
  free_large_pages(nullptr);
  EXPECT_EQ(allocate_large_pages(UINT64_MAX), nullptr);
}

#ifndef _WIN32
// The "THPeligible" flag of the mapping that holds `address`, -1 when the
// system does not report one.
int huge_page_eligible(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  bool inside = false;
  std::string line;
  while (std::getline(smaps, line)) {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
    char dash = 0;
    std::istringstream range(line);
    if (range >> std::hex >> begin >> dash >> end && dash == '-' && line.find(':') > line.find(' ')) {
      inside = begin <= at && at < end;
    } else if (inside && line.rfind("THPeligible:", 0) == 0) {
      return std::stoi(line.substr(12));
    }
  }
  return -1;
}

std::string transparent_huge_page_mode() {
  std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string modes;
  std::getline(in, modes);
  const auto open = modes.find('[');
  const auto close = modes.find(']');
  return open == std::string::npos || close < open ? "" : modes.substr(open + 1, close - open - 1);
}

TEST(MemoryBackend, FieldSizedBlocksMayUseTransparentHugePages) {
  constexpr std::uint64_t kHugePage = std::uint64_t{2} << 20;
  const std::uint64_t size = 3 * kHugePage + 96;
  void* block = allocate_aligned(size);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % kHugePage, 0u);
  std::memset(block, 0, size);
  const std::string mode = transparent_huge_page_mode();
  const int eligible = huge_page_eligible(block);
  if (eligible >= 0 && (mode == "madvise" || mode == "always")) {
    EXPECT_EQ(eligible, 1) << "mode " << mode;
  }
  free_aligned(block);

  // Below one huge page the block stays an ordinary heap block.
  void* small = allocate_aligned(kHugePage - 64);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(small) % 64, 0u);
  free_aligned(small);
}
#endif

TEST(ConsoleBackend, AFileGetsNoCursorMovesAndSeventeenFrames) {
  // Captured output goes to a file, which is no terminal.
  testing::internal::CaptureStdout();
  cursor_up(0);
  cursor_up(3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  int pauses = 0;
  testing::internal::CaptureStdout();
  play_fish_animation([&pauses](std::chrono::milliseconds) { ++pauses; });
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(pauses, 16);
  std::string expected;
  for (int i = 0; i < 16; ++i) expected.append(fish_frames()[i % 4]);
  EXPECT_EQ(out, expected + std::string(fish_frames()[3]) + "\n");
}

}  // namespace
}  // namespace platform
