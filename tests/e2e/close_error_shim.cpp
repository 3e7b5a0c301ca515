// Preloaded into zelvo by the close_error test: closing standard output fails
// with EIO, as it does on file systems that report a failed write only at
// close (network file systems, quotas). Every other descriptor closes as usual.
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

extern "C" int close(int fd) {
  const long closed = syscall(SYS_close, fd);
  if (closed == 0 && fd == STDOUT_FILENO) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(closed);
}
