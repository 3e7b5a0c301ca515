#include "bench/console.h"

#include <cstdio>

#include "platform/console.h"

namespace bench {
namespace {

class StandardConsole final : public Console {
 public:
  void out(std::string_view text) override { std::fwrite(text.data(), 1, text.size(), stdout); }
  void flush_out() override { (void)platform::flush_standard_output(); }
  void err(std::string_view text) override {
    (void)platform::flush_standard_output();
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }
};

}  // namespace

Console& standard_console() {
  static StandardConsole console;
  return console;
}

}  // namespace bench
