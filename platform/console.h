#pragma once

#include <cstdint>
#include <string>

namespace platform {

/// Moves the cursor to column 0 of the line `lines` above the current one and
/// flushes standard output. 0 does nothing at all; without a console or
/// terminal nothing is written. Main thread only.
void cursor_up(std::uint32_t lines);

/// The terminal sequence ESC [ n F for `lines`; empty for 0.
std::string cursor_up_sequence(std::uint32_t lines);

/// The cursor row after moving `lines` up from `row`, stopping at row 0.
std::uint32_t row_after_cursor_up(std::uint32_t row, std::uint32_t lines);

}  // namespace platform
