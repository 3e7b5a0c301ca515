// The memory services of the running system: rounding here, calls in the backend.

#include "platform/memory.h"
#include "platform/memory_os.h"

namespace platform {

void* allocate_aligned(std::uint64_t size_bytes) {
  // The rounded size must stay a multiple of the alignment without wrapping.
  if (size_bytes > UINT64_MAX - (kBlockAlignment - 1)) return nullptr;
  const std::uint64_t rounded = (size_bytes + kBlockAlignment - 1) & ~(kBlockAlignment - 1);
  return os::aligned_block(rounded);
}

void free_aligned(void* block) {
  if (block != nullptr) os::release_aligned_block(block);
}

std::uint64_t large_page_minimum() {
  static const std::uint64_t minimum = os::prepare_large_pages();
  return minimum;
}

void* allocate_large_pages(std::uint64_t size_bytes) {
  const std::uint64_t length = round_to_large_pages(size_bytes, large_page_minimum());
  if (length == 0) return nullptr;
  return os::map_large_pages(length);
}

void free_large_pages(void* block) {
  (void)large_page_minimum();
  if (block != nullptr) os::unmap_large_pages(block);
}

std::uint64_t available_physical_memory() { return os::available_memory_bytes(); }

std::uint64_t aligned_capacity() { return os::aligned_capacity(); }

std::optional<std::uint64_t> field_memory_budget() {
  return field_memory_budget(os::aligned_capacity(), os::available_memory_bytes());
}

std::optional<std::uint64_t> large_page_budget() {
  if (const std::optional<std::uint64_t> pool = os::large_page_pool_bytes()) return pool;
  return field_memory_budget();
}

}  // namespace platform
