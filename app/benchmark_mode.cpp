#include <cstdio>

#include "app/modes.h"
#include "bench/run_setup.h"
#include "platform/console.h"

namespace app {

int run_benchmark_mode(const bench::RunOptions& options, platform::TopologyCache& topology) {
  const bench::RunOutcome outcome = bench::run_benchmark(options, topology);
  std::fputs("press enter to exit\n", stdout);
  (void)platform::flush_standard_output();
  // Keeps a console window open when started by double-click; at end of input
  // this returns at once.
  (void)std::getchar();
  return outcome.valid ? 0 : 1;
}

}  // namespace app
