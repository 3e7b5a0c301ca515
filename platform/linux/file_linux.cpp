#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/file_os.h"

namespace platform::os {
namespace {

FileError from_errno(int error_number) {
  switch (error_number) {
    case 0:
      return {};
    case ENOENT:
    case ENOTDIR:
      return {FileErrorKind::kNoSuchFolder, {}};
    case EACCES:
    case EPERM:
      return {FileErrorKind::kPermissionDenied, {}};
    case EISDIR:
      return {FileErrorKind::kIsFolder, {}};
    case EEXIST:
      return {FileErrorKind::kExists, {}};
    case ENOSPC:
      return {FileErrorKind::kNoSpace, {}};
    case EROFS:
      return {FileErrorKind::kReadOnly, {}};
    default:
      return {FileErrorKind::kOther, std::strerror(error_number)};
  }
}

FileError write_all(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return from_errno(errno);
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

// close() can report a write the kernel deferred; it is not retried.
FileError close_checked(int fd, FileError so_far) {
  const int closed = close(fd);
  if (so_far.failed()) return so_far;
  return closed == 0 ? FileError{} : from_errno(errno);
}

}  // namespace

PathKind path_kind(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return PathKind::kMissing;
  if (S_ISDIR(info.st_mode)) return PathKind::kFolder;
  if (S_ISREG(info.st_mode)) return PathKind::kRegular;
  return PathKind::kOther;
}

FileError check_write_access(const std::string& path) {
  return access(path.c_str(), W_OK) == 0 ? FileError{} : from_errno(errno);
}

FileError write_new_file(const std::string& path, std::string_view content) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return from_errno(errno);
  FileError error = write_all(fd, content);
  if (!error.failed() && fsync(fd) != 0) error = from_errno(errno);
  return close_checked(fd, error);
}

FileError write_existing_file(const std::string& path, std::string_view content) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return from_errno(errno);
  return close_checked(fd, write_all(fd, content));
}

FileError replace_file(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? FileError{} : from_errno(errno);
}

void remove_file(const std::string& path) { (void)unlink(path.c_str()); }

std::uint64_t process_tag() { return static_cast<std::uint64_t>(getpid()); }

}  // namespace platform::os
