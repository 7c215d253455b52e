// An exclusive advisory lock for those who replace or create a file.
#include "runtime/filelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/fileid.h"

namespace rt {

namespace {

// The directory where the file that `path` names stands or would be made;
// returns 0 or an errno value.
int directoryFor(const std::string& path, std::string& dir) {
  std::string target;
  const int status = followLinks(path, target);
  if (status == 0) {
    std::string base;
    splitPath(target, dir, base);
  }
  return status;
}

}  // namespace

int FileLock::lock(const std::string& path) {
  release();
  for (;;) {
    std::string dir;
    if (const int status = directoryFor(path, dir); status != 0) return status;
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int status = 0;
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        status = errno;
        break;
      }
    }
    struct stat held {};
    if (status == 0 && ::fstat(fd, &held) != 0) status = errno;
    if (status != 0) {
      ::close(fd);
      return status;
    }
    struct stat named {};
    if (directoryFor(path, dir) == 0 && ::stat(dir.c_str(), &named) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
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
