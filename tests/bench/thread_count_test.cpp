#include "bench/thread_count.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/meminfo.h"
#include "platform/memory.h"
#include "solver/field_memory.h"

namespace {

constexpr std::uint64_t kGiB = 1ull << 30;

TEST(ThreadCountTest, AutomaticCountFollowsCoresAndMemory) {
  using bench::choose_thread_count;
  using solver::field_memory_per_thread;
  // 8 cores, 16 GiB, grid 512 (8.09 GiB each): one fits.
  EXPECT_EQ(choose_thread_count(0, 8, 16 * kGiB, field_memory_per_thread(512)), 1u);
  // 8 cores, 64 GiB, grid 192: all cores.
  EXPECT_EQ(choose_thread_count(0, 8, 64 * kGiB, field_memory_per_thread(192)), 8u);
  // Not even one field set fits: the limit is ignored.
  EXPECT_EQ(choose_thread_count(0, 8, 64 * kGiB, field_memory_per_thread(8192)), 8u);
  // Unknown memory means no limit; known but nothing to spare is the case of
  // not even one fitting.
  EXPECT_EQ(choose_thread_count(0, 4, std::nullopt, field_memory_per_thread(64)), 4u);
  EXPECT_EQ(choose_thread_count(0, 4, 0, field_memory_per_thread(64)), 4u);
  // No cores known: one thread.
  EXPECT_EQ(choose_thread_count(0, 0, 64 * kGiB, field_memory_per_thread(64)), 1u);
  // A fit count beyond 32 bits saturates instead of wrapping to a small number.
  EXPECT_EQ(choose_thread_count(0, 6, (1ull << 32) * 10, 1), 6u);
}

// The /proc/meminfo text the fake reader serves, as the Linux backend reads it.
std::string meminfo_fixture;
std::uint64_t fixture_available() { return platform::meminfo_bytes(meminfo_fixture, "MemAvailable"); }
void set_available(std::uint64_t bytes) {
  meminfo_fixture = "MemTotal:       " + std::to_string(bytes / 1024 * 2) + " kB\nMemFree:          123456 kB\n" +
                    "MemAvailable:   " + std::to_string(bytes / 1024) + " kB\nHugepagesize:       2048 kB\n";
}

// The automatic count, composed as the running system composes it.
std::uint32_t automatic_count(platform::GrantLedger& ledger, std::uint32_t cores, std::uint64_t size) {
  const std::optional<std::uint64_t> budget =
      platform::field_memory_budget(ledger.capacity(&fixture_available), fixture_available());
  return bench::choose_thread_count(0, cores, budget, solver::field_request_per_thread(size));
}

// One worker's fields, granted as the field storage obtains them: E, then H,
// each a block of its own (the storage test checks that these are the sizes
// it asks for). False when either is refused.
bool grant_worker(platform::GrantLedger& ledger, std::uint64_t size) {
  const solver::FieldBlocks blocks = solver::field_blocks(size);
  return ledger.grant(blocks.e_bytes, &fixture_available) && ledger.grant(blocks.h_bytes, &fixture_available);
}

TEST(ThreadCountTest, AutomaticCountIsAlwaysGrantedByTheMemoryCheck) {
  struct Case {
    std::uint64_t available;
    std::uint32_t cores;
    std::uint64_t size;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {6 * kGiB, 2, 448, 1},         // 5.43 GiB fits in 6 GiB less the margin
      {8 * kGiB, 8, 256, 7},         // 1.02 GiB each: seven fit, all seven granted
      {1024 * kGiB, 256, 1024, 15},  // 64.4 GiB each
      {16 * kGiB, 8, 512, 1},
      // Two sets of the figure without H's lead fit in what the margin leaves,
      // two whole requests do not: one worker.
      {298082 * 1024, 2, 64, 1},
  };
  for (const Case& c : cases) {
    set_available(c.available);
    platform::GrantLedger ledger;
    const std::uint32_t t = automatic_count(ledger, c.cores, c.size);
    EXPECT_EQ(t, c.expected) << c.available << " bytes, size " << c.size;
    for (std::uint32_t i = 0; i < t; ++i) EXPECT_TRUE(grant_worker(ledger, c.size)) << i;
    EXPECT_FALSE(grant_worker(ledger, c.size));
  }

  // Over a sweep of machines, down to the byte at each edge: whatever memory
  // limits the count, every chosen worker gets its fields and one more would not.
  const std::uint64_t sizes[] = {16, 64, 192, 256, 448, 512, 640, 1024};
  for (std::uint64_t gib = 1; gib <= 96; gib += 5) {
    for (const std::uint64_t size : sizes) {
      for (std::uint64_t workers = 1; workers <= 3; ++workers) {
        // Just below and just above what `workers` whole requests need.
        const std::uint64_t need = workers * solver::field_request_per_thread(size);
        for (const std::uint64_t kib : {gib * 1024 * 1024 + 12345, (256 << 10) + (need - 1) / 1024,
                                        (256 << 10) + (need + 1023) / 1024}) {
          set_available(kib * 1024);
          platform::GrantLedger ledger;
          const std::uint32_t t = automatic_count(ledger, 64, size);
          if (ledger.capacity(&fixture_available) < solver::field_request_per_thread(size)) {
            EXPECT_EQ(t, 64u);  // not even one fits: the limit is ignored
            continue;
          }
          std::uint32_t granted = 0;
          while (granted < t && grant_worker(ledger, size)) ++granted;
          EXPECT_EQ(granted, t) << kib << " KiB, size " << size;
          if (t < 64) {
            EXPECT_FALSE(grant_worker(ledger, size)) << kib << " KiB, size " << size;
          }
        }
      }
    }
  }

  // Without MemAvailable nothing limits the count or the grants.
  meminfo_fixture = "MemTotal: 1024 kB\n";
  platform::GrantLedger open;
  EXPECT_EQ(automatic_count(open, 8, 512), 8u);
}

TEST(ThreadCountTest, LargePagesArePlannedInWholePagesOfTheirPool) {
  constexpr std::uint64_t kTwoMiB = 2ull << 20;
  // Grid 64: E and H are 8.77 MiB each, so each maps five pages.
  EXPECT_EQ(bench::field_bytes_per_thread(64, true, kTwoMiB), 20 * kTwoMiB / 2);
  EXPECT_EQ(bench::field_bytes_per_thread(64, false, kTwoMiB), solver::field_request_per_thread(64));
  EXPECT_EQ(bench::field_bytes_per_thread(64, true, 0), solver::field_request_per_thread(64));
  EXPECT_EQ(bench::field_bytes_per_thread(8192, true, 1ull << 63), UINT64_MAX);
  // 12 free pages hold one worker of grid 64, though ordinary memory would
  // hold both cores' workers.
  const std::uint64_t per_thread = bench::field_bytes_per_thread(64, true, kTwoMiB);
  EXPECT_EQ(bench::choose_thread_count(0, 2, platform::huge_page_pool_bytes("HugePages_Free: 12\nHugepagesize: 2048 kB\n"),
                                       per_thread),
            1u);
}

TEST(ThreadCountTest, GivenCountIsTakenAsIs) {
  EXPECT_EQ(bench::choose_thread_count(3, 8, 0, 1), 3u);
  EXPECT_EQ(bench::choose_thread_count(100000, 2, 1, 1ull << 40), 100000u);
}

TEST(ThreadCountTest, DurationIsClamped) {
  EXPECT_EQ(bench::clamp_duration(0), 1u);
  EXPECT_EQ(bench::clamp_duration(30), 30u);
  EXPECT_EQ(bench::clamp_duration(1000), 1000u);
  EXPECT_EQ(bench::clamp_duration(5000), 1000u);
}

}  // namespace
