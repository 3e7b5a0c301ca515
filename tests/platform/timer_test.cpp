#include "platform/timer.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/fakes/captured_cpus.h"
#include "tests/fakes/fake_cpuid.h"

namespace platform {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

struct ClassifyCase {
  std::int64_t frequency;
  std::int64_t tsc_frequency;
  bool invariant;
  TimerSource expected;
};

class ClassifyFastTimer : public testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyFastTimer, FirstMatchingRuleDecides) {
  const ClassifyCase& c = GetParam();
  const TscInfo tsc{c.invariant, c.tsc_frequency, 0};
  EXPECT_EQ(classify_fast_timer(c.frequency, tsc), c.expected)
      << "f=" << c.frequency << " tsc=" << c.tsc_frequency << " invariant=" << c.invariant;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ClassifyFastTimer,
    testing::Values(
        // Fixed-rate legacy timers, even when the TSC is close.
        ClassifyCase{1'193'182, 0, true, TimerSource::kPit},
        ClassifyCase{1'193'182, 1'193'000, true, TimerSource::kPit},
        ClassifyCase{32'000'000, 0, false, TimerSource::kRtc},
        ClassifyCase{32'768'000, 32'768'000, true, TimerSource::kRtc},
        ClassifyCase{3'579'545, 0, false, TimerSource::kAcpi},
        ClassifyCase{3'579'000, 0, false, TimerSource::kAcpi},
        ClassifyCase{3'579'999, 0, false, TimerSource::kAcpi},
        ClassifyCase{3'580'000, 0, false, TimerSource::kUnknown},
        ClassifyCase{143'100'001, 0, true, TimerSource::kHpet},
        ClassifyCase{143'299'999, 143'299'999, true, TimerSource::kHpet},
        // Just outside the HPET window the rate counts as TSC-derived.
        ClassifyCase{143'100'000, 0, true, TimerSource::kItsc},
        // Close to the TSC rate, or to it divided by 1024.
        ClassifyCase{2'999'000'001, 3'000'000'000, false, TimerSource::kTsc},
        ClassifyCase{2'929'687, 3'000'000'000, true, TimerSource::kItsc},
        ClassifyCase{2'829'688, 3'000'000'000, true, TimerSource::kItsc},
        ClassifyCase{4'999'999, 4'000'000, true, TimerSource::kItsc},
        ClassifyCase{6'000'000, 5'000'000, true, TimerSource::kUnknown},
        // Any rate of 100 MHz or more, and exactly 10 MHz, without a TSC rate.
        ClassifyCase{1'000'000'000, 0, true, TimerSource::kItsc},
        ClassifyCase{100'000'000, 0, false, TimerSource::kTsc},
        ClassifyCase{10'000'000, 0, true, TimerSource::kItsc},
        ClassifyCase{10'000'000, 0, false, TimerSource::kTsc},
        // Other rates above 10 MHz are HPET.
        ClassifyCase{14'318'180, 3'000'000'000, true, TimerSource::kHpet},
        ClassifyCase{10'000'001, 0, true, TimerSource::kHpet},
        // Below 10 MHz and unmatched: unknown, also for nonsense rates.
        ClassifyCase{5'000'000, 0, true, TimerSource::kUnknown},
        ClassifyCase{0, 0, true, TimerSource::kUnknown},
        ClassifyCase{-1, 0, true, TimerSource::kUnknown},
        ClassifyCase{kMin, kMax, true, TimerSource::kUnknown}));

TEST(TimerSourceName, DisplayNames) {
  EXPECT_EQ(timer_source_name(TimerSource::kUnknown), "unknown");
  EXPECT_EQ(timer_source_name(TimerSource::kTsc), "TSC");
  EXPECT_EQ(timer_source_name(TimerSource::kItsc), "iTSC");
  EXPECT_EQ(timer_source_name(TimerSource::kHpet), "HPET");
  EXPECT_EQ(timer_source_name(TimerSource::kAcpi), "ACPI");
  EXPECT_EQ(timer_source_name(TimerSource::kPit), "PIT");
  EXPECT_EQ(timer_source_name(TimerSource::kRtc), "RTC");
  EXPECT_EQ(timer_source_name(static_cast<TimerSource>(7)), "unknown");
  EXPECT_EQ(timer_source_name(static_cast<TimerSource>(255)), "unknown");
}

TEST(FastTimerInfo, BothFrequenciesAreTheCounterRate) {
  const TimerInfo info = fast_timer_info(3'579'545, TscInfo{});
  EXPECT_EQ(info.report_frequency, 3'579'545);
  EXPECT_EQ(info.underlying_frequency, 3'579'545);
  EXPECT_EQ(info.source, TimerSource::kAcpi);
}

TEST(CoarseTimerInfo, UnderlyingFrequencyFromThePeriod) {
  const TimerPeriodAnswer none{};
  // 15.625 ms in 100-ns units gives 64 Hz; readings are always in ms.
  TimerInfo info = coarse_timer_info({true, 156'250, 10'000'000}, none);
  EXPECT_EQ(info.report_frequency, 1000);
  EXPECT_EQ(info.underlying_frequency, 64);
  EXPECT_EQ(info.source, TimerSource::kUnknown);
  // A 4 ms tick in nanoseconds.
  EXPECT_EQ(coarse_timer_info({true, 4'000'000, 1'000'000'000}, none).underlying_frequency, 250);
  // A failed primary query falls back to the second route.
  EXPECT_EQ(coarse_timer_info({false, 10'000, 10'000'000}, {true, 156'001, 10'000'000}).underlying_frequency, 64);
  // A primary period of 0 says nothing: no division, the fallback decides.
  EXPECT_EQ(coarse_timer_info({true, 0, 10'000'000}, {true, 10'000, 10'000'000}).underlying_frequency, 1000);
  EXPECT_EQ(coarse_timer_info({true, 0, 10'000'000}, {true, 0, 10'000'000}).underlying_frequency, 0);
  // Neither route answers: 0.
  EXPECT_EQ(coarse_timer_info(none, none).underlying_frequency, 0);
  EXPECT_EQ(coarse_timer_info(none, {false, 10'000, 10'000'000}).underlying_frequency, 0);
  EXPECT_EQ(period_frequency({true, 3, 0}), 0);
}

TEST(TscInfo, FromCpuidLeaves) {
  // Crystal × ratio: 38.4 MHz × 218 / 2.
  TscInfo tsc = decode_tsc_info(fakes::arrow_lake());
  EXPECT_TRUE(tsc.invariant);
  EXPECT_EQ(tsc.crystal_frequency, 38'400'000);
  EXPECT_EQ(tsc.tsc_frequency, 4'185'600'000);

  // Leaf 0x15 without a crystal: the base frequency of leaf 0x16.
  fakes::FakeCpuid cpu = fakes::arrow_lake();
  cpu.at(0x15).ecx = 0;
  tsc = decode_tsc_info(cpu);
  EXPECT_EQ(tsc.crystal_frequency, 0);
  EXPECT_EQ(tsc.tsc_frequency, 4'200'000'000);

  // Highest standard leaf below 0x15: neither leaf is read.
  cpu = fakes::arrow_lake();
  cpu.at(0x0).eax = 0x14;
  tsc = decode_tsc_info(cpu);
  EXPECT_EQ(tsc.crystal_frequency, 0);
  EXPECT_EQ(tsc.tsc_frequency, 0);
  // Leaf 0x15 but no 0x16.
  cpu.at(0x0).eax = 0x15;
  tsc = decode_tsc_info(cpu);
  EXPECT_EQ(tsc.crystal_frequency, 38'400'000);
  EXPECT_EQ(tsc.tsc_frequency, 4'185'600'000);
  // The highest leaf compares as a signed number.
  cpu.at(0x0).eax = 0x80000020;
  EXPECT_EQ(decode_tsc_info(cpu).tsc_frequency, 0);
  // The largest 32-bit factors neither overflow nor go negative.
  cpu.at(0x0).eax = 0x15;
  cpu.set(0x15, {1, 0xFFFFFFFF, 0xFFFFFFFF, 0});
  EXPECT_EQ(decode_tsc_info(cpu).tsc_frequency, kMax);

  // AMD reports neither leaf's values; an old part lacks the invariant bit.
  tsc = decode_tsc_info(fakes::amd_zen4());
  EXPECT_TRUE(tsc.invariant);
  EXPECT_EQ(tsc.tsc_frequency, 0);
  EXPECT_FALSE(decode_tsc_info(fakes::athlon_xp()).invariant);
}

TEST(HwbotRule, VersionVendorModelAndSource) {
  const TimerInfo itsc{10'000'000, 10'000'000, TimerSource::kItsc};
  const TimerInfo unknown{5'000'000, 5'000'000, TimerSource::kUnknown};
  const TimerInfo hpet{14'318'180, 14'318'180, TimerSource::kHpet};
  const CpuInfo amd{"AMD Ryzen", CpuVendor::kAmd, 0xF, 0x21};
  const CpuInfo intel_4f{"Intel Xeon", CpuVendor::kIntel, 6, 0x4F};
  const CpuInfo intel_4e{"Intel Core", CpuVendor::kIntel, 6, 0x4E};
  const CpuInfo intel_4d{"Intel Atom", CpuVendor::kIntel, 6, 0x4D};
  const CpuInfo intel_9e{"Intel Core", CpuVendor::kIntel, 6, 0x9E};
  const CpuInfo other{"", CpuVendor::kOther, 0, 0};

  // Older systems: every timer passes.
  EXPECT_TRUE(hwbot_compliant(unknown, other, false));
  EXPECT_TRUE(hwbot_compliant(itsc, amd, false));
  EXPECT_TRUE(hwbot_compliant(itsc, intel_4f, false));
  // Version 6.2 or later.
  EXPECT_FALSE(hwbot_compliant(itsc, amd, true));
  EXPECT_FALSE(hwbot_compliant(itsc, intel_4f, true));
  EXPECT_FALSE(hwbot_compliant(itsc, intel_4d, true));
  EXPECT_FALSE(hwbot_compliant(unknown, other, true));
  EXPECT_TRUE(hwbot_compliant(itsc, intel_4e, true));
  EXPECT_TRUE(hwbot_compliant(unknown, intel_9e, true));
  EXPECT_TRUE(hwbot_compliant(hpet, amd, true));
  EXPECT_TRUE(hwbot_compliant(hpet, intel_4f, true));
  EXPECT_TRUE(hwbot_compliant(hpet, other, true));
}

TEST(CounterOverflow, LimitFromReadingAndFrequency) {
  const TimerInfo ten_mhz{10'000'000, 10'000'000, TimerSource::kItsc};
  EXPECT_TRUE(counter_would_overflow(ten_mhz, 0, 922'337'203'685));
  EXPECT_FALSE(counter_would_overflow(ten_mhz, 0, 922'337'203'684));
  // Ten seconds of headroom left.
  EXPECT_TRUE(counter_would_overflow(ten_mhz, kMax - 100'000'000, 10));
  EXPECT_FALSE(counter_would_overflow(ten_mhz, kMax - 100'000'000, 9));
  // A frequency of 0 (or less) never advances: only the largest count overflows.
  const TimerInfo stopped{0, 0, TimerSource::kUnknown};
  EXPECT_TRUE(counter_would_overflow(stopped, 0, kMax));
  EXPECT_FALSE(counter_would_overflow(stopped, 0, kMax - 1));
  EXPECT_FALSE(counter_would_overflow({-1000, 0, TimerSource::kUnknown}, kMax, 1002));
  // A coarse reading past 2^63 arrives negative; the limit is computed without overflow.
  const TimerInfo ms{1000, 64, TimerSource::kUnknown};
  EXPECT_FALSE(counter_would_overflow(ms, -1, 9'223'372'036'854'774));
  EXPECT_TRUE(counter_would_overflow(ms, -1, 9'223'372'036'854'775));
  EXPECT_FALSE(counter_would_overflow(ms, kMin, 1'000'000'000'000'000));
  // Already at the top: any duration, even 0, overflows.
  EXPECT_TRUE(counter_would_overflow(ms, kMax, 0));
}

TEST(ElapsedTime, TruncatesTowardZero) {
  const TimerInfo three{3, 3, TimerSource::kUnknown};
  EXPECT_EQ(elapsed_seconds(three, 100, 110), 3);
  EXPECT_EQ(elapsed_milliseconds(three, 100, 110), 3333);
  EXPECT_EQ(elapsed_microseconds(three, 100, 110), 3'333'333);
  // Negative differences keep their sign.
  EXPECT_EQ(elapsed_seconds(three, 110, 100), -3);
  EXPECT_EQ(elapsed_milliseconds(three, 110, 100), -3333);
  EXPECT_EQ(elapsed_microseconds(three, 110, 100), -3'333'333);
  // Nanosecond counter.
  const TimerInfo ns{1'000'000'000, 1'000'000'000, TimerSource::kItsc};
  EXPECT_EQ(elapsed_seconds(ns, 0, 1'999'999'999), 1);
  EXPECT_EQ(elapsed_milliseconds(ns, 0, 1'999'999'999), 1999);
  EXPECT_EQ(elapsed_microseconds(ns, 0, 1'999'999'999), 1'999'999);
  // No division by a frequency of 0 or less.
  EXPECT_EQ(elapsed_seconds({0, 0, TimerSource::kUnknown}, 0, 1000), 0);
  EXPECT_EQ(elapsed_milliseconds({0, 0, TimerSource::kUnknown}, 0, 1000), 0);
  EXPECT_EQ(elapsed_microseconds({-7, 0, TimerSource::kUnknown}, 0, 1000), 0);
  // Extreme readings saturate instead of wrapping.
  const TimerInfo one{1, 1, TimerSource::kUnknown};
  EXPECT_EQ(elapsed_seconds(one, kMin, kMax), kMax);
  EXPECT_EQ(elapsed_microseconds(one, 0, kMax), kMax);
  EXPECT_EQ(elapsed_milliseconds(one, kMax, kMin), kMin);
  // A large frequency with a large remainder.
  const TimerInfo huge{kMax, kMax, TimerSource::kUnknown};
  EXPECT_EQ(elapsed_microseconds(huge, 0, kMax - 1), 999'999);
}

}  // namespace
}  // namespace platform
