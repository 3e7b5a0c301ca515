// Process entry: parse, validate, run exactly one mode, map it to the exit code.
#include <exception>

#include "app/entry.h"
#include "app/help_mode.h"
#include "app/modes.h"
#include "app/option_table.h"
#include "app/result_file.h"
#include "app/timer_dump.h"
#include "app/topology_dump.h"
#include "cli/tokens.h"
#include "platform/animation.h"
#include "platform/console.h"
#include "platform/file_output.h"
#include "platform/topology.h"

namespace {

int run_mode(int argc, char** argv) {
  app::Invocation invocation;
  // Detected at most once, and only by a mode that needs the tree.
  platform::TopologyCache topology;
  const cli::ArgList args = cli::ArgList::from_main(argc, argv);
  const app::Selection selection = invocation.select_mode(args);

  switch (selection.mode) {
    case app::Mode::rejected:
      app::write_error_line(selection.message);
      return 1;
    case app::Mode::animation:
      platform::play_fish_animation();
      return 0;
    case app::Mode::help:
      app::run_help_mode(invocation.command_line(), app::grid_sizes);
      return 0;
    case app::Mode::topology_dump:
      app::run_topology_dump(topology);
      return 0;
    case app::Mode::timer_dump:
      app::run_timer_dump();
      return 0;
    case app::Mode::benchmark:
      break;
  }

  if (const platform::OptError guard = app::check_benchmark_guards(invocation.options().size);
      guard.failed()) {
    app::write_error_line(guard.message());
    return 1;
  }
  // Checked before any work: a run whose result cannot be kept is not started.
  const app::ModeFlags& flags = invocation.flags();
  platform::OutputFile result_file;
  if (flags.result_file_given) {
    if (const platform::OptError e = result_file.prepare(flags.result_file); e.failed()) {
      app::write_error_line(app::result_file_error(flags.result_file, e.message()));
      return 1;
    }
  }
  return app::run_benchmark_mode(invocation.options(), topology, {flags.result_file, args, result_file});
}

}  // namespace

int main(int argc, char** argv) {
  platform::reserve_standard_streams();
  int exit_code = 1;
  // Errors are values below this point; whatever still escapes (memory the
  // system would not give) ends the process in one line, not in an abort.
  try {
    exit_code = run_mode(argc, argv);
  } catch (const std::exception& e) {
    app::write_error_line(std::string("zelvo: stopped by an unexpected error: ") + e.what());
  } catch (...) {
    app::write_error_line("zelvo: stopped by an unexpected error");
  }
  return app::finish_standard_output(exit_code);
}
