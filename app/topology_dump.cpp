#include "app/topology_dump.h"

#include <cstdio>
#include <string>

#include "platform/console.h"

namespace app {

void run_topology_dump(platform::TopologyCache& cache) {
  const std::string text = platform::print_topology(cache.get_topology());
  std::fwrite(text.data(), 1, text.size(), stdout);
  (void)platform::flush_standard_output();
}

}  // namespace app
