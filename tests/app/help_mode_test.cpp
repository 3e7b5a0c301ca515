#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/entry.h"
#include "app/help_mode.h"
#include "app/option_table.h"

namespace {

// The whole help mode output; trailing blanks on the help and --zelvo lines
// are part of it.
constexpr const char* kHelpModeText =
    "USAGE:\n"
    "  zelvo [-?|-h|--help] [-n|--numthreads <numthreads>] [-d|--duration <duration>] "
    "[-s|--size <size>] [--workload <workload>] [--isa <isa>] [--strict-isa-check] "
    "[--threading <threading>] [--large-pages] [--bypass-timer-check] [--topo-debug] "
    "[--timer-debug] [--zelvo] [--json <file>]\n"
    "\n"
    "Display usage information.\n"
    "\n"
    "OPTIONS, ARGUMENTS:\n"
    "  -?, -h, --help          \n"
    "  -n, --numthreads <numthreads>\n"
    "                          Number of threads to use [default: 0]\n"
    "  -d, --duration <duration>\n"
    "                          Bench duration (s) between 1-1000s [default: 30]\n"
    "  -s, --size <size>       Grid size, one of [64, 128, 192, 256, 320, 384, 448, 512, 640, "
    "768, 1024, 2048, 4096, 8192] [default: 192]\n"
    "  --workload <workload>   Workload to use (results with different workloads aren't "
    "comparable), one of [standing_wave, soft_gaussian] [default: standing_wave]\n"
    "  --isa <isa>             Instruction set to use for workload/solver, one of [sse2, avx, "
    "avx2, fma] [default: sse2]\n"
    "  --strict-isa-check      Don't try to run if the ISA support check fails\n"
    "  --threading <threading> Threading manager to use [default: os]\n"
    "  --large-pages           Use large pages allocator\n"
    "  --bypass-timer-check    Run the bench even if the timer is not HWBOT compliant\n"
    "  --topo-debug            Print detected topology for debug\n"
    "  --timer-debug           Printed detected timers\n"
    "  --zelvo                 \n"
    "  --json <file>           Write the result and the machine's details as JSON to this file\n"
    "\n"
    "field size      memory used per thread\n"
    "  64                 17.55 MiB\n"
    "  128               134.09 MiB\n"
    "  192               445.64 MiB\n"
    "  256                 1.02 GiB\n"
    "  320                 1.99 GiB\n"
    "  384                 3.43 GiB\n"
    "  448                 5.43 GiB\n"
    "  512                 8.09 GiB\n"
    "  640                15.77 GiB\n"
    "  768                27.21 GiB\n"
    "  1024               64.38 GiB\n"
    "  2048              513.50 GiB\n"
    "  4096                4.01 TiB\n"
    "  8192               32.02 TiB\n";

std::string help_mode_after(const cli::ArgList& args) {
  app::Invocation invocation;
  EXPECT_EQ(invocation.select_mode(args).mode, app::Mode::help);
  std::ostringstream out;
  app::write_help_mode(out, invocation.command_line(), app::grid_sizes);
  return out.str();
}

TEST(HelpModeTest, WholeTextIsExact) {
  EXPECT_EQ(help_mode_after({"/usr/local/bin/zelvo", {"--help"}}), kHelpModeText);
}

TEST(HelpModeTest, ShowsDefaultsNotParsedValues) {
  // Values parsed before the help flag do not change the advertised defaults,
  // and every spelling of the flag gives the same text.
  for (const char* flag : {"-?", "-h", "--help"}) {
    EXPECT_EQ(help_mode_after({"zelvo", {"-n", "8", "--isa", "avx", flag}}), kHelpModeText)
        << flag;
  }
}

TEST(HelpModeTest, ProgramNameComesFromThePath) {
  const std::string text = help_mode_after({"C:\\bench\\zelvo.exe", {"-h"}});
  EXPECT_EQ(text.substr(0, 25), "USAGE:\n  zelvo.exe [-?|-h");
}

}  // namespace
