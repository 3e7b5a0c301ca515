#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

/// Byte count with base-1024 prefixes: "512 B", "1.50 KiB", ... "8.00 EiB".
std::string format_bytes(std::uint64_t n);
/// The same for a figure beyond 64 bits, worked out in floating point; past
/// EiB the prefixes go on to ZiB and YiB.
std::string format_bytes_wide(double n);

/// Count with base-1000 prefixes and a unit: "64 Hz", "3.58 MHz", ... "18.45 EHz".
std::string format_si(std::uint64_t n, std::string_view unit);

}  // namespace platform
