#include "app/timer_dump.h"

#include <gtest/gtest.h>

namespace app {
namespace {

using platform::CpuInfo;
using platform::CpuVendor;
using platform::TimerInfo;
using platform::TimerSource;
using platform::TscInfo;

TEST(TimerDump, CompliantIntelWithAllFacts) {
  const TimerInfo fast{10'000'000, 10'000'000, TimerSource::kItsc};
  const TimerInfo coarse{1000, 64, TimerSource::kUnknown};
  const TscInfo tsc{true, 4'185'600'000, 38'400'000};
  const CpuInfo cpu{"Intel(R) Core(TM) Ultra 5 245K", CpuVendor::kIntel, 6, 0xC6};
  EXPECT_EQ(timer_dump_text(fast, coarse, tsc, cpu, true),
            "Fast timer: iTSC\n"
            "underlying frequency: 10.00 MHz\n"
            "report frequency: 10.00 MHz\n"
            "Coarse timer: \n"
            "underlying frequency: 64 Hz\n"
            "report frequency: 1.00 KHz\n"
            "\n"
            "tsc info:\n"
            "tsc: 4.19 GHz\n"
            "crystal: 38.40 MHz\n"
            "invariant: true\n"
            "\n"
            "Intel(R) Core(TM) Ultra 5 245K\n"
            "Intel detected\n"
            "detected family: 6 model: c6\n"
            "\n"
            "Fast timer is hwbot compliant\n");
}

TEST(TimerDump, NonCompliantWithUnknownFacts) {
  const TimerInfo fast{5'000'000, 5'000'000, TimerSource::kUnknown};
  const TimerInfo coarse{1000, 0, TimerSource::kUnknown};
  // An empty brand still takes its line; vendor 2 reads "unknown vendor".
  const std::string text = timer_dump_text(fast, coarse, TscInfo{}, {"", CpuVendor::kOther, 0xF, 0x21}, false);
  EXPECT_NE(text.find("Coarse timer: \nunderlying frequency: 0 Hz\n"), std::string::npos);
  EXPECT_NE(text.find("\ninvariant: false\n\n\nunknown vendor\ndetected family: f model: 21\n\n"
                      "Fast timer is not compliant with HWBOT rules\n"
                      "Use --bypass-timer-check to run regardless if you are sure that this is a detection "
                      "error in terms of your windows version, processor, or timer\n"),
            std::string::npos);
  EXPECT_NE(timer_dump_text(fast, coarse, TscInfo{}, {"AMD EPYC", CpuVendor::kAmd, 0xF, 0x11}, true)
                .find("\nAMD EPYC\nAMD detected\n"),
            std::string::npos);
}

}  // namespace
}  // namespace app
