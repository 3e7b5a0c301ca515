#include "platform/wake_word.h"

namespace platform {

// The library's atomic wait is a futex here.
void wait_for_change(const std::atomic<std::uint32_t>& word, std::uint32_t old) {
  word.wait(old, std::memory_order_acquire);
}

void wake_all(std::atomic<std::uint32_t>& word) { word.notify_all(); }

}  // namespace platform
