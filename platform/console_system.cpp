// Cursor movement on the running system's console or terminal.

#include <cstdio>

#include "platform/console.h"
#include "platform/console_os.h"

namespace platform {

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
  std::fflush(stdout);
}

}  // namespace platform
