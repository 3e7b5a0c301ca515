#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/timer.h"

namespace bench {

/// One point of a worker's trace: microseconds on its fast timer since its
/// timed loop began, and the grid-cell updates done by then.
struct ProgressPoint {
  std::int64_t fast_us = 0;
  std::uint64_t updates = 0;
  bool operator==(const ProgressPoint&) const = default;
};

/// A worker's progress through its timed loop: a point at the end of the first
/// iteration that finishes past each hundredth of the duration, and a last one
/// at the loop's end. The points are held in place, so that taking one inside
/// the loop neither allocates nor locks; between two hundredths an iteration
/// costs one comparison.
class ProgressTrace {
 public:
  static constexpr std::size_t kMarks = 100;
  static constexpr std::size_t kCapacity = kMarks + 1;  ///< the marks and the loop's end

  /// Starts over for a loop that began at fast-timer reading `start` and is to
  /// last `duration_s` seconds.
  void begin(const platform::TimerInfo& fast, std::int64_t start, std::uint32_t duration_s);

  /// Called at the end of every iteration, read at `now`, with `updates` done
  /// in all; several hundredths passed in one iteration give one point.
  void at_iteration_end(std::int64_t now, std::uint64_t updates) {
    if (now >= next_) [[unlikely]]
      mark(now, updates);
  }

  /// The loop's end at reading `end` with `updates` in all: the last point. It
  /// replaces a point of the same last iteration, so no two points share their
  /// updates.
  void finish(std::int64_t end, std::uint64_t updates);

  /// The points so far, in order.
  std::span<const ProgressPoint> points() const { return {points_.data(), size_}; }

 private:
  void mark(std::int64_t now, std::uint64_t updates);
  /// The reading at which hundredth `k` (1 to kMarks) of the duration has passed.
  std::int64_t threshold(std::size_t k) const;
  ProgressPoint point(std::int64_t now, std::uint64_t updates) const;

  std::array<ProgressPoint, kCapacity> points_{};
  std::size_t size_ = 0;
  std::size_t passed_ = 0;  // hundredths behind the last point
  std::int64_t next_ = INT64_MAX;
  std::int64_t start_ = 0;
  std::int64_t span_ = 0;  // the duration in fast-timer counts
  platform::TimerInfo fast_;
};

}  // namespace bench
