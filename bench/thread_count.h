#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

#include "bench/run_options.h"

namespace bench {

/// Worker count: `requested` when not 0; otherwise one per core, capped by how
/// many workers' field requests (`per_thread_bytes` each) fit in
/// `budget_bytes` (ignored when the budget is unknown or not even one fits).
/// Never 0.
std::uint32_t choose_thread_count(std::uint32_t requested, std::uint32_t cores,
                                  std::optional<std::uint64_t> budget_bytes, std::uint64_t per_thread_bytes);

/// What one worker's fields take of the memory the count plans in: both blocks
/// as the field storage asks for them, or with `large_pages` each block rounded
/// up to whole pages of `large_page_bytes` (0: unsupported, left unrounded), as
/// they are mapped. UINT64_MAX when that does not fit in 64 bits.
std::uint64_t field_bytes_per_thread(std::uint64_t size, bool large_pages, std::uint64_t large_page_bytes);

/// Duration clamped to min_duration..max_duration seconds.
constexpr std::uint32_t clamp_duration(std::uint32_t seconds) {
  return std::clamp(seconds, min_duration, max_duration);
}

}  // namespace bench
