#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

namespace platform {

inline constexpr std::size_t kFishFrameCount = 4;

/// The four pictures of the fish, 206 bytes of UTF-8 each.
const std::array<std::string_view, kFishFrameCount>& fish_frames();

/// What the animation needs of the console.
class AnimationConsole {
 public:
  virtual ~AnimationConsole() = default;
  /// Writes `text` and flushes it.
  virtual void write(std::string_view text) = 0;
  virtual void pause(std::chrono::milliseconds duration) = 0;
  virtual void cursor_up(std::uint32_t lines) = 0;
};

/// Plays the animation on `console`: 16 timed frames of 400 ms, each drawn over
/// the last, then the final picture and a newline.
void play_fish_animation(AnimationConsole& console);

/// Plays it on standard output, with `pause` standing in for the sleep.
void play_fish_animation(const std::function<void(std::chrono::milliseconds)>& pause);

/// Plays it on standard output in real time (about 6.4 seconds).
void play_fish_animation();

}  // namespace platform
