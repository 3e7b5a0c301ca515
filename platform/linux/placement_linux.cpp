#include <pthread.h>
#include <sched.h>

#include <bit>

#include "platform/placement.h"

namespace platform::os {

bool set_current_thread_affinity(GroupAffinity affinity) {
  if (affinity.mask == 0) return false;
  const unsigned base = unsigned{affinity.group} * 64;
  const unsigned count = base + 64 - static_cast<unsigned>(std::countl_zero(affinity.mask));
  cpu_set_t* set = CPU_ALLOC(count);
  if (set == nullptr) return false;
  const std::size_t size = CPU_ALLOC_SIZE(count);
  CPU_ZERO_S(size, set);
  for (std::uint64_t mask = affinity.mask; mask != 0; mask &= mask - 1) {
    CPU_SET_S(base + static_cast<unsigned>(std::countr_zero(mask)), size, set);
  }
  const bool pinned = pthread_setaffinity_np(pthread_self(), size, set) == 0;
  CPU_FREE(set);
  return pinned;
}

}  // namespace platform::os
