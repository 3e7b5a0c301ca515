#include "bench/report.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace bench {
namespace {

constexpr std::array<std::string_view, 5> kHeaders = {"thread", "grid updates", "time", "MGups",
                                                      "iterations"};

}  // namespace

double thread_mgups(const ThreadResult& r) {
  const double seconds = static_cast<double>(r.fast_us) / 1000000.0;
  return (static_cast<double>(r.updates) / 1000000.0) / seconds;
}

void print_invalid_box(Console& console) {
  console.err("==================\n  invalid result \n==================\n");
}

std::string format_result_table(const RunResult& result) {
  std::vector<std::array<std::string, 5>> rows;
  rows.reserve(result.results.size());
  for (const ThreadResult& r : result.results) {
    const double seconds = static_cast<double>(r.fast_us) / 1000000.0;
    rows.push_back({fmt::format("{}", r.thread), fmt::format("{}", r.updates),
                    fmt::format("{:.2f}s", seconds), fmt::format("{:.2f}", thread_mgups(r)),
                    fmt::format("{}", r.iterations)});
  }

  std::array<std::size_t, 5> width{};
  for (std::size_t k = 0; k < kHeaders.size(); ++k) {
    width[k] = kHeaders[k].size();
    for (const auto& row : rows) width[k] = std::max(width[k], row[k].size());
  }

  std::string text;
  auto append_line = [&](auto cell_at) {
    for (std::size_t k = 0; k < width.size(); ++k) {
      if (k > 0) text += "  ";
      text += fmt::format("{:>{}}", cell_at(k), width[k]);
    }
    text += '\n';
  };
  append_line([&](std::size_t k) { return kHeaders[k]; });
  for (const auto& row : rows) append_line([&](std::size_t k) { return std::string_view(row[k]); });
  return text;
}

RunOutcome report_results(const RunResult& result, Console& console, std::string_view brand) {
  RunOutcome outcome;
  // The box, then `why`; the reason is whatever ended the run early and `why`.
  auto invalid = [&](std::string_view why) {
    print_invalid_box(console);
    if (!why.empty()) console.err(why);
    outcome.reason = result.failure;
    outcome.reason += why;
    while (!outcome.reason.empty() && outcome.reason.back() == '\n') outcome.reason.pop_back();
    return outcome;
  };
  if (result.stopped) return invalid({});
  if (result.results.size() < result.thread_count) return invalid("not all threads produced a result\n");
  // A fast timer that measured no time (or ran backwards) would turn the rate
  // into infinity or NaN; such a run proves nothing.
  for (const ThreadResult& r : result.results) {
    if (r.fast_us <= 0) {
      return invalid(
          fmt::format("fast timer measured {}us for thread {}; no rate can be computed\n", r.fast_us, r.thread));
    }
  }

  double score = 0.0;
  for (const ThreadResult& r : result.results) score += thread_mgups(r);

  console.out(format_result_table(result));

  for (const ThreadResult& r : result.results) {
    const std::int64_t fast_ms = r.fast_us / 1000;
    // Computed in unsigned arithmetic: the difference of two extreme readings
    // must not overflow.
    const std::uint64_t d = fast_ms >= r.coarse_ms
                                ? static_cast<std::uint64_t>(fast_ms) - static_cast<std::uint64_t>(r.coarse_ms)
                                : static_cast<std::uint64_t>(r.coarse_ms) - static_cast<std::uint64_t>(fast_ms);
    if (d >= 32) {
      return invalid(fmt::format(
          "disagreement between timers for total work is larger than tolerance\n"
          "fast timer = {}ms    coarse timer = {}ms\n",
          fast_ms, r.coarse_ms));
    }
  }

  console.out("===============\n  valid result \n===============\n");
  console.out(fmt::format("zelvo v{} {} {}\n", kVersionText, result.workload, result.isa));
  console.out(fmt::format("{}\n", brand));
  if (score > 100.0) {
    console.out(fmt::format("final score: {:.2f} MGups\n", score));
  } else {
    console.out(fmt::format("final score: {:.4g} MGups\n", score));
  }
  console.flush_out();
  outcome.score = score;
  outcome.valid = true;
  return outcome;
}

}  // namespace bench
