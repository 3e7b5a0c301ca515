#pragma once

#include <cstdint>
#include <string_view>

#include <fmt/format.h>

#include "bench/progress_board.h"

namespace bench {

/// Builds the in-place progress line ("\rbenchmarking... 3/30s ...") from the
/// board into `buffer` and returns a view of it. The buffer is reused from
/// iteration to iteration, so refreshing allocates nothing once it has grown.
std::string_view format_progress(fmt::memory_buffer& buffer, std::int64_t seconds,
                                 std::uint64_t duration, const ProgressBoard& board);

}  // namespace bench
