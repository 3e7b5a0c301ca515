#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

/// The value of field `key` in a /proc/meminfo text, in bytes ("kB" values
/// are multiplied by 1024); 0 when the field is absent, malformed or too large.
std::uint64_t meminfo_bytes(std::string_view meminfo, std::string_view key);

/// The free huge pages of a /proc/meminfo text in bytes (HugePages_Free ×
/// Hugepagesize, UINT64_MAX when that does not fit); absent when either field
/// is missing or the page size is 0.
std::optional<std::uint64_t> huge_page_pool_bytes(std::string_view meminfo);

}  // namespace platform
