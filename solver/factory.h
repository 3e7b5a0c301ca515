#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "solver/solver.h"

namespace solver {

/// A ready-to-allocate solver for the workload and instruction-set names
/// (exact, case-sensitive), or null when either name is unknown. Allocates no
/// field memory.
std::unique_ptr<Solver> make_solver(std::string_view workload, std::string_view isa,
                                    std::uint32_t thread_index);
/// The sse2 branch of make_solver.
std::unique_ptr<Solver> make_sse2_solver(std::string_view workload, std::uint32_t thread_index);
/// True for "standing_wave" and "soft_gaussian" exactly.
bool is_valid_workload(std::string_view name);

}  // namespace solver
