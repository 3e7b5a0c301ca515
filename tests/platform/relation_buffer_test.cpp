#include "platform/relation_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "platform/topology.h"
#include "tests/platform/topology_shape.h"

namespace {

using platform::CacheType;
using platform::GroupAffinity;
using platform::ProcessorRelation;
using platform::RelationKind;

// Writes SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX records as 64-bit Windows
// lays them out. The offsets are written out here on purpose, apart from the
// reader's own constants, so that a wrong constant shows.
class RecordWriter {
 public:
  // PROCESSOR_RELATIONSHIP: Flags @8, EfficiencyClass @9, GroupCount @30, masks @32.
  RecordWriter& core(std::uint8_t efficiency_class, std::initializer_list<GroupAffinity> masks,
                     std::uint32_t relationship = 0) {
    const std::size_t at = begin(relationship, 32 + 16 * masks.size());
    put(at + 8, 1, masks.size() > 0 && std::popcount(masks.begin()->mask) > 1 ? 1 : 0);  // LTP_PC_SMT
    put(at + 9, 1, efficiency_class);
    put(at + 30, 2, masks.size());
    put_masks(at + 32, masks);
    return *this;
  }
  // NUMA_NODE_RELATIONSHIP: NodeNumber @8, GroupCount @30, masks @32.
  RecordWriter& numa(std::uint32_t node, std::initializer_list<GroupAffinity> masks) {
    const std::size_t at = begin(1, 32 + 16 * masks.size());
    put(at + 8, 4, node);
    put(at + 30, 2, masks.size());
    put_masks(at + 32, masks);
    return *this;
  }
  // CACHE_RELATIONSHIP: Level @8, Associativity @9, LineSize @10, CacheSize @12,
  // Type @16, GroupCount @38, masks @40.
  RecordWriter& cache(std::uint8_t level, CacheType type, std::initializer_list<GroupAffinity> masks,
                      std::uint16_t group_count_field) {
    const std::size_t at = begin(2, 40 + 16 * (masks.size() == 0 ? 1 : masks.size()));
    put(at + 8, 1, level);
    put(at + 9, 1, 8);
    put(at + 10, 2, 64);
    put(at + 12, 4, level == 3 ? 32u << 20 : 32u << 10);
    put(at + 16, 4, static_cast<std::uint32_t>(type));
    put(at + 38, 2, group_count_field);
    put_masks(at + 40, masks);
    return *this;
  }
  RecordWriter& cache(std::uint8_t level, CacheType type, std::initializer_list<GroupAffinity> masks) {
    return cache(level, type, masks, static_cast<std::uint16_t>(masks.size()));
  }
  // GROUP_RELATIONSHIP: Maximum/ActiveGroupCount @8/@10, PROCESSOR_GROUP_INFO (48 bytes) @32.
  RecordWriter& groups(std::initializer_list<std::uint64_t> active_masks) {
    const std::size_t at = begin(4, 32 + 48 * active_masks.size());
    put(at + 8, 2, active_masks.size());
    put(at + 10, 2, active_masks.size());
    std::size_t info = at + 32;
    for (const std::uint64_t mask : active_masks) {
      put(info, 1, 64);
      put(info + 1, 1, static_cast<std::uint64_t>(std::popcount(mask)));
      put(info + 40, 8, mask);
      info += 48;
    }
    return *this;
  }
  // Any header, with a size field that need not match what follows.
  RecordWriter& raw(std::uint32_t relationship, std::uint32_t size_field, std::size_t bytes) {
    const std::size_t at = bytes_.size();
    bytes_.resize(at + std::max<std::size_t>(bytes, 8));
    put(at, 4, relationship);
    put(at + 4, 4, size_field);
    bytes_.resize(at + bytes);  // a record shorter than its header keeps what fits
    return *this;
  }

  std::span<const std::byte> bytes() const { return bytes_; }

 private:
  std::size_t begin(std::uint32_t relationship, std::size_t size) {
    const std::size_t at = bytes_.size();
    bytes_.resize(at + size);
    put(at, 4, relationship);
    put(at + 4, 4, size);
    return at;
  }
  void put_masks(std::size_t at, std::initializer_list<GroupAffinity> masks) {
    for (const GroupAffinity& m : masks) {
      put(at, 8, m.mask);
      put(at + 8, 2, m.group);
      at += 16;
    }
  }
  void put(std::size_t at, int width, std::uint64_t value) {
    for (int i = 0; i < width; ++i) bytes_[at + i] = static_cast<std::byte>(value >> (8 * i));
  }

  std::vector<std::byte> bytes_;
};

std::vector<std::uint64_t> masks_of(const ProcessorRelation& r) {
  std::vector<std::uint64_t> out;
  for (const GroupAffinity& m : r.masks) out.push_back((std::uint64_t{m.group} << 56) | m.mask);
  return out;
}

// Group number in the top byte, so one list compares both fields.
constexpr std::uint64_t g(std::uint16_t group, std::uint64_t mask) { return (std::uint64_t{group} << 56) | mask; }

TEST(RelationBufferTest, ReadsTheRecordsWindowsReturns) {
  // Two groups of two SMT cores; per core its L1d, L1i, L2, then one L3 per
  // group, a package, a NUMA node per group and the group record, as Windows
  // orders them.
  RecordWriter w;
  for (const std::uint16_t group : {0, 1}) {
    for (const std::uint64_t pair : {0x3ull, 0xCull}) {
      w.core(0, {{group, pair}});
      w.cache(1, CacheType::kData, {{group, pair}});
      w.cache(1, CacheType::kInstruction, {{group, pair}});
      w.cache(2, CacheType::kUnified, {{group, pair}});
    }
    w.cache(3, CacheType::kUnified, {{group, 0xF}});
  }
  w.core(0, {{0, 0xF}, {1, 0xF}}, 3);  // package record, same layout as a core
  w.numa(0, {{0, 0xF}});
  w.numa(1, {{1, 0xF}});
  w.groups({0xF, 0xF});

  const std::vector<ProcessorRelation> records = platform::parse_relation_buffer(w.bytes());
  ASSERT_EQ(records.size(), 21u);  // 4 cores, 12 L1/L2, 2 L3, a package, 2 NUMA; group skipped
  EXPECT_EQ(records[0].kind, RelationKind::kProcessorCore);
  EXPECT_EQ(masks_of(records[0]), (std::vector<std::uint64_t>{g(0, 0x3)}));
  EXPECT_EQ(records[1].kind, RelationKind::kCache);
  EXPECT_EQ(records[1].cache_level, 1);
  EXPECT_EQ(records[1].cache_type, CacheType::kData);
  EXPECT_EQ(records[2].cache_type, CacheType::kInstruction);
  EXPECT_EQ(records[3].cache_level, 2);
  EXPECT_EQ(records[3].cache_type, CacheType::kUnified);
  EXPECT_EQ(records[8].cache_level, 3);
  EXPECT_EQ(masks_of(records[8]), (std::vector<std::uint64_t>{g(0, 0xF)}));
  EXPECT_EQ(masks_of(records[13]), (std::vector<std::uint64_t>{g(1, 0xC)}));
  EXPECT_EQ(records[18].kind, RelationKind::kProcessorPackage);
  EXPECT_EQ(masks_of(records[18]), (std::vector<std::uint64_t>{g(0, 0xF), g(1, 0xF)}));
  EXPECT_EQ(records[19].kind, RelationKind::kNumaNode);
  EXPECT_EQ(records[19].node_number, 0u);
  EXPECT_EQ(records[20].node_number, 1u);
  EXPECT_EQ(masks_of(records[20]), (std::vector<std::uint64_t>{g(1, 0xF)}));

  // The same records build the expected tree.
  const platform::Topology topology = platform::detect_topology(records);
  EXPECT_EQ(zelvo_test::shape(topology), "n0/l0: 0(0,1) 1(2,3); n1/l1: 2(1:0,1:1) 3(1:2,1:3)");
  EXPECT_EQ(topology.perf_level_count, 1u);
}

TEST(RelationBufferTest, ReadsEfficiencyClassesAndEveryMaskOfARecord) {
  RecordWriter w;
  w.core(1, {{0, 0x3}});                             // performance core with SMT
  w.core(0, {{0, 0x4}});                             // efficient core
  w.core(1, {{0, 1ull << 63}, {2, 0x1}});            // a core spanning groups 0 and 2
  w.cache(3, CacheType::kUnified, {{0, 1ull << 63}, {0, 0x7}, {2, 0x1}});
  const std::vector<ProcessorRelation> records = platform::parse_relation_buffer(w.bytes());
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].efficiency_class, 1);
  EXPECT_EQ(records[1].efficiency_class, 0);
  EXPECT_EQ(masks_of(records[2]), (std::vector<std::uint64_t>{g(0, 1ull << 63), g(2, 0x1)}));
  EXPECT_EQ(masks_of(records[3]), (std::vector<std::uint64_t>{g(0, 1ull << 63), g(0, 0x7), g(2, 0x1)}));

  const platform::Topology topology = platform::detect_topology(records);
  EXPECT_EQ(topology.perf_level_count, 2u);
  EXPECT_EQ(zelvo_test::shape(topology), "n0/l0: 0(0,1) 1p1(2) 2(63,2:0)");
}

TEST(RelationBufferTest, CacheGroupCount) {
  RecordWriter w;
  w.cache(3, CacheType::kUnified, {}, 0);             // no processors: maps nothing
  w.cache(3, CacheType::kUnified, {{0, 0xF0}}, 0);    // older layout: count reserved, one mask
  w.cache(3, CacheType::kUnified, {{1, 0x0F}}, 1);
  const std::vector<ProcessorRelation> records = platform::parse_relation_buffer(w.bytes());
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(records[0].masks.empty());
  EXPECT_EQ(masks_of(records[1]), (std::vector<std::uint64_t>{g(0, 0xF0)}));
  EXPECT_EQ(masks_of(records[2]), (std::vector<std::uint64_t>{g(1, 0x0F)}));
}

TEST(RelationBufferTest, NumaNodeGivesOnlyItsFirstMask) {
  RecordWriter w;
  w.numa(7, {{0, 0xFF}, {1, 0xFF}});
  const std::vector<ProcessorRelation> records = platform::parse_relation_buffer(w.bytes());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].node_number, 7u);
  EXPECT_EQ(masks_of(records[0]), (std::vector<std::uint64_t>{g(0, 0xFF)}));
}

TEST(RelationBufferTest, MalformedBuffersYieldTheRecordsBeforeTheFault) {
  // Empty, and shorter than one header.
  EXPECT_TRUE(platform::parse_relation_buffer({}).empty());
  EXPECT_TRUE(platform::parse_relation_buffer(RecordWriter().raw(0, 48, 4).bytes()).empty());

  // A size field of 0 would never advance.
  EXPECT_EQ(platform::parse_relation_buffer(RecordWriter().core(0, {{0, 1}}).raw(0, 0, 48).core(0, {{0, 2}}).bytes())
                .size(),
            1u);
  // A size field below the header.
  EXPECT_EQ(platform::parse_relation_buffer(RecordWriter().core(0, {{0, 1}}).raw(2, 7, 56).bytes()).size(), 1u);
  // A record running past the end of the buffer.
  EXPECT_EQ(platform::parse_relation_buffer(RecordWriter().core(0, {{0, 1}}).raw(0, 4096, 48).bytes()).size(), 1u);

  // A group count larger than the record holds: only the masks inside are read.
  RecordWriter w;
  w.core(0, {{0, 0x1}});
  std::vector<std::byte> bytes(w.bytes().begin(), w.bytes().end());
  bytes[30] = std::byte{5};
  const std::vector<ProcessorRelation> records = platform::parse_relation_buffer(bytes);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(masks_of(records[0]), (std::vector<std::uint64_t>{g(0, 0x1)}));

  // A core record too short for any mask still counts as a core, with no processors.
  RecordWriter short_core;
  short_core.raw(0, 32, 32);
  const std::vector<ProcessorRelation> bare = platform::parse_relation_buffer(short_core.bytes());
  ASSERT_EQ(bare.size(), 1u);
  EXPECT_TRUE(bare[0].masks.empty());
}

TEST(RelationBufferTest, SkipsKindsItDoesNotRead) {
  RecordWriter w;
  w.core(0, {{0, 0x1}}, 3);  // package
  w.groups({0x1});
  w.core(0, {{0, 0x1}}, 5);  // die
  w.core(0, {{0, 0x1}}, 7);  // module
  w.core(0, {{0, 0x1}});
  const std::vector<ProcessorRelation> records = platform::parse_relation_buffer(w.bytes());
  ASSERT_EQ(records.size(), 2u);  // the package is kept for the processor counts
  EXPECT_EQ(records[0].kind, RelationKind::kProcessorPackage);
  EXPECT_EQ(records[1].kind, RelationKind::kProcessorCore);
}

}  // namespace
