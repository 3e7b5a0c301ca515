// Stand-ins for modes whose modules are not part of this build yet. Each says so
// and fails; nothing pretends to have run.
#include <string_view>

#include "app/entry.h"
#include "app/modes.h"

namespace app {

namespace {

int unavailable(std::string_view what) {
  write_error_line(std::string(what) + " is not available in this build");
  return 1;
}

}  // namespace

int play_animation_mode() { return unavailable("the animation (--zelvo)"); }

int run_timer_dump_mode() { return unavailable("the timer dump (--timer-debug)"); }

}  // namespace app
