#include "cli/syntax_style.h"

namespace cli {

const SyntaxStyle& default_style() {
  // Function-local static: initialised once, thread-safe, never destroyed early.
  static const SyntaxStyle style;
  return style;
}

}  // namespace cli
