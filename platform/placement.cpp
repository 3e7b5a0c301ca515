#include "platform/placement.h"

#include <algorithm>
#include <utility>

namespace platform {

ThreadingMode threading_mode_from_name(std::string_view name) {
  if (name == "numa") return ThreadingMode::kNuma;
  if (name == "phte") return ThreadingMode::kPhte;
  return ThreadingMode::kOs;
}

CacheGroups collect_cache_groups(const Topology& topology, std::uint32_t perf_level) {
  std::size_t max_domains = 0;
  for (const NumaNode& node : topology.numa_nodes) max_domains = std::max(max_domains, node.llcs.size());

  CacheGroups result;
  for (std::size_t i = 0; i < max_domains; ++i) {
    for (const NumaNode& node : topology.numa_nodes) {
      if (i >= node.llcs.size()) continue;
      std::vector<const Core*> group;
      for (const Core& core : node.llcs[i].cores) {
        if (core.perf_level != perf_level || core.logicals.empty()) continue;
        group.push_back(&core);
        result.thread_depth =
            std::max(result.thread_depth, static_cast<std::uint32_t>(core.logicals.size()));
      }
      if (!group.empty()) result.groups.push_back(std::move(group));
    }
  }
  return result;
}

void fill_thread_rows(ThreadRows& rows, const CacheGroups& groups) {
  std::size_t largest = 0;
  for (const auto& group : groups.groups) largest = std::max(largest, group.size());
  for (std::size_t c = 0; c < largest; ++c) {
    for (const auto& group : groups.groups) {
      if (c >= group.size()) continue;
      const Core& core = *group[c];
      // A core deeper than the rows contributes only as many threads as there are rows.
      const std::size_t depth = std::min(rows.size(), core.logicals.size());
      for (std::size_t j = 0; j < depth; ++j) rows[j].push_back(core.logicals[j]);
    }
  }
}

namespace {

void append_rows(PlacementList& list, const ThreadRows& rows) {
  for (const auto& row : rows) list.insert(list.end(), row.begin(), row.end());
}

}  // namespace

PlacementList build_numa_placement(const Topology& topology) {
  PlacementList list;
  if (topology.numa_nodes.empty()) return list;
  std::vector<CacheGroups> levels;
  std::uint32_t depth = 0;
  for (std::uint32_t p = 0; p < topology.perf_level_count; ++p) {
    levels.push_back(collect_cache_groups(topology, p));
    depth = std::max(depth, levels.back().thread_depth);
  }
  ThreadRows rows(depth);
  for (const CacheGroups& level : levels) fill_thread_rows(rows, level);
  append_rows(list, rows);
  return list;
}

PlacementList build_phte_placement(const Topology& topology) {
  PlacementList list;
  if (topology.numa_nodes.empty()) return list;
  for (std::uint32_t p = 0; p < topology.perf_level_count; ++p) {
    const CacheGroups level = collect_cache_groups(topology, p);
    ThreadRows rows(level.thread_depth);
    fill_thread_rows(rows, level);
    append_rows(list, rows);
  }
  return list;
}

PlacementList build_placement(const Topology& topology, ThreadingMode mode) {
  switch (mode) {
    case ThreadingMode::kNuma:
      return build_numa_placement(topology);
    case ThreadingMode::kPhte:
      return build_phte_placement(topology);
    case ThreadingMode::kOs:
      break;
  }
  return {};
}

GroupAffinity affinity_of(const LogicalProcessor& lp) {
  return GroupAffinity{lp.group, std::uint64_t{1} << (lp.os & 63)};
}

PlacementList allowed_placement(PlacementList placement, const std::optional<std::vector<std::uint32_t>>& allowed) {
  if (!allowed) return placement;
  std::erase_if(placement, [&](const LogicalProcessor& lp) {
    return std::find(allowed->begin(), allowed->end(), processor_number(lp)) == allowed->end();
  });
  return placement;
}

}  // namespace platform
