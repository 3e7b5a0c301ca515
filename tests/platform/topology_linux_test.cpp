#include "platform/linux/topology_linux.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/system_facts.h"
#include "tests/platform/topology_shape.h"

namespace {

namespace fs = std::filesystem;
using platform::RelationKind;
using platform::os::parse_cpu_list;

using List = std::vector<std::uint32_t>;

TEST(SysfsCpuListTest, ParsesKernelListsAndRejectsGarbage) {
  EXPECT_EQ(parse_cpu_list("0-3,8,10-11\n"), (List{0, 1, 2, 3, 8, 10, 11}));
  EXPECT_EQ(parse_cpu_list("5"), (List{5}));
  EXPECT_EQ(parse_cpu_list("3,1,1-2"), (List{1, 2, 3}));  // sorted, duplicates dropped
  EXPECT_EQ(parse_cpu_list("\n"), List{});                // e.g. an empty "offline"
  EXPECT_EQ(parse_cpu_list("65535"), (List{65535}));
  for (const char* bad : {"abc", "0-", "-3", "3-1", "1,,2", "1,", ",1", "1 2", "0-3x", "1-2-3",
                          "65536", "0-4294967295", "99999999999", "0x3"}) {
    EXPECT_EQ(parse_cpu_list(bad), std::nullopt) << bad;
  }
}

// A sysfs-shaped tree in a fresh temporary directory.
class SysfsTree : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::path(testing::TempDir()) / (std::string("zelvo_sysfs_") + info->name());
    fs::remove_all(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  void write(const std::string& relative, const std::string& text) {
    const fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }
  // One online processor with its sibling list and a cache hierarchy whose
  // level-3 cache is shared by `l3` (no cache directory when `l3` is empty).
  void add_cpu(std::uint32_t cpu, const std::string& siblings, const std::string& l3) {
    const std::string dir = "devices/system/cpu/cpu" + std::to_string(cpu) + "/";
    write(dir + "topology/core_cpus_list", siblings + "\n");
    write(dir + "topology/thread_siblings_list", siblings + "\n");
    if (l3.empty()) return;
    const char* levels[] = {"1", "1", "2", "3"};
    const char* types[] = {"Data", "Instruction", "Unified", "Unified"};
    for (int k = 0; k < 4; ++k) {
      const std::string index = dir + "cache/index" + std::to_string(k) + "/";
      write(index + "level", std::string(levels[k]) + "\n");
      write(index + "type", std::string(types[k]) + "\n");
      write(index + "shared_cpu_list", (k == 3 ? l3 : siblings) + "\n");
    }
  }

  // The tree the records of the fixture give, in the compact picture.
  std::string tree_shape() {
    const platform::Topology t =
        platform::detect_topology(platform::os::read_sysfs_relations(root_));
    return zelvo_test::shape(t) + fmt::format(" [{} levels]", t.perf_level_count);
  }

  fs::path root_;
};

TEST_F(SysfsTree, TwoCoresOneCacheOneNode) {
  // The shape of a small virtual machine.
  write("devices/system/cpu/online", "0-1\n");
  add_cpu(0, "0", "0-1");
  add_cpu(1, "1", "0-1");
  write("devices/system/node/node0/cpulist", "0-1\n");
  write("devices/system/node/online", "0\n");

  const auto records = platform::os::read_sysfs_relations(root_);
  ASSERT_EQ(records.size(), 4u);  // two cores, one node, one level-3 cache
  EXPECT_EQ(records[3].kind, RelationKind::kCache);
  EXPECT_EQ(records[3].cache_level, 3u);
  EXPECT_EQ(records[3].cache_type, platform::CacheType::kUnified);
  EXPECT_EQ(tree_shape(), "n0/l0: 0(0) 1(1) [1 levels]");
}

TEST_F(SysfsTree, TwoSocketsWithSmtAndAnOfflineProcessor) {
  // 2 sockets × 2 cores × 2 threads; siblings are n and n + 4. Processor 7 is
  // offline: it has no topology directory, though lists still name it.
  write("devices/system/cpu/online", "0-6\n");
  write("devices/system/cpu/offline", "7\n");
  for (std::uint32_t n = 0; n < 7; ++n) {
    const std::uint32_t core = n % 4;
    const std::string siblings = std::to_string(core) + "," + std::to_string(core + 4);
    add_cpu(n, siblings, core < 2 ? "0-1,4-5" : "2-3,6-7");
  }
  write("devices/system/cpu/cpu7/online", "0\n");
  write("devices/system/node/node0/cpulist", "0-1,4-5\n");
  write("devices/system/node/node1/cpulist", "2-3,6-7\n");
  EXPECT_EQ(tree_shape(), "n0/l0: 0(0,4) 1(1,5); n1/l1: 2(2,6) 3(3) [1 levels]");
}

TEST_F(SysfsTree, PackagesFromTheirIds) {
  // Two sockets of one SMT core each; processor 3's id is unreadable ("-1" on
  // some machines), so it belongs to no package record.
  write("devices/system/cpu/online", "0-3\n");
  for (std::uint32_t n = 0; n < 4; ++n) {
    add_cpu(n, n < 2 ? "0-1" : "2-3", "");
    write("devices/system/cpu/cpu" + std::to_string(n) + "/topology/physical_package_id",
          n == 3 ? "-1\n" : std::to_string(n / 2) + "\n");
  }
  write("devices/system/node/node0/cpulist", "0-3\n");
  const auto records = platform::os::read_sysfs_relations(root_);
  const platform::ProcessorCounts counts = platform::count_processors(records);
  EXPECT_EQ(counts.packages, 2u);
  EXPECT_EQ(counts.cores, 2u);
  EXPECT_EQ(counts.logical_processors, 4u);
  EXPECT_EQ(counts.numa_nodes, 1u);
  EXPECT_EQ(counts.processor_groups, 1u);
  EXPECT_EQ(tree_shape(), "n0/l0: 0(0,1) 1(2,3) [1 levels]");  // the tree ignores packages
}

TEST_F(SysfsTree, HybridPmuLists) {
  // Two performance cores with SMT (0-3) and two efficient cores (4-5).
  write("devices/system/cpu/online", "0-5\n");
  for (std::uint32_t n = 0; n < 4; ++n) add_cpu(n, n < 2 ? "0-1" : "2-3", "0-5");
  add_cpu(4, "4", "0-5");
  add_cpu(5, "5", "0-5");
  write("devices/cpu_core/cpus", "0-3\n");
  write("devices/cpu_atom/cpus", "4-5\n");
  EXPECT_EQ(tree_shape(), "n0/l0: 0(0,1) 1(2,3) 2p1(4) 3p1(5) [2 levels]");
}

TEST_F(SysfsTree, ProcessorsBeyond64SplitIntoGroups) {
  // 130 processors, siblings n and n + 65, so a core straddles groups 0 and 1.
  write("devices/system/cpu/online", "0-129\n");
  for (std::uint32_t n = 0; n < 130; ++n) {
    const std::uint32_t first = n % 65;
    add_cpu(n, std::to_string(first) + "," + std::to_string(first + 65), "");
  }
  const platform::Topology t =
      platform::detect_topology(platform::os::read_sysfs_relations(root_));
  EXPECT_EQ(core_count(t, 0), 65u);
  const auto& cores = t.numa_nodes.at(0).llcs.at(0).cores;
  ASSERT_EQ(cores.size(), 65u);
  EXPECT_EQ(cores[0].logicals[1], (platform::LogicalProcessor{1, 0, 1, 1}));   // cpu 65
  EXPECT_EQ(cores[64].logicals[0], (platform::LogicalProcessor{0, 64, 0, 1}));  // cpu 64
  EXPECT_EQ(cores[64].logicals[1], (platform::LogicalProcessor{1, 64, 1, 2}));  // cpu 129
}

TEST_F(SysfsTree, MalformedFilesFallBackWithoutCrashing) {
  // Nothing readable: no records, so the empty tree.
  EXPECT_TRUE(platform::os::read_sysfs_relations(root_).empty());
  write("devices/system/cpu/online", "garbage\n");
  EXPECT_TRUE(platform::os::read_sysfs_relations(root_).empty());

  // Bad sibling list: the processor is its own core. Bad cache list: the
  // cache holds its own processor. Bad node and PMU lists are ignored.
  write("devices/system/cpu/online", "0-2,9\n");  // cpu9 has no directory
  add_cpu(0, "0-1", "0-2");
  add_cpu(1, "0-1", "0-2");
  add_cpu(2, "x", "");
  write("devices/system/cpu/cpu2/cache/index3/level", "3\n");
  write("devices/system/cpu/cpu2/cache/index3/shared_cpu_list", "2-\n");
  write("devices/system/cpu/cpu2/cache/index9/level", "three\n");
  write("devices/system/cpu/cpu2/cache/indexX/level", "3\n");
  write("devices/system/node/node0/cpulist", "0-1\n");
  write("devices/system/node/node1/cpulist", "1-0\n");
  write("devices/system/node/nodeX/cpulist", "2\n");
  write("devices/cpu_core/cpus", "0-1,\n");
  EXPECT_EQ(tree_shape(), "n0/l0: 0(0,1); n0/l1: 1(2) [1 levels]");
}

}  // namespace
