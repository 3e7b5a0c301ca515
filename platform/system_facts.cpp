#include "platform/system_facts.h"

#include <set>
#include <utility>

namespace platform {
namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

ProcessorCounts count_processors(std::span<const ProcessorRelation> records) {
  ProcessorCounts counts;
  std::set<std::pair<std::uint16_t, std::uint32_t>> processors;
  std::set<std::uint16_t> groups;
  std::set<std::uint32_t> nodes;
  for (const ProcessorRelation& r : records) {
    switch (r.kind) {
      case RelationKind::kProcessorCore:
        ++counts.cores;
        for (const GroupAffinity& m : r.masks) {
          groups.insert(m.group);
          for (std::uint32_t bit = 0; bit < 64; ++bit) {
            if ((m.mask >> bit) & 1u) processors.insert({m.group, bit});
          }
        }
        break;
      case RelationKind::kProcessorPackage:
        ++counts.packages;
        break;
      case RelationKind::kNumaNode:
        nodes.insert(r.node_number);
        break;
      default:
        break;
    }
  }
  counts.logical_processors = static_cast<std::uint32_t>(processors.size());
  counts.numa_nodes = static_cast<std::uint32_t>(nodes.size());
  counts.processor_groups = static_cast<std::uint32_t>(groups.size());
  return counts;
}

std::optional<std::uint32_t> numa_node_of(const Topology& topology, const LogicalProcessor& processor) {
  for (const NumaNode& node : topology.numa_nodes) {
    for (const LastLevelCache& llc : node.llcs) {
      for (const Core& core : llc.cores) {
        for (const LogicalProcessor& lp : core.logicals) {
          if (lp.group == processor.group && lp.os == processor.os) return node.id;
        }
      }
    }
  }
  return std::nullopt;
}

std::string bracketed_choice(std::string_view text) {
  const std::size_t open = text.find('[');
  if (open == std::string_view::npos) return {};
  const std::size_t close = text.find(']', open);
  if (close == std::string_view::npos) return {};
  return std::string(trim(text.substr(open + 1, close - open - 1)));
}

std::string os_release_value(std::string_view text, std::string_view key) {
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    const std::string_view line = trim(text.substr(0, eol));
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != '=') continue;
    std::string_view value = line.substr(key.size() + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    // Shell quoting: a backslash makes the next character literal.
    std::string result;
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) ++i;
      result.push_back(value[i]);
    }
    return result;
  }
  return {};
}

}  // namespace platform
