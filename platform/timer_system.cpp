// The timer queries of the running system: backend answers fed to the rules.

#include "platform/timer.h"
#include "platform/timer_os.h"

namespace platform {

std::int64_t read_fast_counter() { return os::fast_counter(); }

std::uint64_t read_coarse_counter() { return os::coarse_counter_ms(); }

TscInfo query_tsc_info() { return decode_tsc_info(processor_cpuid()); }

TimerInfo query_fast_timer() { return fast_timer_info(os::fast_counter_frequency(), query_tsc_info()); }

TimerInfo query_coarse_timer() {
  return coarse_timer_info(os::primary_timer_period(), os::fallback_timer_period());
}

bool is_hwbot_compliant(const TimerInfo& fast) {
  return hwbot_compliant(fast, identify_cpu(), os::os_version_at_least_6_2());
}

}  // namespace platform
