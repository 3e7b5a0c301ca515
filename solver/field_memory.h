#pragma once

#include <cstdint>

namespace solver {

/// Bytes of field memory one worker needs for grid edge n: E and H, 32 bytes per
/// cell each, over the grid with its one-cell halo on every side.
constexpr std::uint64_t field_memory_per_thread(std::uint64_t n) {
  const std::uint64_t edge = n + 2;
  return 64 * edge * edge * edge;
}

}  // namespace solver
