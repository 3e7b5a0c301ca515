// The animation on the real standard output.

#include <cstdio>
#include <thread>

#include "platform/animation.h"
#include "platform/console.h"

namespace platform {
namespace {

class StdoutConsole final : public AnimationConsole {
 public:
  explicit StdoutConsole(const std::function<void(std::chrono::milliseconds)>& pause) : pause_(pause) {}

  void write(std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
    (void)flush_standard_output();
  }
  void pause(std::chrono::milliseconds duration) override { pause_(duration); }
  void cursor_up(std::uint32_t lines) override { platform::cursor_up(lines); }

 private:
  const std::function<void(std::chrono::milliseconds)>& pause_;
};

}  // namespace

void play_fish_animation(const std::function<void(std::chrono::milliseconds)>& pause) {
  StdoutConsole console(pause);
  play_fish_animation(console);
}

void play_fish_animation() {
  play_fish_animation([](std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); });
}

}  // namespace platform
