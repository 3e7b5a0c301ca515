#include "platform/memory.h"

#include <gtest/gtest.h>

#include "platform/meminfo.h"

namespace platform {
namespace {

constexpr std::uint64_t kTwoMiB = 2'097'152;

TEST(LargePageRounding, RoundsUpToWholePages) {
  EXPECT_EQ(round_to_large_pages(1, kTwoMiB), kTwoMiB);
  EXPECT_EQ(round_to_large_pages(kTwoMiB, kTwoMiB), kTwoMiB);
  EXPECT_EQ(round_to_large_pages(kTwoMiB + 1, kTwoMiB), 4'194'304u);
  EXPECT_EQ(round_to_large_pages(0, kTwoMiB), 0u);
  // No large pages: nothing to allocate.
  EXPECT_EQ(round_to_large_pages(1, 0), 0u);
  // Rounding past 2^64 fails instead of wrapping to a tiny block.
  EXPECT_EQ(round_to_large_pages(UINT64_MAX - kTwoMiB + 2, kTwoMiB), 0u);
  EXPECT_EQ(round_to_large_pages(UINT64_MAX - kTwoMiB + 1, kTwoMiB), UINT64_MAX - kTwoMiB + 1);
  EXPECT_EQ(round_to_large_pages(3001, 3000), 6000u);
}

TEST(Meminfo, FieldsInBytes) {
  const std::string_view meminfo =
      "MemTotal:        8130360 kB\n"
      "MemAvailable:    5462144 kB\n"
      "HugePages_Total:       7\n"
      "Hugepagesize:       2048 kB\n"
      "Bad:              12x kB\n"
      "Wide:  18014398509481984 kB\n"
      "Last:\t42 kB";
  EXPECT_EQ(meminfo_bytes(meminfo, "MemAvailable"), 5'462'144ull * 1024);
  EXPECT_EQ(meminfo_bytes(meminfo, "Hugepagesize"), kTwoMiB);
  EXPECT_EQ(meminfo_bytes(meminfo, "HugePages_Total"), 7u);  // no unit: as is
  EXPECT_EQ(meminfo_bytes(meminfo, "Last"), 42u * 1024);
  // Whole keys only; malformed or too large values and absent fields give 0.
  EXPECT_EQ(meminfo_bytes(meminfo, "Mem"), 0u);
  EXPECT_EQ(meminfo_bytes(meminfo, "Bad"), 0u);
  EXPECT_EQ(meminfo_bytes(meminfo, "Wide"), 0u);
  EXPECT_EQ(meminfo_bytes(meminfo, "Missing"), 0u);
}

}  // namespace
}  // namespace platform
