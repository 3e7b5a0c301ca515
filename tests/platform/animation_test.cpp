#include "platform/animation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace platform {
namespace {

// Code points of UTF-8 text (bytes that do not continue a sequence).
std::size_t code_points(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

class RecordingConsole final : public AnimationConsole {
 public:
  void write(std::string_view text) override { events.push_back("write:" + std::string(text)); }
  void pause(std::chrono::milliseconds duration) override {
    events.push_back("pause:" + std::to_string(duration.count()));
  }
  void cursor_up(std::uint32_t lines) override { events.push_back("up:" + std::to_string(lines)); }
  std::vector<std::string> events;
};

TEST(FishFrames, FixedShape) {
  for (const std::string_view frame : fish_frames()) {
    EXPECT_EQ(frame.size(), 206u);
    EXPECT_EQ(code_points(frame), 187u);
    ASSERT_EQ(frame.front(), '\n');
    // Six lines of exactly 30 characters, each with its newline.
    std::string_view rest = frame.substr(1);
    for (int line = 0; line < 6; ++line) {
      const std::size_t eol = rest.find('\n');
      ASSERT_NE(eol, std::string_view::npos);
      EXPECT_EQ(code_points(rest.substr(0, eol)), 30u) << "line " << line;
      rest.remove_prefix(eol + 1);
    }
    EXPECT_TRUE(rest.empty());
  }
  // The eye and the bubble.
  EXPECT_NE(fish_frames()[0].find("  : \u00A9 ):"), std::string_view::npos);
  EXPECT_NE(fish_frames()[1].find("\n  O  \u00B8.\u00B7\u00B4"), std::string_view::npos);
  EXPECT_EQ(fish_frames()[2].substr(0, 3), "\n O");
  EXPECT_NE(fish_frames()[0], fish_frames()[2]);
  EXPECT_NE(fish_frames()[1], fish_frames()[3]);
}

TEST(FishAnimation, SixteenTimedFramesThenTheLastPicture) {
  RecordingConsole console;
  play_fish_animation(console);
  const auto& frames = fish_frames();
  std::vector<std::string> expected;
  for (int round = 0; round < 4; ++round) {
    for (const std::string_view frame : frames) {
      expected.push_back("write:" + std::string(frame));
      expected.push_back("pause:400");
      expected.push_back("up:7");
    }
  }
  expected.push_back("write:" + std::string(frames[3]));
  expected.push_back("write:\n");
  EXPECT_EQ(console.events, expected);
}

}  // namespace
}  // namespace platform
