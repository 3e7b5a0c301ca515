#pragma once

#include <cstdint>
#include <ostream>
#include <string_view>

#include "cli/syntax_style.h"

namespace cli {

class CommandLine;

/// Writes help text to a stream it does not own, one nesting level at a time.
class HelpWriter {
 public:
  explicit HelpWriter(std::ostream& out) : out_(out) {}
  virtual ~HelpWriter() = default;

  /// The text and a line break, never indented.
  virtual HelpWriter& heading(const SyntaxStyle& style, std::string_view text);
  /// The indented text followed by a blank line.
  virtual HelpWriter& paragraph(const SyntaxStyle& style, std::string_view text);
  /// One option line: the left text padded to 25 columns, a blank, the
  /// description; a longer left text puts the description on its own line.
  virtual HelpWriter& entry(const SyntaxStyle& style, std::string_view left,
                            std::string_view description);
  virtual HelpWriter& indent(std::int32_t n);
  virtual HelpWriter& dedent(std::int32_t n);
  /// The current level; 0 when it went negative.
  virtual std::int32_t level() const { return level_ < 0 ? 0 : level_; }

 private:
  std::int32_t level_ = 0;
  std::ostream& out_;
};

/// Writes the complete help of `command_line` in the style in force.
std::ostream& write_help(std::ostream& out, const CommandLine& command_line);

}  // namespace cli
