#pragma once

// The Linux backends read their facts from small text files (/proc, /sys, /etc).

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace platform::os {

/// The whole content of `path`; empty when it cannot be opened or read.
inline std::optional<std::string> read_text_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

}  // namespace platform::os
