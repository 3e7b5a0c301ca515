#include <windows.h>

#include "platform/placement.h"

namespace platform::os {

bool set_current_thread_affinity(GroupAffinity affinity) {
  GROUP_AFFINITY target{};
  target.Mask = static_cast<KAFFINITY>(affinity.mask);
  target.Group = affinity.group;
  return SetThreadGroupAffinity(GetCurrentThread(), &target, nullptr) != 0;
}

}  // namespace platform::os
