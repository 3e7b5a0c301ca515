#pragma once

#include <string>

#include <fmt/format.h>

#include "platform/topology.h"

namespace zelvo_test {

// One-line picture of a tree for compact expectations: per cache domain
// "n<node>/l<llc>:" then each core as " <id>(<os>,...)", with "p<level>"
// after the id when the perf level is not 0 and "<group>:" before an os bit
// outside group 0; domains are separated by "; ".
inline std::string shape(const platform::Topology& t) {
  std::string out;
  for (const auto& node : t.numa_nodes) {
    for (const auto& llc : node.llcs) {
      if (!out.empty()) out += "; ";
      out += fmt::format("n{}/l{}:", node.id, llc.id);
      for (const auto& core : llc.cores) {
        out += fmt::format(" {}", core.id);
        if (core.perf_level != 0) out += fmt::format("p{}", core.perf_level);
        out += "(";
        for (const auto& lp : core.logicals) {
          if (lp.idx != 0) out += ",";
          if (lp.group != 0) out += fmt::format("{}:", lp.group);
          out += fmt::format("{}", lp.os);
        }
        out += ")";
      }
    }
  }
  return out;
}

}  // namespace zelvo_test
