#include "platform/animation.h"

namespace platform {
namespace {

// Each frame: a newline, then six lines of 30 characters (UTF-8), each with its
// newline. The trailing blanks are part of the picture: every frame covers the
// previous one completely.
constexpr std::string_view kFrame0 =
    "\n"
    "            ¸¸¸.:::::  .'''   \n"
    "     ¸.·´´´´¸ ```'/''·´   ``: \n"
    "  : © ):   ...____       ':`  \n"
    "     `······` \\\\  `\\      .:' \n"
    "                `   '...:;`   \n"
    "                       ``     \n";

constexpr std::string_view kFrame1 =
    "\n"
    "            ¸¸¸.:::::  .''    \n"
    "  O  ¸.·´´´´¸ ```'/''·´  ';   \n"
    "  ) © ):   ...____       ':   \n"
    "     `······` \\\\\\ `\\     ;:   \n"
    "                    '...;`    \n"
    "                       `      \n";

constexpr std::string_view kFrame2 =
    "\n"
    " O          ¸¸¸.:::::  .'''   \n"
    "     ¸.·´´´´¸ ```'/''·´   ``: \n"
    "  : © ):   ...____       ':`  \n"
    "     `······` \\\\  `\\      .:' \n"
    "                `   '...:;`   \n"
    "                       ``     \n";

constexpr std::string_view kFrame3 =
    "\n"
    "            ¸¸¸.:::::  .''    \n"
    "     ¸.·´´´´¸ ```'/''·´  ';   \n"
    "  : © ):   ...____       ':   \n"
    "     `······` \\\\\\ `\\     ;:   \n"
    "                    '...;`    \n"
    "                       `      \n";

constexpr std::array<std::string_view, kFishFrameCount> kFrames{kFrame0, kFrame1, kFrame2, kFrame3};

constexpr int kRounds = 4;
constexpr std::chrono::milliseconds kFrameTime{400};
// A frame ends seven lines below the line where it started.
constexpr std::uint32_t kFrameLines = 7;

}  // namespace

const std::array<std::string_view, kFishFrameCount>& fish_frames() { return kFrames; }

void play_fish_animation(AnimationConsole& console) {
  for (int round = 0; round < kRounds; ++round) {
    for (const std::string_view frame : kFrames) {
      console.write(frame);
      console.pause(kFrameTime);
      console.cursor_up(kFrameLines);
    }
  }
  console.write(kFrames[3]);
  console.write("\n");
}

}  // namespace platform
