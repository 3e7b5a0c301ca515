#pragma once

#include <string>

#include "platform/cpu.h"
#include "platform/timer.h"

namespace app {

/// The timer dump's text for the given facts: both timers, the TSC facts,
/// the processor and the compliance verdict, one item per line.
std::string timer_dump_text(const platform::TimerInfo& fast, const platform::TimerInfo& coarse,
                            const platform::TscInfo& tsc, const platform::CpuInfo& cpu, bool compliant);

/// The timer dump (--timer-debug): queries the timers and the processor and
/// writes `timer_dump_text` to standard output.
void run_timer_dump();

}  // namespace app
