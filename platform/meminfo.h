#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

/// The value of field `key` in a /proc/meminfo text, in bytes ("kB" values
/// are multiplied by 1024); 0 when the field is absent, malformed or too large.
std::uint64_t meminfo_bytes(std::string_view meminfo, std::string_view key);

}  // namespace platform
