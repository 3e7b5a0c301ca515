#include "platform/file_output.h"

#include <fmt/format.h>

namespace platform {

std::string file_error_text(const FileError& error) {
  switch (error.kind) {
    case FileErrorKind::kNone:
      return {};
    case FileErrorKind::kNoSuchFolder:
      return "No such file or directory";
    case FileErrorKind::kPermissionDenied:
      return "Permission denied";
    case FileErrorKind::kIsFolder:
      return "Is a directory";
    case FileErrorKind::kExists:
      return "File exists";
    case FileErrorKind::kNoSpace:
      return "No space left on device";
    case FileErrorKind::kReadOnly:
      return "Read-only file system";
    case FileErrorKind::kOther:
      break;
  }
  return error.system_text.empty() ? "unknown error" : error.system_text;
}

std::string temporary_sibling(std::string_view path, std::uint64_t tag) {
  // Both separators count: Windows accepts either.
  const std::size_t cut = path.find_last_of("/\\");
  const std::size_t name_start = cut == std::string_view::npos ? 0 : cut + 1;
  return fmt::format("{}.{}.{}.tmp", path.substr(0, name_start), path.substr(name_start), tag);
}

}  // namespace platform
