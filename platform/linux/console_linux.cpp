#include <unistd.h>

#include "platform/console_os.h"

namespace platform::os {

// A terminal understands the sequence as it is; a file or pipe must not get it.
bool enable_terminal_sequences() { return isatty(STDOUT_FILENO) == 1; }

std::optional<std::uint32_t> console_cursor_row() { return std::nullopt; }

void set_console_cursor_row(std::uint32_t) {}

}  // namespace platform::os
