#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

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

/// The bytes that `allocate_aligned` blocks may hold at once in this process;
/// UINT64_MAX where the system refuses what it cannot back by itself. Lets a
/// run whose fields cannot all fit fail before any of them is touched.
std::uint64_t aligned_capacity();

/// The memory a run plans its fields in: `capacity` (what `aligned_capacity`
/// says aligned blocks may hold) where the process keeps that count itself,
/// else `available` (the available physical memory) less the margin of
/// `GrantLedger::usable`, so that a plan never counts on every free byte.
/// Empty when unknown (no count kept and `available` is 0, the failed query);
/// 0 when known and nothing is left for fields.
std::optional<std::uint64_t> field_memory_budget(std::uint64_t capacity, std::uint64_t available);
/// `field_memory_budget` of the running system. The automatic thread count
/// uses it, so it never chooses more workers than the allocations admit.
std::optional<std::uint64_t> field_memory_budget();

/// The memory a run plans its large-page fields in: the system's pool of free
/// large pages where it keeps one apart from ordinary memory (Linux's huge
/// pages), else `field_memory_budget` (Windows takes them from ordinary memory).
std::optional<std::uint64_t> large_page_budget();

/// `size_bytes` rounded up to a multiple of `minimum`; 0 when `minimum` is 0
/// or the rounded size does not fit in 64 bits.
std::uint64_t round_to_large_pages(std::uint64_t size_bytes, std::uint64_t minimum);

/// Where the system promises memory it may not be able to back (Linux
/// over-commits), a block that is too large succeeds and the process is later
/// killed while it touches the pages. The ledger counts the bytes granted to
/// this process's blocks against the memory available when the first grant
/// was asked for, less a safety margin, and refuses what would go beyond.
/// Thread-safe.
class GrantLedger {
 public:
  /// Counts `bytes` and returns true when they fit. `read_available` gives the
  /// available memory in bytes (0 when unknown: no limit); it is asked once,
  /// on the first call.
  bool grant(std::uint64_t bytes, std::uint64_t (*read_available)());
  /// Returns `bytes` of an earlier grant.
  void release(std::uint64_t bytes);
  /// The bytes that may be granted in all, reading the available memory as
  /// `grant` would when nothing was granted yet; UINT64_MAX for no limit.
  std::uint64_t capacity(std::uint64_t (*read_available)());
  /// The bytes that may be granted in all; empty while no limit applies
  /// (before the first grant, or when the available memory was unknown).
  std::optional<std::uint64_t> limit() const;

  /// What is left of `available` for field blocks: the margin covers the rest
  /// of the process and whatever the system needs meanwhile.
  static std::uint64_t usable(std::uint64_t available);

 private:
  void read_limit(std::uint64_t (*read_available)());

  mutable std::mutex mutex_;
  bool limit_read_ = false;
  bool unlimited_ = false;
  std::uint64_t limit_ = 0;
  std::uint64_t granted_ = 0;
};

/// Alignment of `allocate_aligned` blocks, a cache line.
inline constexpr std::uint64_t kBlockAlignment = 64;

}  // namespace platform
