#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/build_info.h"
#include "bench/run_options.h"
#include "bench/run_result.h"
#include "platform/cpu.h"
#include "platform/opt_error.h"
#include "platform/system_facts.h"

namespace app {

/// Where one worker ran; each part absent when the worker was not pinned (the
/// node also when no node of the tree holds the processor).
struct ThreadPlace {
  std::optional<std::uint32_t> processor;  ///< group × 64 + number within the group
  std::optional<std::uint32_t> group;
  std::optional<std::uint32_t> numa_node;
};

/// The machine as the result file describes it.
struct MachineRecord {
  platform::SystemFacts system;
  std::string cpu_brand;
  platform::CpuSignature cpu;
  std::string cpu_features;  ///< the feature list as printed, names separated by spaces
  platform::ProcessorCounts counts;
  std::uint64_t memory_available_bytes = 0;  ///< at the start of the run; 0 unknown
  std::uint64_t large_page_bytes = 0;        ///< 0 unsupported
};

/// Everything a result file holds.
struct ResultRecord {
  BuildInfo build;
  std::vector<std::string> command_line;  ///< the program path and the arguments as given
  std::chrono::system_clock::time_point start;
  std::chrono::system_clock::time_point end;
  bench::RunOptions options;  ///< as given; the record holds what the run made of them
  bench::RunRecord run;
  std::vector<ThreadPlace> places;  ///< by worker index
  MachineRecord machine;
  int exit_code = 0;
};

/// "2026-12-10T02:30:00Z": UTC, whole seconds.
std::string iso8601_utc(std::chrono::system_clock::time_point time);

/// The result file's text: a JSON object whose first key is "schema"; unknown
/// values are null. Text that is not UTF-8 (a path in another code page) has
/// its bad bytes replaced, never rejected.
std::string result_json(const ResultRecord& record);

/// The error line for a result file that cannot be written.
std::string result_file_error(const std::string& path, const std::string& reason);

}  // namespace app
