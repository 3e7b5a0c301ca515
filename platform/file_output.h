#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/opt_error.h"

namespace platform {

/// Why a file operation failed, in the few kinds that get one wording on every
/// system; anything else keeps the system's own description.
enum class FileErrorKind : std::uint8_t {
  kNone = 0,
  kNoSuchFolder,      ///< a folder on the way does not exist
  kPermissionDenied,
  kIsFolder,          ///< the path names a folder
  kExists,            ///< an exclusive create found the name taken
  kNoSpace,
  kReadOnly,          ///< the file system is mounted or marked read-only
  kOther,             ///< see `system_text`
};

/// The outcome of one file operation of the backend.
struct FileError {
  FileErrorKind kind = FileErrorKind::kNone;
  std::string system_text;  ///< the system's description for kOther

  bool failed() const { return kind != FileErrorKind::kNone; }
};

/// What a path names.
enum class PathKind : std::uint8_t {
  kMissing,  ///< nothing, or it could not be looked at (the write then tells why)
  kRegular,  ///< an ordinary file
  kFolder,
  kOther,    ///< a device, pipe or socket: written in place, never replaced
};

/// The reason text for `error`: "No such file or directory", "Permission denied",
/// "Is a directory", "File exists", "No space left on device", "Read-only file
/// system", else the system's text ("unknown error" when it gave none).
std::string file_error_text(const FileError& error);

/// The temporary file a write to `path` goes through first: in the same folder,
/// named "." + the file name + "." + `tag` + ".tmp", so that a rename can
/// replace the target in one step.
std::string temporary_sibling(std::string_view path, std::uint64_t tag);

/// Fails, with the reason as message, when `path` could not be written: a
/// missing or unwritable folder, or a folder of that name. Probes with a
/// temporary file that it removes again; an existing device or pipe is checked
/// for write permission only.
[[nodiscard]] OptError check_file_writable(const std::string& path);

/// Writes `content` to `path` whole or not at all: into a temporary file in the
/// same folder, flushed to the disk, then renamed over `path`. An existing
/// `path` that is not an ordinary file (a device, a pipe) is written in place.
/// On failure the message is the reason and no temporary file is left.
[[nodiscard]] OptError write_file_atomically(const std::string& path, std::string_view content);

}  // namespace platform
