#include "platform/topology.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/platform/topology_shape.h"

namespace {

using zelvo_test::shape;

using platform::CacheType;
using platform::GroupAffinity;
using platform::ProcessorRelation;
using platform::RelationKind;
using platform::Topology;

ProcessorRelation core(std::uint8_t efficiency_class, std::vector<GroupAffinity> masks) {
  ProcessorRelation r;
  r.kind = RelationKind::kProcessorCore;
  r.efficiency_class = efficiency_class;
  r.masks = std::move(masks);
  return r;
}

ProcessorRelation node(std::uint32_t number, std::vector<GroupAffinity> masks) {
  ProcessorRelation r;
  r.kind = RelationKind::kNumaNode;
  r.node_number = number;
  r.masks = std::move(masks);
  return r;
}

ProcessorRelation cache(std::uint8_t level, std::vector<GroupAffinity> masks,
                        CacheType type = CacheType::kUnified) {
  ProcessorRelation r;
  r.kind = RelationKind::kCache;
  r.cache_level = level;
  r.cache_type = type;
  r.masks = std::move(masks);
  return r;
}

Topology detect(const std::vector<ProcessorRelation>& records) {
  return platform::detect_topology(records);
}

TEST(TopologyTest, OneSocketWithSmt) {
  ProcessorRelation package;
  package.kind = RelationKind::kProcessorPackage;
  package.masks = {{0, 0x3F}};
  const Topology t = detect({
      core(0, {{0, 0x03}}),
      cache(1, {{0, 0x03}}, CacheType::kData),
      cache(2, {{0, 0x03}}),
      core(0, {{0, 0x0C}}),
      core(0, {{0, 0x30}}),  // bits 4 and 5: idx 0 os 4, idx 1 os 5
      package,
      cache(3, {{0, 0x3F}}),
      node(0, {{0, 0x3F}}),
  });
  EXPECT_EQ(print_topology(t),
            "perf_level_count=1\n"
            "numa node id=0\n"
            "|--llc id=0\n"
            "|  |--core id=0 perf_level=0\n"
            "|  |  |--logical idx=0 os=0\n"
            "|  |  |--logical idx=1 os=1\n"
            "|  |--core id=1 perf_level=0\n"
            "|  |  |--logical idx=0 os=2\n"
            "|  |  |--logical idx=1 os=3\n"
            "|  |--core id=2 perf_level=0\n"
            "|  |  |--logical idx=0 os=4\n"
            "|  |  |--logical idx=1 os=5\n");
  EXPECT_EQ(core_count(t, 99), 3u);
  EXPECT_EQ(t.numa_nodes[0].llcs[0].cores[2].logicals[1],
            (platform::LogicalProcessor{1, 2, 5, 0}));
}

TEST(TopologyTest, EfficiencyClassesBecomeDescendingPerfLevels) {
  // Hybrid: performance cores report class 1, efficient cores class 0.
  const Topology hybrid = detect({
      core(1, {{0, 0x03}}),
      core(0, {{0, 0x04}}),
      core(1, {{0, 0x18}}),
      core(0, {{0, 0x20}}),
  });
  EXPECT_EQ(hybrid.perf_level_count, 2u);
  EXPECT_EQ(shape(hybrid), "n0/l0: 0(0,1) 1p1(2) 2(3,4) 3p1(5)");

  // Classes need not be contiguous: 5, 2, 0 become 0, 1, 2.
  const Topology sparse = detect({core(2, {{0, 1}}), core(0, {{0, 2}}), core(5, {{0, 4}})});
  EXPECT_EQ(sparse.perf_level_count, 3u);
  EXPECT_EQ(shape(sparse), "n0/l0: 0p1(0) 1p2(1) 2(2)");
}

TEST(TopologyTest, CacheDomainsTakeRecordOrderAndSortCores) {
  // The first level-3 record covers the upper cores, so core 0 lands in domain 1.
  const Topology t = detect({
      cache(3, {{0, 0xF0}}),
      cache(2, {{0, 0x0F}}),
      cache(3, {{0, 0x0F}}),
      core(0, {{0, 0x01}}),
      core(0, {{0, 0x10}}),
      core(0, {{0, 0x02}}),
      core(0, {{0, 0x20}}),
  });
  EXPECT_EQ(shape(t), "n0/l0: 1(4) 3(5); n0/l1: 0(0) 2(1)");
}

TEST(TopologyTest, MissingOrEmptyLevel3Records) {
  // No level-3 cache at all: every core is in domain 0.
  EXPECT_EQ(shape(detect({cache(2, {{0, 1}}), core(0, {{0, 1}}), core(0, {{0, 2}})})),
            "n0/l0: 0(0) 1(1)");

  // A record with no group still takes id 0; the real cache becomes 1.
  EXPECT_EQ(shape(detect({cache(3, {}), cache(3, {{0, 3}}), core(0, {{0, 3}})})),
            "n0/l1: 0(0,1)");

  // A core with no hardware threads falls into node 0, domain 0.
  EXPECT_EQ(shape(detect({cache(3, {{0, 1}}), core(0, {}), core(0, {{0, 1}})})),
            "n0/l0: 0() 1(0)");

  // A core whose threads lie on two nodes goes with its last thread's node.
  EXPECT_EQ(shape(detect({node(0, {{0, 1}}), node(2, {{0, 2}}), core(0, {{0, 3}})})),
            "n2/l0: 0(0,1)");
}

TEST(TopologyTest, NumaNodes) {
  // Listed out of order: nodes come out ascending, each with its own cache domain.
  const Topology two = detect({
      node(1, {{0, 0x0C}}),
      node(0, {{0, 0x03}}),
      cache(3, {{0, 0x03}}),
      cache(3, {{0, 0x0C}}),
      core(0, {{0, 0x01}}),
      core(0, {{0, 0x02}}),
      core(0, {{0, 0x04}}),
      core(0, {{0, 0x08}}),
  });
  EXPECT_EQ(shape(two), "n0/l0: 0(0) 1(1); n1/l1: 2(2) 3(3)");

  // Only a node record's first mask counts: group 0's processor stays on node 0.
  const Topology spanning = detect({
      node(3, {{1, 0x1}, {0, 0x1}}),
      core(0, {{0, 0x1}}),
      core(0, {{1, 0x1}}),
  });
  EXPECT_EQ(shape(spanning), "n0/l0: 0(0); n3/l0: 1(1:0)");
}

TEST(TopologyTest, MoreThan64ProcessorsInThreeGroups) {
  // 130 single-thread cores: groups 0 and 1 full, group 2 holding two.
  // Node 0 is group 0; node 1 spans groups 1 and 2 (one record per group).
  std::vector<ProcessorRelation> records = {
      node(0, {{0, ~std::uint64_t{0}}}),
      node(1, {{1, ~std::uint64_t{0}}}),
      node(1, {{2, 0x3}}),
      cache(3, {{0, ~std::uint64_t{0}}}),
      cache(3, {{1, ~std::uint64_t{0}}, {2, 0x3}}),
  };
  for (std::uint32_t n = 0; n < 130; ++n) {
    records.push_back(core(0, {{static_cast<std::uint16_t>(n / 64), std::uint64_t{1} << (n % 64)}}));
  }
  const Topology t = detect(records);
  EXPECT_EQ(core_count(t, 1), 130u);
  ASSERT_EQ(t.numa_nodes.size(), 2u);
  ASSERT_EQ(t.numa_nodes[0].llcs.size(), 1u);
  EXPECT_EQ(t.numa_nodes[0].llcs[0].cores.size(), 64u);
  ASSERT_EQ(t.numa_nodes[1].llcs.size(), 1u);
  EXPECT_EQ(t.numa_nodes[1].llcs[0].id, 1u);
  const auto& upper = t.numa_nodes[1].llcs[0].cores;
  ASSERT_EQ(upper.size(), 66u);
  EXPECT_EQ(upper.front().logicals[0], (platform::LogicalProcessor{0, 64, 0, 1}));
  EXPECT_EQ(upper.back().logicals[0], (platform::LogicalProcessor{0, 129, 1, 2}));
}

TEST(TopologyTest, EmptyInputAndCoreCountFallback) {
  const Topology empty = detect({});
  EXPECT_TRUE(empty.numa_nodes.empty());
  EXPECT_EQ(empty.perf_level_count, 0u);
  EXPECT_EQ(print_topology(empty), "perf_level_count=0\n");
  EXPECT_EQ(core_count(empty, 12), 12u);

  // Caches and nodes without any core record still give the empty tree.
  const Topology coreless = detect({node(0, {{0, 3}}), cache(3, {{0, 3}})});
  EXPECT_TRUE(coreless.numa_nodes.empty());
  EXPECT_EQ(core_count(coreless, 0), 0u);
}

int detections = 0;
Topology fake_detect() {
  ++detections;
  return detect({core(0, {{0, 1}})});
}

TEST(TopologyTest, CacheDetectsOnlyOnFirstUse) {
  detections = 0;
  platform::TopologyCache cache(&fake_detect);
  EXPECT_EQ(detections, 0);
  const Topology& first = cache.get_topology();
  const Topology& second = cache.get_topology();
  EXPECT_EQ(detections, 1);
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(core_count(second, 0), 1u);
}

}  // namespace
