#pragma once

#include <cstdint>
#include <string_view>

#include "platform/cpu.h"

namespace platform {

/// The hardware behind the fast timer.
enum class TimerSource : std::uint8_t {
  kUnknown = 0,
  kTsc = 1,   ///< time-stamp counter, not invariant
  kItsc = 2,  ///< invariant time-stamp counter
  kHpet = 3,
  kAcpi = 4,
  kPit = 5,
  kRtc = 6,
};

/// One timer: the unit of its readings and how often it really advances.
struct TimerInfo {
  std::int64_t report_frequency = 0;      ///< counts per second of a reading
  std::int64_t underlying_frequency = 0;  ///< Hz at which the value changes; 0 when unknown
  TimerSource source = TimerSource::kUnknown;
};

/// The frequency a run shows for `timer`: the underlying one where known, else
/// that of its readings.
constexpr std::int64_t shown_frequency(const TimerInfo& timer) {
  return timer.underlying_frequency != 0 ? timer.underlying_frequency : timer.report_frequency;
}

/// Time-stamp-counter facts from CPUID.
struct TscInfo {
  bool invariant = false;              ///< leaf 0x80000007 EDX bit 8
  std::int64_t tsc_frequency = 0;      ///< Hz; 0 when not reported
  std::int64_t crystal_frequency = 0;  ///< Hz, leaf 0x15 ECX; 0 when not reported
};

/// One answer of the system about its timer-interrupt period.
struct TimerPeriodAnswer {
  bool answered = false;              ///< false when the query failed
  std::uint64_t period = 0;           ///< in units of 1 / `units_per_second` seconds
  std::uint64_t units_per_second = 0;
};

// ---- Queries of the running system; none fails visibly. ----

/// The high-resolution counter, in `query_fast_timer().report_frequency` units.
std::int64_t read_fast_counter();
/// Milliseconds since system start.
std::uint64_t read_coarse_counter();
/// The fast timer with its source classified.
TimerInfo query_fast_timer();
/// The coarse (millisecond) timer; `underlying_frequency` 0 when unknown.
TimerInfo query_coarse_timer();
/// Time-stamp-counter facts of this processor.
TscInfo query_tsc_info();
/// True when `fast` may time a HWBOT result on this processor and system.
bool is_hwbot_compliant(const TimerInfo& fast);

// ---- Rules over raw facts. ----

/// Display name: "unknown", "TSC", "iTSC", "HPET", "ACPI", "PIT", "RTC"
/// (static storage; values above 6 are "unknown").
std::string_view timer_source_name(TimerSource source);

/// The source behind a counter of `frequency` counts per second.
TimerSource classify_fast_timer(std::int64_t frequency, const TscInfo& tsc);

/// The fast timer record for a counter of `frequency` counts per second.
TimerInfo fast_timer_info(std::int64_t frequency, const TscInfo& tsc);

/// Frequency of a timer-interrupt period: units_per_second / period, 0 when
/// the answer is missing or names a period or unit of 0.
std::int64_t period_frequency(const TimerPeriodAnswer& answer);

/// The coarse timer record: readings in ms; underlying frequency from the
/// primary answer, else from the fallback, else 0.
TimerInfo coarse_timer_info(const TimerPeriodAnswer& primary, const TimerPeriodAnswer& fallback);

/// TSC facts from CPUID leaves 0x80000007, 0, 0x15 and 0x16.
TscInfo decode_tsc_info(const CpuidSource& source);

/// The HWBOT rule: always compliant on systems older than version 6.2;
/// otherwise only an HPET source or an Intel model ≥ 0x4E other than 0x4F.
bool hwbot_compliant(const TimerInfo& fast, const CpuInfo& cpu, bool os_at_least_6_2);

/// True when `reading` + `seconds` worth of counts would pass the largest
/// signed 64-bit value. A non-positive frequency never advances, so only
/// INT64_MAX seconds count as overflow.
bool counter_would_overflow(const TimerInfo& timer, std::int64_t reading, std::int64_t seconds);

/// Whole seconds, milliseconds, microseconds between two readings, truncated
/// toward zero (negative when `end` < `start`); 0 when the frequency is not
/// positive. Saturates instead of overflowing.
std::int64_t elapsed_seconds(const TimerInfo& timer, std::int64_t start, std::int64_t end);
std::int64_t elapsed_milliseconds(const TimerInfo& timer, std::int64_t start, std::int64_t end);
std::int64_t elapsed_microseconds(const TimerInfo& timer, std::int64_t start, std::int64_t end);

}  // namespace platform
