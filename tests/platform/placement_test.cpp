#include "platform/placement.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

using platform::Core;
using platform::PlacementList;
using platform::Topology;

// (core id, hardware-thread position) of every entry, in order.
using Order = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

Order order_of(const PlacementList& list) {
  Order order;
  for (const auto& lp : list) order.emplace_back(lp.core_id, lp.idx);
  return order;
}

// Appends (core, thread) for every core in `cores`.
void add(Order& order, std::initializer_list<std::uint32_t> cores, std::uint32_t thread) {
  for (std::uint32_t c : cores) order.emplace_back(c, thread);
}
void add_range(Order& order, std::uint32_t first, std::uint32_t last, std::uint32_t thread) {
  for (std::uint32_t c = first; c <= last; ++c) order.emplace_back(c, thread);
}

// A core with `threads` hardware threads numbered from `first_os`.
Core make_core(std::uint32_t id, std::uint32_t perf_level, std::uint32_t threads,
               std::uint32_t first_os) {
  Core core{id, perf_level, {}};
  for (std::uint32_t t = 0; t < threads; ++t) core.logicals.push_back({t, id, first_os + t, 0});
  return core;
}

// 8 performance cores with two threads, then 16 efficient cores with one.
Topology hybrid_topology() {
  Topology t;
  t.perf_level_count = 2;
  t.numa_nodes.push_back({0, {{0, {}}}});
  auto& cores = t.numa_nodes[0].llcs[0].cores;
  for (std::uint32_t c = 0; c < 8; ++c) cores.push_back(make_core(c, 0, 2, 2 * c));
  for (std::uint32_t c = 8; c < 24; ++c) cores.push_back(make_core(c, 1, 1, 8 + c));
  return t;
}

// Two nodes with one cache domain each; cores 0-3 on node 0, 4-7 on node 1.
Topology two_node_topology() {
  Topology t;
  t.perf_level_count = 1;
  t.numa_nodes.push_back({0, {{0, {}}}});
  t.numa_nodes.push_back({1, {{1, {}}}});
  for (std::uint32_t c = 0; c < 8; ++c) {
    t.numa_nodes[c / 4].llcs[0].cores.push_back(make_core(c, 0, 2, 2 * c));
  }
  return t;
}

TEST(PlacementTest, HybridOrders) {
  const Topology t = hybrid_topology();
  Order numa;
  add_range(numa, 0, 7, 0);
  add_range(numa, 8, 23, 0);
  add_range(numa, 0, 7, 1);
  EXPECT_EQ(order_of(build_numa_placement(t)), numa);

  Order phte;
  add_range(phte, 0, 7, 0);
  add_range(phte, 0, 7, 1);
  add_range(phte, 8, 23, 0);
  EXPECT_EQ(order_of(build_phte_placement(t)), phte);
}

TEST(PlacementTest, NodesInterleaveAndOneLevelGivesSameOrder) {
  const Topology t = two_node_topology();
  Order expected;
  add(expected, {0, 4, 1, 5, 2, 6, 3, 7}, 0);
  add(expected, {0, 4, 1, 5, 2, 6, 3, 7}, 1);
  EXPECT_EQ(order_of(build_numa_placement(t)), expected);
  EXPECT_EQ(build_phte_placement(t), build_numa_placement(t));

  // Entries carry the processor's group and bit unchanged.
  const PlacementList list = build_numa_placement(t);
  EXPECT_EQ(list[1], (platform::LogicalProcessor{0, 4, 8, 0}));
}

TEST(PlacementTest, CacheGroupsRunDomainPositionAcrossNodes) {
  // Node 0 has domains 0 and 2, node 1 only domain 1; core 5 has no threads,
  // core 6 belongs to another perf level.
  Topology t;
  t.perf_level_count = 2;
  t.numa_nodes.push_back({0, {{0, {make_core(0, 0, 2, 0), make_core(1, 0, 1, 2)}},
                              {2, {make_core(4, 0, 3, 8), make_core(5, 0, 0, 0)}}}});
  t.numa_nodes.push_back({1, {{1, {make_core(2, 0, 1, 4), make_core(6, 1, 4, 12)}}}});

  const platform::CacheGroups level0 = collect_cache_groups(t, 0);
  ASSERT_EQ(level0.groups.size(), 3u);
  EXPECT_EQ(level0.groups[0].size(), 2u);
  EXPECT_EQ(level0.groups[1].size(), 1u);
  EXPECT_EQ(level0.groups[1][0]->id, 2u);
  ASSERT_EQ(level0.groups[2].size(), 1u);  // core 5 never enters
  EXPECT_EQ(level0.groups[2][0]->id, 4u);
  EXPECT_EQ(level0.thread_depth, 3u);

  const platform::CacheGroups level1 = collect_cache_groups(t, 1);
  ASSERT_EQ(level1.groups.size(), 1u);
  EXPECT_EQ(level1.thread_depth, 4u);
  EXPECT_TRUE(collect_cache_groups(t, 2).groups.empty());

  // Rows are never created: core 4's third thread and core 6's deeper threads
  // only appear where enough rows exist.
  platform::ThreadRows rows(2);
  fill_thread_rows(rows, level0);
  Order row0, row1;
  for (const auto& lp : rows[0]) row0.emplace_back(lp.core_id, lp.idx);
  for (const auto& lp : rows[1]) row1.emplace_back(lp.core_id, lp.idx);
  EXPECT_EQ(row0, (Order{{0, 0}, {2, 0}, {4, 0}, {1, 0}}));
  EXPECT_EQ(row1, (Order{{0, 1}, {4, 1}}));

  // Numa takes the deepest level's depth (4) for every level.
  Order numa = {{0, 0}, {2, 0}, {4, 0}, {1, 0}, {6, 0}, {0, 1}, {4, 1}, {6, 1},
                {4, 2}, {6, 2}, {6, 3}};
  EXPECT_EQ(order_of(build_numa_placement(t)), numa);
  Order phte = {{0, 0}, {2, 0}, {4, 0}, {1, 0}, {0, 1}, {4, 1}, {4, 2},
                {6, 0}, {6, 1}, {6, 2}, {6, 3}};
  EXPECT_EQ(order_of(build_phte_placement(t)), phte);
}

TEST(PlacementTest, EmptyAndOsManagers) {
  const Topology empty;
  EXPECT_TRUE(build_numa_placement(empty).empty());
  EXPECT_TRUE(build_phte_placement(empty).empty());
  EXPECT_TRUE(build_placement(empty, platform::ThreadingMode::kNuma).empty());
  EXPECT_TRUE(build_placement(hybrid_topology(), platform::ThreadingMode::kOs).empty());
  EXPECT_EQ(build_placement(hybrid_topology(), platform::ThreadingMode::kPhte).size(), 32u);

  // A perf level whose cores all lack threads adds nothing.
  Topology bare;
  bare.perf_level_count = 1;
  bare.numa_nodes.push_back({0, {{0, {make_core(0, 0, 0, 0)}}}});
  EXPECT_TRUE(build_numa_placement(bare).empty());
  EXPECT_TRUE(build_phte_placement(bare).empty());
}

TEST(PlacementTest, OnlyAllowedProcessorsArePlaced) {
  // A container limited to processors 0-3 and 9 on the two-node machine: the
  // numa order keeps its order over what is left, and nothing else is pinned.
  const PlacementList all = build_numa_placement(two_node_topology());
  const PlacementList some = platform::allowed_placement(all, std::vector<std::uint32_t>{9, 0, 1, 2, 3});
  std::vector<std::uint32_t> processors;
  for (const auto& lp : some) processors.push_back(lp.os);
  EXPECT_EQ(processors, (std::vector<std::uint32_t>{0, 2, 1, 9, 3}));
  // Unknown limits change nothing; processors of group 1 count from 64.
  EXPECT_EQ(platform::allowed_placement(all, std::nullopt).size(), all.size());
  const PlacementList grouped{{0, 0, 1, 1}, {0, 1, 1, 0}};
  EXPECT_EQ(platform::allowed_placement(grouped, std::vector<std::uint32_t>{65}).size(), 1u);
  EXPECT_TRUE(platform::allowed_placement(all, std::vector<std::uint32_t>{}).empty());
}

TEST(PlacementTest, ModeNamesAndAffinity) {
  using platform::ThreadingMode;
  EXPECT_EQ(platform::threading_mode_from_name("numa"), ThreadingMode::kNuma);
  EXPECT_EQ(platform::threading_mode_from_name("phte"), ThreadingMode::kPhte);
  EXPECT_EQ(platform::threading_mode_from_name("os"), ThreadingMode::kOs);
  // Only the exact texts select a manager.
  EXPECT_EQ(platform::threading_mode_from_name("NUMA"), ThreadingMode::kOs);
  EXPECT_EQ(platform::threading_mode_from_name("phte "), ThreadingMode::kOs);
  EXPECT_EQ(platform::threading_mode_from_name(""), ThreadingMode::kOs);

  const platform::GroupAffinity a = platform::affinity_of({0, 3, 37, 1});
  EXPECT_EQ(a.group, 1u);
  EXPECT_EQ(a.mask, std::uint64_t{1} << 37);
  EXPECT_EQ(platform::affinity_of({0, 0, 63, 0}).mask, std::uint64_t{1} << 63);
}

}  // namespace
