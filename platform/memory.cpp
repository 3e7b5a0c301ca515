#include "platform/memory.h"

namespace platform {

std::uint64_t round_to_large_pages(std::uint64_t size_bytes, std::uint64_t minimum) {
  if (minimum == 0) return 0;
  const std::uint64_t pages = size_bytes / minimum + (size_bytes % minimum != 0 ? 1 : 0);
  // Rounding past 2^64 must fail rather than wrap to a small block.
  if (pages > UINT64_MAX / minimum) return 0;
  return pages * minimum;
}

std::uint64_t GrantLedger::usable(std::uint64_t available) {
  // Other processes keep allocating after the first grant, and the kernel maps
  // the granted blocks with page tables of its own (8 bytes per 4 KiB page, a
  // fifth of a percent). A fiftieth of the memory covers that ten times over
  // without keeping back much on a large machine; the floor covers the rest of
  // the process and the system's needs meanwhile on a small one.
  constexpr std::uint64_t kMinimumMargin = std::uint64_t{256} << 20;
  const std::uint64_t share = available / 50;
  const std::uint64_t margin = share > kMinimumMargin ? share : kMinimumMargin;
  return available > margin ? available - margin : 0;
}

std::optional<std::uint64_t> field_memory_budget(std::uint64_t capacity, std::uint64_t available) {
  if (capacity != UINT64_MAX) return capacity;
  if (available == 0) return std::nullopt;
  return GrantLedger::usable(available);
}

void GrantLedger::read_limit(std::uint64_t (*read_available)()) {
  if (limit_read_) return;
  const std::uint64_t available = read_available();
  unlimited_ = available == 0;
  limit_ = usable(available);
  limit_read_ = true;
}

bool GrantLedger::grant(std::uint64_t bytes, std::uint64_t (*read_available)()) {
  std::lock_guard lock(mutex_);
  read_limit(read_available);
  if (unlimited_) return true;
  if (bytes > limit_ || granted_ > limit_ - bytes) return false;
  granted_ += bytes;
  return true;
}

void GrantLedger::release(std::uint64_t bytes) {
  std::lock_guard lock(mutex_);
  if (unlimited_) return;
  granted_ = bytes > granted_ ? 0 : granted_ - bytes;
}

std::uint64_t GrantLedger::capacity(std::uint64_t (*read_available)()) {
  std::lock_guard lock(mutex_);
  read_limit(read_available);
  return unlimited_ ? UINT64_MAX : limit_;
}

std::optional<std::uint64_t> GrantLedger::limit() const {
  std::lock_guard lock(mutex_);
  if (!limit_read_ || unlimited_) return std::nullopt;
  return limit_;
}

}  // namespace platform
