#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace bench {

/// One worker's live counters. Each slot fills its own 128-byte block so that
/// workers bumping their counters every iteration never share a cache line
/// (128 covers adjacent-line prefetching as well).
struct alignas(128) ProgressSlot {
  std::atomic<std::uint64_t> iterations{0};
  std::atomic<double> rate{0.0};  // MGups
};
static_assert(sizeof(ProgressSlot) == 128);

/// One slot per worker; each slot has one writer (its worker) and one reader
/// (worker 0's progress line), both with relaxed ordering.
class ProgressBoard {
 public:
  explicit ProgressBoard(std::uint32_t slots)
      : slots_(std::make_unique<ProgressSlot[]>(slots)), count_(slots) {}

  std::uint32_t size() const { return count_; }
  ProgressSlot& operator[](std::uint32_t i) { return slots_[i]; }
  const ProgressSlot& operator[](std::uint32_t i) const { return slots_[i]; }

 private:
  std::unique_ptr<ProgressSlot[]> slots_;
  std::uint32_t count_;
};

}  // namespace bench
