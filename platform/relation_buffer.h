#pragma once

// Reader for the byte buffer that GetLogicalProcessorInformationEx fills: a
// run of variable-length SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX records. It
// is plain byte work, kept portable so that it is tested on every platform
// with buffers laid out by hand.

#include <cstddef>
#include <span>
#include <vector>

#include "platform/topology.h"

namespace platform {

/// Byte offsets within one record, as Windows lays them out (x64).
namespace relation_layout {
inline constexpr std::size_t kRelationship = 0;  ///< 32-bit relationship type
inline constexpr std::size_t kSize = 4;          ///< 32-bit record size in bytes
inline constexpr std::size_t kHeaderSize = 8;
// PROCESSOR_RELATIONSHIP (core and package records)
inline constexpr std::size_t kCoreEfficiencyClass = 9;  ///< 8-bit
inline constexpr std::size_t kCoreGroupCount = 30;      ///< 16-bit
inline constexpr std::size_t kCoreGroupMasks = 32;
// NUMA_NODE_RELATIONSHIP
inline constexpr std::size_t kNumaNodeNumber = 8;  ///< 32-bit
inline constexpr std::size_t kNumaGroupMask = 32;  ///< the first mask only
// CACHE_RELATIONSHIP
inline constexpr std::size_t kCacheLevel = 8;        ///< 8-bit
inline constexpr std::size_t kCacheType = 16;        ///< 32-bit PROCESSOR_CACHE_TYPE
inline constexpr std::size_t kCacheGroupCount = 38;  ///< 16-bit
inline constexpr std::size_t kCacheGroupMasks = 40;
// GROUP_AFFINITY
inline constexpr std::size_t kAffinityMask = 0;   ///< 64-bit
inline constexpr std::size_t kAffinityGroup = 8;  ///< 16-bit
inline constexpr std::size_t kAffinitySize = 16;
}  // namespace relation_layout

/// The core, NUMA-node and cache records of `buffer`, in buffer order; other
/// kinds are skipped. Reading stops at a record whose size field is below the
/// header or runs past the end of the buffer, so a malformed buffer yields the
/// records before the fault. Masks that would lie outside their record are
/// not read. A cache record with a group count of 0 but a non-empty first
/// mask (the layout before Windows 11) gives that one mask.
std::vector<ProcessorRelation> parse_relation_buffer(std::span<const std::byte> buffer);

}  // namespace platform
