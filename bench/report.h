#pragma once

#include <string>
#include <string_view>

#include "bench/console.h"
#include "bench/run_result.h"
#include "bench/version.h"

namespace bench {

/// A thread's rate in MGups, as its table row shows it: grid updates ÷ 10⁶ ÷
/// its fast-timer seconds. Infinite or NaN for a timer that measured nothing.
double thread_mgups(const ThreadResult& r);

/// The per-thread table (header and one row per result, in list order).
std::string format_result_table(const RunResult& result);

/// Decides the verdict, prints table, banners and score to `console`, and
/// returns the outcome, for an invalid one with the lines that said why.
/// `brand` is the processor brand string for the banner.
RunOutcome report_results(const RunResult& result, Console& console, std::string_view brand);

/// The same with the real processor brand on the standard streams.
RunOutcome report_results(const RunResult& result);

/// The three-line invalid box, to the error stream.
void print_invalid_box(Console& console);

}  // namespace bench
