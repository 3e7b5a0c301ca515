#include "app/option_table.h"

#include <algorithm>

#include <fmt/format.h>

#include "solver/factory.h"
#include "solver/solver.h"

namespace app {

bool is_valid_workload(std::string_view name) { return solver::is_valid_workload(name); }

bool is_valid_isa(std::string_view name) { return solver::is_valid_isa(name); }

bool is_valid_grid_size(std::uint64_t size) {
  return std::find(grid_sizes.begin(), grid_sizes.end(), size) != grid_sizes.end();
}

cli::CommandLine make_command_line(bench::RunOptions& options, ModeFlags& flags) {
  using cli::Option;
  cli::CommandLine command_line;
  command_line.add_node(cli::HelpOption(flags.show_help))
      .add_node(Option(options.numthreads, "numthreads")
                    .add_name("-n")
                    .add_name("--numthreads")
                    .set_help("Number of threads to use"))
      .add_node(Option(options.duration, "duration")
                    .add_name("-d")
                    .add_name("--duration")
                    .set_help(fmt::format("Bench duration (s) between {}-{}s",
                                          bench::min_duration, bench::max_duration)))
      .add_node(Option(options.size, "size")
                    .add_name("-s")
                    .add_name("--size")
                    .set_help(fmt::format("Grid size, one of [{}]", grid_size_list)))
      .add_node(Option(options.workload, "workload")
                    .add_name("--workload")
                    .set_help(fmt::format("Workload to use (results with different workloads "
                                          "aren't comparable), one of [{}]",
                                          workload_list)))
      .add_node(Option(options.isa, "isa")
                    .add_name("--isa")
                    .set_help(fmt::format(
                        "Instruction set to use for workload/solver, one of [{}]", isa_list)))
      .add_node(Option(options.strict_isa_check)
                    .add_name("--strict-isa-check")
                    .set_help("Don't try to run if the ISA support check fails"))
      .add_node(Option(options.threading, "threading")
                    .add_name("--threading")
                    .set_help("Threading manager to use")
                    .set_choices({"os", "numa", "phte"}))
      .add_node(Option(options.large_pages).add_name("--large-pages").set_help("Use large pages allocator"))
      .add_node(Option(options.bypass_timer_check)
                    .add_name("--bypass-timer-check")
                    .set_help("Run the bench even if the timer is not HWBOT compliant"))
      .add_node(Option(flags.topo_debug)
                    .add_name("--topo-debug")
                    .set_help("Print detected topology for debug"))
      .add_node(Option(flags.timer_debug).add_name("--timer-debug").set_help("Printed detected timers"))
      .add_node(Option(flags.easter_egg).add_name("--zelvo"))
      .add_node(Option(flags.result_file, "file")
                    .add_name("--json")
                    .set_help("Write the result and the machine's details as JSON to this file"));
  return command_line;
}

}  // namespace app
