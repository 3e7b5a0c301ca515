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

// The system ends a chain of links long before this; the bound only keeps a
// chain that changes while it is read from being followed for ever.
constexpr int kMaxLinks = 64;

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

// The name at the end of the chain of links that starts at `path`: a new file
// is put there, so that the links keep pointing at the result.
std::string resolve_links(std::string path) {
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    const std::optional<std::string> target = os::read_link(path);
    if (!target) break;
    path = link_target_path(path, *target);
  }
  return path;
}

}  // namespace

OutputFile::~OutputFile() {
  if (held_ != os::kNoFile) (void)os::close_file(held_);
}

OptError OutputFile::prepare(const std::string& path) {
  // An empty name would become a temporary file in the current folder.
  if (path.empty()) return failure({FileErrorKind::kNoSuchFolder, {}});
  PathKind kind = PathKind::kMissing;
  if (const FileError e = os::path_kind(path, kind); e.failed()) return failure(e);
  if (kind == PathKind::kFolder) return failure({FileErrorKind::kIsFolder, {}});
  if (kind == PathKind::kOther) {
    // A device or pipe cannot be renamed over; it gets the bytes themselves,
    // through the path as given (the system resolves links such as /dev/stdout
    // that name no file).
    if (const FileError e = os::open_in_place(path, held_); e.failed()) return failure(e);
    return {};
  }
  if (kind == PathKind::kRegular) {
    // The console's own file (`--json /dev/stdout > out.txt`): a new file would
    // take its name while the console went on into the old one, unreachable.
    // The result goes into the console's stream instead, after its text.
    held_ = os::standard_stream_of(path);
    if (held_ != os::kNoFile) return {};
  }
  std::string target = resolve_links(path);
  // The write goes through a temporary file in the target's folder, so that is
  // what must be possible; and the rename must be allowed to replace the file.
  std::string temporary;
  if (const FileError e = write_temporary(target, {}, temporary); e.failed()) return failure(e);
  os::remove_file(temporary);
  if (kind == PathKind::kRegular) {
    ReplaceFacts facts;
    const std::string_view dir = folder_of(target);
    const std::string folder(dir.empty() ? std::string_view(".") : dir);
    if (const FileError e = os::replace_facts(target, folder, facts); e.failed()) return failure(e);
    if (!may_replace(facts)) return failure({FileErrorKind::kPermissionDenied, {}});
  }
  target_ = std::move(target);
  return {};
}

OptError OutputFile::write(std::string_view content) {
  if (held_ != os::kNoFile) {
    const os::FileHandle file = held_;
    held_ = os::kNoFile;
    const FileError written = os::write_to(file, content);
    const FileError closed = os::close_file(file);
    if (written.failed()) return failure(written);
    if (closed.failed()) return failure(closed);
    return {};
  }
  if (target_.empty()) return failure({FileErrorKind::kNoSuchFolder, {}});
  std::string temporary;
  if (const FileError e = write_temporary(target_, content, temporary); e.failed()) return failure(e);
  if (const FileError e = os::replace_file(temporary, target_); e.failed()) {
    os::remove_file(temporary);
    return failure(e);
  }
  return {};
}

}  // namespace platform
