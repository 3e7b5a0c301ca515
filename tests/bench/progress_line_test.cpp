#include "bench/progress_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProgressLineTest, SumsRatesAndTakesLargestIterationCount) {
  bench::ProgressBoard board(3);
  board[0].iterations = 12;
  board[0].rate = 1000.5;
  board[1].iterations = 15;
  board[1].rate = 234.25;
  // slot 2 has not finished an iteration yet: rate 0 counts as nothing
  fmt::memory_buffer buffer;
  EXPECT_EQ(std::string(bench::format_progress(buffer, 3, 30, board)),
            "\rbenchmarking... 3/30s             1235 MGups  15 iterations");
  // The buffer is reused: a second line replaces the first.
  board[2].rate = 0.125;
  EXPECT_EQ(std::string(bench::format_progress(buffer, 30, 30, board)),
            "\rbenchmarking... 30/30s             1235 MGups  15 iterations");
}

TEST(ProgressLineTest, FreshBoardShowsZeros) {
  bench::ProgressBoard board(1);
  fmt::memory_buffer buffer;
  EXPECT_EQ(std::string(bench::format_progress(buffer, 0, 1, board)),
            "\rbenchmarking... 0/1s                0 MGups  0 iterations");
}

}  // namespace
