#include "bench/phase_barrier.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stop_token>
#include <thread>
#include <vector>

namespace {

TEST(PhaseBarrierTest, NobodyPassesAPhaseEarly) {
  constexpr int kThreads = 4;
  constexpr int kPhases = 200;
  bench::PhaseBarrier barrier(kThreads);
  std::atomic<int> arrivals{0};
  std::atomic<bool> early{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int p = 0; p < kPhases; ++p) {
        arrivals.fetch_add(1);
        barrier.arrive_and_wait();
        // Everyone must have arrived at phase p before anyone gets past it.
        if (arrivals.load() < (p + 1) * kThreads) early = true;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(early.load());
  EXPECT_EQ(arrivals.load(), kThreads * kPhases);
}

TEST(PhaseBarrierTest, DroppingReleasesThoseAlreadyWaiting) {
  bench::PhaseBarrier barrier(3);
  std::thread a([&] { barrier.arrive_and_wait(); });
  std::thread b([&] { barrier.arrive_and_wait(); });
  // Two wait for a third that never comes (or are about to); dropping it lets them through.
  barrier.arrive_and_drop();
  a.join();
  b.join();
  EXPECT_EQ(barrier.participants(), 2u);

  // Later phases wait only for the remaining two.
  std::thread c([&] { barrier.arrive_and_wait(); });
  barrier.arrive_and_wait();
  c.join();
}

TEST(PhaseBarrierTest, DroppingEveryoneLeavesNoWaiter) {
  bench::PhaseBarrier barrier(2);
  barrier.arrive_and_drop();
  barrier.arrive_and_drop();
  EXPECT_EQ(barrier.participants(), 0u);
  barrier.arrive_and_drop();  // more drops than participants stay harmless
  EXPECT_EQ(barrier.participants(), 0u);
}

TEST(PhaseBarrierTest, SingleParticipantNeverBlocks) {
  bench::PhaseBarrier barrier(1);
  for (int i = 0; i < 3; ++i) barrier.arrive_and_wait();
}

}  // namespace

namespace {

TEST(PhaseBarrierTest, EveryoneGetsTheStopStateOfThePhaseCompletion) {
  std::stop_source stop;
  bench::PhaseBarrier barrier(2, stop.get_token());
  bool waiter_saw_stop = true;
  std::thread waiter([&] { waiter_saw_stop = barrier.arrive_and_wait(); });
  // Whichever of the two completes the phase, the stop requested right after
  // it belongs to the next phase and must not make the waiter leave now.
  const bool saw = barrier.arrive_and_wait();
  stop.request_stop();
  waiter.join();
  EXPECT_FALSE(saw);
  EXPECT_FALSE(waiter_saw_stop);

  // A stop requested before the last arrival is seen by all.
  std::thread second([&] { waiter_saw_stop = barrier.arrive_and_wait(); });
  EXPECT_TRUE(barrier.arrive_and_wait());
  second.join();
  EXPECT_TRUE(waiter_saw_stop);
}

}  // namespace
