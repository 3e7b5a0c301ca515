#pragma once

#include <cstdint>

namespace bench {

inline constexpr std::uint32_t kMinDuration = 1;
inline constexpr std::uint32_t kMaxDuration = 1000;

/// Worker count: `requested` when not 0; otherwise one per core, capped by how
/// many field sets fit in `available_bytes` (ignored when none fits or the
/// memory is unknown). Never 0.
std::uint32_t choose_thread_count(std::uint32_t requested, std::uint32_t cores,
                                  std::uint64_t available_bytes, std::uint64_t per_thread_bytes);

/// Duration clamped to kMinDuration..kMaxDuration seconds.
constexpr std::uint32_t clamp_duration(std::uint32_t seconds) {
  return seconds < kMinDuration ? kMinDuration : (seconds > kMaxDuration ? kMaxDuration : seconds);
}

}  // namespace bench
