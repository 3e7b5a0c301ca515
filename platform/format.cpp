#include "platform/format.h"

#include <fmt/format.h>

namespace platform {
namespace {

constexpr const char* kBinaryPrefixes[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB", "ZiB", "YiB"};
constexpr const char* kDecimalPrefixes[] = {"", "K", "M", "G", "T", "P", "E"};

}  // namespace

std::string format_bytes(std::uint64_t n) {
  double x = static_cast<double>(n);
  int i = 0;
  while (x >= 1024.0 && i < 6) {
    x *= 0.0009765625;
    ++i;
  }
  if (i == 0) return fmt::format("{} {}", n, kBinaryPrefixes[0]);
  return fmt::format("{:.2f} {}", x, kBinaryPrefixes[i]);
}

std::string format_bytes_wide(double n) {
  if (!(n >= 1024.0)) return format_bytes(n > 0.0 ? static_cast<std::uint64_t>(n) : std::uint64_t{0});
  int i = 0;
  while (n >= 1024.0 && i < 8) {
    n *= 0.0009765625;
    ++i;
  }
  return fmt::format("{:.2f} {}", n, kBinaryPrefixes[i]);
}

std::string format_si(std::uint64_t n, std::string_view unit) {
  double x = static_cast<double>(n);
  int i = 0;
  while (x >= 1000.0 && i < 6) {
    x /= 1000.0;
    ++i;
  }
  if (i == 0) return fmt::format("{} {}{}", n, kDecimalPrefixes[0], unit);
  return fmt::format("{:.2f} {}{}", x, kDecimalPrefixes[i], unit);
}

}  // namespace platform
