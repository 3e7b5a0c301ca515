#include "platform/memory.h"

#include <gtest/gtest.h>

#include <optional>

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

TEST(Meminfo, HugePagePoolIsFreePagesTimesTheirSize) {
  EXPECT_EQ(huge_page_pool_bytes("HugePages_Total: 12\nHugePages_Free: 10\nHugepagesize: 2048 kB\n"), 10 * kTwoMiB);
  // None free is an answer; a system without the pool's fields gives none.
  EXPECT_EQ(huge_page_pool_bytes("HugePages_Free:       0\nHugepagesize:       2048 kB\n"), 0u);
  EXPECT_EQ(huge_page_pool_bytes("MemTotal: 1024 kB\nHugepagesize: 2048 kB\n"), std::nullopt);
  EXPECT_EQ(huge_page_pool_bytes("HugePages_Free: 10\n"), std::nullopt);
  EXPECT_EQ(huge_page_pool_bytes("HugePages_Free: 18446744073709551615\nHugepagesize: 1048576 kB\n"), UINT64_MAX);
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
int available_reads = 0;
std::uint64_t sixteen_gib() {
  ++available_reads;
  return 16 * kGiB;
}
std::uint64_t unknown() { return 0; }
std::uint64_t tiny() { return 200 << 20; }

TEST(GrantLedger, RefusesWhatTheAvailableMemoryCannotBack) {
  available_reads = 0;
  GrantLedger ledger;
  EXPECT_EQ(ledger.limit(), std::nullopt);
  const std::uint64_t usable = GrantLedger::usable(16 * kGiB);
  EXPECT_LT(usable, 16 * kGiB);
  EXPECT_EQ(usable, 16 * kGiB - 16 * kGiB / 50);  // a fiftieth kept back
  // Two fields of 6 GiB fit, a third does not, whatever the system says later.
  EXPECT_TRUE(ledger.grant(6 * kGiB, &sixteen_gib));
  EXPECT_TRUE(ledger.grant(6 * kGiB, &sixteen_gib));
  EXPECT_FALSE(ledger.grant(6 * kGiB, &sixteen_gib));
  EXPECT_EQ(available_reads, 1);
  EXPECT_EQ(ledger.limit(), usable);
  // A refusal counts nothing; a release makes room again.
  EXPECT_TRUE(ledger.grant(usable - 12 * kGiB, &sixteen_gib));
  EXPECT_FALSE(ledger.grant(1, &sixteen_gib));
  ledger.release(6 * kGiB);
  EXPECT_TRUE(ledger.grant(6 * kGiB, &sixteen_gib));
  // Sizes near 2^64 must not wrap the sum into a small count.
  ledger.release(UINT64_MAX);
  EXPECT_FALSE(ledger.grant(UINT64_MAX, &sixteen_gib));
  EXPECT_TRUE(ledger.grant(usable, &sixteen_gib));
  EXPECT_FALSE(ledger.grant(UINT64_MAX - usable + 2, &sixteen_gib));
}

TEST(GrantLedger, UnknownOrTinyAvailableMemory) {
  GrantLedger open;
  EXPECT_TRUE(open.grant(UINT64_MAX, &unknown));
  EXPECT_TRUE(open.grant(UINT64_MAX, &unknown));
  EXPECT_EQ(open.limit(), std::nullopt);  // unknown: no limit, not a limit of 0
  open.release(UINT64_MAX);
  // Less than the margin: nothing is granted.
  GrantLedger closed;
  EXPECT_EQ(GrantLedger::usable(200 << 20), 0u);
  EXPECT_FALSE(closed.grant(64, &tiny));
  EXPECT_TRUE(closed.grant(0, &tiny));
  EXPECT_EQ(closed.limit(), 0u);
}

TEST(GrantLedger, MarginIsAFiftiethWithAFloor) {
  constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
  // Small machines keep 256 MiB back, large ones 2 %: a 1 TiB machine keeps
  // about 20 GiB.
  EXPECT_EQ(GrantLedger::usable(kGiB), kGiB - 256 * kMiB);
  EXPECT_EQ(GrantLedger::usable(12800 * kMiB), 12800 * kMiB - 256 * kMiB);
  EXPECT_EQ(GrantLedger::usable(1024 * kGiB), 1024 * kGiB - 1024 * kGiB / 50);
  EXPECT_GT(GrantLedger::usable(1024 * kGiB), 1000 * kGiB);
  EXPECT_EQ(GrantLedger::usable(256 * kMiB), 0u);
  EXPECT_EQ(GrantLedger::usable(0), 0u);
  EXPECT_EQ(GrantLedger::usable(UINT64_MAX), UINT64_MAX - UINT64_MAX / 50);
  // The budget is the ledger's figure where there is one (its margin taken
  // already), else what is available less the same margin: never every free
  // byte. Unknown and nothing to spare stay apart.
  EXPECT_EQ(field_memory_budget(5 * kGiB, 6 * kGiB), 5 * kGiB);
  EXPECT_EQ(field_memory_budget(UINT64_MAX, 6 * kGiB), GrantLedger::usable(6 * kGiB));
  EXPECT_EQ(field_memory_budget(UINT64_MAX, 0), std::nullopt);
  EXPECT_EQ(field_memory_budget(UINT64_MAX, 200 * kMiB), std::uint64_t{0});
  EXPECT_EQ(field_memory_budget(0, 6 * kGiB), 0u);
}

TEST(GrantLedger, CapacityFixesTheLimitTheGrantsThenKeep) {
  available_reads = 0;
  GrantLedger ledger;
  const std::uint64_t usable = GrantLedger::usable(16 * kGiB);
  EXPECT_EQ(ledger.capacity(&sixteen_gib), usable);
  EXPECT_TRUE(ledger.grant(usable, &sixteen_gib));
  EXPECT_FALSE(ledger.grant(1, &sixteen_gib));
  EXPECT_EQ(ledger.capacity(&sixteen_gib), usable);  // the whole, not what is left
  EXPECT_EQ(available_reads, 1);
  GrantLedger open;
  EXPECT_EQ(open.capacity(&unknown), UINT64_MAX);
}

}  // namespace
}  // namespace platform
