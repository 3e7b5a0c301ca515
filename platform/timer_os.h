#pragma once

// The system calls behind the timer queries. Each backend (platform/linux,
// platform/windows) implements these; they only ask, never decide.

#include <cstdint>

#include "platform/timer.h"

namespace platform::os {

/// Current value of the high-resolution counter.
std::int64_t fast_counter();
/// Counts per second of `fast_counter`.
std::int64_t fast_counter_frequency();
/// Milliseconds since system start.
std::uint64_t coarse_counter_ms();
/// The system's first answer about its timer-interrupt period.
TimerPeriodAnswer primary_timer_period();
/// The system's second route to the same fact; unanswered where there is none.
TimerPeriodAnswer fallback_timer_period();
/// True when the operating system is Windows 6.2 or later; false elsewhere and on failure.
bool os_version_at_least_6_2();

}  // namespace platform::os
