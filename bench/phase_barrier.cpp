#include "bench/phase_barrier.h"

#include <utility>

#include "platform/wake_word.h"

namespace bench {

PhaseBarrier::PhaseBarrier(std::uint32_t participants, std::stop_token stop)
    : stop_(std::move(stop)), expected_(participants) {}

void PhaseBarrier::complete_phase_locked() {
  arrived_ = 0;
  stopped_at_completion_ = stop_.stop_requested();
  phase_.store(phase_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

bool PhaseBarrier::arrive_and_wait() {
  std::uint32_t my_phase = 0;
  {
    std::lock_guard lock(mutex_);
    my_phase = phase_.load(std::memory_order_relaxed);
    if (++arrived_ >= expected_) {
      complete_phase_locked();
      const bool stopped = stopped_at_completion_;
      platform::wake_all(phase_);
      return stopped;
    }
  }
  // Waiting on the phase word outside the mutex: with a futex underneath every
  // waiter wakes at once, instead of each taking the mutex in turn, a chain of
  // hand-offs that on a crowded machine spreads the start of timing over seconds.
  while (phase_.load(std::memory_order_acquire) == my_phase) platform::wait_for_change(phase_, my_phase);
  // Only one phase can complete while we wait: completing the next one needs us.
  return stopped_at_completion_;
}

void PhaseBarrier::arrive_and_drop() {
  std::lock_guard lock(mutex_);
  if (expected_ > 0) --expected_;
  // The dropped participant may have been the last one the others waited for.
  if (arrived_ > 0 && arrived_ >= expected_) {
    complete_phase_locked();
    platform::wake_all(phase_);
  }
}

std::uint32_t PhaseBarrier::participants() const {
  std::lock_guard lock(mutex_);
  return expected_;
}

}  // namespace bench
