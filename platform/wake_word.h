#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

/// Blocks while `word` holds `old`. May return early; callers re-check the
/// word in a loop. Every waiter on a word wakes at once when it is woken, with
/// no lock to take in turn afterwards.
void wait_for_change(const std::atomic<std::uint32_t>& word, std::uint32_t old);

/// Wakes every thread blocked in `wait_for_change` on `word`; call it after
/// storing the new value.
void wake_all(std::atomic<std::uint32_t>& word);

}  // namespace platform
