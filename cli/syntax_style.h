#pragma once

#include <cstdint>
#include <string>

namespace cli {

/// Option syntax and help layout. The defaults are the program's only style:
/// "--long", "-s", values after "=" or a blank, two blanks per help level.
struct SyntaxStyle {
  /// Characters that may separate an option name from its value in one argument.
  std::string value_separators = "= ";
  /// Prefix characters of a long option and how many of them it takes.
  std::string long_prefix = "-";
  std::uint64_t long_prefix_length = 2;
  /// Prefix characters of a short option and how many of them it takes.
  std::string short_prefix = "-";
  std::uint64_t short_prefix_length = 1;
  /// Blanks per nesting level of the help text.
  std::uint64_t indent_width = 2;
};

/// The process-wide default style, created on first use; lives until exit.
const SyntaxStyle& default_style();

}  // namespace cli
