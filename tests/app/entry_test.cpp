#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "app/entry.h"
#include "app/option_table.h"

namespace {

using app::Mode;

struct Case {
  std::vector<std::string> args;
  Mode mode;
  std::string message;
};

void PrintTo(const Case& c, std::ostream* os) {
  for (const auto& a : c.args) *os << '[' << a << ']';
}

class EntryTest : public testing::TestWithParam<Case> {};

TEST_P(EntryTest, SelectsModeOrMessage) {
  app::Invocation invocation;
  const cli::ArgList args{"zelvo", GetParam().args};
  const app::Selection selection = invocation.select_mode(args);
  EXPECT_EQ(selection.mode, GetParam().mode);
  EXPECT_EQ(selection.message, GetParam().message);
}

const std::string kSizeList =
    "64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192";

INSTANTIATE_TEST_SUITE_P(
    Precedence, EntryTest,
    testing::Values(
        Case{{}, Mode::benchmark, ""},
        // The animation wins over invalid values, in either order.
        Case{{"--zelvo", "--size", "100"}, Mode::animation, ""},
        Case{{"--size", "100", "--zelvo"}, Mode::animation, ""},
        Case{{"--zelvo", "--isa", "x", "--help", "--topo-debug"}, Mode::animation, ""},
        // Validation comes before help; arguments after the help flag are never read.
        Case{{"--size", "100", "--help"},
             Mode::rejected,
             "Invalid size '100', must be one of: " + kSizeList},
        Case{{"--help", "--size", "100"}, Mode::help, ""},
        Case{{"--help", "--zelvo"}, Mode::help, ""},
        Case{{"--timer-debug", "--help"}, Mode::help, ""},
        Case{{"--topo-debug", "--timer-debug"}, Mode::topology_dump, ""},
        Case{{"--timer-debug"}, Mode::timer_dump, ""},
        // Workload before isa, both compared exactly.
        Case{{"--workload", "Standing_wave", "--isa", "avx512"},
             Mode::rejected,
             "Invalid workload name 'Standing_wave', must be one of: "
             "standing_wave, soft_gaussian"},
        Case{{"--isa", "avx512"},
             Mode::rejected,
             "Invalid isa name 'avx512', must be one of: sse2, avx, avx2, fma"},
        Case{{"--isa="}, Mode::rejected,
             "Invalid isa name '', must be one of: sse2, avx, avx2, fma"},
        Case{{"-s", "18446744073709551615"},
             Mode::rejected,
             "Invalid size '18446744073709551615', must be one of: " + kSizeList},
        // Parse errors come first of all.
        Case{{"--threading", "NUMA", "--zelvo"},
             Mode::rejected,
             "Value 'NUMA' not expected. Allowed values are: os, numa, phte"},
        Case{{"--bogus", "--help"}, Mode::rejected, "Unrecognized token: --bogus"},
        // Durations are not checked here; the run clamps them.
        Case{{"-d", "0"}, Mode::benchmark, ""}, Case{{"-d", "5000"}, Mode::benchmark, ""}));

TEST(EntryTest, DefaultsAndParsedValues) {
  app::Invocation defaults;
  const cli::ArgList none{"zelvo", {}};
  ASSERT_EQ(defaults.select_mode(none).mode, Mode::benchmark);
  const bench::RunOptions& d = defaults.options();
  EXPECT_EQ(std::tie(d.numthreads, d.duration, d.size), std::make_tuple(0u, 30u, 192ul));
  EXPECT_EQ(std::tie(d.threading, d.workload, d.isa),
            std::make_tuple("os", "standing_wave", "sse2"));
  EXPECT_FALSE(d.strict_isa_check || d.large_pages || d.bypass_timer_check);

  app::Invocation all;
  const cli::ArgList args{"zelvo",
                          {"-n", "3", "-d", "7", "-s", "8192", "--workload", "soft_gaussian",
                           "--isa", "fma", "--strict-isa-check", "--threading", "phte",
                           "--large-pages", "--bypass-timer-check"}};
  ASSERT_EQ(all.select_mode(args).mode, Mode::benchmark);
  const bench::RunOptions& o = all.options();
  EXPECT_EQ(std::tie(o.numthreads, o.duration, o.size), std::make_tuple(3u, 7u, 8192ul));
  EXPECT_EQ(std::tie(o.threading, o.workload, o.isa),
            std::make_tuple("phte", "soft_gaussian", "fma"));
  EXPECT_TRUE(o.strict_isa_check && o.large_pages && o.bypass_timer_check);
}

TEST(EntryTest, ResultFileGivenEvenWhenEmpty) {
  struct Case {
    std::vector<std::string> args;
    bool given;
    std::string path;
  } cases[] = {
      {{"-d", "1"}, false, ""},
      {{"--json", "out/r.json"}, true, "out/r.json"},
      {{"--json=r.json", "-n", "2"}, true, "r.json"},
      // An empty name is a name the user gave: the run must refuse it, not skip the file.
      {{"--json", ""}, true, ""},
      {{"--json="}, true, ""},
  };
  for (const Case& c : cases) {
    app::Invocation invocation;
    ASSERT_EQ(invocation.select_mode({"zelvo", c.args}).mode, Mode::benchmark) << c.args[0];
    EXPECT_EQ(invocation.flags().result_file_given, c.given) << c.args[0];
    EXPECT_EQ(invocation.flags().result_file, c.path) << c.args[0];
  }
}

TEST(EntryTest, BenchmarkGuards) {
  // No allowed size trips either guard.
  for (const std::uint64_t n : app::grid_sizes) EXPECT_TRUE(app::check_benchmark_guards(n).ok()) << n;

  // (n + 2)^3 * 32 first exceeds 64 bits at n = 832,254.
  EXPECT_TRUE(app::check_benchmark_guards(832'253).ok());
  EXPECT_EQ(app::check_benchmark_guards(832'254).message(),
            "grid size 832254 would overflow memory calculation");
  // (2^22)^3 wraps to 0 in 64 bits; a guard on the wrapped cube would pass it.
  EXPECT_EQ(app::check_benchmark_guards((std::uint64_t{1} << 22) - 2).message(),
            "grid size 4194302 would overflow memory calculation");
  EXPECT_EQ(app::check_benchmark_guards(UINT64_MAX).message(),
            "grid size 18446744073709551615 would overflow memory calculation");
  EXPECT_EQ(app::check_benchmark_guards(UINT64_MAX - 2).message(),
            "grid size 18446744073709551613 would overflow memory calculation");
}

TEST(EntryTest, LostOutputLine) {
  // The same line on both systems: their C libraries name the full device alike.
  EXPECT_EQ(app::output_failure_line(std::strerror(ENOSPC)),
            "zelvo: write error on standard output: No space left on device");
  // Without a known reason the line ends after "output".
  EXPECT_EQ(app::output_failure_line(""), "zelvo: write error on standard output");
}

}  // namespace
