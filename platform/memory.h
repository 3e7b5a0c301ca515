#pragma once

#include <cstdint>

namespace platform {

/// Heap block of at least `size_bytes`, aligned to 64 bytes; null on failure.
/// Release it with `free_aligned`.
void* allocate_aligned(std::uint64_t size_bytes);
/// Releases a block of `allocate_aligned`; null is ignored.
void free_aligned(void* block);

/// Smallest large page in bytes, 0 when large pages are unsupported. The
/// first call (thread-safe) also asks for the right to lock pages where the
/// system needs it.
std::uint64_t large_page_minimum();
/// Committed read-write block backed by large pages, `size_bytes` rounded up
/// to a multiple of `large_page_minimum`; null on failure. No fallback to
/// ordinary pages. Release it with `free_large_pages`.
void* allocate_large_pages(std::uint64_t size_bytes);
/// Releases a block of `allocate_large_pages`; null is ignored.
void free_large_pages(void* block);

/// Physical memory available to new allocations, in bytes; 0 when unknown.
std::uint64_t available_physical_memory();

/// `size_bytes` rounded up to a multiple of `minimum`; 0 when `minimum` is 0
/// or the rounded size does not fit in 64 bits.
std::uint64_t round_to_large_pages(std::uint64_t size_bytes, std::uint64_t minimum);

/// Alignment of `allocate_aligned` blocks, a cache line.
inline constexpr std::uint64_t kBlockAlignment = 64;

}  // namespace platform
