// The file output of the running system: the order of steps here, the calls in
// the backend.

#include "platform/file_os.h"
#include "platform/file_output.h"

namespace platform {
namespace {

OptError failure(const FileError& error) { return OptError::fail(file_error_text(error)); }

// A temporary file left by a process that had the same id and was killed
// holds the name: the next numbers are tried.
constexpr std::uint64_t kTagAttempts = 64;

// Creates a fresh temporary sibling of `path` holding `content`; its name goes
// to `temporary`. Nothing is left behind on failure.
FileError write_temporary(const std::string& path, std::string_view content, std::string& temporary) {
  const std::uint64_t base = os::process_tag() * kTagAttempts;
  FileError error;
  for (std::uint64_t k = 0; k < kTagAttempts; ++k) {
    temporary = temporary_sibling(path, base + k);
    error = os::write_new_file(temporary, content);
    if (error.kind == FileErrorKind::kExists) continue;
    if (error.failed()) os::remove_file(temporary);
    return error;
  }
  return error;
}

// What `path` names, after the refusals the check and the write share: an
// empty name (it would become a temporary file in the current folder) and a
// folder.
FileError target_kind(const std::string& path, PathKind& kind) {
  if (path.empty()) return {FileErrorKind::kNoSuchFolder, {}};
  kind = os::path_kind(path);
  if (kind == PathKind::kFolder) return {FileErrorKind::kIsFolder, {}};
  return {};
}

}  // namespace

OptError check_file_writable(const std::string& path) {
  PathKind kind = PathKind::kMissing;
  if (const FileError e = target_kind(path, kind); e.failed()) return failure(e);
  if (kind == PathKind::kOther) {
    if (const FileError e = os::check_write_access(path); e.failed()) return failure(e);
    return {};
  }
  // The write goes through a temporary file in the same folder, so that is
  // what must be possible.
  std::string temporary;
  if (const FileError e = write_temporary(path, {}, temporary); e.failed()) return failure(e);
  os::remove_file(temporary);
  return {};
}

OptError write_file_atomically(const std::string& path, std::string_view content) {
  PathKind kind = PathKind::kMissing;
  if (const FileError e = target_kind(path, kind); e.failed()) return failure(e);
  if (kind == PathKind::kOther) {
    // A device or pipe cannot be renamed over; it gets the bytes themselves.
    if (const FileError e = os::write_existing_file(path, content); e.failed()) return failure(e);
    return {};
  }
  std::string temporary;
  if (const FileError e = write_temporary(path, content, temporary); e.failed()) return failure(e);
  if (const FileError e = os::replace_file(temporary, path); e.failed()) {
    os::remove_file(temporary);
    return failure(e);
  }
  return {};
}

}  // namespace platform
