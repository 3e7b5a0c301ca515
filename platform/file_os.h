#pragma once

// The system calls behind the file output. Each backend implements these; they
// report what happened and decide nothing.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_output.h"

namespace platform::os {

/// What `path` names; kMissing when it cannot be looked at.
PathKind path_kind(const std::string& path);
/// Whether this process may write the existing `path`.
FileError check_write_access(const std::string& path);
/// Creates `path`, failing with kExists when the name is taken, writes all of
/// `content`, flushes it to the disk and closes it. A file created before a
/// failure stays; the caller removes it.
FileError write_new_file(const std::string& path, std::string_view content);
/// Opens the existing `path` for writing without creating or replacing it and
/// writes all of `content`.
FileError write_existing_file(const std::string& path, std::string_view content);
/// Renames `from` to `to` in one step, replacing a file `to`.
FileError replace_file(const std::string& from, const std::string& to);
/// Removes the file `path`; failure is ignored.
void remove_file(const std::string& path);
/// A number that differs between processes running at once (the process id).
std::uint64_t process_tag();

}  // namespace platform::os
