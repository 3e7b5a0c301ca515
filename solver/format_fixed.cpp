#include "solver/format_fixed.h"

#include <cstdio>

namespace solver {

std::string format_fixed(double value) {
  // Two passes: "%f" of a large value can need hundreds of digits.
  const int length = std::snprintf(nullptr, 0, "%f", value);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%f", value);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

}  // namespace solver
