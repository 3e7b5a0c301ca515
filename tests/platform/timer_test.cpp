#include "platform/timer.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/fakes/captured_cpus.h"

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
  EXPECT_EQ(classify_fast_timer(c.frequency, {c.invariant, c.tsc_frequency, 0}), c.expected)
      << "f=" << c.frequency << " tsc=" << c.tsc_frequency;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ClassifyFastTimer,
    testing::Values(
        // Fixed-rate timers win even when the TSC rate is close.
        ClassifyCase{1'193'182, 1'193'000, true, TimerSource::kPit},
        ClassifyCase{32'000'000, 0, false, TimerSource::kRtc},
        ClassifyCase{32'768'000, 0, false, TimerSource::kRtc},
        ClassifyCase{3'579'545, 0, false, TimerSource::kAcpi},
        ClassifyCase{3'579'999, 0, false, TimerSource::kAcpi},
        ClassifyCase{3'580'000, 0, false, TimerSource::kUnknown},
        ClassifyCase{143'100'001, 143'100'001, true, TimerSource::kHpet},
        ClassifyCase{143'100'000, 0, true, TimerSource::kItsc},
        // Near the TSC rate, or the TSC rate / 1024.
        ClassifyCase{2'999'000'001, 3'000'000'000, false, TimerSource::kTsc},
        ClassifyCase{2'929'687, 3'000'000'000, true, TimerSource::kItsc},
        ClassifyCase{4'999'999, 4'000'000, true, TimerSource::kItsc},
        ClassifyCase{6'000'000, 5'000'000, true, TimerSource::kUnknown},
        // 100 MHz and more, or exactly 10 MHz, without a TSC rate.
        ClassifyCase{1'000'000'000, 0, true, TimerSource::kItsc},
        ClassifyCase{10'000'000, 0, true, TimerSource::kItsc},
        ClassifyCase{10'000'000, 0, false, TimerSource::kTsc},
        // Other rates above 10 MHz; below it nothing matches.
        ClassifyCase{14'318'180, 3'000'000'000, true, TimerSource::kHpet},
        ClassifyCase{5'000'000, 0, true, TimerSource::kUnknown},
        ClassifyCase{kMin, kMax, true, TimerSource::kUnknown}));

TEST(TimerSourceName, DisplayNames) {
  EXPECT_EQ(timer_source_name(TimerSource::kItsc), "iTSC");
  EXPECT_EQ(timer_source_name(TimerSource::kHpet), "HPET");
  EXPECT_EQ(timer_source_name(TimerSource::kRtc), "RTC");
  EXPECT_EQ(timer_source_name(static_cast<TimerSource>(7)), "unknown");
}

TEST(CoarseTimerInfo, UnderlyingFrequencyFromThePeriod) {
  const TimerPeriodAnswer none{};
  // 15.625 ms in 100-ns units: 64 Hz; readings always in ms.
  const TimerInfo info = coarse_timer_info({true, 156'250, 10'000'000}, none);
  EXPECT_EQ(info.report_frequency, 1000);
  EXPECT_EQ(info.underlying_frequency, 64);
  EXPECT_EQ(coarse_timer_info({true, 4'000'000, 1'000'000'000}, none).underlying_frequency, 250);
  // A failed primary query, or a period of 0, leaves it to the fallback: no division by 0.
  EXPECT_EQ(coarse_timer_info({false, 1, 10'000'000}, {true, 156'001, 10'000'000}).underlying_frequency, 64);
  EXPECT_EQ(coarse_timer_info({true, 0, 10'000'000}, {true, 10'000, 10'000'000}).underlying_frequency, 1000);
  EXPECT_EQ(coarse_timer_info({true, 0, 10'000'000}, {true, 0, 10'000'000}).underlying_frequency, 0);
  EXPECT_EQ(coarse_timer_info(none, none).underlying_frequency, 0);
}

TEST(TscInfo, FromCpuidLeaves) {
  // Crystal × ratio: 38.4 MHz × 218 / 2.
  TscInfo tsc = decode_tsc_info(fakes::arrow_lake());
  EXPECT_TRUE(tsc.invariant);
  EXPECT_EQ(tsc.crystal_frequency, 38'400'000);
  EXPECT_EQ(tsc.tsc_frequency, 4'185'600'000);
  // No crystal: the base frequency of leaf 0x16.
  fakes::FakeCpuid cpu = fakes::arrow_lake();
  cpu.at(0x15).ecx = 0;
  EXPECT_EQ(decode_tsc_info(cpu).tsc_frequency, 4'200'000'000);
  // Highest leaf below 0x15, also when it reads negative as a signed number.
  cpu = fakes::arrow_lake();
  cpu.at(0x0).eax = 0x14;
  tsc = decode_tsc_info(cpu);
  EXPECT_EQ(tsc.crystal_frequency, 0);
  EXPECT_EQ(tsc.tsc_frequency, 0);
  cpu.at(0x0).eax = 0x80000020;
  EXPECT_EQ(decode_tsc_info(cpu).tsc_frequency, 0);
  // The largest factors neither wrap nor go negative.
  cpu.at(0x0).eax = 0x15;
  cpu.set(0x15, {1, 0xFFFFFFFF, 0xFFFFFFFF, 0});
  EXPECT_EQ(decode_tsc_info(cpu).tsc_frequency, kMax);
  EXPECT_FALSE(decode_tsc_info(fakes::athlon_xp()).invariant);
}

TEST(HwbotRule, VersionVendorModelAndSource) {
  const TimerInfo itsc{10'000'000, 10'000'000, TimerSource::kItsc};
  const TimerInfo unknown{5'000'000, 5'000'000, TimerSource::kUnknown};
  const TimerInfo hpet{14'318'180, 14'318'180, TimerSource::kHpet};
  const CpuInfo amd{"AMD Ryzen", CpuVendor::kAmd, 0xF, 0x21};
  const CpuInfo intel_4f{"Intel Xeon", CpuVendor::kIntel, 6, 0x4F};
  const CpuInfo intel_4e{"Intel Core", CpuVendor::kIntel, 6, 0x4E};
  const CpuInfo intel_9e{"Intel Core", CpuVendor::kIntel, 6, 0x9E};
  // Older systems: everything passes.
  EXPECT_TRUE(hwbot_compliant(unknown, amd, false));
  EXPECT_TRUE(hwbot_compliant(itsc, intel_4f, false));
  // 6.2 or later.
  EXPECT_FALSE(hwbot_compliant(itsc, amd, true));
  EXPECT_FALSE(hwbot_compliant(itsc, intel_4f, true));
  EXPECT_TRUE(hwbot_compliant(itsc, intel_4e, true));
  EXPECT_TRUE(hwbot_compliant(unknown, intel_9e, true));
  EXPECT_TRUE(hwbot_compliant(hpet, amd, true));
  EXPECT_TRUE(hwbot_compliant(hpet, intel_4f, true));
}

TEST(CounterOverflow, LimitFromReadingAndFrequency) {
  const TimerInfo ten_mhz{10'000'000, 10'000'000, TimerSource::kItsc};
  EXPECT_TRUE(counter_would_overflow(ten_mhz, 0, 922'337'203'685));
  EXPECT_FALSE(counter_would_overflow(ten_mhz, 0, 922'337'203'684));
  EXPECT_TRUE(counter_would_overflow(ten_mhz, kMax - 100'000'000, 10));
  EXPECT_FALSE(counter_would_overflow(ten_mhz, kMax - 100'000'000, 9));
  // A stopped timer overflows only at the largest count.
  const TimerInfo stopped{0, 0, TimerSource::kUnknown};
  EXPECT_TRUE(counter_would_overflow(stopped, 0, kMax));
  EXPECT_FALSE(counter_would_overflow(stopped, 0, kMax - 1));
  // A coarse reading past 2^63 arrives negative; the limit must not overflow.
  const TimerInfo ms{1000, 64, TimerSource::kUnknown};
  EXPECT_FALSE(counter_would_overflow(ms, -1, 9'223'372'036'854'774));
  EXPECT_TRUE(counter_would_overflow(ms, -1, 9'223'372'036'854'775));
}

TEST(ElapsedTime, TruncatesTowardZero) {
  const TimerInfo three{3, 3, TimerSource::kUnknown};
  EXPECT_EQ(elapsed_seconds(three, 100, 110), 3);
  EXPECT_EQ(elapsed_milliseconds(three, 100, 110), 3333);
  EXPECT_EQ(elapsed_microseconds(three, 100, 110), 3'333'333);
  EXPECT_EQ(elapsed_seconds(three, 110, 100), -3);
  EXPECT_EQ(elapsed_milliseconds(three, 110, 100), -3333);
  // No division by a frequency of 0 or less.
  EXPECT_EQ(elapsed_milliseconds({0, 0, TimerSource::kUnknown}, 0, 1000), 0);
  EXPECT_EQ(elapsed_seconds({-7, 0, TimerSource::kUnknown}, 0, 1000), 0);
  // Extreme readings saturate instead of wrapping.
  const TimerInfo one{1, 1, TimerSource::kUnknown};
  EXPECT_EQ(elapsed_seconds(one, kMin, kMax), kMax);
  EXPECT_EQ(elapsed_milliseconds(one, kMax, kMin), kMin);
  EXPECT_EQ(elapsed_microseconds({kMax, kMax, TimerSource::kUnknown}, 0, kMax - 1), 999'999);
}

}  // namespace
}  // namespace platform
