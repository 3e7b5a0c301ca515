#include "platform/relation_buffer.h"

#include <cstdint>
#include <utility>

namespace platform {
namespace {

namespace layout = relation_layout;

// Little-endian field of `record` at `offset`; 0 when it lies outside.
template <typename T>
T field(std::span<const std::byte> record, std::size_t offset) {
  if (offset > record.size() || record.size() - offset < sizeof(T)) return 0;
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    value |= static_cast<T>(static_cast<T>(std::to_integer<std::uint8_t>(record[offset + i])) << (8 * i));
  }
  return value;
}

// Up to `count` GROUP_AFFINITY entries from `offset`, as many as fit the record.
std::vector<GroupAffinity> masks(std::span<const std::byte> record, std::size_t offset, std::size_t count) {
  std::vector<GroupAffinity> out;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = offset + i * layout::kAffinitySize;
    if (at > record.size() || record.size() - at < layout::kAffinitySize) break;
    out.push_back(GroupAffinity{field<std::uint16_t>(record, at + layout::kAffinityGroup),
                                field<std::uint64_t>(record, at + layout::kAffinityMask)});
  }
  return out;
}

}  // namespace

std::vector<ProcessorRelation> parse_relation_buffer(std::span<const std::byte> buffer) {
  std::vector<ProcessorRelation> records;
  std::size_t at = 0;
  while (buffer.size() - at >= layout::kHeaderSize) {
    const std::span<const std::byte> rest = buffer.subspan(at);
    const auto size = field<std::uint32_t>(rest, layout::kSize);
    // A size of 0 would never advance; one past the end has no record behind it.
    if (size < layout::kHeaderSize || size > rest.size()) break;
    const std::span<const std::byte> record = rest.first(size);
    at += size;

    ProcessorRelation relation;
    switch (field<std::uint32_t>(record, layout::kRelationship)) {
      case static_cast<std::uint32_t>(RelationKind::kProcessorCore):
        relation.kind = RelationKind::kProcessorCore;
        relation.efficiency_class = field<std::uint8_t>(record, layout::kCoreEfficiencyClass);
        relation.masks = masks(record, layout::kCoreGroupMasks,
                               field<std::uint16_t>(record, layout::kCoreGroupCount));
        break;
      case static_cast<std::uint32_t>(RelationKind::kProcessorPackage):
        // Laid out as a core record; only its processors are of use.
        relation.kind = RelationKind::kProcessorPackage;
        relation.masks = masks(record, layout::kCoreGroupMasks,
                               field<std::uint16_t>(record, layout::kCoreGroupCount));
        break;
      case static_cast<std::uint32_t>(RelationKind::kNumaNode):
        relation.kind = RelationKind::kNumaNode;
        relation.node_number = field<std::uint32_t>(record, layout::kNumaNodeNumber);
        relation.masks = masks(record, layout::kNumaGroupMask, 1);
        break;
      case static_cast<std::uint32_t>(RelationKind::kCache):
        relation.kind = RelationKind::kCache;
        relation.cache_level = field<std::uint8_t>(record, layout::kCacheLevel);
        relation.cache_type = static_cast<CacheType>(field<std::uint32_t>(record, layout::kCacheType));
        relation.masks = masks(record, layout::kCacheGroupMasks,
                               field<std::uint16_t>(record, layout::kCacheGroupCount));
        // Before Windows 11 the count was a reserved word (0) in front of one
        // filled mask; a record with a count of 0 and an empty mask maps nothing.
        if (relation.masks.empty()) {
          std::vector<GroupAffinity> first = masks(record, layout::kCacheGroupMasks, 1);
          if (!first.empty() && first.front().mask != 0) relation.masks = std::move(first);
        }
        break;
      default:
        continue;
    }
    records.push_back(std::move(relation));
  }
  return records;
}

}  // namespace platform
