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
  kMissing,  ///< nothing of that name
  kRegular,  ///< an ordinary file
  kFolder,
  kOther,    ///< a device, pipe or socket: written in place, never replaced
};

/// The reason text for `error`: "No such file or directory", "Permission denied",
/// "Is a directory", "File exists", "No space left on device", "Read-only file
/// system", else the system's text ("unknown error" when it gave none).
std::string file_error_text(const FileError& error);

/// The folder part of `path` with its separator ("out/" for "out/r.json"); empty
/// for a bare name. Both separators count: Windows accepts either.
std::string_view folder_of(std::string_view path);

/// The temporary file a write to `path` goes through first: in the same folder,
/// named ".zelvo-" + `tag` + ".tmp", so that a rename can replace the target in
/// one step whatever the length of its name.
std::string temporary_sibling(std::string_view path, std::uint64_t tag);

/// Where the symbolic link `link` points: `target` itself when absolute, else
/// `target` taken from the folder that holds the link.
std::string link_target_path(std::string_view link, std::string_view target);

/// Who owns an existing file and its folder, as far as replacing it goes.
struct ReplaceFacts {
  bool sticky_folder = false;  ///< only owners may remove or replace its names
  bool privileged = false;     ///< the user may replace any name
  std::uint64_t user = 0;
  std::uint64_t file_owner = 0;
  std::uint64_t folder_owner = 0;
};

/// Whether a rename may replace the file `facts` describes: anywhere but in a
/// sticky folder, where only the file's owner, the folder's or a privileged
/// user may.
bool may_replace(const ReplaceFacts& facts);

/// A file that is checked before there is anything to write and written once
/// afterwards, whole or not at all. A symbolic link is written through, as a
/// shell redirection does: a new file replaces the file at the end of the link
/// chain, and the links stay. A device or pipe is written in place; it is
/// opened by the check and held open until the write, so a pipe without a
/// reader is refused at once and a reader sees its writer from the start.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  /// Closes a target that was opened and never written.
  ~OutputFile();

  /// Fails, with the reason as message, when `path` cannot be written: an empty
  /// name, a missing or unwritable folder, a folder of that name, an existing
  /// file this user may not replace, a device or pipe that cannot be opened for
  /// writing ("No such device or address" for a pipe nobody reads). Probes the
  /// folder with a temporary file that it removes again.
  [[nodiscard]] OptError prepare(const std::string& path);

  /// Writes `content` after a successful `prepare`: into a temporary file beside
  /// the target, flushed to the disk, then renamed over it; or into the device
  /// or pipe. On failure the message is the reason ("Broken pipe" for a reader
  /// that left) and no temporary file is left. Call once.
  [[nodiscard]] OptError write(std::string_view content);

 private:
  std::string target_;        // the file a new one replaces, links resolved
  std::intptr_t held_ = -1;   // the device or pipe, open since `prepare`
};

}  // namespace platform
