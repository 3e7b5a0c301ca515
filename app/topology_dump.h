#pragma once

#include "platform/topology.h"

namespace app {

/// The topology dump (--topo-debug): writes the tree held by `cache` to
/// standard output, detecting it first if nothing needed it before.
void run_topology_dump(platform::TopologyCache& cache);

}  // namespace app
