#include "platform/memory.h"

namespace platform {

std::uint64_t round_to_large_pages(std::uint64_t size_bytes, std::uint64_t minimum) {
  if (minimum == 0) return 0;
  const std::uint64_t pages = size_bytes / minimum + (size_bytes % minimum != 0 ? 1 : 0);
  // Rounding past 2^64 must fail rather than wrap to a small block.
  if (pages > UINT64_MAX / minimum) return 0;
  return pages * minimum;
}

}  // namespace platform
