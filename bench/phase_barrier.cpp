#include "bench/phase_barrier.h"

#include <utility>

namespace bench {

PhaseBarrier::PhaseBarrier(std::uint32_t participants, std::stop_token stop)
    : stop_(std::move(stop)), expected_(participants) {}

void PhaseBarrier::complete_phase_locked() {
  arrived_ = 0;
  stopped_at_completion_ = stop_.stop_requested();
  ++phase_;
  phase_done_.notify_all();
}

bool PhaseBarrier::arrive_and_wait() {
  std::unique_lock lock(mutex_);
  const std::uint64_t my_phase = phase_;
  if (++arrived_ >= expected_) {
    complete_phase_locked();
    return stopped_at_completion_;
  }
  phase_done_.wait(lock, [&] { return phase_ != my_phase; });
  // Only one phase can complete while we wait: completing the next one needs us.
  return stopped_at_completion_;
}

void PhaseBarrier::arrive_and_drop() {
  std::lock_guard lock(mutex_);
  if (expected_ > 0) --expected_;
  // The dropped participant may have been the last one the others waited for.
  if (arrived_ > 0 && arrived_ >= expected_) complete_phase_locked();
}

std::uint32_t PhaseBarrier::participants() const {
  std::lock_guard lock(mutex_);
  return expected_;
}

}  // namespace bench
