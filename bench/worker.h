#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bench/run_records.h"

namespace bench {

/// The report of a worker whose fields could not be allocated, `reason` being
/// the allocation's own message; ends in a line break.
std::string field_allocation_failure(std::uint32_t thread_index, std::string_view reason);

/// The warning, given once per run, that a worker could not be pinned to its
/// placement entry (`processor` numbered group × 64 + bit); ends in a line break.
std::string placement_refused_line(std::uint32_t thread_index, std::uint32_t processor);

/// Worker 0's first phase line, without its line break.
std::string_view allocating_fields_line(bool large_pages);

/// One worker from pinning to its appended result. Any failure is printed,
/// requests a stop and ends the worker without a result.
void worker_main(WorkerContext context);

}  // namespace bench
