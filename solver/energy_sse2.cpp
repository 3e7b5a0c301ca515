// Field energy routines built for the sse2 target (flags in solver/CMakeLists.txt).
#include "solver/kernel_args.h"

namespace solver::sse2 {
namespace {
#include "solver/energy_body.h"
}  // namespace

extern const EnergyTable kEnergy = {&node_energy, &total_energy, &energy_rows};

}  // namespace solver::sse2
