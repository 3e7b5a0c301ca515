#include "platform/timer.h"

#include <limits>

namespace platform {
namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();

constexpr std::uint32_t kPowerManagementLeaf = 0x80000007u;
constexpr std::uint32_t kInvariantTscBit = 8;
constexpr std::uint32_t kTscCrystalLeaf = 0x15;
constexpr std::uint32_t kFrequencyLeaf = 0x16;

constexpr std::int64_t kPitHz = 1'193'182;
constexpr std::int64_t kRtcHz = 32'000'000;
constexpr std::int64_t kRtcAltHz = 32'768'000;
constexpr std::int64_t kAcpiLowHz = 3'579'000;
constexpr std::int64_t kAcpiHighHz = 3'579'999;
constexpr std::int64_t kHpetLowHz = 143'100'001;
constexpr std::int64_t kHpetHighHz = 143'299'999;
// Windows reports a TSC-backed counter either at the TSC rate or divided by 1024.
constexpr std::int64_t kTscTolerance = 1'000'000;
constexpr std::int64_t kTscDiv1024Tolerance = 100'000;
constexpr std::int64_t kTscDerivedMinHz = 100'000'000;
// Windows 10 and later report a TSC-backed counter at a fixed 10 MHz.
constexpr std::int64_t kVirtualizedTscHz = 10'000'000;

constexpr std::uint32_t kFirstCompliantIntelModel = 0x4E;
constexpr std::uint32_t kNonCompliantIntelModel = 0x4F;

// Wider arithmetic keeps extreme readings from overflowing; results are clamped.
using Wide = __int128;

std::int64_t saturate(Wide value) {
  if (value > kInt64Max) return kInt64Max;
  if (value < kInt64Min) return kInt64Min;
  return static_cast<std::int64_t>(value);
}

Wide absolute(Wide value) { return value < 0 ? -value : value; }

std::int64_t elapsed_in_units(const TimerInfo& timer, std::int64_t start, std::int64_t end,
                              std::int64_t units_per_second) {
  const std::int64_t f = timer.report_frequency;
  if (f <= 0) return 0;
  const Wide d = static_cast<Wide>(end) - start;
  const Wide q = d / f;
  const Wide r = d % f;
  return saturate(q * units_per_second + (r * units_per_second) / f);
}

}  // namespace

std::string_view timer_source_name(TimerSource source) {
  switch (source) {
    case TimerSource::kTsc: return "TSC";
    case TimerSource::kItsc: return "iTSC";
    case TimerSource::kHpet: return "HPET";
    case TimerSource::kAcpi: return "ACPI";
    case TimerSource::kPit: return "PIT";
    case TimerSource::kRtc: return "RTC";
    case TimerSource::kUnknown: break;
  }
  return "unknown";
}

TimerSource classify_fast_timer(std::int64_t frequency, const TscInfo& tsc) {
  const std::int64_t f = frequency;
  if (f == kPitHz) return TimerSource::kPit;
  if (f == kRtcHz || f == kRtcAltHz) return TimerSource::kRtc;
  if (f >= kAcpiLowHz && f <= kAcpiHighHz) return TimerSource::kAcpi;
  if (f >= kHpetLowHz && f <= kHpetHighHz) return TimerSource::kHpet;

  bool tsc_derived = false;
  if (tsc.tsc_frequency != 0 &&
      (absolute(static_cast<Wide>(f) - tsc.tsc_frequency) < kTscTolerance ||
       absolute(static_cast<Wide>(f) - tsc.tsc_frequency / 1024) < kTscDiv1024Tolerance)) {
    tsc_derived = true;
  } else if (f >= kTscDerivedMinHz || f == kVirtualizedTscHz) {
    tsc_derived = true;
  } else if (f > kVirtualizedTscHz) {
    return TimerSource::kHpet;
  }
  if (!tsc_derived) return TimerSource::kUnknown;
  return tsc.invariant ? TimerSource::kItsc : TimerSource::kTsc;
}

TimerInfo fast_timer_info(std::int64_t frequency, const TscInfo& tsc) {
  return {frequency, frequency, classify_fast_timer(frequency, tsc)};
}

std::int64_t period_frequency(const TimerPeriodAnswer& answer) {
  if (!answer.answered || answer.period == 0) return 0;
  const std::uint64_t hz = answer.units_per_second / answer.period;
  return hz > static_cast<std::uint64_t>(kInt64Max) ? kInt64Max : static_cast<std::int64_t>(hz);
}

TimerInfo coarse_timer_info(const TimerPeriodAnswer& primary, const TimerPeriodAnswer& fallback) {
  TimerInfo info;
  info.report_frequency = 1000;
  // A primary answer of period 0 says nothing, so the fallback gets its turn.
  const bool primary_usable = primary.answered && primary.period != 0;
  info.underlying_frequency = period_frequency(primary_usable ? primary : fallback);
  return info;
}

TscInfo decode_tsc_info(const CpuidSource& source) {
  TscInfo info;
  // Read without checking the highest extended leaf: every 64-bit processor has
  // leaves up to 0x80000008.
  info.invariant = ((source.cpuid(kPowerManagementLeaf, 0).edx >> kInvariantTscBit) & 1u) != 0;

  const auto max_leaf = static_cast<std::int32_t>(source.cpuid(0, 0).eax);
  std::uint64_t denominator = 0;
  std::uint64_t numerator = 0;
  std::uint64_t crystal = 0;
  if (max_leaf >= static_cast<std::int32_t>(kTscCrystalLeaf)) {
    const CpuidRegs regs = source.cpuid(kTscCrystalLeaf, 0);
    denominator = regs.eax;
    numerator = regs.ebx;
    crystal = regs.ecx;
  }
  info.crystal_frequency = static_cast<std::int64_t>(crystal);

  std::uint64_t base_mhz = 0;
  if (max_leaf >= static_cast<std::int32_t>(kFrequencyLeaf)) {
    base_mhz = source.cpuid(kFrequencyLeaf, 0).eax & 0xFFFFu;
  }

  if (crystal != 0 && numerator != 0 && denominator != 0) {
    // Both factors are 32-bit, so the product fits in 64 unsigned bits.
    const std::uint64_t hz = crystal * numerator / denominator;
    info.tsc_frequency = hz > static_cast<std::uint64_t>(kInt64Max) ? kInt64Max
                                                                    : static_cast<std::int64_t>(hz);
  } else {
    info.tsc_frequency = static_cast<std::int64_t>(base_mhz * 1'000'000);
  }
  return info;
}

bool hwbot_compliant(const TimerInfo& fast, const CpuInfo& cpu, bool os_at_least_6_2) {
  if (!os_at_least_6_2) return true;
  if (fast.source == TimerSource::kHpet) return true;
  return cpu.vendor == CpuVendor::kIntel && cpu.model >= kFirstCompliantIntelModel &&
         cpu.model != kNonCompliantIntelModel;
}

bool counter_would_overflow(const TimerInfo& timer, std::int64_t reading, std::int64_t seconds) {
  Wide limit = kInt64Max;
  if (timer.report_frequency > 0) limit = (static_cast<Wide>(kInt64Max) - reading) / timer.report_frequency;
  return seconds >= limit;
}

std::int64_t elapsed_seconds(const TimerInfo& timer, std::int64_t start, std::int64_t end) {
  return elapsed_in_units(timer, start, end, 1);
}

std::int64_t elapsed_milliseconds(const TimerInfo& timer, std::int64_t start, std::int64_t end) {
  return elapsed_in_units(timer, start, end, 1000);
}

std::int64_t elapsed_microseconds(const TimerInfo& timer, std::int64_t start, std::int64_t end) {
  return elapsed_in_units(timer, start, end, 1'000'000);
}

}  // namespace platform
