#include "platform/fp_control.h"

#include <immintrin.h>

namespace platform {

std::uint32_t fp_control() { return _mm_getcsr(); }

void set_fp_control(std::uint32_t value) { _mm_setcsr(value); }

void enable_flush_denormals() { _mm_setcsr(_mm_getcsr() | kFlushToZero | kDenormalsAreZero); }

}  // namespace platform
