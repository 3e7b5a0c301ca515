#pragma once

#include <cstdint>
#include <ostream>
#include <span>

#include "cli/option_group.h"

namespace app {

/// The help text, one more line break, and the table of field memory per
/// thread for each of `sizes`.
void write_help_mode(std::ostream& out, const cli::CommandLine& command_line,
                     std::span<const std::uint64_t> sizes);

/// write_help_mode to standard output.
void run_help_mode(const cli::CommandLine& command_line, std::span<const std::uint64_t> sizes);

}  // namespace app
