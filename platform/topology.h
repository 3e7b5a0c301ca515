#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

/// A set of logical processors within one processor group: processor
/// `group` × 64 + b for every bit b set in `mask`.
struct GroupAffinity {
  std::uint16_t group = 0;
  std::uint64_t mask = 0;
};

/// Relationship kinds, numbered as the Windows LOGICAL_PROCESSOR_RELATIONSHIP
/// values so that a backend can copy the 32-bit type field unchanged.
enum class RelationKind : std::uint32_t {
  kProcessorCore = 0,
  kNumaNode = 1,
  kCache = 2,
  kProcessorPackage = 3,
  kGroup = 4,
};

/// Cache types, numbered as the Windows PROCESSOR_CACHE_TYPE values.
enum class CacheType : std::uint8_t { kUnified = 0, kInstruction = 1, kData = 2, kTrace = 3 };

/// One processor-relationship record, the raw fact the topology is built
/// from. Backends fill one per record of the system's answer, in the order
/// the system gives them; fields that do not belong to `kind` stay zero.
///  - kProcessorCore: `efficiency_class`, and `masks` holds the core's
///    hardware threads (usually one mask; several if the core spans groups).
///  - kNumaNode: `node_number`, and the node's processors in `masks[0]`; only
///    the first mask is read, so a node spanning several groups is given as
///    one record per group, each with the same `node_number`.
///  - kCache: `cache_level`, `cache_type`, and `masks` holds the processors
///    sharing the cache (possibly none).
///  - kProcessorPackage: `masks` holds the package's processors; counted for
///    the result file, not used by the tree.
/// Other kinds are accepted and ignored.
struct ProcessorRelation {
  RelationKind kind = RelationKind::kProcessorCore;
  std::uint8_t efficiency_class = 0;
  std::uint32_t node_number = 0;
  std::uint8_t cache_level = 0;
  CacheType cache_type = CacheType::kUnified;
  std::vector<GroupAffinity> masks;
};

/// One hardware thread, copied freely (placement lists hold copies).
struct LogicalProcessor {
  std::uint32_t idx = 0;      ///< position within its core
  std::uint32_t core_id = 0;  ///< its core's `id`
  std::uint32_t os = 0;       ///< bit number 0..63 within its group's mask
  std::uint16_t group = 0;    ///< processor group number

  friend bool operator==(const LogicalProcessor&, const LogicalProcessor&) = default;
};

struct Core {
  std::uint32_t id = 0;  ///< position of the core record among all core records
  std::uint32_t perf_level = 0;  ///< 0 for the most performant cores
  std::vector<LogicalProcessor> logicals;  ///< in discovery order
};

struct LastLevelCache {
  std::uint32_t id = 0;  ///< position of the record among all level-3 cache records
  std::vector<Core> cores;  ///< ascending `id`
};

struct NumaNode {
  std::uint32_t id = 0;  ///< the system's NUMA node number
  std::vector<LastLevelCache> llcs;  ///< ascending `id`
};

/// NUMA nodes → level-3 cache domains → cores → hardware threads.
struct Topology {
  std::vector<NumaNode> numa_nodes;  ///< ascending `id`; empty when detection failed
  std::uint32_t perf_level_count = 0;  ///< distinct core efficiency classes; 0 when empty
};

/// Builds the tree from relationship records. Nodes come from NUMA records
/// (processors no record names are on node 0), cache domains from level-3
/// cache records (domain 0 when none names the core's first thread), and
/// efficiency classes are renumbered in descending order as perf levels.
/// No core records give the empty tree.
Topology detect_topology(std::span<const ProcessorRelation> records);

/// The printout of the topology dump, one "\n"-terminated line per entry.
std::string print_topology(const Topology& topology);

/// Number of cores in the tree; `os_processor_count` when the tree is empty.
std::uint32_t core_count(const Topology& topology, std::uint32_t os_processor_count);

/// System queries, implemented by the OS backend. They never fail visibly.
namespace os {
/// The machine's processor-relationship records; empty when the query fails.
std::vector<ProcessorRelation> read_processor_relations();
/// Logical processors the system reports; 0 when unknown.
std::uint32_t processor_count();
}  // namespace os

/// Detects this machine's topology; the empty tree when the system query fails.
inline Topology detect_topology() { return detect_topology(os::read_processor_relations()); }

/// Number of cores in the tree, or the system's processor count when it is empty.
inline std::uint32_t core_count(const Topology& topology) {
  return core_count(topology, topology.numa_nodes.empty() ? os::processor_count() : 0);
}

/// Detects the topology on first use and keeps it for the owner's lifetime.
/// Owned by the entry point and handed by reference to whoever needs the tree.
class TopologyCache {
 public:
  using Detector = Topology (*)();

  /// `detect` runs at most once, on the first `get_topology` call.
  explicit TopologyCache(Detector detect = &detect_topology) : detect_(detect) {}
  TopologyCache(const TopologyCache&) = delete;
  TopologyCache& operator=(const TopologyCache&) = delete;

  /// The detected tree; detects on the first call only.
  const Topology& get_topology();

 private:
  Detector detect_;
  std::optional<Topology> topology_;
};

}  // namespace platform
