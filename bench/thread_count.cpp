#include "bench/thread_count.h"

#include <algorithm>
#include <limits>

namespace bench {

std::uint32_t choose_thread_count(std::uint32_t requested, std::uint32_t cores,
                                  std::optional<std::uint64_t> budget_bytes, std::uint64_t per_thread_bytes) {
  std::uint32_t t = requested;
  if (t == 0) {
    if (cores == 0) {
      t = 1;
    } else {
      const std::uint64_t fit = per_thread_bytes == 0 || !budget_bytes ? 0 : *budget_bytes / per_thread_bytes;
      // Saturate rather than truncate: a count that wrapped to a small number
      // would throttle a machine for no reason.
      const std::uint32_t q = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(fit, std::numeric_limits<std::uint32_t>::max()));
      t = q == 0 ? cores : std::min(cores, q);
    }
  }
  return t == 0 ? 1 : t;
}

}  // namespace bench
