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

std::string_view folder_of(std::string_view path) {
  const std::size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? std::string_view{} : path.substr(0, cut + 1);
}

std::string temporary_sibling(std::string_view path, std::uint64_t tag) {
  // A name of its own rather than one made from the target's: a target name
  // near the system's limit must still leave room for the temporary one.
  return fmt::format("{}.zelvo-{}.tmp", folder_of(path), tag);
}

std::string link_target_path(std::string_view link, std::string_view target) {
  if (!target.empty() && target.front() == '/') return std::string(target);
  return fmt::format("{}{}", folder_of(link), target);
}

bool may_replace(const ReplaceFacts& facts) {
  if (!facts.sticky_folder || facts.privileged) return true;
  return facts.user == facts.file_owner || facts.user == facts.folder_owner;
}

}  // namespace platform
