// Replacement of a file whole: a new file beside it, put in its place.
#include "runtime/replace.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "runtime/iofailure.h"
#include "runtime/signals.h"

namespace rt {

namespace {

constexpr std::size_t kCopyBufferSize = 1 << 16;

std::function<std::string()>& tempSuffixSource() {
  static std::function<std::string()> source;
  return source;
}

// Ten characters of [A-Za-z0-9] from the system's random source.
std::string randomSuffix() {
  static constexpr char kChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[10] = {};
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  if (got < sizeof bytes) {
    // No random source: the clock and the process stand in (the exclusive
    // creation still refuses any name that is taken).
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    unsigned long long x = static_cast<unsigned long long>(ts.tv_nsec) ^
                           (static_cast<unsigned long long>(ts.tv_sec) << 20) ^
                           (static_cast<unsigned long long>(::getpid()) << 40);
    for (unsigned char& b : bytes) {
      x = x * 6364136223846793005ULL + 1442695040888963407ULL;
      b = static_cast<unsigned char>(x >> 56);
    }
  }
  std::string out;
  for (unsigned char b : bytes) out.push_back(kChars[b % (sizeof kChars - 1)]);
  return out;
}

// Name of a new file beside the target `base`: the target's name, ".~" and
// a random part, cut to fit a directory entry.
std::string tempName(const std::string& base) {
  const std::string suffix = tempSuffixSource() ? tempSuffixSource()() : randomSuffix();
  const std::size_t room = NAME_MAX > suffix.size() + 2 ? NAME_MAX - suffix.size() - 2 : 0;
  return base.substr(0, room) + ".~" + suffix;
}

// The new file cannot be made: an input/output failure of the target.
[[noreturn]] void cannotMake(const std::string& name, int e) {
  throw IoFailure(name, "open", std::strerror(e != 0 ? e : EIO));
}

// Creates a new file beside the target under a name nobody can guess,
// registered for removal on a signal before it exists. Returns its
// descriptor, or -1 with the errno value in `error`.
int createBeside(int dirFd, const std::string& targetBase, mode_t mode, std::string& tempBase,
                 int& signalSlot, int& error) {
  error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    tempBase = tempName(targetBase);
    // Known for removal before it exists: a signal may come at any time.
    signalSlot = registerTempFile(dirFd, tempBase);
    const int fd = ::openat(dirFd, tempBase.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    error = errno;
    unregisterTempFile(signalSlot);
    signalSlot = -1;
  }
  tempBase.clear();
  return -1;
}

// The permissions that the target would get if it were created where it
// stands, with 0666, shown by an empty file made so beside it: the umask,
// or the directory's default access list, which takes the umask's place.
// Returns the bits of 0666 taken away; -1 with the errno value in `error`
// when no such file can be made.
int umaskByProbe(int dirFd, const std::string& targetBase, int& error) {
  std::string probeBase;
  int probeSlot = -1;
  const int probe = createBeside(dirFd, targetBase, 0666, probeBase, probeSlot, error);
  if (probe < 0) return -1;
  struct stat sb {};
  int mask = -1;
  if (::fstat(probe, &sb) == 0) {
    mask = static_cast<int>(~sb.st_mode & 0666);
  } else {
    error = errno;
  }
  ::unlinkat(dirFd, probeBase.c_str(), 0);
  ::close(probe);
  unregisterTempFile(probeSlot);
  return mask;
}

// Opens the target to copy into: never waiting (a FIFO put under its name
// meanwhile has no reader to wait for), and only when it is still a regular
// file that may be written there (trustedInDirectory). Returns the
// descriptor, or -1 with the errno value in `error` (ENXIO: the name leads
// to a file that is not a regular file now).
int openTarget(int dirFd, const std::string& targetBase, int& error) {
  const int out =
      ::openat(dirFd, targetBase.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (out < 0) {
    error = errno;
    return -1;
  }
  struct stat sb {};
  error = 0;
  if (::fstat(out, &sb) != 0) {
    error = errno;
  } else if (!S_ISREG(sb.st_mode)) {
    error = ENXIO;
  } else if (!trustedInDirectory(dirFd, sb)) {
    error = EACCES;
  } else if (::fcntl(out, F_SETFL, ::fcntl(out, F_GETFL) & ~O_NONBLOCK) != 0) {
    error = errno;
  }
  if (error == 0) return out;
  ::close(out);
  return -1;
}

// Copies the finished new file into the target `out` (openTarget), which
// keeps its inode; closes `out`.
int copyIntoTarget(int dirFd, const std::string& tempBase, int out) {
  const int in = ::openat(dirFd, tempBase.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) {
    const int e = errno;
    ::close(out);
    return e;
  }
  int status = 0;
  // The room for the whole content is taken before the first byte of the
  // target changes: a disk (or a quota) that cannot hold it leaves the
  // target as it was. A file system without this call is copied into as
  // it stands.
  struct stat sb {};
  if (::fstat(in, &sb) != 0) {
    status = errno;
  } else if (sb.st_size > 0) {
    int r = 0;
    while ((r = ::fallocate(out, FALLOC_FL_KEEP_SIZE, 0, sb.st_size)) != 0 && errno == EINTR) {
    }
    if (r != 0 && errno != EOPNOTSUPP && errno != ENOSYS) status = errno;
  }
  std::vector<char> buf(kCopyBufferSize);
  off_t total = 0;
  while (status == 0) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      status = errno;
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buf.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        status = errno;
        break;
      }
      done += w;
    }
    if (status != 0) break;
    total += n;
  }
  if (status == 0 && ::ftruncate(out, total) != 0) status = errno;
  if (status == 0 && ::fsync(out) != 0) status = errno;
  if (::close(out) != 0 && status == 0) status = errno;
  ::close(in);
  return status;
}

// The extended attribute that holds a file's access list.
constexpr char kAccessList[] = "system.posix_acl_access";

// No access list: the file has none, or its file system takes none.
bool noAccessList(int e) { return e == ENODATA || e == EOPNOTSUPP; }

// The access list of the target `base` in the directory, as the system
// stores it; empty when it has none. Read through the file opened for
// reading, or, for a file that the run may write but not read, through its
// name under the directory's descriptor link. Returns 0 or an errno value.
int accessListOf(int dirFd, const std::string& base, std::string& list) {
  list.clear();
  const int fd = ::openat(dirFd, base.c_str(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  std::string path;
  if (fd < 0)
    path = dirFd == AT_FDCWD ? base : "/proc/self/fd/" + std::to_string(dirFd) + "/" + base;
  const auto get = [&](void* value, std::size_t size) {
    return fd >= 0 ? ::fgetxattr(fd, kAccessList, value, size)
                   : ::lgetxattr(path.c_str(), kAccessList, value, size);
  };
  int status = 0;
  for (;;) {
    const ssize_t size = get(nullptr, 0);
    if (size <= 0) {
      if (size < 0 && !noAccessList(errno)) status = errno;
      break;
    }
    list.resize(static_cast<std::size_t>(size));
    const ssize_t got = get(list.data(), list.size());
    if (got >= 0) {
      list.resize(static_cast<std::size_t>(got));
      break;
    }
    list.clear();
    if (errno == ERANGE) continue;  // the list grew meanwhile
    if (!noAccessList(errno)) status = errno;
    break;
  }
  if (fd >= 0) ::close(fd);
  return status;
}

// Gives the new file the access list `list`, or none when it is empty (a
// list it took from its directory's default list goes). Returns 0 or an
// errno value.
int setAccessList(int fd, const std::string& list) {
  if (list.empty()) return ::fremovexattr(fd, kAccessList) == 0 || noAccessList(errno) ? 0 : errno;
  return ::fsetxattr(fd, kAccessList, list.data(), list.size(), 0) == 0 ? 0 : errno;
}

void syncDirectory(int dirFd) {
  const int d = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d < 0) return;
  if (::fsync(d) != 0) {
    // The rename is done; a directory that cannot be synced changes nothing.
  }
  ::close(d);
}

}  // namespace

Replacement::~Replacement() { abandon(); }

int unreachableResult(const std::string& name, int e) {
  // The open of the target where it stands meets it as well, and fails
  // with it, as any open does.
  if (unreachableName(e)) return e;
  cannotMake(name, e);
}

int Replacement::begin(const std::string& name, const std::string& status) {
  FilePlace place;
  if (const int e = place.resolve(name); e != 0) return unreachableResult(name, e);
  return begin(name, place, status);
}

int Replacement::begin(const std::string& name, const FilePlace& place, const std::string& status) {
  way_ = Way::InPlace;
  const bool exists = place.exists();
  const struct stat& tb = place.status();
  // A protected FIFO or regular file of another user (runtime/fileid.h) is
  // neither replaced nor written.
  if (exists && place.writeProtected()) return EACCES;
  // A FIFO, a device, a socket, a directory is written where it stands, and
  // so is one reached through the link of an open file (/proc/self/fd/N).
  // A regular file is never reached so: its own name is found first
  // (FilePlace::resolveOpenFile).
  if (place.systemLink()) return exists && S_ISREG(tb.st_mode) ? ENOENT : 0;
  if (exists && !S_ISREG(tb.st_mode)) return 0;
  if (exists && status == "NEW") return EEXIST;
  if (!exists && status == "OLD") return ENOENT;
  // A file that may only be read is not replaced: the open where it stands
  // takes it for reading, and a write to it fails as it would fail there.
  if (exists && ::faccessat(place.directory(), place.base().c_str(), W_OK, AT_EACCESS) != 0) {
    const int e = errno;
    if (e == EACCES || e == EPERM || e == EROFS || e == ETXTBSY) return 0;
    cannotMake(name, e);
  }
  targetBase_ = place.base();
  // A name under which no file can be made: the open where it stands fails.
  if (targetBase_ == "." || targetBase_ == "..") return 0;
  dirFd_ = place.holdDirectory();
  if (dirFd_ < 0) cannotMake(name, errno);
  int error = 0;
  fd_ = createBeside(dirFd_, targetBase_, 0600, tempBase_, signalSlot_, error);
  if (fd_ < 0) {
    closeDirectory();
    // The directory takes no new file: the target is written where it stands.
    if (error == EACCES || error == EPERM || error == EROFS) return 0;
    cannotMake(name, error);
  }
  // The final permissions of a new target: those its creation where it
  // stands would give it.
  int mask = 0;
  if (!exists) {
    mask = umaskByProbe(dirFd_, targetBase_, error);
    if (mask < 0) {
      ::close(fd_);
      fd_ = -1;
      abandon();
      cannotMake(name, error);
    }
  }
  targetExisted_ = exists;
  if (exists) {
    copyInto_ = tb.st_nlink > 1;  // other hard links keep seeing it
    mode_ = tb.st_mode & 07777;
    uid_ = tb.st_uid;
    gid_ = tb.st_gid;
    dev_ = tb.st_dev;
    ino_ = tb.st_ino;
    // Copied into, the target keeps its own access list.
    if (!copyInto_) {
      if (const int e = accessListOf(dirFd_, targetBase_, accessList_); e != 0) {
        ::close(fd_);
        fd_ = -1;
        abandon();
        cannotMake(name, e);
      }
    }
  } else {
    mode_ = static_cast<mode_t>(0666 & ~mask);
  }
  way_ = Way::Beside;
  return 0;
}

// Gives the new file the replaced target's owner and group (where the
// process may), its access list, and the final permissions. The list goes
// before the permissions: it sets the group bits from its mask, which are
// the target's own, and the permissions then set the bits that the list
// does not hold (set-user-ID, set-group-ID, sticky) without changing it.
int Replacement::finalMode(int fd) const {
  if (targetExisted_ && ::fchown(fd, uid_, gid_) != 0) {
    if (::fchown(fd, static_cast<uid_t>(-1), gid_) != 0) {
      // Neither may be kept: the new file stays the process's own.
    }
  }
  if (targetExisted_) {
    if (const int e = setAccessList(fd, accessList_); e != 0) return e;
  }
  return ::fchmod(fd, mode_) == 0 ? 0 : errno;
}

int Replacement::commit(std::FILE* stream, std::string& operation) {
  int status = 0;
  const auto fail = [&](int e, const char* op) {
    if (status == 0) {
      status = e != 0 ? e : EIO;
      operation = op;
    }
  };
  const int fd = ::fileno(stream);
  if (std::fflush(stream) != 0) fail(errno, "write");
  // Copied into the target, the new file's own permissions do not matter.
  if (status == 0 && !copyInto_) {
    const int e = finalMode(fd);
    if (e != 0) fail(e, "write");
  }
  if (status == 0 && !copyInto_ && ::fsync(fd) != 0) fail(errno, "write");
  if (std::fclose(stream) != 0) fail(errno, "close");
  fd_ = -1;

  bool replaced = false;
  if (status == 0) {
    if (!copyInto_) {
      if (::renameat(dirFd_, tempBase_.c_str(), dirFd_, targetBase_.c_str()) == 0) {
        replaced = true;
        syncDirectory(dirFd_);
      } else if (errno == EPERM || errno == EACCES || errno == EBUSY) {
        copyInto_ = true;  // the directory refuses: the target is written in place
      } else {
        fail(errno, "write");
      }
    }
    if (copyInto_) {
      int e = 0;
      const int out = openTarget(dirFd_, targetBase_, e);
      if (out >= 0) {
        // A signal waits until the copy is done: the target is never left
        // half written.
        const SignalsHeld held;
        e = copyIntoTarget(dirFd_, tempBase_, out);
      }
      if (e != 0) fail(e, "write");
    }
  }
  if (replaced) {
    // The new file is the target now: nothing is left to remove.
    tempBase_.clear();
    unregisterTempFile(signalSlot_);
    signalSlot_ = -1;
  }
  abandon();
  return status;
}

void Replacement::abandon() {
  if (dirFd_ >= 0 && !tempBase_.empty()) ::unlinkat(dirFd_, tempBase_.c_str(), 0);
  tempBase_.clear();
  unregisterTempFile(signalSlot_);
  signalSlot_ = -1;
  closeDirectory();
}

void Replacement::closeDirectory() {
  if (dirFd_ >= 0) ::close(dirFd_);
  dirFd_ = -1;
}

void setTempSuffixSource(std::function<std::string()> source) {
  tempSuffixSource() = std::move(source);
}

}  // namespace rt
