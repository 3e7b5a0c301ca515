#include <windows.h>

#include "platform/placement.h"

namespace platform::os {

void set_current_thread_affinity(GroupAffinity affinity) {
  GROUP_AFFINITY target{};
  target.Mask = static_cast<KAFFINITY>(affinity.mask);
  target.Group = affinity.group;
  // A refused affinity leaves the thread to the scheduler; nothing to report.
  (void)SetThreadGroupAffinity(GetCurrentThread(), &target, nullptr);
}

}  // namespace platform::os
