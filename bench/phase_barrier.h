#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <stop_token>

namespace bench {

/// Reusable barrier for a fixed set of participants. A participant that leaves
/// for good calls arrive_and_drop so that the others never wait for it.
/// Our own rather than the library barrier, which cannot hand out the stop
/// state below and behaves differently across the platforms we ship.
///
/// The barrier also records whether a stop had been requested when each phase
/// completed, and hands every participant that same answer. Asking the stop
/// token after waking instead would race: a fast participant may already fail
/// in the next phase's work and request a stop before a slow one wakes up, and
/// the slow one would then leave while the fast one waits for it forever.
class PhaseBarrier {
 public:
  explicit PhaseBarrier(std::uint32_t participants, std::stop_token stop = {});
  PhaseBarrier(const PhaseBarrier&) = delete;
  PhaseBarrier& operator=(const PhaseBarrier&) = delete;

  /// Blocks until every current participant has arrived in this phase; true
  /// when a stop had been requested by the time the phase completed.
  bool arrive_and_wait();
  /// Removes the caller from this and all later phases without waiting.
  void arrive_and_drop();

  /// Participants still expected per phase.
  std::uint32_t participants() const;

 private:
  void complete_phase_locked();

  mutable std::mutex mutex_;
  std::stop_token stop_;
  bool stopped_at_completion_ = false;
  std::uint32_t expected_;
  std::uint32_t arrived_ = 0;
  std::atomic<std::uint32_t> phase_{0};  // wraps; only "changed" matters
};

}  // namespace bench
