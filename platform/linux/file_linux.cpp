#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

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

// How long a pipe's reader may take to open its end: 100 pauses of 10 ms.
constexpr int kReaderWaits = 100;
constexpr long kReaderPauseNs = 10'000'000;

// The error number of the first failed write; 0 when all was written.
int write_all(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// close() can report a write the kernel deferred; it is not retried.
FileError close_checked(int fd, FileError so_far) {
  const int closed = close(fd);
  if (so_far.failed()) return so_far;
  return closed == 0 ? FileError{} : from_errno(errno);
}

}  // namespace

FileError path_kind(const std::string& path, PathKind& kind) {
  struct stat info {};
  kind = PathKind::kMissing;
  if (stat(path.c_str(), &info) != 0) return errno == ENOENT ? FileError{} : from_errno(errno);
  if (S_ISDIR(info.st_mode)) {
    kind = PathKind::kFolder;
  } else if (S_ISREG(info.st_mode)) {
    kind = PathKind::kRegular;
  } else {
    kind = PathKind::kOther;
  }
  return {};
}

std::optional<std::string> read_link(const std::string& path) {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) return std::nullopt;
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

FileError replace_facts(const std::string& path, const std::string& folder, ReplaceFacts& facts) {
  struct stat file {};
  struct stat parent {};
  if (stat(path.c_str(), &file) != 0 || stat(folder.c_str(), &parent) != 0) return from_errno(errno);
  facts.sticky_folder = (parent.st_mode & S_ISVTX) != 0;
  facts.user = geteuid();
  facts.privileged = facts.user == 0;
  facts.file_owner = file.st_uid;
  facts.folder_owner = parent.st_uid;
  return {};
}

FileHandle standard_stream_of(const std::string& path) {
  struct stat file {};
  if (stat(path.c_str(), &file) != 0) return kNoFile;
  for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat info {};
    if (fstat(stream, &info) != 0 || info.st_dev != file.st_dev || info.st_ino != file.st_ino) continue;
    // A duplicate shares the stream's file position; opening the name anew
    // would write over the stream's text.
    const int fd = fcntl(stream, F_DUPFD_CLOEXEC, 0);
    if (fd >= 0) return fd;
  }
  return kNoFile;
}

FileError open_in_place(const std::string& path, FileHandle& file) {
  // Without O_NONBLOCK a pipe nobody reads would hold the open for ever. A
  // reader started just before (`cat f & zelvo --json f`) may not have opened
  // its end yet: it gets a second before the pipe counts as unread.
  int fd = -1;
  for (int attempt = 0;; ++attempt) {
    fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0 || errno != ENXIO || attempt == kReaderWaits) break;
    const timespec pause{0, kReaderPauseNs};
    nanosleep(&pause, nullptr);
  }
  if (fd < 0) return from_errno(errno);
  // The write itself waits for a slow reader.
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = errno;
    close(fd);
    return from_errno(error);
  }
  file = fd;
  return {};
}

FileError write_to(FileHandle file, std::string_view content) {
  // A reader that left raises SIGPIPE, which would end the process without a
  // word: blocked for this thread during the write, and taken back if raised.
  sigset_t pipe_signal;
  sigset_t previous;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  const bool blocked = pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous) == 0;
  const int error = write_all(static_cast<int>(file), content);
  if (blocked) {
    if (error == EPIPE && !sigismember(&previous, SIGPIPE)) {
      const timespec no_wait{};
      while (sigtimedwait(&pipe_signal, nullptr, &no_wait) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  return from_errno(error);
}

FileError close_file(FileHandle file) { return close(static_cast<int>(file)) == 0 ? FileError{} : from_errno(errno); }

FileError write_new_file(const std::string& path, std::string_view content) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return from_errno(errno);
  FileError error = from_errno(write_all(fd, content));
  if (!error.failed() && fsync(fd) != 0) error = from_errno(errno);
  return close_checked(fd, error);
}

FileError replace_file(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? FileError{} : from_errno(errno);
}

void remove_file(const std::string& path) { (void)unlink(path.c_str()); }

std::uint64_t process_tag() { return static_cast<std::uint64_t>(getpid()); }

}  // namespace platform::os
