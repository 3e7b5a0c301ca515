#include "platform/meminfo.h"

#include <cstdint>
#include <string>

namespace platform {

std::uint64_t meminfo_bytes(std::string_view meminfo, std::string_view key) {
  while (!meminfo.empty()) {
    const std::size_t eol = meminfo.find('\n');
    std::string_view line = meminfo.substr(0, eol);
    meminfo = eol == std::string_view::npos ? std::string_view{} : meminfo.substr(eol + 1);

    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ':') continue;
    line.remove_prefix(key.size() + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);

    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; digits < line.size() && line[digits] >= '0' && line[digits] <= '9'; ++digits) {
      const auto digit = static_cast<std::uint64_t>(line[digits] - '0');
      if (value > (UINT64_MAX - digit) / 10) return 0;
      value = value * 10 + digit;
    }
    if (digits == 0) return 0;
    line.remove_prefix(digits);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.remove_suffix(1);
    if (line.empty()) return value;
    if (line != "kB") return 0;
    if (value > UINT64_MAX / 1024) return 0;
    return value * 1024;
  }
  return 0;
}

std::optional<std::uint64_t> huge_page_pool_bytes(std::string_view meminfo) {
  // A free count of 0 is an answer too, so the field's presence decides.
  const std::string_view free_key = "HugePages_Free:";
  const bool listed = meminfo.substr(0, free_key.size()) == free_key ||
                      meminfo.find("\n" + std::string(free_key)) != std::string_view::npos;
  const std::uint64_t page = meminfo_bytes(meminfo, "Hugepagesize");
  if (!listed || page == 0) return std::nullopt;
  const std::uint64_t pages = meminfo_bytes(meminfo, "HugePages_Free");
  return pages > UINT64_MAX / page ? UINT64_MAX : pages * page;
}

}  // namespace platform
