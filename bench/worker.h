#pragma once

#include "bench/run_records.h"

namespace bench {

/// One worker from pinning to its appended result. Any failure is printed,
/// requests a stop and ends the worker without a result.
void worker_main(WorkerContext context);

}  // namespace bench
