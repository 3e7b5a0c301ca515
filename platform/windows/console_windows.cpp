#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "platform/console_os.h"

namespace platform::os {

// The C runtime keeps its standard descriptors apart from the files the
// program opens, and the program opens none through it: nothing to hold.
void reserve_standard_descriptors() {}

int close_standard_output() {
  errno = 0;
  if (std::fclose(stdout) == 0) return 0;
  return errno != 0 ? errno : -1;
}

bool enable_terminal_sequences() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  // Fails on pipes and files, which must not receive the sequence.
  if (!GetConsoleMode(out, &mode)) return false;
  return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

std::optional<std::uint32_t> console_cursor_row() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == INVALID_HANDLE_VALUE) return std::nullopt;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(out, &info)) return std::nullopt;
  return info.dwCursorPosition.Y < 0 ? 0u : static_cast<std::uint32_t>(info.dwCursorPosition.Y);
}

void set_console_cursor_row(std::uint32_t row) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == INVALID_HANDLE_VALUE) return;
  const SHORT y = row > 0x7FFF ? SHORT{0x7FFF} : static_cast<SHORT>(row);
  SetConsoleCursorPosition(out, COORD{0, y});
}

}  // namespace platform::os
