#pragma once

// Linux sysfs reader behind the topology records. Declared here, apart from
// the portable header, so that its tests can run it on fixture trees.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/topology.h"

namespace platform::os {

/// Processor numbers above this are treated as a malformed list.
inline constexpr std::uint32_t kMaxSysfsProcessors = 65536;

/// Parses a sysfs processor list such as "0-3,8,10-11\n" into ascending,
/// distinct numbers. Blank text is the empty list; anything malformed
/// (reversed ranges, stray characters, numbers beyond kMaxSysfsProcessors) is nullopt.
std::optional<std::vector<std::uint32_t>> parse_cpu_list(std::string_view text);

/// Relationship records from the sysfs tree under `root` ("/sys" on a live
/// system): one core record per set of hardware-thread siblings, one record
/// per distinct level-3 cache, one NUMA record per node and processor group.
/// Only online processors appear; processor N is group N / 64, bit N % 64.
/// Efficiency class 1 for processors in devices/cpu_core/cpus, 0 otherwise.
/// Empty when the online list cannot be read.
std::vector<ProcessorRelation> read_sysfs_relations(const std::filesystem::path& root);

}  // namespace platform::os
