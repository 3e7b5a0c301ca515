#include "app/result_file.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace app {
namespace {

using Json = nlohmann::ordered_json;
using std::chrono::seconds;
using std::chrono::system_clock;

// A two-thread run pinned by the numa manager, with every machine fact known.
ResultRecord pinned_run() {
  ResultRecord r;
  r.build = {"1.2.0", "gcc", "12.2.0", "linux", "Release", "0123abcd"};
  r.command_line = {"zelvo", "-n", "2", "--threading", "numa", "--json", "r.json"};
  r.start = system_clock::time_point(seconds(1796869800));  // 2026-12-10T02:30:00Z
  r.end = r.start + seconds(2);
  r.options.numthreads = 2;
  r.options.duration = 1;
  r.options.size = 64;
  r.options.threading = "numa";
  r.run.field_bytes_per_thread = 18399744;
  bench::RunResult& result = r.run.result;
  result.duration_s = 1;
  result.thread_count = 2;
  result.results = {{1, 1000, 1000000, 10, 100000000, {}}, {0, 1004, 2000000, 10, 100000000, {}}};
  result.fast_timer = platform::TimerInfo{1000000000, 0, platform::TimerSource::kItsc};
  // Thread 1 passed the first hundredth after half a second, in one long iteration.
  bench::ProgressTrace& trace = result.results[0].progress;
  trace.begin(*result.fast_timer, 0, 1);
  trace.at_iteration_end(500000000, 50000000);
  trace.finish(1000000000, 100000000);
  result.coarse_timer = platform::TimerInfo{1000, 250, platform::TimerSource::kUnknown};
  result.timer_compliant = true;
  result.initialization_ms = 38;
  result.fields_allocated = true;
  r.run.outcome = {150.0, true, ""};
  r.places = {{65, 1, 1}, {0, 0, 0}};
  r.machine.system.host_name = "node7";
  r.machine.system.allowed_processors = std::vector<std::uint32_t>{0, 1};
  r.machine.cpu_brand = "Test CPU";
  r.machine.cpu = {"GenuineIntel", 6, 0xC6, 2};
  r.machine.cpu_features = "MMX SSE SSE2";
  r.machine.counts = {2, 2, 1, 1, 1};
  r.machine.large_page_bytes = 2097152;
  return r;
}

TEST(ResultFile, FieldsInPlaceWithNumbersAsNumbers) {
  const std::string text = result_json(pinned_run());
  const Json j = Json::parse(text);
  EXPECT_EQ(j.begin().key(), "schema");  // first, so a reader can tell the format at once
  EXPECT_EQ(j["schema"], "zelvo-result/2");
  EXPECT_EQ(text.back(), '\n');

  EXPECT_EQ(j["run"]["start_utc"], "2026-12-10T02:30:00Z");
  EXPECT_EQ(j["run"]["end_utc"], "2026-12-10T02:30:02Z");
  EXPECT_EQ(j["run"]["command_line"].size(), 7u);
  EXPECT_EQ(j["run"]["options"]["threads_automatic"], false);
  EXPECT_EQ(j["run"]["options"]["threading"], "numa");
  EXPECT_EQ(j["run"]["field_bytes_total"], 36799488u);
  EXPECT_EQ(j["run"]["initialization_ms"], 38);

  // The header's frequencies: the underlying one where known.
  EXPECT_EQ(j["timers"]["fast_frequency_hz"], 1000000000);
  EXPECT_EQ(j["timers"]["coarse_frequency_hz"], 250);
  EXPECT_EQ(j["timers"]["fast_source"], "iTSC");
  EXPECT_EQ(j["timers"]["bypassed"], false);

  // Threads in completion order, each with its place found by its index.
  const Json& first = j["threads"][0];
  EXPECT_EQ(first["index"], 1);
  EXPECT_EQ(first["processor"], 0);
  EXPECT_EQ(j["threads"][1]["processor"], 65);
  EXPECT_EQ(j["threads"][1]["group"], 1);
  EXPECT_EQ(j["threads"][1]["numa_node"], 1);
  EXPECT_TRUE(first["mgups"].is_number_float());
  EXPECT_DOUBLE_EQ(first["mgups"].get<double>(), 100.0);
  EXPECT_DOUBLE_EQ(j["threads"][1]["seconds"].get<double>(), 2.0);
  // [seconds, updates] pairs, the last one the thread's own figures.
  EXPECT_EQ(first["progress"], Json::parse("[[0.5, 50000000], [1.0, 100000000]]"));
  EXPECT_TRUE(first["progress"][1][0].is_number_float());
  EXPECT_TRUE(first["progress"][1][1].is_number_unsigned());

  EXPECT_EQ(j["machine"]["cpu"]["features"], Json({"MMX", "SSE", "SSE2"}));
  EXPECT_EQ(j["machine"]["cpu"]["family"], 6);
  EXPECT_EQ(j["machine"]["allowed_processors"], Json({0, 1}));
  EXPECT_EQ(j["result"], Json({{"valid", true}, {"reason", nullptr}, {"score_mgups", 150.0}, {"exit_code", 0}}));
}

TEST(ResultFile, WhatIsUnknownIsNull) {
  ResultRecord r = pinned_run();
  r.build.git_commit = "";
  r.places.clear();  // the os manager pins nothing
  r.machine = MachineRecord{};
  // An aborted run: the timers were never asked, no worker finished.
  r.run.result = bench::RunResult{};
  r.run.result.thread_count = 2;
  r.run.outcome = {0.0, false, "fast timer will overflow during the run; aborting\nnot all threads produced a result"};
  r.exit_code = 1;
  r.options.large_pages = true;
  const Json j = Json::parse(result_json(r));
  EXPECT_TRUE(j["zelvo"]["git_commit"].is_null());
  for (const char* key : {"host_name", "logical_processors", "packages", "memory_installed_bytes",
                          "large_page_bytes", "large_pages_free", "transparent_huge_pages",
                          "frequency_governor", "allowed_processors"}) {
    EXPECT_TRUE(j["machine"][key].is_null()) << key;
  }
  EXPECT_TRUE(j["machine"]["os"]["name"].is_null());
  EXPECT_TRUE(j["machine"]["cpu"]["vendor"].is_null());
  for (const auto& [key, value] : j["timers"].items()) EXPECT_TRUE(value.is_null()) << key;
  EXPECT_TRUE(j["run"]["initialization_ms"].is_null());
  EXPECT_TRUE(j["threads"].empty());
  // Large pages asked for but never reached: not granted.
  EXPECT_EQ(j["run"]["options"]["large_pages_requested"], true);
  EXPECT_EQ(j["run"]["options"]["large_pages_granted"], false);
  EXPECT_EQ(j["result"]["valid"], false);
  EXPECT_EQ(j["result"]["reason"], r.run.outcome.reason);
  EXPECT_TRUE(j["result"]["score_mgups"].is_null());
  EXPECT_EQ(j["result"]["exit_code"], 1);
}

TEST(ResultFile, OddInputsStillGiveValidJson) {
  ResultRecord r = pinned_run();
  // A path in a Windows code page is no UTF-8: replaced, never a thrown error.
  r.command_line.push_back("r\xE9sultat.json");
  // A thread count no machine holds must not wrap the total.
  r.run.result.thread_count = 4000000000u;
  r.run.field_bytes_per_thread = UINT64_MAX / 1000;
  // A worker whose fast timer measured nothing has no rate.
  r.run.result.results[0].fast_us = 0;
  const Json j = Json::parse(result_json(r));
  EXPECT_EQ(j["run"]["command_line"].back(), "r\xEF\xBF\xBDsultat.json");
  EXPECT_EQ(j["run"]["field_bytes_total"], UINT64_MAX);
  EXPECT_TRUE(j["threads"][0]["mgups"].is_null());
}

TEST(ResultFile, UtcTimesAndTheErrorLine) {
  EXPECT_EQ(iso8601_utc(system_clock::time_point{}), "1970-01-01T00:00:00Z");
  EXPECT_EQ(iso8601_utc(system_clock::time_point(seconds(1709251199))), "2024-02-29T23:59:59Z");
  // Fractions are cut, not rounded up into the next second.
  EXPECT_EQ(iso8601_utc(system_clock::time_point(std::chrono::milliseconds(1999))), "1970-01-01T00:00:01Z");
  EXPECT_EQ(result_file_error("out/r.json", "Permission denied"),
            "cannot write the result file out/r.json: Permission denied");
}

}  // namespace
}  // namespace app
