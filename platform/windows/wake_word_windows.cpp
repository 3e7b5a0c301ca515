#include <condition_variable>
#include <mutex>

#include "platform/wake_word.h"

namespace platform {
namespace {

// The MinGW library's atomic wait can miss a wake-up (a waiter under Wine
// slept through the notification forever), and WaitOnAddress does not exist
// before Windows 8. One process-wide mutex and condition variable instead:
// the waker takes the mutex after storing, so a waiter either sees the new
// value or is already waiting when the notification comes.
std::mutex& wake_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::condition_variable& wake_condition() {
  static std::condition_variable condition;
  return condition;
}

}  // namespace

void wait_for_change(const std::atomic<std::uint32_t>& word, std::uint32_t old) {
  std::unique_lock lock(wake_mutex());
  wake_condition().wait(lock, [&] { return word.load(std::memory_order_acquire) != old; });
}

void wake_all(std::atomic<std::uint32_t>&) {
  { std::lock_guard lock(wake_mutex()); }
  wake_condition().notify_all();
}

}  // namespace platform
