#pragma once

#include <cstdint>
#include <string>

namespace bench {

/// Bounds of the run duration in seconds; the run set-up clamps into them.
inline constexpr std::uint32_t min_duration = 1;
inline constexpr std::uint32_t max_duration = 1000;

/// The command-line settings of a benchmark run, after validation of size,
/// workload and instruction set. The three names stay text up to the solver.
struct RunOptions {
  std::uint32_t numthreads = 0;  ///< 0: one per core, limited by free memory
  std::uint32_t duration = 30;   ///< seconds, not yet clamped
  std::uint64_t size = 192;      ///< grid edge n
  std::string threading = "os";
  std::string workload = "standing_wave";
  std::string isa = "sse2";
  bool strict_isa_check = false;
  bool large_pages = false;
  bool bypass_timer_check = false;
};

}  // namespace bench
