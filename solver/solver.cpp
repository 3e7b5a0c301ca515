#include "solver/solver.h"

#include <array>
#include <string>

#include "platform/cpu.h"

namespace solver {
namespace {

constexpr std::array<std::string_view, 4> kIsaNames{"sse2", "avx", "avx2", "fma"};
constexpr std::array<std::string_view, 2> kWorkloadNames{"standing_wave", "soft_gaussian"};

OptError unknown_isa(std::string_view name) {
  return OptError::fail("unknown isa '" + std::string(name) + "'");
}

}  // namespace

std::string_view isa_name(IsaKind isa) { return kIsaNames[static_cast<std::size_t>(isa)]; }

std::string_view workload_name(WorkloadKind workload) {
  return kWorkloadNames[static_cast<std::size_t>(workload)];
}

std::optional<IsaKind> parse_isa(std::string_view name) {
  for (std::size_t i = 0; i < kIsaNames.size(); ++i) {
    if (name == kIsaNames[i]) return static_cast<IsaKind>(i);
  }
  return std::nullopt;
}

bool is_valid_isa(std::string_view name) { return parse_isa(name).has_value(); }

std::optional<WorkloadKind> parse_workload(std::string_view name) {
  for (std::size_t i = 0; i < kWorkloadNames.size(); ++i) {
    if (name == kWorkloadNames[i]) return static_cast<WorkloadKind>(i);
  }
  return std::nullopt;
}

OptError check_isa_support(std::string_view isa) {
  if (!parse_isa(isa)) return unknown_isa(isa);
  return check_isa_support(isa, platform::read_cpu_features());
}

OptError check_isa_support(std::string_view isa, const platform::CpuFeatures& features) {
  const std::optional<IsaKind> kind = parse_isa(isa);
  if (!kind) return unknown_isa(isa);
  std::string messages;
  switch (*kind) {
    case IsaKind::kSse2:
      break;
    case IsaKind::kAvx:
      if (!features.avx) messages += "avx support not detected\n";
      break;
    case IsaKind::kAvx2:
      if (!features.avx2) messages += "avx2 support not detected\n";
      break;
    case IsaKind::kFma:
      // The fma kernels also execute 256-bit AVX2 permutes, and the FMA bit
      // alone says nothing about the OS saving the YMM state; AVX2 covers both.
      if (!features.fma) messages += "fma support not detected\n";
      if (!features.avx2) messages += "avx2 support not detected\n";
      break;
  }
  if (messages.empty()) return {};
  return OptError::fail(messages);
}

}  // namespace solver
