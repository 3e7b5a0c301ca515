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

/// Duration clamped to min_duration..max_duration seconds.
constexpr std::uint32_t clamp_duration(std::uint32_t seconds) {
  return std::clamp(seconds, min_duration, max_duration);
}

}  // namespace bench
