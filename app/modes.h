#pragma once

#include <string>

#include "bench/run_options.h"
#include "cli/tokens.h"
#include "platform/file_output.h"
#include "platform/topology.h"

namespace app {

// The modes that live in other modules. Each returns the process exit code.

/// Where a run's result file goes; `path` empty for none.
struct ResultFileRequest {
  std::string path;
  const cli::ArgList& args;  ///< the command line, recorded as given
  platform::OutputFile& file;  ///< prepared for `path` when there is one
};

/// The benchmark run with a copy of `options`, after the overflow guards and
/// the result file's preparation passed; writes the result file when one was
/// asked for and ends with the closing prompt. Exit code 0 for a valid result
/// whose console output and file (if any) were written so far.
int run_benchmark_mode(const bench::RunOptions& options, platform::TopologyCache& topology,
                       const ResultFileRequest& result_file);

}  // namespace app
