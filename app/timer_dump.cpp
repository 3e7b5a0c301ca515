#include "app/timer_dump.h"

#include <cstdint>
#include <cstdio>

#include <fmt/format.h>

#include "platform/console.h"
#include "platform/format.h"

namespace app {
namespace {

std::string freq(std::int64_t hz) { return platform::format_si(hz < 0 ? 0 : static_cast<std::uint64_t>(hz), "Hz"); }

std::string_view vendor_line(platform::CpuVendor vendor) {
  switch (vendor) {
    case platform::CpuVendor::kIntel: return "Intel detected";
    case platform::CpuVendor::kAmd: return "AMD detected";
    case platform::CpuVendor::kOther: break;
  }
  return "unknown vendor";
}

}  // namespace

std::string timer_dump_text(const platform::TimerInfo& fast, const platform::TimerInfo& coarse,
                            const platform::TscInfo& tsc, const platform::CpuInfo& cpu, bool compliant) {
  std::string text;
  auto line = [&text](std::string_view part) {
    text.append(part);
    text.push_back('\n');
  };
  line(fmt::format("Fast timer: {}", platform::timer_source_name(fast.source)));
  line("underlying frequency: " + freq(fast.underlying_frequency));
  line("report frequency: " + freq(fast.report_frequency));
  // The coarse timer's source is never classified, so none is shown.
  line("Coarse timer: ");
  line("underlying frequency: " + freq(coarse.underlying_frequency));
  line("report frequency: " + freq(coarse.report_frequency));
  line("");
  line("tsc info:");
  line("tsc: " + freq(tsc.tsc_frequency));
  line("crystal: " + freq(tsc.crystal_frequency));
  line(fmt::format("invariant: {}", tsc.invariant));
  line("");
  line(cpu.brand);
  line(vendor_line(cpu.vendor));
  line(fmt::format("detected family: {:x} model: {:x}", cpu.family, cpu.model));
  line("");
  if (compliant) {
    line("Fast timer is hwbot compliant");
  } else {
    line("Fast timer is not compliant with HWBOT rules");
    line("Use --bypass-timer-check to run regardless if you are sure that this is a detection error in terms "
         "of your windows version, processor, or timer");
  }
  return text;
}

void run_timer_dump() {
  const platform::TimerInfo fast = platform::query_fast_timer();
  const platform::TimerInfo coarse = platform::query_coarse_timer();
  const platform::TscInfo tsc = platform::query_tsc_info();
  const platform::CpuInfo cpu = platform::identify_cpu();
  const std::string text = timer_dump_text(fast, coarse, tsc, cpu, platform::is_hwbot_compliant(fast));
  std::fwrite(text.data(), 1, text.size(), stdout);
  (void)platform::flush_standard_output();
}

}  // namespace app
