#include "bench/progress_trace.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace bench {
// Readable failures: (µs, updates).
void PrintTo(const ProgressPoint& p, std::ostream* os) { *os << "(" << p.fast_us << " us, " << p.updates << ")"; }
}  // namespace bench

namespace {

using bench::ProgressPoint;
using bench::ProgressTrace;

// A fast timer of 1000 counts a second: a one-second run's hundredth is 10 counts
// and a count is 1000 µs.
constexpr platform::TimerInfo kMilliTimer{1000, 1000, platform::TimerSource::kItsc};

struct TraceCase {
  const char* what;
  std::vector<std::int64_t> iteration_ends;  // readings since the start; iteration i has done 100 × i updates
  std::int64_t end;                          // the loop's end, since the start
  std::uint64_t end_updates;
  std::vector<ProgressPoint> expected;
};

TEST(ProgressTrace, APointAtTheFirstIterationPastEachHundredthAndTheLoopsEnd) {
  const std::vector<TraceCase> cases = {
      {"hundredths passed several at a time give one point each time; the end replaces the last iteration's point",
       {25, 26, 60, 1000}, 1002, 400, {{25000, 100}, {60000, 300}, {1002000, 400}}},
      {"an iteration that ends exactly on a hundredth has passed it",
       {9, 10, 19, 20, 21}, 22, 500, {{10000, 200}, {20000, 400}, {22000, 500}}},
      {"a loop that ends between two hundredths adds its end as a point of its own",
       {500, 505}, 506, 200, {{500000, 100}, {506000, 200}}},
      {"a run shorter than one iteration: its one point is the loop's end",
       {3000}, 3001, 100, {{3001000, 100}}},
      {"no iteration at all", {}, 0, 0, {{0, 0}}},
  };
  for (const TraceCase& c : cases) {
    ProgressTrace trace;
    // Readings are offset by a start far from zero, as a real counter's are.
    constexpr std::int64_t kStart = 123456789;
    trace.begin(kMilliTimer, kStart, 1);
    std::uint64_t updates = 0;
    for (std::int64_t at : c.iteration_ends) trace.at_iteration_end(kStart + at, updates += 100);
    trace.finish(kStart + c.end, c.end_updates);
    const std::vector<ProgressPoint> got(trace.points().begin(), trace.points().end());
    EXPECT_EQ(got, c.expected) << c.what;
  }
}

TEST(ProgressTrace, NeverMoreThanAPointPerHundredthAndTheEnd) {
  // An iteration every count over twice the duration (the coarse timer ended the
  // loop late): one point per hundredth, then the end.
  ProgressTrace trace;
  trace.begin(kMilliTimer, 0, 1);
  for (std::int64_t at = 1; at <= 2000; ++at) trace.at_iteration_end(at, static_cast<std::uint64_t>(at));
  trace.finish(2001, 2001);
  ASSERT_EQ(trace.points().size(), ProgressTrace::kCapacity);
  EXPECT_EQ(trace.points()[0], (ProgressPoint{10000, 10}));
  EXPECT_EQ(trace.points()[99], (ProgressPoint{1000000, 1000}));
  EXPECT_EQ(trace.points()[100], (ProgressPoint{2001000, 2001}));

  // Thresholds past the counter's range all sit at its largest value, which a
  // counter stuck there meets at every iteration: still one point.
  trace.begin({1000000000, 0, platform::TimerSource::kItsc}, INT64_MAX - 10, 1000);
  for (int i = 1; i <= 300; ++i) trace.at_iteration_end(INT64_MAX, static_cast<std::uint64_t>(i));
  trace.finish(INT64_MAX, 301);
  EXPECT_EQ(trace.points().size(), 2u);

  // A timer without a frequency: every hundredth has passed at the first iteration.
  trace.begin({0, 0, platform::TimerSource::kUnknown}, 0, 1);
  trace.at_iteration_end(5, 100);
  trace.at_iteration_end(9, 200);
  trace.finish(10, 200);
  EXPECT_EQ(std::vector<ProgressPoint>(trace.points().begin(), trace.points().end()),
            (std::vector<ProgressPoint>{{0, 100}, {0, 200}}));
}

}  // namespace
