#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace bench {

/// Reusable barrier for a fixed set of participants. A participant that leaves
/// for good calls arrive_and_drop so that the others never wait for it.
/// Mutex and condition variable on purpose: they behave the same on every
/// platform we ship, where the library barrier does not.
class PhaseBarrier {
 public:
  explicit PhaseBarrier(std::uint32_t participants);
  PhaseBarrier(const PhaseBarrier&) = delete;
  PhaseBarrier& operator=(const PhaseBarrier&) = delete;

  /// Blocks until every current participant has arrived in this phase.
  void arrive_and_wait();
  /// Removes the caller from this and all later phases without waiting.
  void arrive_and_drop();

  /// Participants still expected per phase.
  std::uint32_t participants() const;

 private:
  void complete_phase_locked();

  mutable std::mutex mutex_;
  std::condition_variable phase_done_;
  std::uint32_t expected_;
  std::uint32_t arrived_ = 0;
  std::uint64_t phase_ = 0;
};

}  // namespace bench
