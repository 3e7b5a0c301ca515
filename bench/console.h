#pragma once

#include <string>
#include <string_view>

namespace bench {

/// Where a run writes its texts. Normal output and errors stay apart; before any
/// error text the normal output is flushed so both keep their write order when
/// they end up in one file or pipe.
class Console {
 public:
  virtual ~Console() = default;
  /// Writes to normal output (buffered).
  virtual void out(std::string_view text) = 0;
  /// Flushes normal output.
  virtual void flush_out() = 0;
  /// Flushes normal output, then writes to the error stream.
  virtual void err(std::string_view text) = 0;
};

/// The process's standard output and standard error.
Console& standard_console();

/// Collects both streams in memory, for tests; `merged_text` holds both in
/// write order, as one file given both streams would.
class CapturedConsole final : public Console {
 public:
  void out(std::string_view text) override {
    out_text.append(text);
    merged_text.append(text);
  }
  void flush_out() override { ++flushes; }
  void err(std::string_view text) override {
    err_text.append(text);
    merged_text.append(text);
  }

  std::string out_text;
  std::string err_text;
  std::string merged_text;
  int flushes = 0;
};

}  // namespace bench
