#pragma once

// The system calls behind the console services. Each backend implements these.

#include <cstdint>
#include <optional>

namespace platform::os {

/// Puts a read-only handle on each standard descriptor that is closed (where
/// descriptors are reused lowest-first); does nothing where that cannot happen.
void reserve_standard_descriptors();
/// Closes standard output, whose stream is flushed already; 0 on success, else
/// the system error number (-1 when unknown).
int close_standard_output();
/// Tries to make standard output understand terminal sequences; true when it does.
bool enable_terminal_sequences();
/// The console cursor row of standard output; empty when it is no console.
std::optional<std::uint32_t> console_cursor_row();
/// Puts the console cursor of standard output at column 0 of `row`.
void set_console_cursor_row(std::uint32_t row);

}  // namespace platform::os
