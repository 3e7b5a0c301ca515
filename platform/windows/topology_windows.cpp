#include <windows.h>

#include <cstddef>
#include <vector>

#include "platform/relation_buffer.h"
#include "platform/topology.h"

namespace platform::os {

std::vector<ProcessorRelation> read_processor_relations() {
  DWORD length = 0;
  GetLogicalProcessorInformationEx(RelationAll, nullptr, &length);
  if (length == 0) return {};
  std::vector<std::byte> buffer(length);
  if (!GetLogicalProcessorInformationEx(
          RelationAll, reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer.data()),
          &length)) {
    return {};
  }
  // The second call may report fewer bytes than were asked for.
  if (length < buffer.size()) buffer.resize(length);
  return parse_relation_buffer(buffer);
}

std::uint32_t processor_count() {
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  return info.dwNumberOfProcessors;
}

}  // namespace platform::os
