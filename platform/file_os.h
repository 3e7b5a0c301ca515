#pragma once

// The system calls behind the file output. Each backend implements these; they
// report what happened and decide nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_output.h"

namespace platform::os {

/// An open file of the backend (a descriptor or a handle); kNoFile for none.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

/// What `path` names, symbolic links followed; kMissing when nothing does. A
/// path that cannot be looked at (a loop of links, a folder that may not be
/// searched) is the error.
FileError path_kind(const std::string& path, PathKind& kind);
/// The text of the symbolic link `path`; empty when `path` is no link (where the
/// system has none, always).
std::optional<std::string> read_link(const std::string& path);
/// The owners of the existing `path` and of the folder `folder` that holds it.
FileError replace_facts(const std::string& path, const std::string& folder, ReplaceFacts& facts);
/// When the existing file `path` is the file that standard output or standard
/// error writes into, a second handle of that stream, sharing its position, so
/// that what is written through it follows the stream's text; else kNoFile.
FileHandle standard_stream_of(const std::string& path);
/// Opens the existing `path` for writing without creating, truncating or
/// replacing it, and without waiting for a pipe's reader (none is an error).
FileError open_in_place(const std::string& path, FileHandle& file);
/// Writes all of `content` to `file`; a pipe whose reader left is an error
/// ("Broken pipe"), never a signal that ends the process.
FileError write_to(FileHandle file, std::string_view content);
/// Closes `file`; reports a write the system deferred.
FileError close_file(FileHandle file);
/// Creates `path`, failing with kExists when the name is taken, writes all of
/// `content`, flushes it to the disk and closes it. A file created before a
/// failure stays; the caller removes it.
FileError write_new_file(const std::string& path, std::string_view content);
/// Renames `from` to `to` in one step, replacing a file `to`.
FileError replace_file(const std::string& from, const std::string& to);
/// Removes the file `path`; failure is ignored.
void remove_file(const std::string& path);
/// A number that differs between processes running at once (the process id).
std::uint64_t process_tag();

}  // namespace platform::os
