#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/opt_error.h"
#include "solver/field_memory.h"
#include "solver/kernel_args.h"
#include "solver/solver.h"

namespace solver {

/// Whether new field memory is zero-filled when it is obtained, or left for
/// its owner, who then writes every cell before anything reads one.
enum class CellFill { zeroed, unwritten };

/// An owned block of cells (zero-filled unless its owner writes them all
/// itself), from 64-byte-aligned heap memory or from large pages; released with
/// the call that matches how it was obtained. The cells may start `lead_bytes`
/// past the start of the block (a multiple of 64, so a cell never straddles a
/// line).
class CellBuffer {
 public:
  CellBuffer() = default;
  /// Obtains `count` cells, `lead_bytes` into the block (a block of
  /// `field_block_bytes(count, lead_bytes)`), zeroed unless `fill` says
  /// otherwise. On failure (no memory, or a byte count that does not fit in 64
  /// bits) the buffer is left without storage.
  CellBuffer(std::uint64_t count, bool large_pages, std::uint64_t lead_bytes = 0,
             CellFill fill = CellFill::zeroed);
  CellBuffer(CellBuffer&& other) noexcept;
  CellBuffer& operator=(CellBuffer&& other) noexcept;
  CellBuffer(const CellBuffer&) = delete;
  CellBuffer& operator=(const CellBuffer&) = delete;
  ~CellBuffer() { release(); }

  /// Gives the memory back; afterwards the buffer is empty.
  void release();

  bool large_pages() const { return large_pages_; }
  std::uint64_t count() const { return count_; }
  /// Bytes of the block obtained, the lead included; 0 when empty.
  std::uint64_t block_bytes() const { return block_bytes_; }
  /// First cell; null when empty.
  Cell* data() const { return data_; }

 private:
  bool large_pages_ = false;
  std::uint64_t count_ = 0;
  std::uint64_t block_bytes_ = 0;
  Cell* data_ = nullptr;
  void* block_ = nullptr;
};

/// One field: edge N = n + 2 cells per axis (halo included) and N³ cells.
struct FieldArray {
  std::uint64_t edge = 0;
  CellBuffer cells;

  /// Cell (x, y, z); x slowest, z contiguous. No bounds check.
  Cell& at(std::uint64_t x, std::uint64_t y, std::uint64_t z) const {
    return cells.data()[z + edge * (y + edge * x)];
  }
};

/// A solver's fields and the constants derived from the cell size.
struct FieldState {
  FieldArray e;
  FieldArray h;
  double cell_size = 0.0;
  double time_step = 0.0;
  double cell_volume = 0.0;
  double e_coefficient = 0.0;
  double h_coefficient = 0.0;

  /// The plain view the kernels and energy routines take, with the fused
  /// step's strip width for this edge.
  KernelArgs kernel_args() const;
};

/// Rows per strip of the fused step on arrays of edge `edge` (n + 2): at least 1,
/// and n or more when one strip of all rows already keeps its working set in cache.
std::uint64_t fused_strip_rows(std::uint64_t edge);

/// Cells of an array with edge `edge` (edge³), or nothing when it does not fit in 64 bits.
std::optional<std::uint64_t> cube_count(std::uint64_t edge);

/// The message of a failed `FieldStorage::allocate`.
inline constexpr std::string_view kFieldAllocationFailed = "field allocation failed";

/// The field arrays of one solver with their allocated flag; the storage part
/// shared by the per-instruction-set solver classes.
class FieldStorage {
 public:
  FieldStorage() = default;
  FieldStorage(const FieldStorage&) = delete;
  FieldStorage& operator=(const FieldStorage&) = delete;
  ~FieldStorage() { release(); }

  /// Obtains a new pair of arrays first and only then releases the old pair.
  /// Fails with "field allocation failed" when either array has no storage; the
  /// arrays obtained are kept either way. With `CellFill::unwritten` the cells
  /// hold whatever the memory held, and the caller must write all of them.
  [[nodiscard]] OptError allocate(const FieldParams& params, CellFill fill = CellFill::zeroed);
  /// Releases H, then E, if allocated.
  void release();

  bool allocated() const { return allocated_; }
  /// True when both arrays hold all their cells, so the kernels may run.
  bool ready() const;
  /// (edge of E − 2)³ + (edge of H − 2)³, that is 2·n³; 0 before allocation.
  std::uint64_t updates_per_step() const;

  FieldState& state() { return state_; }
  const FieldState& state() const { return state_; }

 private:
  FieldState state_;
  bool allocated_ = false;
};

/// One H then one E half-step with the given kernels (their fused `step`); the
/// step message names the thread. Refuses (with the H message) to run on arrays that are not ready.
[[nodiscard]] OptError run_step(const KernelTable& kernels, const FieldStorage& fields,
                                std::uint32_t thread_index);

}  // namespace solver
