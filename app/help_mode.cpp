#include "app/help_mode.h"

#include <iostream>

#include <fmt/format.h>

#include "cli/help_writer.h"
#include "platform/console.h"
#include "platform/format.h"
#include "solver/field_memory.h"

namespace app {

void write_help_mode(std::ostream& out, const cli::CommandLine& command_line,
                     std::span<const std::uint64_t> sizes) {
  cli::write_help(out, command_line) << '\n';
  out << fmt::format("{:<12}    {:>10}\n", "field size", "memory used per thread");
  for (const std::uint64_t n : sizes) {
    out << fmt::format("  {:<12}    {:>12}\n", n,
                       platform::format_bytes(solver::field_memory_per_thread(n)));
  }
}

void run_help_mode(const cli::CommandLine& command_line, std::span<const std::uint64_t> sizes) {
  write_help_mode(std::cout, command_line, sizes);
  // std::cout writes straight through to the C stream (synchronised with
  // stdio), so flushing that stream flushes the text.
  (void)platform::flush_standard_output();
}

}  // namespace app
