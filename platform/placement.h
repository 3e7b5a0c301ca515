#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/topology.h"

namespace platform {

/// The threading managers: "os" leaves threads to the scheduler, "numa"
/// spreads first hardware threads over cache domains and nodes before any
/// second thread, "phte" fills the most performant cores' threads first.
enum class ThreadingMode { kOs, kNuma, kPhte };

/// Exactly "numa" or "phte" select those managers; any other text selects "os".
ThreadingMode threading_mode_from_name(std::string_view name);

/// Ordered logical processors; worker i is pinned to entry i when it exists.
using PlacementList = std::vector<LogicalProcessor>;

/// The cores of one perf level gathered per cache domain, and the largest
/// hardware-thread count among them (0 when there are none).
struct CacheGroups {
  std::vector<std::vector<const Core*>> groups;  ///< point into the Topology
  std::uint32_t thread_depth = 0;
};

/// Row j holds hardware thread j of the cores placed so far.
using ThreadRows = std::vector<std::vector<LogicalProcessor>>;

/// The non-empty cores of perf level `perf_level`, one group per cache domain:
/// domain position 0 of every node in order, then position 1, and so on.
/// The result points into `topology`, which must outlive it.
CacheGroups collect_cache_groups(const Topology& topology, std::uint32_t perf_level);

/// Appends hardware thread j of every group's cores to row j, taking core
/// position 0 of every group first, then position 1, and so on. Creates no rows.
void fill_thread_rows(ThreadRows& rows, const CacheGroups& groups);

/// Placement of the numa manager: all perf levels' first threads, then all
/// second threads, ...; empty for the empty tree.
PlacementList build_numa_placement(const Topology& topology);

/// Placement of the phte manager: perf level 0's threads row by row, then
/// perf level 1's, ...; empty for the empty tree.
PlacementList build_phte_placement(const Topology& topology);

/// The placement list of `mode`; "os" gives the empty list.
PlacementList build_placement(const Topology& topology, ThreadingMode mode);

/// The number of `lp` across groups, group × 64 + bit, as the result file and
/// the allowed-processor list count processors.
inline std::uint32_t processor_number(const LogicalProcessor& lp) { return std::uint32_t{lp.group} * 64 + lp.os; }

/// The single-processor affinity of `lp`: bit `os` (mod 64) of group `group`.
GroupAffinity affinity_of(const LogicalProcessor& lp);

namespace os {
/// Binds the calling thread to the processors of `affinity`; false when the
/// system refused, which leaves the thread where the system put it.
bool set_current_thread_affinity(GroupAffinity affinity);
}  // namespace os

/// Pins the calling thread to `lp` alone; false when the system refused.
inline bool pin_current_thread(const LogicalProcessor& lp) { return os::set_current_thread_affinity(affinity_of(lp)); }

/// The entries of `placement` that lie in `allowed` (numbered group × 64 + bit),
/// in their order: a process confined to some processors (a container's limit)
/// cannot be pinned to the others. All of them when `allowed` is absent.
PlacementList allowed_placement(PlacementList placement, const std::optional<std::vector<std::uint32_t>>& allowed);

}  // namespace platform
