#include "app/result_file.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "bench/report.h"
#include "platform/timer.h"

namespace app {
namespace {

// Insertion order is kept, so "schema" comes first and related keys stay together.
using Json = nlohmann::ordered_json;

Json text_or_null(std::string_view text) { return text.empty() ? Json(nullptr) : Json(std::string(text)); }

template <class T>
Json value_or_null(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json positive_or_null(std::uint64_t value) { return value == 0 ? Json(nullptr) : Json(value); }

Json split_words(std::string_view text) {
  Json words = Json::array();
  while (!text.empty()) {
    const std::size_t space = text.find(' ');
    if (space != 0) words.push_back(std::string(text.substr(0, space)));
    if (space == std::string_view::npos) break;
    text.remove_prefix(space + 1);
  }
  return words;
}

Json zelvo_part(const BuildInfo& build) {
  return {{"version", std::string(build.version)},
          {"compiler", std::string(build.compiler)},
          {"compiler_version", std::string(build.compiler_version)},
          {"target_os", std::string(build.target_os)},
          {"build_type", text_or_null(build.build_type)},
          {"git_commit", text_or_null(build.git_commit)}};
}

Json run_part(const ResultRecord& r) {
  const bench::RunResult& result = r.run.result;
  const bool large_pages = r.options.large_pages;
  const std::uint64_t threads = result.thread_count;
  const std::uint64_t per_thread = r.run.field_bytes_per_thread;
  Json options = {{"threads", threads},
                  {"threads_automatic", r.options.numthreads == 0},
                  {"duration_s", result.duration_s},
                  {"size", r.options.size},
                  {"workload", r.options.workload},
                  {"isa", r.options.isa},
                  {"threading", r.options.threading},
                  {"large_pages_requested", large_pages},
                  {"large_pages_granted", large_pages && result.fields_allocated},
                  {"strict_isa_check", r.options.strict_isa_check},
                  {"bypass_timer_check", r.options.bypass_timer_check}};
  return {{"start_utc", iso8601_utc(r.start)},
          {"end_utc", iso8601_utc(r.end)},
          {"command_line", r.command_line},
          {"options", std::move(options)},
          {"initialization_ms", value_or_null(result.initialization_ms)},
          {"field_bytes_per_thread", per_thread},
          // Saturates rather than wraps for thread counts no machine holds.
          {"field_bytes_total", threads != 0 && per_thread > UINT64_MAX / threads ? UINT64_MAX : threads * per_thread}};
}

Json machine_part(const MachineRecord& m) {
  const platform::SystemFacts& s = m.system;
  Json cpu = {{"brand", m.cpu_brand},
              {"vendor", text_or_null(m.cpu.vendor_id)},
              {"family", m.cpu.family},
              {"model", m.cpu.model},
              {"stepping", m.cpu.stepping},
              {"features", split_words(m.cpu_features)}};
  return {{"host_name", text_or_null(s.host_name)},
          {"os", {{"name", text_or_null(s.os_name)},
                  {"release", text_or_null(s.os_release)},
                  {"kernel", text_or_null(s.kernel)}}},
          {"cpu", std::move(cpu)},
          {"logical_processors", positive_or_null(m.counts.logical_processors)},
          {"cores", positive_or_null(m.counts.cores)},
          {"packages", positive_or_null(m.counts.packages)},
          {"numa_nodes", positive_or_null(m.counts.numa_nodes)},
          {"processor_groups", positive_or_null(m.counts.processor_groups)},
          {"memory_installed_bytes", positive_or_null(s.memory_installed_bytes)},
          {"memory_available_bytes", positive_or_null(m.memory_available_bytes)},
          {"large_page_bytes", positive_or_null(m.large_page_bytes)},
          {"large_pages_free", value_or_null(s.large_pages_free)},
          {"transparent_huge_pages", text_or_null(s.transparent_huge_pages)},
          {"frequency_governor", text_or_null(s.frequency_governor)},
          {"allowed_processors", value_or_null(s.allowed_processors)}};
}

Json timers_part(const bench::RunResult& result, bool bypass_requested) {
  Json fast = nullptr;
  Json coarse = nullptr;
  Json source = nullptr;
  if (result.fast_timer) {
    fast = platform::shown_frequency(*result.fast_timer);
    source = std::string(platform::timer_source_name(result.fast_timer->source));
  }
  if (result.coarse_timer) coarse = platform::shown_frequency(*result.coarse_timer);
  Json bypassed = nullptr;
  if (result.timer_compliant) bypassed = !*result.timer_compliant && bypass_requested;
  return {{"fast_frequency_hz", fast},
          {"coarse_frequency_hz", coarse},
          {"fast_source", source},
          {"compliant", value_or_null(result.timer_compliant)},
          {"bypassed", bypassed}};
}

double to_seconds(std::int64_t us) { return static_cast<double>(us) / 1e6; }

// [seconds, updates] pairs; the last one repeats the thread's own seconds and updates.
Json progress_part(const bench::ProgressTrace& trace) {
  Json points = Json::array();
  for (const bench::ProgressPoint& p : trace.points()) {
    points.push_back(Json::array({to_seconds(p.fast_us), p.updates}));
  }
  return points;
}

Json threads_part(const ResultRecord& r) {
  Json threads = Json::array();
  for (const bench::ThreadResult& t : r.run.result.results) {
    const ThreadPlace place = t.thread < r.places.size() ? r.places[t.thread] : ThreadPlace{};
    const double seconds = to_seconds(t.fast_us);
    // The table's rate; a timer that measured nothing gives no rate.
    const Json mgups = t.fast_us > 0 ? Json(bench::thread_mgups(t)) : Json(nullptr);
    threads.push_back({{"index", t.thread},
                       {"processor", value_or_null(place.processor)},
                       {"group", value_or_null(place.group)},
                       {"numa_node", value_or_null(place.numa_node)},
                       {"grid_updates", t.updates},
                       {"seconds", seconds},
                       {"mgups", mgups},
                       {"iterations", t.iterations},
                       {"fast_timer_us", t.fast_us},
                       {"coarse_timer_ms", t.coarse_ms},
                       {"progress", progress_part(t.progress)}});
  }
  return threads;
}

Json result_part(const ResultRecord& r) {
  const bench::RunOutcome& outcome = r.run.outcome;
  return {{"valid", outcome.valid},
          {"reason", outcome.valid ? Json(nullptr) : Json(outcome.reason)},
          {"score_mgups", outcome.valid ? Json(outcome.score) : Json(nullptr)},
          {"exit_code", r.exit_code}};
}

}  // namespace

std::string iso8601_utc(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(time);
  const auto day = floor<days>(seconds);
  const year_month_day date{day};
  const hh_mm_ss clock{seconds - day};
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", static_cast<int>(date.year()),
                     static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), clock.hours().count(),
                     clock.minutes().count(), clock.seconds().count());
}

std::string result_json(const ResultRecord& record) {
  Json root;
  root["schema"] = "zelvo-result/2";
  root["zelvo"] = zelvo_part(record.build);
  root["run"] = run_part(record);
  root["machine"] = machine_part(record.machine);
  root["timers"] = timers_part(record.run.result, record.options.bypass_timer_check);
  root["threads"] = threads_part(record);
  root["result"] = result_part(record);
  return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string result_file_error(const std::string& path, const std::string& reason) {
  return fmt::format("cannot write the result file {}: {}", path, reason);
}

}  // namespace app
