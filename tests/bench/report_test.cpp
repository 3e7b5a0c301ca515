#include "bench/report.h"

#include <gtest/gtest.h>

namespace {

using bench::CapturedConsole;
using bench::RunResult;
using bench::ThreadResult;

constexpr const char* kInvalidBox = "==================\n  invalid result \n==================\n";

RunResult one_thread(std::int64_t fast_us, std::int64_t coarse_ms) {
  RunResult r;
  r.thread_count = 1;
  r.workload = "standing_wave";
  r.isa = "sse2";
  r.results.push_back({0, coarse_ms, fast_us, 2593, 2593ull * 14155776ull, {}});
  return r;
}

TEST(ReportTest, ValidRunPrintsTableBannerAndScore) {
  CapturedConsole console;
  const auto outcome = bench::report_results(one_thread(30010000, 30010), console, "Test CPU @ 1GHz");
  EXPECT_TRUE(outcome.valid);
  EXPECT_NEAR(outcome.score, 1223.12, 0.01);
  EXPECT_EQ(console.err_text, "");
  EXPECT_EQ(console.out_text,
            "thread  grid updates    time    MGups  iterations\n"
            "     0   36705927168  30.01s  1223.12        2593\n"
            "===============\n  valid result \n===============\n"
            "zelvo v" + std::string(bench::kVersionText) + " standing_wave sse2\n"
            "Test CPU @ 1GHz\n"
            "final score: 1223.12 MGups\n");
}

TEST(ReportTest, RowsKeepCompletionOrderAndScoreSumsRates) {
  RunResult r;
  r.thread_count = 2;
  r.results.push_back({1, 1000, 1000000, 10, 100000000, {}});  // 100 MGups
  r.results.push_back({0, 2000, 2000000, 10, 100000000, {}});  // 50 MGups
  const std::string table = bench::format_result_table(r);
  EXPECT_EQ(table,
            "thread  grid updates   time   MGups  iterations\n"
            "     1     100000000  1.00s  100.00          10\n"
            "     0     100000000  2.00s   50.00          10\n");
  CapturedConsole console;
  EXPECT_NEAR(bench::report_results(r, console, "").score, 150.0, 1e-9);
}

TEST(ReportTest, ScoreFormatSwitchesAbove100) {
  // 100.0 exactly takes the short form; 99.876 rounds to four digits; 5 stays bare.
  struct Case {
    std::uint64_t updates;
    const char* line;
  } cases[] = {{1234567000, "final score: 1234.57 MGups\n"},
               {100000000, "final score: 100 MGups\n"},
               {99876000, "final score: 99.88 MGups\n"},
               {5000000, "final score: 5 MGups\n"}};
  for (const auto& c : cases) {
    RunResult r = one_thread(1000000, 1000);
    r.results[0].updates = c.updates;
    CapturedConsole console;
    EXPECT_TRUE(bench::report_results(r, console, "").valid);
    EXPECT_NE(console.out_text.find(c.line), std::string::npos) << console.out_text;
  }
}

TEST(ReportTest, TimerCrossCheckTolerance) {
  // 30,000,999 us truncates to 30,000 ms: 30 ms off passes, 32 ms fails either way round.
  CapturedConsole pass;
  EXPECT_TRUE(bench::report_results(one_thread(30000999, 29970), pass, "").valid);

  CapturedConsole fail;
  EXPECT_FALSE(bench::report_results(one_thread(30000999, 29968), fail, "").valid);
  EXPECT_EQ(fail.err_text, std::string(kInvalidBox) +
                               "disagreement between timers for total work is larger than tolerance\n"
                               "fast timer = 30000ms    coarse timer = 29968ms\n");
  EXPECT_NE(fail.out_text.find("thread  grid updates"), std::string::npos);  // table still shown
  EXPECT_EQ(fail.out_text.find("valid result"), std::string::npos);

  CapturedConsole negative;
  EXPECT_FALSE(bench::report_results(one_thread(29968000, 30000), negative, "").valid);
}

TEST(ReportTest, InvalidRunsPrintOnlyTheirMessages) {
  RunResult stopped = one_thread(1000000, 1000);
  stopped.stopped = true;
  CapturedConsole c1;
  EXPECT_FALSE(bench::report_results(stopped, c1, "").valid);
  EXPECT_EQ(c1.err_text, kInvalidBox);
  EXPECT_EQ(c1.out_text, "");

  RunResult missing;
  missing.thread_count = 2;  // an aborted run: no results at all
  CapturedConsole c2;
  EXPECT_FALSE(bench::report_results(missing, c2, "").valid);
  EXPECT_EQ(c2.err_text, std::string(kInvalidBox) + "not all threads produced a result\n");
  EXPECT_EQ(c2.out_text, "");
}

TEST(ReportTest, ZeroFastTimeIsInvalidNotInfinite) {
  for (std::int64_t fast_us : {0, -5}) {
    CapturedConsole console;
    const auto outcome = bench::report_results(one_thread(fast_us, 0), console, "");
    EXPECT_FALSE(outcome.valid);
    EXPECT_EQ(console.err_text.rfind(kInvalidBox, 0), 0u);
    EXPECT_NE(console.err_text.find("fast timer measured"), std::string::npos);
    EXPECT_EQ(console.out_text.find("final score"), std::string::npos);
  }
}

TEST(ReportTest, ExtremeTimerReadingsDoNotOverflowTheCheck) {
  CapturedConsole console;
  EXPECT_FALSE(bench::report_results(one_thread(INT64_MAX, INT64_MIN), console, "").valid);
}

}  // namespace

namespace {

// The reason an invalid result records is what standard error said besides the
// box: the message that ended the run early, then the report's own lines.
TEST(ReportTest, InvalidResultsKeepTheirReason) {
  CapturedConsole valid;
  EXPECT_EQ(bench::report_results(one_thread(1000000, 1000), valid, "").reason, "");

  CapturedConsole timers;
  EXPECT_EQ(bench::report_results(one_thread(30000999, 29968), timers, "").reason,
            "disagreement between timers for total work is larger than tolerance\n"
            "fast timer = 30000ms    coarse timer = 29968ms");

  RunResult stopped = one_thread(1000000, 1000);
  stopped.stopped = true;
  stopped.failure = "field allocation failed in thread 1\nfield allocation failed\n";
  CapturedConsole c1;
  EXPECT_EQ(bench::report_results(stopped, c1, "").reason,
            "field allocation failed in thread 1\nfield allocation failed");

  RunResult aborted;
  aborted.thread_count = 1;
  aborted.failure = "fast timer will overflow during the run; aborting\n";
  CapturedConsole c2;
  EXPECT_EQ(bench::report_results(aborted, c2, "").reason,
            "fast timer will overflow during the run; aborting\nnot all threads produced a result");
  EXPECT_EQ(c2.err_text, std::string(kInvalidBox) + "not all threads produced a result\n");  // printed once
}

}  // namespace
