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

int close_standard_output() {
  // The descriptor, not the stream: the stream's buffer is empty by now, and
  // the stream stays valid for the exit handlers, which find nothing to write.
  if (close(STDOUT_FILENO) == 0) return 0;
  // Linux releases the descriptor even when interrupted; nothing was lost.
  if (errno == EINTR) return 0;
  return errno != 0 ? errno : -1;
}

// A terminal understands the sequence as it is; a file or pipe must not get it.
bool enable_terminal_sequences() { return isatty(STDOUT_FILENO) == 1; }

std::optional<std::uint32_t> console_cursor_row() { return std::nullopt; }

void set_console_cursor_row(std::uint32_t) {}

}  // namespace platform::os
