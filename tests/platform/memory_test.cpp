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
  EXPECT_EQ(round_to_large_pages(kTwoMiB, 0), 0u);
  // Rounding past 2^64 fails instead of wrapping to a tiny block.
  EXPECT_EQ(round_to_large_pages(UINT64_MAX, kTwoMiB), 0u);
  EXPECT_EQ(round_to_large_pages(UINT64_MAX - kTwoMiB + 2, kTwoMiB), 0u);
  EXPECT_EQ(round_to_large_pages(UINT64_MAX - kTwoMiB + 1, kTwoMiB), UINT64_MAX - kTwoMiB + 1);
  // A 1 GiB page size, and a minimum that is no power of two.
  EXPECT_EQ(round_to_large_pages(3, 1u << 30), 1u << 30);
  EXPECT_EQ(round_to_large_pages(3001, 3000), 6000u);
}

TEST(Meminfo, FieldsInBytes) {
  const std::string_view meminfo =
      "MemTotal:        8130360 kB\n"
      "MemFree:          207420 kB\n"
      "MemAvailable:    5462144 kB\n"
      "HugePages_Total:       0\n"
      "Hugepagesize:       2048 kB\n"
      "Bad:              12x kB\n"
      "Huge:  99999999999999999999 kB\n"
      "Wide:  18014398509481984 kB\n"
      "Last:\t42 kB";
  EXPECT_EQ(meminfo_bytes(meminfo, "MemAvailable"), 5'462'144ull * 1024);
  EXPECT_EQ(meminfo_bytes(meminfo, "Hugepagesize"), kTwoMiB);
  EXPECT_EQ(meminfo_bytes(meminfo, "MemTotal"), 8'130'360ull * 1024);
  // Counts without a unit are taken as they are.
  EXPECT_EQ(meminfo_bytes(meminfo, "HugePages_Total"), 0u);
  // Key must match whole: "Mem" is no field, "MemFree" is not "MemFreeX".
  EXPECT_EQ(meminfo_bytes(meminfo, "Mem"), 0u);
  EXPECT_EQ(meminfo_bytes(meminfo, "Huge"), 0u);
  // Malformed, too large, or the kB product too large: 0.
  EXPECT_EQ(meminfo_bytes(meminfo, "Bad"), 0u);
  EXPECT_EQ(meminfo_bytes(meminfo, "Wide"), 0u);
  // Last line without newline, tab separator.
  EXPECT_EQ(meminfo_bytes(meminfo, "Last"), 42u * 1024);
  EXPECT_EQ(meminfo_bytes(meminfo, "Missing"), 0u);
  EXPECT_EQ(meminfo_bytes("", "MemAvailable"), 0u);
}

}  // namespace
}  // namespace platform
