#pragma once

// The system calls behind the memory services. Each backend implements these.

#include <cstdint>
#include <optional>

namespace platform::os {

/// Heap block of `size_bytes` (a multiple of 64) aligned to 64; null on failure.
void* aligned_block(std::uint64_t size_bytes);
/// Releases an `aligned_block`; null is ignored.
void release_aligned_block(void* block);
/// Asks for the right to lock pages (where the system has one), then returns
/// the large-page minimum in bytes, 0 when unsupported. Called once per process.
std::uint64_t prepare_large_pages();
/// Large-page block of exactly `length` bytes (a multiple of the minimum); null on failure.
void* map_large_pages(std::uint64_t length);
/// Releases a whole `map_large_pages` block; null is ignored.
void unmap_large_pages(void* block);
/// Bytes that aligned blocks may hold at once; UINT64_MAX when the system
/// itself refuses blocks it cannot back.
std::uint64_t aligned_capacity();
/// Bytes of the free large pages kept apart from ordinary memory; absent where
/// the system keeps no such pool or it cannot be read.
std::optional<std::uint64_t> large_page_pool_bytes();
/// Available physical memory in bytes; 0 on failure.
std::uint64_t available_memory_bytes();

}  // namespace platform::os
