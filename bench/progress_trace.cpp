#include "bench/progress_trace.h"

namespace bench {

void ProgressTrace::begin(const platform::TimerInfo& fast, std::int64_t start, std::uint32_t duration_s) {
  fast_ = fast;
  start_ = start;
  // A frequency no counter has leaves a span of 0: every hundredth has passed
  // at the first iteration's end.
  const std::int64_t f = fast.report_frequency > 0 ? fast.report_frequency : 0;
  span_ = f > INT64_MAX / (duration_s == 0 ? 1 : duration_s) ? INT64_MAX : f * duration_s;
  size_ = 0;
  passed_ = 0;
  next_ = threshold(1);
}

std::int64_t ProgressTrace::threshold(std::size_t k) const {
  const auto hundredths = static_cast<std::int64_t>(k);
  const std::int64_t offset = span_ / 100 * hundredths + span_ % 100 * hundredths / 100;
  return start_ > INT64_MAX - offset ? INT64_MAX : start_ + offset;
}

ProgressPoint ProgressTrace::point(std::int64_t now, std::uint64_t updates) const {
  return {platform::elapsed_microseconds(fast_, start_, now), updates};
}

void ProgressTrace::mark(std::int64_t now, std::uint64_t updates) {
  // Each point passes at least one hundredth, so the marks never outgrow their
  // room; a counter stuck at its largest value meets the last threshold again.
  if (passed_ == kMarks) return;
  points_[size_++] = point(now, updates);
  do ++passed_;
  while (passed_ < kMarks && threshold(passed_ + 1) <= now);
  next_ = passed_ < kMarks ? threshold(passed_ + 1) : INT64_MAX;
}

void ProgressTrace::finish(std::int64_t end, std::uint64_t updates) {
  if (size_ > 0 && (points_[size_ - 1].updates == updates || size_ == kCapacity)) --size_;
  points_[size_++] = point(end, updates);
  next_ = INT64_MAX;
}

}  // namespace bench
