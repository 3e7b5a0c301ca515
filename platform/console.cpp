#include "platform/console.h"

#include <fmt/format.h>

namespace platform {

std::string cursor_up_sequence(std::uint32_t lines) {
  if (lines == 0) return {};
  return fmt::format("\033[{}F", lines);
}

std::uint32_t row_after_cursor_up(std::uint32_t row, std::uint32_t lines) {
  return lines > row ? 0 : row - lines;
}

}  // namespace platform
