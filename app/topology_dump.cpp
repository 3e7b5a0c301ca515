#include "app/topology_dump.h"

#include <cstdio>
#include <string>

namespace app {

void run_topology_dump(platform::TopologyCache& cache) {
  const std::string text = platform::print_topology(cache.get_topology());
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace app
