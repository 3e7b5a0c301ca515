#include <chrono>
#include <cstdio>

#include "app/entry.h"
#include "app/modes.h"
#include "app/result_file.h"
#include "bench/run_setup.h"
#include "bench/thread_count.h"
#include "platform/console.h"
#include "platform/cpu.h"
#include "platform/file_output.h"
#include "platform/memory.h"
#include "platform/system_facts.h"
#include "solver/field_memory.h"

namespace app {
namespace {

std::vector<ThreadPlace> thread_places(const bench::RunResult& result, platform::TopologyCache& topology) {
  std::vector<ThreadPlace> places(result.placement.size());
  for (std::size_t i = 0; i < places.size(); ++i) {
    const platform::LogicalProcessor& lp = result.placement[i];
    // Placement lists exist only where the tree was detected, so this reads the cached one.
    places[i] = {std::uint32_t{lp.group} * 64 + lp.os, lp.group, platform::numa_node_of(topology.get_topology(), lp)};
  }
  return places;
}

MachineRecord read_machine(std::uint64_t available_at_start) {
  MachineRecord m;
  m.system = platform::read_system_facts();
  m.cpu_brand = platform::cpu_brand_string();
  m.cpu = platform::read_cpu_signature();
  m.cpu_features = platform::cpu_feature_list();
  m.counts = platform::count_processors(platform::os::read_processor_relations());
  if (m.counts.logical_processors == 0) m.counts.logical_processors = platform::os::processor_count();
  m.memory_available_bytes = available_at_start;
  m.large_page_bytes = platform::large_page_minimum();
  return m;
}

}  // namespace

int run_benchmark_mode(const bench::RunOptions& options, platform::TopologyCache& topology,
                       const ResultFileRequest& result_file) {
  const bool wants_file = !result_file.path.empty();
  const auto start = std::chrono::system_clock::now();
  // Read before the fields take their share.
  const std::uint64_t available = wants_file ? platform::available_physical_memory() : 0;

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
    record.duration_s = bench::clamp_duration(options.duration);
    record.field_bytes_per_thread = solver::field_memory_per_thread(options.size);
    record.places = thread_places(run.result, topology);
    record.machine = read_machine(available);
    record.run = std::move(run);
    record.exit_code = exit_code;
    if (const platform::OptError e = platform::write_file_atomically(result_file.path, result_json(record));
        e.failed()) {
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
