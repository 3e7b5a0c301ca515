#include "app/entry.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include <fmt/format.h>

#include "platform/console.h"

namespace app {

namespace {

std::optional<std::uint64_t> safe_multiply(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && std::numeric_limits<std::uint64_t>::max() / a < b) return std::nullopt;
  return a * b;
}

}  // namespace

Invocation::Invocation() : command_line_(make_command_line(options_, flags_)) {}

namespace {
// No argument can hold a zero byte, so this text tells "not given" apart from
// an empty file name.
const std::string kNoResultFile(1, '\0');
}  // namespace

Selection Invocation::select_mode(const cli::ArgList& args) {
  flags_.result_file = kNoResultFile;
  const cli::ParseOutcome parsed = command_line_.parse_args(args);
  flags_.result_file_given = flags_.result_file != kNoResultFile;
  if (!flags_.result_file_given) flags_.result_file.clear();
  if (!parsed.ok()) return {Mode::rejected, parsed.message};
  // The animation wins over everything, invalid values included.
  if (flags_.easter_egg) return {Mode::animation, {}};
  if (!is_valid_grid_size(options_.size)) {
    return {Mode::rejected,
            fmt::format("Invalid size '{}', must be one of: {}", options_.size, grid_size_list)};
  }
  if (!is_valid_workload(options_.workload)) {
    return {Mode::rejected, fmt::format("Invalid workload name '{}', must be one of: {}",
                                        options_.workload, workload_list)};
  }
  if (!is_valid_isa(options_.isa)) {
    return {Mode::rejected,
            fmt::format("Invalid isa name '{}', must be one of: {}", options_.isa, isa_list)};
  }
  if (flags_.show_help) return {Mode::help, {}};
  if (flags_.topo_debug) return {Mode::topology_dump, {}};
  if (flags_.timer_debug) return {Mode::timer_dump, {}};
  return {Mode::benchmark, {}};
}

platform::OptError check_benchmark_guards(std::uint64_t size) {
  // Every step is checked, the cube included: a wrapped cube could look small
  // enough to pass the final multiplication.
  std::optional<std::uint64_t> cells;
  if (size <= std::numeric_limits<std::uint64_t>::max() - 2) {
    const std::uint64_t edge = size + 2;
    if (const auto square = safe_multiply(edge, edge)) cells = safe_multiply(*square, edge);
  }
  if (!cells || !safe_multiply(*cells, 32)) {
    return platform::OptError::fail(
        fmt::format("grid size {} would overflow memory calculation", size));
  }
  if (!safe_multiply(size, size)) {
    return platform::OptError::fail(fmt::format("grid size {} would overflow slice buffer", size));
  }
  return {};
}

void write_error_line(std::string_view text) {
  (void)platform::flush_standard_output();
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  // The Windows C runtime buffers standard error fully when it is a pipe or a
  // file: without this the line would wait for the exit, behind the prompt, and
  // be lost if the process is ended there.
  std::fflush(stderr);
}

std::string output_failure_line(std::string_view reason) {
  std::string line = "zelvo: write error on standard output";
  if (!reason.empty()) {
    line += ": ";
    line += reason;
  }
  return line;
}

std::string standard_output_failure_line() {
  const int error_number = platform::standard_output_error();
  return output_failure_line(error_number != 0 ? std::strerror(error_number) : "");
}

int finish_standard_output(int exit_code) {
  if (platform::close_standard_output()) return exit_code;
  write_error_line(standard_output_failure_line());
  return 1;
}

}  // namespace app
