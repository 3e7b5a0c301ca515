#include "platform/linux/topology_linux.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "platform/linux/text_file.h"

namespace platform::os {
namespace {

namespace fs = std::filesystem;
using CpuList = std::vector<std::uint32_t>;

std::optional<CpuList> read_cpu_list(const fs::path& path) {
  const std::optional<std::string> text = read_text_file(path);
  if (!text) return std::nullopt;
  return parse_cpu_list(*text);
}

std::optional<std::uint32_t> parse_number(std::string_view text) {
  std::uint32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return value;
}

std::string_view trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// The numbered entries "<prefix><N>" of `dir`, ascending by N.
std::vector<std::pair<std::uint32_t, fs::path>> numbered_entries(const fs::path& dir,
                                                                 std::string_view prefix) {
  std::vector<std::pair<std::uint32_t, fs::path>> entries;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    if (const auto n = parse_number(std::string_view(name).substr(prefix.size()))) {
      entries.emplace_back(*n, it->path());
    }
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

CpuList intersect(const CpuList& a, const CpuList& b) {
  CpuList out;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

// One mask per processor group present in `cpus` (ascending).
std::vector<GroupAffinity> group_masks(const CpuList& cpus) {
  std::vector<GroupAffinity> masks;
  for (const std::uint32_t cpu : cpus) {
    const auto group = static_cast<std::uint16_t>(cpu / 64);
    if (masks.empty() || masks.back().group != group) masks.push_back(GroupAffinity{group, 0});
    masks.back().mask |= std::uint64_t{1} << (cpu % 64);
  }
  return masks;
}

CacheType cache_type_of(std::string_view text) {
  text = trim(text);
  if (text == "Data") return CacheType::kData;
  if (text == "Instruction") return CacheType::kInstruction;
  return CacheType::kUnified;
}

}  // namespace

std::optional<std::vector<std::uint32_t>> parse_cpu_list(std::string_view text) {
  text = trim(text);
  CpuList cpus;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (comma != std::string_view::npos && text.empty()) return std::nullopt;  // trailing comma

    const std::size_t dash = item.find('-');
    const auto first = parse_number(item.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : parse_number(item.substr(dash + 1));
    if (!first || !last || *first > *last || *last >= kMaxSysfsProcessors) return std::nullopt;
    for (std::uint32_t cpu = *first; cpu <= *last; ++cpu) cpus.push_back(cpu);
  }
  std::sort(cpus.begin(), cpus.end());
  cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());
  return cpus;
}

std::vector<ProcessorRelation> read_sysfs_relations(const fs::path& root) {
  std::vector<ProcessorRelation> records;
  const fs::path cpu_root = root / "devices/system/cpu";
  const std::optional<CpuList> listed = read_cpu_list(cpu_root / "online");
  if (!listed) return records;

  // A processor the online list names but sysfs does not show is left out.
  CpuList online;
  std::error_code ec;
  for (const std::uint32_t cpu : *listed) {
    if (fs::is_directory(cpu_root / ("cpu" + std::to_string(cpu)), ec)) online.push_back(cpu);
  }
  const auto cpu_dir = [&](std::uint32_t cpu) { return cpu_root / ("cpu" + std::to_string(cpu)); };

  // Hybrid parts expose one PMU per core type; without them every core is class 0.
  const CpuList performance = read_cpu_list(root / "devices/cpu_core/cpus").value_or(CpuList{});
  const auto efficiency_class = [&](std::uint32_t cpu) -> std::uint8_t {
    return std::binary_search(performance.begin(), performance.end(), cpu) ? 1 : 0;
  };

  // Cores: siblings grouped under their lowest online processor.
  std::set<std::uint32_t> placed;
  for (const std::uint32_t cpu : online) {
    if (placed.count(cpu) != 0) continue;
    const fs::path topo = cpu_dir(cpu) / "topology";
    std::optional<CpuList> siblings = read_cpu_list(topo / "core_cpus_list");
    if (!siblings) siblings = read_cpu_list(topo / "thread_siblings_list");
    CpuList members{cpu};
    if (siblings) {
      for (const std::uint32_t s : intersect(*siblings, online)) {
        if (s != cpu && placed.count(s) == 0) members.push_back(s);
      }
      std::sort(members.begin(), members.end());
    }
    placed.insert(members.begin(), members.end());
    ProcessorRelation core;
    core.kind = RelationKind::kProcessorCore;
    core.efficiency_class = efficiency_class(cpu);
    core.masks = group_masks(members);
    records.push_back(std::move(core));
  }

  // Packages, where the kernel numbers them.
  std::map<std::uint32_t, CpuList> packages;
  for (const std::uint32_t cpu : online) {
    const std::optional<std::string> id = read_text_file(cpu_dir(cpu) / "topology/physical_package_id");
    if (!id) continue;
    if (const auto number = parse_number(trim(*id))) packages[*number].push_back(cpu);
  }
  for (const auto& [number, cpus] : packages) {
    ProcessorRelation package;
    package.kind = RelationKind::kProcessorPackage;
    package.masks = group_masks(cpus);
    records.push_back(std::move(package));
  }

  // NUMA nodes: one record per group, since only a record's first mask counts.
  for (const auto& [node, path] : numbered_entries(root / "devices/system/node", "node")) {
    const std::optional<CpuList> cpus = read_cpu_list(path / "cpulist");
    if (!cpus) continue;
    for (const GroupAffinity& mask : group_masks(intersect(*cpus, online))) {
      ProcessorRelation record;
      record.kind = RelationKind::kNumaNode;
      record.node_number = node;
      record.masks = {mask};
      records.push_back(std::move(record));
    }
  }

  // Level-3 caches, each once, in the order of their lowest online processor.
  std::set<CpuList> seen;
  for (const std::uint32_t cpu : online) {
    for (const auto& [index, path] : numbered_entries(cpu_dir(cpu) / "cache", "index")) {
      const std::optional<std::string> level = read_text_file(path / "level");
      if (!level || parse_number(trim(*level)) != 3u) continue;
      CpuList sharing = intersect(read_cpu_list(path / "shared_cpu_list").value_or(CpuList{}), online);
      if (sharing.empty()) sharing = {cpu};
      if (!seen.insert(sharing).second) continue;
      ProcessorRelation cache;
      cache.kind = RelationKind::kCache;
      cache.cache_level = 3;
      cache.cache_type = cache_type_of(read_text_file(path / "type").value_or(""));
      cache.masks = group_masks(sharing);
      records.push_back(std::move(cache));
    }
  }
  return records;
}

std::vector<ProcessorRelation> read_processor_relations() { return read_sysfs_relations("/sys"); }

std::uint32_t processor_count() {
  const long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<std::uint32_t>(count) : 0;
}

}  // namespace platform::os
