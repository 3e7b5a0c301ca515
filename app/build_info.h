#pragma once

#include <string_view>

namespace app {

/// How this program was built, as the build system told the compiler.
struct BuildInfo {
  std::string_view version;           ///< "1.2.0"
  std::string_view compiler;          ///< "gcc", "clang"
  std::string_view compiler_version;  ///< "12.2.0"
  std::string_view target_os;         ///< "linux" or "windows"
  std::string_view build_type;        ///< "Release"; empty when none was set
  std::string_view git_commit;        ///< the checked-out commit; empty outside a git tree
};

/// This program's build.
BuildInfo build_info();

}  // namespace app
