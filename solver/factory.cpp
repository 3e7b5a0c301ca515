#include "solver/factory.h"

#include <optional>

#include "solver/soft_gaussian.h"
#include "solver/standing_wave.h"

namespace solver {

std::unique_ptr<Solver> make_solver(std::string_view workload, std::string_view isa,
                                    std::uint32_t thread_index) {
  const std::optional<IsaKind> isa_kind = parse_isa(isa);
  const std::optional<WorkloadKind> workload_kind = parse_workload(workload);
  if (!isa_kind || !workload_kind) return nullptr;
  const bool wave = *workload_kind == WorkloadKind::kStandingWave;
  // Construction runs no instruction-set-specific code: the kernel tables are
  // constant data, so this is safe before the support check has passed.
  switch (*isa_kind) {
    case IsaKind::kSse2:
      return make_sse2_solver(workload, thread_index);
    case IsaKind::kAvx:
      if (wave) return std::make_unique<AvxStandingWave>(thread_index);
      return std::make_unique<AvxSoftGaussian>(thread_index);
    case IsaKind::kAvx2:
      if (wave) return std::make_unique<AvxStandingWave>(thread_index);
      return std::make_unique<Avx2SoftGaussian>(thread_index);
    case IsaKind::kFma:
      if (wave) return std::make_unique<FmaStandingWave>(thread_index);
      return std::make_unique<FmaSoftGaussian>(thread_index);
  }
  return nullptr;
}

std::unique_ptr<Solver> make_sse2_solver(std::string_view workload, std::uint32_t thread_index) {
  const std::optional<WorkloadKind> kind = parse_workload(workload);
  if (!kind) return nullptr;
  if (*kind == WorkloadKind::kStandingWave) return std::make_unique<Sse2StandingWave>(thread_index);
  return std::make_unique<Sse2SoftGaussian>(thread_index);
}

bool is_valid_workload(std::string_view name) { return make_sse2_solver(name, 0) != nullptr; }

}  // namespace solver
