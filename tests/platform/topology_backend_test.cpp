#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#include "platform/placement.h"
#include "platform/system_facts.h"
#include "platform/topology.h"

namespace {

TEST(TopologyBackendTest, DetectedTreeIsConsistent) {
  const platform::Topology t = platform::detect_topology();
  const std::uint32_t processors = platform::os::processor_count();
  EXPECT_GE(platform::core_count(t), 1u);
  if (t.numa_nodes.empty()) {
    EXPECT_EQ(t.perf_level_count, 0u);
    return;  // neutral answer: nothing more to check
  }
  EXPECT_GE(t.perf_level_count, 1u);
  std::uint32_t logicals = 0;
  for (const auto& node : t.numa_nodes) {
    for (const auto& llc : node.llcs) {
      for (const auto& core : llc.cores) {
        EXPECT_LT(core.perf_level, t.perf_level_count);
        for (const auto& lp : core.logicals) {
          EXPECT_EQ(lp.core_id, core.id);
          EXPECT_LT(lp.os, 64u);
          ++logicals;
        }
      }
    }
  }
  if (processors != 0) {
    EXPECT_LE(logicals, processors);
  }
  EXPECT_LE(platform::core_count(t), logicals);
}

TEST(TopologyBackendTest, CacheMatchesDirectDetection) {
  platform::TopologyCache cache;
  EXPECT_EQ(print_topology(cache.get_topology()), print_topology(platform::detect_topology()));
}

TEST(TopologyBackendTest, PinningTellsWhetherItWasApplied) {
  // The first allowed entry takes; a processor no system numbers is refused.
  platform::TopologyCache cache;
  const platform::PlacementList list =
      allowed_placement(build_numa_placement(cache.get_topology()), platform::allowed_processors());
  std::thread worker([&] {
    if (!list.empty()) {
      EXPECT_TRUE(platform::pin_current_thread(list[0]));
    }
    EXPECT_FALSE(platform::pin_current_thread(platform::LogicalProcessor{0, 0, 63, 65535}));
  });
  worker.join();
}

}  // namespace
