#include "bench/thread_count.h"

#include <gtest/gtest.h>

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
  // Unknown memory (0) also means no limit.
  EXPECT_EQ(choose_thread_count(0, 4, 0, field_memory_per_thread(64)), 4u);
  // No cores known: one thread.
  EXPECT_EQ(choose_thread_count(0, 0, 64 * kGiB, field_memory_per_thread(64)), 1u);
  // A fit count beyond 32 bits saturates instead of wrapping to a small number.
  EXPECT_EQ(choose_thread_count(0, 6, (1ull << 32) * 10, 1), 6u);
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
