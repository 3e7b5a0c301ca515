#include <time.h>

#include "platform/timer_os.h"

namespace platform::os {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

}  // namespace

std::int64_t fast_counter() {
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC_RAW, &now) != 0) return 0;
  return static_cast<std::int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

std::int64_t fast_counter_frequency() { return kNanosecondsPerSecond; }

std::uint64_t coarse_counter_ms() {
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC_COARSE, &now) != 0) return 0;
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u;
}

TimerPeriodAnswer primary_timer_period() {
  timespec resolution{};
  if (clock_getres(CLOCK_MONOTONIC_COARSE, &resolution) != 0) return {};
  const auto period_ns = static_cast<std::uint64_t>(resolution.tv_sec) * kNanosecondsPerSecond +
                         static_cast<std::uint64_t>(resolution.tv_nsec);
  return {true, period_ns, static_cast<std::uint64_t>(kNanosecondsPerSecond)};
}

TimerPeriodAnswer fallback_timer_period() { return {}; }

bool os_version_at_least_6_2() { return false; }

}  // namespace platform::os
