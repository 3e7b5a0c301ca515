#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/console_os.h"

namespace platform::os {

void reserve_standard_descriptors() {
  // open() hands out the lowest free descriptor: with 1 closed, the next file
  // the program reads would become its standard output. /dev/null opened for
  // reading holds the place; writes to it fail as they would on the closed one.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int held = open("/dev/null", O_RDONLY);
    if (held < 0) return;
    if (held != fd) {
      (void)dup2(held, fd);
      (void)close(held);
    }
  }
}

// A terminal understands the sequence as it is; a file or pipe must not get it.
bool enable_terminal_sequences() { return isatty(STDOUT_FILENO) == 1; }

std::optional<std::uint32_t> console_cursor_row() { return std::nullopt; }

void set_console_cursor_row(std::uint32_t) {}

}  // namespace platform::os
