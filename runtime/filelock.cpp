// An exclusive advisory lock for those who replace or create a file.
#include "runtime/filelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/fileid.h"

namespace rt {

int FileLock::lock(const std::string& path) {
  release();
  for (;;) {
    FilePlace place;
    if (const int status = place.resolve(path); status != 0) return status;
    // The directory reached, opened so that it can be locked.
    const int fd = ::openat(place.directory(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int status = 0;
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        status = errno;
        break;
      }
    }
    if (status != 0) {
      ::close(fd);
      return status;
    }
    FilePlace now;
    if (now.resolve(path) == 0 && now.directoryDevice() == place.directoryDevice() &&
        now.directoryInode() == place.directoryInode()) {
      fd_ = fd;
      return 0;
    }
    // The name now leads to another directory (or none): lock that one.
    ::close(fd);
  }
}

void FileLock::release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the only descriptor of the lock releases it
  fd_ = -1;
}

}  // namespace rt
