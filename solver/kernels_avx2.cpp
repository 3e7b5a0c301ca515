// Scalar field updates built for the avx2 target (flags in solver/CMakeLists.txt).
#include "solver/kernel_args.h"

namespace solver::avx2 {
namespace {
#include "solver/kernel_body.h"

bool update_h(const KernelArgs& args) { return update_h_kernel<ScalarCells>(args); }
bool update_e(const KernelArgs& args) { return update_e_kernel<ScalarCells>(args); }
bool update_h_planes(const KernelArgs& args, std::uint64_t x_first, std::uint64_t x_end) {
  return update_h_planes_kernel<ScalarCells>(args, x_first, x_end);
}
}  // namespace

extern const KernelTable kKernels = {&update_h, &update_e, &update_h_planes};

}  // namespace solver::avx2
