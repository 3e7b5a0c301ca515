#include "app/build_info.h"

#include "app/git_commit.h"
#include "bench/version.h"

namespace app {

BuildInfo build_info() {
  return {bench::kVersionText, ZELVO_COMPILER,   ZELVO_COMPILER_VERSION,
          ZELVO_TARGET_OS,     ZELVO_BUILD_TYPE, ZELVO_GIT_COMMIT};
}

}  // namespace app
