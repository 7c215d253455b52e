// An exclusive advisory lock on an existing file.
#include "runtime/filelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace rt {

int FileLock::lock(const std::string& path) {
  release();
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno;
    int status = 0;
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        status = errno;
        break;
      }
    }
    struct stat held {};
    struct stat named {};
    if (status == 0 && ::fstat(fd, &held) != 0) status = errno;
    if (status != 0) {
      ::close(fd);
      return status;
    }
    if (::stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino) {
      fd_ = fd;
      return 0;
    }
    // The name now stands for another file (or none): lock that one.
    ::close(fd);
  }
}

void FileLock::release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the only descriptor of the lock releases it
  fd_ = -1;
}

}  // namespace rt
