// Scalar field updates built for the sse2 target (flags in solver/CMakeLists.txt).
#include "solver/kernel_args.h"

namespace solver::sse2 {
namespace {
#include "solver/kernel_body.h"

bool update_h(const KernelArgs& args) { return update_h_kernel<ScalarCells>(args); }
bool update_e(const KernelArgs& args) { return update_e_kernel<ScalarCells>(args); }
bool update_h_rows(const KernelArgs& args, std::uint64_t x, std::uint64_t y_first, std::uint64_t y_end) {
  return update_h_rows_kernel<ScalarCells>(args, x, y_first, y_end);
}
bool step(const KernelArgs& args) { return step_kernel<ScalarCells>(args); }
}  // namespace

extern const KernelTable kKernels = {&update_h, &update_e, &update_h_rows, &step};

}  // namespace solver::sse2
