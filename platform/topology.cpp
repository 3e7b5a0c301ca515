#include "platform/topology.h"

#include <bit>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include <fmt/format.h>

namespace platform {
namespace {

// Key of one logical processor across all groups.
std::uint32_t processor_key(std::uint16_t group, unsigned bit) {
  return (std::uint32_t{group} << 6) | bit;
}

// Calls `visit(bit)` for every set bit of `mask`, ascending.
template <typename Visit>
void for_each_bit(std::uint64_t mask, Visit visit) {
  while (mask != 0) {
    const unsigned bit = static_cast<unsigned>(std::countr_zero(mask));
    visit(bit);
    mask &= mask - 1;
  }
}

}  // namespace

Topology detect_topology(std::span<const ProcessorRelation> records) {
  std::unordered_map<std::uint32_t, std::uint32_t> node_of;
  std::unordered_map<std::uint32_t, std::uint32_t> llc_of;
  std::uint32_t llc_count = 0;
  for (const ProcessorRelation& r : records) {
    if (r.kind == RelationKind::kNumaNode) {
      if (r.masks.empty()) continue;
      const GroupAffinity& m = r.masks.front();
      for_each_bit(m.mask, [&](unsigned b) { node_of[processor_key(m.group, b)] = r.node_number; });
    } else if (r.kind == RelationKind::kCache && r.cache_level == 3) {
      // A record that maps no processor still takes an id.
      for (const GroupAffinity& m : r.masks) {
        for_each_bit(m.mask, [&](unsigned b) { llc_of[processor_key(m.group, b)] = llc_count; });
      }
      ++llc_count;
    }
  }

  // node → domain → cores; cores arrive in id order, so each list stays sorted.
  std::map<std::uint32_t, std::map<std::uint32_t, std::vector<Core>>> tree;
  std::set<std::uint8_t> classes;
  std::uint32_t core_id = 0;
  for (const ProcessorRelation& r : records) {
    if (r.kind != RelationKind::kProcessorCore) continue;
    classes.insert(r.efficiency_class);
    Core core;
    core.id = core_id++;
    core.perf_level = r.efficiency_class;
    std::uint32_t node = 0;
    for (const GroupAffinity& m : r.masks) {
      for_each_bit(m.mask, [&](unsigned b) {
        const auto it = node_of.find(processor_key(m.group, b));
        node = it == node_of.end() ? 0 : it->second;
        core.logicals.push_back(LogicalProcessor{
            static_cast<std::uint32_t>(core.logicals.size()), core.id, b, m.group});
      });
    }
    std::uint32_t llc = 0;
    if (!core.logicals.empty()) {
      const LogicalProcessor& first = core.logicals.front();
      const auto it = llc_of.find(processor_key(first.group, first.os));
      if (it != llc_of.end()) llc = it->second;
    }
    tree[node][llc].push_back(std::move(core));
  }

  // The highest efficiency class is the most performant: perf level 0.
  std::map<std::uint32_t, std::uint32_t> level_of_class;
  std::uint32_t level = 0;
  for (auto it = classes.rbegin(); it != classes.rend(); ++it) level_of_class[*it] = level++;

  Topology topology;
  topology.perf_level_count = static_cast<std::uint32_t>(classes.size());
  for (auto& [node_id, domains] : tree) {
    NumaNode node{node_id, {}};
    for (auto& [llc_id, cores] : domains) {
      for (Core& core : cores) core.perf_level = level_of_class[core.perf_level];
      node.llcs.push_back(LastLevelCache{llc_id, std::move(cores)});
    }
    topology.numa_nodes.push_back(std::move(node));
  }
  return topology;
}

std::string print_topology(const Topology& topology) {
  std::string out = fmt::format("perf_level_count={}\n", topology.perf_level_count);
  for (const NumaNode& node : topology.numa_nodes) {
    out += fmt::format("numa node id={}\n", node.id);
    for (const LastLevelCache& llc : node.llcs) {
      out += fmt::format("|--llc id={}\n", llc.id);
      for (const Core& core : llc.cores) {
        out += fmt::format("|  |--core id={} perf_level={}\n", core.id, core.perf_level);
        for (const LogicalProcessor& lp : core.logicals) {
          out += fmt::format("|  |  |--logical idx={} os={}\n", lp.idx, lp.os);
        }
      }
    }
  }
  return out;
}

std::uint32_t core_count(const Topology& topology, std::uint32_t os_processor_count) {
  if (topology.numa_nodes.empty()) return os_processor_count;
  std::uint32_t count = 0;
  for (const NumaNode& node : topology.numa_nodes) {
    for (const LastLevelCache& llc : node.llcs) count += static_cast<std::uint32_t>(llc.cores.size());
  }
  return count;
}

const Topology& TopologyCache::get_topology() {
  if (!topology_) topology_.emplace(detect_());
  return *topology_;
}

}  // namespace platform
