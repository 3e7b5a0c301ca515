#include "bench/report.h"
#include "platform/cpu.h"

namespace bench {

RunOutcome report_results(const RunResult& result) {
  return report_results(result, standard_console(), platform::cpu_brand_string());
}

}  // namespace bench
