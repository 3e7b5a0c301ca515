#pragma once

#include <cstdint>
#include <string>

namespace platform {

/// Opens standard input, output and error where the process started without
/// them, so that no file opened later takes their place. One that was closed
/// stays unusable: reads find end of input and writes fail, so output lost that
/// way is still noticed. Call first thing in `main`.
void reserve_standard_streams();

/// Flushes standard output; false when anything written to it so far was
/// lost. The reason of the first failure is kept for `standard_output_error`.
/// Safe from any thread.
bool flush_standard_output();
/// Flushes and closes standard output, the last thing before exit; false when
/// anything written to it was lost. Some file systems (network ones, quotas)
/// report a failed write only when the file is closed. The reason is kept for
/// `standard_output_error` as a flush's is.
bool close_standard_output();
/// The system error number of the first failed flush or close of standard
/// output; 0 when none failed or the reason was not known.
int standard_output_error();

/// Moves the cursor to column 0 of the line `lines` above the current one and
/// flushes standard output. 0 does nothing at all; without a console or
/// terminal nothing is written. Main thread only.
void cursor_up(std::uint32_t lines);

/// The terminal sequence ESC [ n F for `lines`; empty for 0.
std::string cursor_up_sequence(std::uint32_t lines);

/// The cursor row after moving `lines` up from `row`, stopping at row 0.
std::uint32_t row_after_cursor_up(std::uint32_t row, std::uint32_t lines);

}  // namespace platform
