#include "platform/animation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace platform {
namespace {

std::size_t code_points(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(
      text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

class RecordingConsole final : public AnimationConsole {
 public:
  void write(std::string_view text) override {
    const auto& frames = fish_frames();
    const auto it = std::find(frames.begin(), frames.end(), text);
    log += it == frames.end() ? std::string(text) : std::to_string(it - frames.begin());
  }
  void pause(std::chrono::milliseconds duration) override { log.append("p").append(std::to_string(duration.count())); }
  void cursor_up(std::uint32_t lines) override { log.append("u").append(std::to_string(lines)); }
  std::string log;
};

TEST(FishFrames, SixLinesOfThirtyCharacters) {
  for (const std::string_view frame : fish_frames()) {
    EXPECT_EQ(frame.size(), 206u);
    ASSERT_EQ(frame.front(), '\n');
    std::string_view rest = frame.substr(1);
    for (int line = 0; line < 6; ++line) {
      const std::size_t eol = rest.find('\n');
      ASSERT_NE(eol, std::string_view::npos);
      EXPECT_EQ(code_points(rest.substr(0, eol)), 30u) << "line " << line;
      rest.remove_prefix(eol + 1);
    }
    EXPECT_TRUE(rest.empty());
  }
  EXPECT_NE(fish_frames()[0].find("  : \u00A9 ):"), std::string_view::npos);  // the eye
  EXPECT_EQ(fish_frames()[2].substr(0, 3), "\n O");                           // the risen bubble
}

TEST(FishAnimation, SixteenTimedFramesThenTheLastPicture) {
  RecordingConsole console;
  play_fish_animation(console);
  std::string expected;
  for (int i = 0; i < 16; ++i) expected.append(std::to_string(i % 4)).append("p400u7");
  EXPECT_EQ(console.log, expected + "3\n");
}

}  // namespace
}  // namespace platform
