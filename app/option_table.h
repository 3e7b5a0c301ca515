#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "bench/run_options.h"
#include "cli/option_group.h"

namespace app {

/// The mode switches and output settings of the command line; none is part of
/// a run's settings.
struct ModeFlags {
  bool easter_egg = false;   ///< --zelvo
  bool show_help = false;    ///< -?, -h, --help
  bool topo_debug = false;   ///< --topo-debug
  bool timer_debug = false;  ///< --timer-debug
  std::string result_file;   ///< --json
  bool result_file_given = false;  ///< --json was given, even with empty text
};

/// The allowed grid edges, in the order the help's memory table lists them.
inline constexpr std::array<std::uint64_t, 14> grid_sizes{
    64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192};
/// Kept as fixed text rather than generated from grid_sizes.
inline constexpr std::string_view grid_size_list =
    "64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192";
inline constexpr std::string_view workload_list = "standing_wave, soft_gaussian";
inline constexpr std::string_view isa_list = "sse2, avx, avx2, fma";

/// True for a workload name the solver knows (exact, case-sensitive).
bool is_valid_workload(std::string_view name);
/// True for an instruction-set name the solver knows (exact, case-sensitive).
bool is_valid_isa(std::string_view name);
/// True when `size` is one of grid_sizes.
bool is_valid_grid_size(std::uint64_t size);

/// The program's options in display order, bound to `options` and `flags`,
/// whose current values become the advertised defaults. Both must outlive the
/// returned command line and its copies.
cli::CommandLine make_command_line(bench::RunOptions& options, ModeFlags& flags);

}  // namespace app
