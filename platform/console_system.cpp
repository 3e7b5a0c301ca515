// Standard output's failures and cursor movement on the running system's console or terminal.

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/console.h"
#include "platform/console_os.h"

namespace platform {
namespace {

// The stream's error flag outlives the data it could not write, but not the
// reason: by exit the failed bytes are gone and a last flush succeeds.
std::atomic<int> first_output_error{0};

}  // namespace

bool flush_standard_output() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && std::ferror(stdout) == 0) return true;
  int none = 0;
  if (!flushed && errno != 0) first_output_error.compare_exchange_strong(none, errno);
  return false;
}

bool close_standard_output() {
  if (!flush_standard_output()) return false;
  const int error_number = os::close_standard_output();
  if (error_number == 0) return true;
  int none = 0;
  if (error_number > 0) first_output_error.compare_exchange_strong(none, error_number);
  return false;
}

int standard_output_error() { return first_output_error.load(); }

void reserve_standard_streams() { os::reserve_standard_descriptors(); }

void cursor_up(std::uint32_t lines) {
  if (lines == 0) return;
  // Enabling is tried once; after a failure the console-position route is used.
  static bool tried = false;
  static bool sequences = false;
  if (!tried) {
    tried = true;
    sequences = os::enable_terminal_sequences();
  }
  if (sequences) {
    std::fputs(cursor_up_sequence(lines).c_str(), stdout);
  } else {
    const std::optional<std::uint32_t> row = os::console_cursor_row();
    if (!row) return;
    os::set_console_cursor_row(row_after_cursor_up(*row, lines));
  }
  (void)flush_standard_output();
}

}  // namespace platform
