// Plain scalar reference loops built like the program's sse2 kernels (flags in
// perf/CMakeLists.txt, at -O2).
#include "perf/plain_kernels.h"

namespace perf::plain_sse2 {
namespace {
#include "perf/plain_body.h"
}  // namespace

extern const PlainKernels kPlain = {&plain_update_h, &plain_update_e};

}  // namespace perf::plain_sse2
