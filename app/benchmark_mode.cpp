#include <chrono>
#include <cstdio>

#include "app/entry.h"
#include "app/modes.h"
#include "app/result_file.h"
#include "bench/run_setup.h"
#include "platform/console.h"
#include "platform/cpu.h"
#include "platform/file_output.h"
#include "platform/memory.h"
#include "platform/placement.h"
#include "platform/system_facts.h"

namespace app {
namespace {

// Where each worker really ran pinned; an entry the system refused, and every
// worker beyond the placement list, stays unplaced.
std::vector<ThreadPlace> thread_places(const bench::RunResult& result, platform::TopologyCache& topology) {
  std::vector<ThreadPlace> places(result.placement.size());
  for (std::size_t i = 0; i < places.size(); ++i) {
    if (!result.placement[i]) continue;
    const platform::LogicalProcessor& lp = *result.placement[i];
    // Placement lists exist only where the tree was detected, so this reads the cached one.
    places[i] = {platform::processor_number(lp), lp.group, platform::numa_node_of(topology.get_topology(), lp)};
  }
  return places;
}

// Read before the run: worker 0 runs on this thread and stays pinned to one
// processor afterwards, and the fields take their share of the memory.
MachineRecord read_machine() {
  MachineRecord m;
  m.system = platform::read_system_facts();
  m.cpu_brand = platform::cpu_brand_string();
  m.cpu = platform::read_cpu_signature();
  m.cpu_features = platform::cpu_feature_list();
  m.counts = platform::read_processor_counts();
  m.memory_available_bytes = platform::available_physical_memory();
  m.large_page_bytes = platform::large_page_minimum();
  return m;
}

}  // namespace

int run_benchmark_mode(const bench::RunOptions& options, platform::TopologyCache& topology,
                       const ResultFileRequest& result_file) {
  const bool wants_file = !result_file.path.empty();
  const auto start = std::chrono::system_clock::now();
  MachineRecord machine;
  if (wants_file) machine = read_machine();

  bench::RunRecord run = bench::run_benchmark(options, topology);
  int exit_code = run.outcome.valid ? 0 : 1;

  if (wants_file) {
    ResultRecord record;
    record.build = build_info();
    record.command_line.push_back(result_file.args.program_path);
    record.command_line.insert(record.command_line.end(), result_file.args.args.begin(),
                               result_file.args.args.end());
    record.start = start;
    record.end = std::chrono::system_clock::now();
    record.options = options;
    record.places = thread_places(run.result, topology);
    record.machine = std::move(machine);
    record.run = std::move(run);
    // The file must tell what the process returns: console output lost so far
    // already makes the run a failure, with the line that will say so.
    if (!platform::flush_standard_output()) {
      exit_code = 1;
      bench::RunOutcome& outcome = record.run.outcome;
      const std::string line = standard_output_failure_line();
      outcome.reason = outcome.reason.empty() ? line : outcome.reason + "\n" + line;
      outcome.valid = false;
    }
    record.exit_code = exit_code;
    if (const platform::OptError e = result_file.file.write(result_json(record)); e.failed()) {
      write_error_line(result_file_error(result_file.path, e.message()));
      exit_code = 1;
    }
  }

  std::fputs("press enter to exit\n", stdout);
  (void)platform::flush_standard_output();
  // Keeps a console window open when started by double-click; at end of input
  // this returns at once.
  (void)std::getchar();
  return exit_code;
}

}  // namespace app
