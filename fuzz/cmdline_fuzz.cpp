// Fuzzes the command line as main sees it: the parser, the checks after it and,
// when help is chosen, the help text. Never starts a run, a dump or the animation.
//
// Input: the arguments after the program name, each ended by a NUL byte (a last
// argument may go without one), so empty arguments and any other byte can occur.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/help_mode.h"
#include "app/option_table.h"
#include "cli/tokens.h"

namespace {

std::vector<std::string> split_arguments(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);
  return args;
}

std::string help_text(const app::Invocation& invocation) {
  std::ostringstream out;
  app::write_help_mode(out, invocation.command_line(), app::grid_sizes);
  return out.str();
}

// The help never depends on what was parsed before the help flag.
const std::string& reference_help() {
  static const std::string text = [] {
    app::Invocation invocation;
    const char* argv[] = {"zelvo", "--help"};
    const app::Selection selection = invocation.select_mode(cli::ArgList::from_main(2, argv));
    if (selection.mode != app::Mode::help) std::abort();
    return help_text(invocation);
  }();
  return text;
}

// A broken promise of the entry point is a finding like a crash.
void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> args = split_arguments(data, size);
  std::vector<const char*> argv{"zelvo"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  const cli::ArgList list =
      cli::ArgList::from_main(static_cast<int>(argv.size() - 1), argv.data());
  require(list.program_path == "zelvo" && list.args == args);

  app::Invocation invocation;
  const app::Selection selection = invocation.select_mode(list);
  switch (selection.mode) {
    case app::Mode::rejected:
      require(!selection.message.empty());
      break;
    case app::Mode::help:
      require(selection.message.empty());
      require(help_text(invocation) == reference_help());
      break;
    case app::Mode::benchmark:
      require(selection.message.empty());
      require(app::is_valid_grid_size(invocation.options().size) &&
              app::is_valid_workload(invocation.options().workload) &&
              app::is_valid_isa(invocation.options().isa));
      // The guard main applies before a run; every allowed size passes it.
      require(app::check_benchmark_guards(invocation.options().size).ok());
      break;
    case app::Mode::animation:
    case app::Mode::topology_dump:
    case app::Mode::timer_dump:
      require(selection.message.empty());
      break;
  }
  return 0;
}
