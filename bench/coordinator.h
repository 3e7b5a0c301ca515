#pragma once

#include "bench/console.h"
#include "bench/run_records.h"

namespace bench {

/// Prints the run header, checks the instruction set and the timers, runs all
/// workers (worker 0 on the calling thread) and returns what they produced.
/// An early abort returns a result with no entries.
RunResult run_coordinator(const BenchParams& params, Console& console = standard_console(),
                          const RunHooks& hooks = system_hooks());

/// The three-line warning box, to the error stream.
void print_warning_box(Console& console);

}  // namespace bench
