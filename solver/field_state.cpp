#include "solver/field_state.h"

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "platform/memory.h"
#include "solver/guarded_call.h"

namespace solver {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

}  // namespace

std::optional<std::uint64_t> cube_count(std::uint64_t edge) {
  if (edge == 0) return std::uint64_t{0};
  if (edge > kMax / edge) return std::nullopt;
  const std::uint64_t square = edge * edge;
  if (square > kMax / edge) return std::nullopt;
  return square * edge;
}

CellBuffer::CellBuffer(std::uint64_t count, bool large_pages, std::uint64_t lead_bytes,
                       CellFill fill)
    : large_pages_(large_pages) {
  static_assert(sizeof(Cell) == 32, "field_block_bytes counts 32 bytes per cell");
  if (count == 0) return;
  if (lead_bytes % 64 != 0) return;
  const std::uint64_t size_bytes = field_block_bytes(count, lead_bytes);
  if (size_bytes == kMax) return;
  void* block = large_pages ? platform::allocate_large_pages(size_bytes)
                            : platform::allocate_aligned(size_bytes);
  if (block == nullptr) return;
  block_ = block;
  data_ = reinterpret_cast<Cell*>(static_cast<unsigned char*>(block) + lead_bytes);
  // Zeroing here also touches every page before the timed loop.
  if (fill == CellFill::zeroed) {
    for (std::uint64_t i = 0; i < count; ++i) data_[i] = Cell{0.0, 0.0, 0.0, 0.0};
  }
  count_ = count;
  block_bytes_ = size_bytes;
}

CellBuffer::CellBuffer(CellBuffer&& other) noexcept
    : large_pages_(other.large_pages_),
      count_(std::exchange(other.count_, 0)),
      block_bytes_(std::exchange(other.block_bytes_, 0)),
      data_(std::exchange(other.data_, nullptr)),
      block_(std::exchange(other.block_, nullptr)) {}

CellBuffer& CellBuffer::operator=(CellBuffer&& other) noexcept {
  if (this != &other) {
    release();
    large_pages_ = other.large_pages_;
    count_ = std::exchange(other.count_, 0);
    block_bytes_ = std::exchange(other.block_bytes_, 0);
    data_ = std::exchange(other.data_, nullptr);
    block_ = std::exchange(other.block_, nullptr);
  }
  return *this;
}

void CellBuffer::release() {
  if (block_ != nullptr) {
    if (large_pages_) {
      platform::free_large_pages(block_);
    } else {
      platform::free_aligned(block_);
    }
  }
  block_ = nullptr;
  data_ = nullptr;
  count_ = 0;
  block_bytes_ = 0;
}

// While the fused step works on plane x of a strip of w rows it reads E of the
// planes x and x + 1 and H of the planes x - 1 and x, w + 1 rows of each, and
// all but the newest plane come back at plane x + 1: about 4 (w + 1) rows of
// edge cells, here kept within a 1 MiB L2. Each strip costs one extra row of E
// and of H per plane from memory, so narrower is not better: on an AMD Zen 5 core
// (1 MiB L2), one thread, strips of 10 to 20 rows at n = 384 and 512 ran 1.3
// to 1.8 times as fast as one strip of all rows, strips of 3 rows 1.05 to 1.2.
constexpr std::uint64_t kStripBytes = std::uint64_t{1} << 20;

std::uint64_t fused_strip_rows(std::uint64_t edge) {
  if (edge == 0) return 1;
  const std::uint64_t rows = kStripBytes / (4 * sizeof(Cell)) / edge;
  return rows > 2 ? rows - 1 : 1;
}

KernelArgs FieldState::kernel_args() const {
  return KernelArgs{e.cells.data(), e.edge,      h.cells.data(), h.edge, e_coefficient,
                    h_coefficient,  cell_volume, fused_strip_rows(e.edge)};
}

OptError FieldStorage::allocate(const FieldParams& params, CellFill fill) {
  FieldState fresh;
  // An edge that wraps past 64 bits gets no storage (edge 0 means no cells).
  const std::uint64_t edge = params.grid_edge > kMax - 2 ? 0 : params.grid_edge + 2;
  const std::optional<std::uint64_t> count = cube_count(edge);
  fresh.e.edge = edge;
  fresh.h.edge = edge;
  if (count) {
    fresh.e.cells = CellBuffer(*count, params.large_pages, 0, fill);
    fresh.h.cells = CellBuffer(*count, params.large_pages, kFieldStaggerBytes, fill);
  }
  fresh.cell_size = params.cell_size;
  fresh.time_step = 0.5 * fresh.cell_size;
  fresh.cell_volume = std::pow(fresh.cell_size, 3.0);
  fresh.e_coefficient = fresh.time_step / fresh.cell_size;
  fresh.h_coefficient = fresh.time_step / fresh.cell_size;

  release();
  state_ = std::move(fresh);
  allocated_ = true;
  if (state_.e.cells.data() == nullptr || state_.h.cells.data() == nullptr) {
    return OptError::fail(std::string(kFieldAllocationFailed));
  }
  return {};
}

void FieldStorage::release() {
  if (!allocated_) return;
  state_.h.cells.release();
  state_.e.cells.release();
  allocated_ = false;
}

bool FieldStorage::ready() const {
  if (!allocated_ || state_.e.edge != state_.h.edge) return false;
  const std::optional<std::uint64_t> count = cube_count(state_.e.edge);
  return count && *count != 0 && state_.e.cells.count() == *count &&
         state_.h.cells.count() == *count;
}

std::uint64_t FieldStorage::updates_per_step() const {
  const auto interior_cube = [](std::uint64_t edge) {
    const std::uint64_t n = edge < 2 ? 0 : edge - 2;
    return n * n * n;
  };
  return interior_cube(state_.e.edge) + interior_cube(state_.h.edge);
}

OptError run_step(const KernelTable& kernels, const FieldStorage& fields,
                  std::uint32_t thread_index) {
  const KernelArgs args = fields.state().kernel_args();
  // One sweep for both half-steps. It fails only where update_h would (n = 0;
  // update_e cannot fail once update_h has run), so its failure is the H one.
  bool ok = false;
  if (fields.ready() && !call_guarded(ok, kernels.step, args)) return OptError::illegal_instruction();
  if (!ok) return OptError::fail("solver H step error in thread " + std::to_string(thread_index));
  return {};
}

}  // namespace solver
