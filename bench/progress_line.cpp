#include "bench/progress_line.h"

#include <algorithm>

namespace bench {

std::string_view format_progress(fmt::memory_buffer& buffer, std::int64_t seconds,
                                 std::uint64_t duration, const ProgressBoard& board) {
  std::uint64_t most_iterations = 0;
  double total_rate = 0.0;
  for (std::uint32_t i = 0; i < board.size(); ++i) {
    most_iterations = std::max(most_iterations, board[i].iterations.load(std::memory_order_relaxed));
    total_rate += board[i].rate.load(std::memory_order_relaxed);
  }
  buffer.clear();
  fmt::format_to(fmt::appender(buffer), "\rbenchmarking... {}/{}s {:>16.4g} MGups  {} iterations",
                 seconds, duration, total_rate, most_iterations);
  return {buffer.data(), buffer.size()};
}

}  // namespace bench
