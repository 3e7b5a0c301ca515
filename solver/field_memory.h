#pragma once

#include <cstdint>
#include <limits>

namespace solver {

/// Bytes of field memory one worker needs for grid edge n: E and H, 32 bytes per
/// cell each, over the grid with its one-cell halo on every side. The figure
/// the help table and the run header show.
constexpr std::uint64_t field_memory_per_thread(std::uint64_t n) {
  const std::uint64_t edge = n + 2;
  return 64 * edge * edge * edge;
}

/// How far into its block the H array starts, while E starts at the start of
/// its own. Large blocks are aligned to 2 MiB, so without this every H cell
/// would sit at the same place in its page as the E cell it is computed from,
/// and a processor that matches loads against older stores by their low address
/// bits stalls every update: the scalar steps ran at an eighth to a third of
/// their speed, the fma steps at a third to a half. Modulo 4 KiB the cells an
/// update reads lie 0, 32, 64, 128 or 2112 bytes from the one it writes, for
/// every selectable size; 1 KiB stays clear of all of them (2 KiB, next to
/// 2112, measured a third slower at n = 64).
inline constexpr std::uint64_t kFieldStaggerBytes = 1024;

/// Bytes of the block that holds `cells` cells of 32 bytes starting
/// `lead_bytes` into it: the size the allocation asks for. UINT64_MAX when it
/// does not fit in 64 bits, which no allocation grants.
constexpr std::uint64_t field_block_bytes(std::uint64_t cells, std::uint64_t lead_bytes) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  if (cells > kMax / 32 || lead_bytes > kMax - cells * 32) return kMax;
  return lead_bytes + cells * 32;
}

/// The two blocks one worker's fields take: E, then H with its lead.
struct FieldBlocks {
  std::uint64_t e_bytes = 0;
  std::uint64_t h_bytes = 0;
};

/// The blocks of grid edge n as the field storage asks for them; a size that
/// does not fit in 64 bits is UINT64_MAX.
constexpr FieldBlocks field_blocks(std::uint64_t n) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t edge = n > kMax - 2 ? kMax : n + 2;
  std::uint64_t cells = kMax;
  if (edge <= kMax / edge && edge * edge <= kMax / edge) cells = edge * edge * edge;
  return FieldBlocks{field_block_bytes(cells, 0), field_block_bytes(cells, kFieldStaggerBytes)};
}

/// What one worker's fields ask the allocator for in all (both blocks, the
/// lead included; UINT64_MAX when that does not fit). The automatic thread
/// count and the refusal before the run plan with it, so that every worker
/// they admit is granted its blocks.
constexpr std::uint64_t field_request_per_thread(std::uint64_t n) {
  const FieldBlocks b = field_blocks(n);
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  return b.e_bytes > kMax - b.h_bytes ? kMax : b.e_bytes + b.h_bytes;
}

}  // namespace solver
