#include "bench/thread_count.h"

#include <algorithm>
#include <limits>

#include "platform/memory.h"
#include "solver/field_memory.h"

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

std::uint64_t field_bytes_per_thread(std::uint64_t size, bool large_pages, std::uint64_t large_page_bytes) {
  if (!large_pages || large_page_bytes == 0) return solver::field_request_per_thread(size);
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const solver::FieldBlocks blocks = solver::field_blocks(size);
  const std::uint64_t e = platform::round_to_large_pages(blocks.e_bytes, large_page_bytes);
  const std::uint64_t h = platform::round_to_large_pages(blocks.h_bytes, large_page_bytes);
  // The rounding gives 0 where it would not fit.
  if (e == 0 || h == 0 || e > kMax - h) return kMax;
  return e + h;
}

}  // namespace bench
