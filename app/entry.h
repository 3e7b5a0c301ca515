#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/option_table.h"
#include "bench/run_options.h"
#include "cli/option_group.h"
#include "cli/tokens.h"
#include "platform/opt_error.h"

namespace app {

/// What the process does after parsing: fail, or run exactly one mode.
enum class Mode { rejected, animation, help, topology_dump, timer_dump, benchmark };

/// The chosen mode; for `rejected` also the message for standard error.
struct Selection {
  Mode mode = Mode::rejected;
  std::string message;
};

/// The settings, the mode switches and the command line bound to both. Not
/// copyable or movable: the option bindings refer to its own members.
class Invocation {
 public:
  Invocation();
  Invocation(const Invocation&) = delete;
  Invocation& operator=(const Invocation&) = delete;

  /// Parses `args`, validates size, workload and instruction set, and picks the
  /// mode: the animation first, then the validations, then help, topology dump,
  /// timer dump, else the benchmark.
  Selection select_mode(const cli::ArgList& args);

  const bench::RunOptions& options() const { return options_; }
  const ModeFlags& flags() const { return flags_; }
  /// The command line; after a parse its usage line shows the program name.
  const cli::CommandLine& command_line() const { return command_line_; }

 private:
  bench::RunOptions options_;
  ModeFlags flags_;
  cli::CommandLine command_line_;  // declared last: binds to the members above
};

/// Refuses grid edges whose field memory (32 bytes per padded cell) or slice
/// buffer (size squared) cannot be counted in 64 bits.
platform::OptError check_benchmark_guards(std::uint64_t size);

/// Flushes standard output, then writes `text` and a line break to standard error
/// and flushes that too.
void write_error_line(std::string_view text);

/// The line that says normal output was lost: "zelvo: write error on standard
/// output", followed by ": " and `reason` when there is one.
std::string output_failure_line(std::string_view reason);

/// `output_failure_line` with the reason of standard output's first failure.
std::string standard_output_failure_line();

/// Flushes and closes standard output and checks that all of it was written.
/// If not, the process must not report success: writes `output_failure_line`
/// (with the system's reason) to standard error and returns 1; otherwise
/// `exit_code`. Nothing may be written to standard output afterwards.
int finish_standard_output(int exit_code);

}  // namespace app
