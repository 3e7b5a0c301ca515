// Field energy routines built for the avx2 target (flags in solver/CMakeLists.txt).
#include "solver/kernel_args.h"

namespace solver::avx2 {
namespace {
#include "solver/energy_body.h"
}  // namespace

extern const EnergyTable kEnergy = {&node_energy, &total_energy, &energy_rows};

}  // namespace solver::avx2
