#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/opt_error.h"

namespace platform {
struct CpuFeatures;
}

namespace solver {

using platform::OptError;

/// Instruction sets of the update kernels, in their listed order.
enum class IsaKind : std::uint8_t { kSse2 = 0, kAvx = 1, kAvx2 = 2, kFma = 3 };

/// The two workloads, in their listed order.
enum class WorkloadKind : std::uint8_t { kStandingWave = 0, kSoftGaussian = 1 };

/// The instruction-set names as users see them.
inline constexpr std::string_view kIsaListText = "sse2, avx, avx2, fma";
/// The workload names as users see them.
inline constexpr std::string_view kWorkloadListText = "standing_wave, soft_gaussian";

/// The name of an instruction set ("sse2", "avx", "avx2", "fma").
std::string_view isa_name(IsaKind isa);
/// The name of a workload ("standing_wave", "soft_gaussian").
std::string_view workload_name(WorkloadKind workload);

/// The instruction set whose name equals `name` exactly (case-sensitive), or nothing.
std::optional<IsaKind> parse_isa(std::string_view name);
/// True when `name` is one of the four instruction-set names.
bool is_valid_isa(std::string_view name);
/// The workload whose name equals `name` exactly (case-sensitive), or nothing.
std::optional<WorkloadKind> parse_workload(std::string_view name);

/// Empty when this processor can run the named kernels; otherwise the reasons,
/// each ending in a line feed, or "unknown isa '<name>'". Queries the processor
/// on every call.
[[nodiscard]] OptError check_isa_support(std::string_view isa);
/// The same decision over a given feature record.
[[nodiscard]] OptError check_isa_support(std::string_view isa, const platform::CpuFeatures& features);

/// Argument of `Solver::allocate`.
struct FieldParams {
  /// Place the field arrays in large pages (no fallback to ordinary memory).
  bool large_pages = false;
  /// Interior cells per axis, n.
  std::uint64_t grid_edge = 0;
  /// Edge length of one cell.
  double cell_size = 0.01;
};

/// One worker's field simulation: a workload advanced by the kernels of one
/// instruction set. Created, used and destroyed by a single thread. Every
/// operation reports failure through its OptError and never prints.
class Solver {
 public:
  explicit Solver(std::uint32_t thread_index) : thread_index_(thread_index) {}
  Solver(const Solver&) = delete;
  Solver& operator=(const Solver&) = delete;
  /// Releases everything the solver owns.
  virtual ~Solver() = default;

  /// Obtains the field arrays for the grid (zero-filled, or left for `initialize`
  /// to write whole); a second call replaces the first pair.
  [[nodiscard]] virtual OptError allocate(const FieldParams& params) = 0;
  /// Sets the starting state and this thread's flush-to-zero mode.
  [[nodiscard]] virtual OptError initialize() = 0;
  /// Runs before step `iteration` (counted from 0).
  [[nodiscard]] virtual OptError pre_step(std::uint64_t iteration) = 0;
  /// Advances both fields by one time step.
  [[nodiscard]] virtual OptError step() = 0;
  /// Validates the fields after step `iteration`.
  [[nodiscard]] virtual OptError verify_step(std::uint64_t iteration) = 0;
  /// Validates the fields after the last of `iterations` completed steps.
  [[nodiscard]] virtual OptError verify_final(std::uint64_t iterations) = 0;
  /// Cell updates counted per step: 2·n³.
  virtual std::uint64_t updates_per_step() const = 0;

  /// Index of the owning worker thread, shown in messages.
  std::uint32_t thread_index() const { return thread_index_; }

 protected:
  std::uint32_t thread_index_;
};

}  // namespace solver
