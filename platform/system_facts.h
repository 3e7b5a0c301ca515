#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/topology.h"

namespace platform {

/// Facts about the running system that describe a result; none is needed to
/// run. Each is empty (text), 0 or absent when it cannot be read.
struct SystemFacts {
  std::string host_name;
  std::string os_name;     ///< "Debian GNU/Linux", "Windows"
  std::string os_release;  ///< the distribution's or the system's version
  std::string kernel;      ///< kernel release ("6.1.0-18-amd64"), or what runs a Windows program
  std::uint64_t memory_installed_bytes = 0;
  std::optional<std::uint64_t> large_pages_free;  ///< pages of the large-page size; absent where unknown
  std::string transparent_huge_pages;             ///< the selected mode ("madvise")
  std::string frequency_governor;                 ///< processor 0's ("performance")
  std::optional<std::vector<std::uint32_t>> allowed_processors;  ///< this process may run on these
};

/// How many of each kind the processor-relationship records describe.
struct ProcessorCounts {
  std::uint32_t logical_processors = 0;  ///< distinct processors in core records
  std::uint32_t cores = 0;
  std::uint32_t packages = 0;
  std::uint32_t numa_nodes = 0;          ///< distinct node numbers
  std::uint32_t processor_groups = 0;    ///< distinct groups in core records
};

/// Counts the records of `records`; all 0 for none.
ProcessorCounts count_processors(std::span<const ProcessorRelation> records);

/// The NUMA node of the tree that holds `processor`; absent when none does.
std::optional<std::uint32_t> numa_node_of(const Topology& topology, const LogicalProcessor& processor);

/// The selected entry of a kernel choice file: "madvise" for
/// "always [madvise] never"; empty when none is bracketed.
std::string bracketed_choice(std::string_view text);

/// The value of `key` in an os-release text (KEY=value lines, the value
/// possibly quoted); empty when absent.
std::string os_release_value(std::string_view text, std::string_view key);

namespace os {
/// The backend's answers, parsed with the helpers above where they are text.
SystemFacts system_facts();
/// The processors this process may run on, numbered group × 64 + bit; absent
/// where the system does not say (Windows) or the query failed.
std::optional<std::vector<std::uint32_t>> allowed_processors();
}  // namespace os

/// The facts of this system. The allowed processors are the process's as
/// they are now, so read them before any thread is pinned.
inline SystemFacts read_system_facts() { return os::system_facts(); }

/// See `os::allowed_processors`.
inline std::optional<std::vector<std::uint32_t>> allowed_processors() { return os::allowed_processors(); }

/// The counts of this machine's processor-relationship records; the logical
/// processors from the system's own count when the records say nothing.
inline ProcessorCounts read_processor_counts() {
  ProcessorCounts counts = count_processors(os::read_processor_relations());
  if (counts.logical_processors == 0) counts.logical_processors = os::processor_count();
  return counts;
}

}  // namespace platform
