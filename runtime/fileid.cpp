// Where a file name leads: the directory that holds the file and its name.
#include "runtime/fileid.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <utility>

#include "runtime/text.h"

namespace rt {

namespace {

constexpr int kMaxLinks = 40;

// Puts the components of `path` in front of those still to resolve.
void pushComponents(std::deque<std::string>& rest, std::string_view path) {
  std::deque<std::string> parts;
  std::size_t pos = 0;
  while (pos < path.size()) {
    const std::size_t slash = path.find('/', pos);
    const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
    if (end > pos) parts.emplace_back(path.substr(pos, end - pos));
    pos = end + 1;
  }
  rest.insert(rest.begin(), parts.begin(), parts.end());
}

// The links of the process file system lead to open files, not to names.
bool inProcessFileSystem(int dir) {
  struct statfs fs {};
  const int r = dir == AT_FDCWD ? ::statfs(".", &fs) : ::fstatfs(dir, &fs);
  return r == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// What the directory is (the working directory too).
int directoryStatus(int dir, struct stat& sb) {
  return ::fstatat(dir, "", &sb, AT_EMPTY_PATH) == 0 ? 0 : errno;
}

void closeHeld(int dir) {
  if (dir >= 0) ::close(dir);
}

int openDirectoryAt(int dir, const char* name, int extra = 0) {
  return ::openat(dir, name, O_PATH | O_DIRECTORY | O_CLOEXEC | extra);
}

// True for a file opened for writing: the protected files are not.
bool writes(int flags) { return (flags & O_ACCMODE) != O_RDONLY || (flags & O_TRUNC) != 0; }

}  // namespace

bool trustedInDirectory(int dir, const struct stat& file) {
  struct stat ds {};
  if (directoryStatus(dir, ds) != 0) return false;
  const bool shared = (ds.st_mode & S_ISVTX) != 0 && (ds.st_mode & S_IWOTH) != 0;
  return !shared || file.st_uid == ::geteuid() || file.st_uid == ds.st_uid;
}

std::string fileNameOf(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return trimRight(text.substr(first));
}

FilePlace::FilePlace(FilePlace&& other) noexcept { take(other); }

FilePlace& FilePlace::operator=(FilePlace&& other) noexcept {
  if (this != &other) {
    closeDirectory();
    take(other);
  }
  return *this;
}

void FilePlace::take(FilePlace& other) noexcept {
  resolved_ = other.resolved_;
  dir_ = std::exchange(other.dir_, -1);
  dirDev_ = other.dirDev_;
  dirIno_ = other.dirIno_;
  base_ = std::move(other.base_);
  exists_ = other.exists_;
  systemLink_ = other.systemLink_;
  writeProtected_ = other.writeProtected_;
  status_ = other.status_;
  other.resolved_ = false;
}

int FilePlace::resolve(const std::string& name) {
  closeDirectory();
  *this = FilePlace();
  if (name.empty()) return ENOENT;
  // A name relative to the working directory starts there: the process
  // holds that directory already.
  int dir = AT_FDCWD;
  if (name[0] == '/' && (dir = openDirectoryAt(AT_FDCWD, "/")) < 0) return errno;
  const auto fail = [&dir](int e) {
    closeHeld(dir);
    return e;
  };
  const auto enter = [&dir](int next) {
    closeHeld(dir);
    dir = next;
  };
  std::deque<std::string> rest;
  pushComponents(rest, name);
  // A name that ends in a slash names a directory.
  bool endsInDirectory = name.back() == '/';
  int links = 0;
  std::string base;
  while (!rest.empty()) {
    const std::string c = std::move(rest.front());
    rest.pop_front();
    const bool last = rest.empty() && !endsInDirectory;
    if (c == ".") continue;
    if (c == "..") {
      const int parent = openDirectoryAt(dir, "..");
      if (parent < 0) return fail(errno);
      enter(parent);
      continue;
    }
    struct stat ls {};
    if (::fstatat(dir, c.c_str(), &ls, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT && last) {
        base = c;  // a file that does not exist yet
        break;
      }
      return fail(errno);
    }
    if (S_ISLNK(ls.st_mode) && inProcessFileSystem(dir)) {
      if (last) {
        if (::fstatat(dir, c.c_str(), &status_, 0) == 0) {
          exists_ = true;
        } else if (errno != ENOENT) {
          return fail(errno);
        }
        systemLink_ = true;
        base = c;
        break;
      }
      const int next = openDirectoryAt(dir, c.c_str());
      if (next < 0) return fail(errno);
      enter(next);
      continue;
    }
    if (S_ISLNK(ls.st_mode)) {
      if (++links > kMaxLinks) return fail(ELOOP);
      if (!trustedInDirectory(dir, ls)) return fail(EACCES);
      std::string target(PATH_MAX, '\0');
      const ssize_t n = ::readlinkat(dir, c.c_str(), target.data(), target.size());
      if (n < 0) return fail(errno);
      if (static_cast<std::size_t>(n) >= target.size()) return fail(ENAMETOOLONG);
      target.resize(static_cast<std::size_t>(n));
      if (target.empty()) return fail(ENOENT);
      if (target[0] == '/') {
        const int root = openDirectoryAt(AT_FDCWD, "/");
        if (root < 0) return fail(errno);
        enter(root);
      }
      if (rest.empty() && target.back() == '/') endsInDirectory = true;
      pushComponents(rest, target);
      continue;
    }
    if (last) {
      base = c;
      exists_ = true;
      status_ = ls;
      writeProtected_ =
          (S_ISREG(ls.st_mode) || S_ISFIFO(ls.st_mode)) && !trustedInDirectory(dir, ls);
      break;
    }
    if (!S_ISDIR(ls.st_mode)) return fail(ENOTDIR);
    const int next = openDirectoryAt(dir, c.c_str(), O_NOFOLLOW);
    if (next < 0) return fail(errno);
    enter(next);
  }
  struct stat ds {};
  if (const int e = directoryStatus(dir, ds); e != 0) return fail(e);
  if (base.empty()) {
    // The name leads to the directory itself.
    base.assign(1, '.');
    exists_ = true;
    status_ = ds;
  }
  dir_ = dir;
  dirDev_ = ds.st_dev;
  dirIno_ = ds.st_ino;
  base_ = std::move(base);
  resolved_ = true;
  return 0;
}

int FilePlace::open(int flags, mode_t mode) const {
  if (dir_ == -1) {
    errno = EBADF;
    return -1;
  }
  if (writeProtected_ && writes(flags)) {
    errno = EACCES;
    return -1;
  }
  return ::openat(dir_, base_.c_str(), flags | O_CLOEXEC | (systemLink_ ? 0 : O_NOFOLLOW), mode);
}

int FilePlace::resolveOpenFile(FilePlace& file) const {
  file = FilePlace();
  if (!systemLink_ || !exists_ || !S_ISREG(status_.st_mode)) return ENOENT;
  std::string name(PATH_MAX, '\0');
  const ssize_t n = ::readlinkat(dir_, base_.c_str(), name.data(), name.size());
  if (n < 0) return errno;
  if (static_cast<std::size_t>(n) >= name.size()) return ENAMETOOLONG;
  name.resize(static_cast<std::size_t>(n));
  // The system names the file by its whole name from the root; a file
  // removed since it was opened keeps a name with " (deleted)" added, which
  // leads to another file or to none.
  if (name.empty() || name[0] != '/') return ENOENT;
  if (const int e = file.resolve(name); e != 0) return e;
  const struct stat& sb = file.status();
  if (!file.exists() || file.systemLink() || sb.st_dev != status_.st_dev ||
      sb.st_ino != status_.st_ino) {
    file = FilePlace();
    return ENOENT;
  }
  return 0;
}

int FilePlace::remove() const {
  if (dir_ == -1) return EBADF;
  return ::unlinkat(dir_, base_.c_str(), 0) == 0 ? 0 : errno;
}

int FilePlace::holdDirectory() const {
  if (dir_ == -1) {
    errno = EBADF;
    return -1;
  }
  if (dir_ == AT_FDCWD) return openDirectoryAt(AT_FDCWD, ".");
  return ::fcntl(dir_, F_DUPFD_CLOEXEC, 0);
}

void FilePlace::closeDirectory() {
  closeHeld(dir_);
  dir_ = -1;
}

bool FilePlace::sameNameAs(const FilePlace& other) const {
  return resolved_ && other.resolved_ && dirDev_ == other.dirDev_ && dirIno_ == other.dirIno_ &&
         base_ == other.base_;
}

int standardStreamOf(const struct stat& sb) {
  for (int fd : {1, 2}) {
    struct stat cb {};
    if (::fstat(fd, &cb) == 0 && cb.st_dev == sb.st_dev && cb.st_ino == sb.st_ino) return fd;
  }
  return -1;
}

bool unreachableName(int e) {
  return e == ENOENT || e == ENOTDIR || e == EACCES || e == ELOOP || e == ENAMETOOLONG;
}

namespace {

// The run's user may access `base` in `dir` so (faccessat's modes): 0 or
// the errno value.
int accessAt(int dir, const char* base, int mode) {
  return ::faccessat(dir, base, mode, AT_EACCESS) == 0 ? 0 : errno;
}

// The directory lets the run's user remove the file `sb` from it: in a
// sticky directory only the owner of the file or of the directory, or a
// user with the power over every file's owner (taken as the superuser).
bool mayRemoveFrom(int dir, const struct stat& sb) {
  struct stat ds {};
  if (directoryStatus(dir, ds) != 0) return false;
  const uid_t me = ::geteuid();
  return (ds.st_mode & S_ISVTX) == 0 || me == 0 || sb.st_uid == me || ds.st_uid == me;
}

}  // namespace

int writeAccess(const FilePlace& place, Writing way) {
  const int dir = place.directory();
  const char* base = place.base().c_str();
  const struct stat& sb = place.status();
  const auto inPlace = [&] { return accessAt(dir, base, R_OK | W_OK); };
  if (place.exists()) {
    if (standardStreamOf(sb) >= 0) return 0;
    if (S_ISDIR(sb.st_mode)) return EISDIR;
    if (place.writeProtected()) return EACCES;
    if (fifoOrDevice(sb)) return accessAt(dir, base, W_OK);
    if (place.systemLink() || !S_ISREG(sb.st_mode)) return inPlace();
    if (way == Writing::Replace) {
      if (const int e = accessAt(dir, base, W_OK); e != 0) return e;
      return accessAt(dir, ".", W_OK) == 0 ? 0 : inPlace();
    }
    if (const int e = accessAt(dir, ".", W_OK); e != 0) return e;
    return mayRemoveFrom(dir, sb) ? 0 : EPERM;
  }
  return accessAt(dir, ".", W_OK);
}

FileId fileIdOf(const FilePlace& place) {
  FileId id;
  if (!place.resolved()) return id;
  if (place.exists()) {
    const struct stat& sb = place.status();
    if (!S_ISREG(sb.st_mode) || standardStreamOf(sb) >= 0) return id;
    id.kind = FileId::Kind::Existing;
    id.dev = static_cast<std::uint64_t>(sb.st_dev);
    id.ino = static_cast<std::uint64_t>(sb.st_ino);
    return id;
  }
  id.kind = FileId::Kind::New;
  id.dev = static_cast<std::uint64_t>(place.directoryDevice());
  id.ino = static_cast<std::uint64_t>(place.directoryInode());
  id.base = place.base();
  return id;
}

FileId fileIdOf(std::string_view text) {
  FilePlace place;
  if (place.resolve(fileNameOf(text)) != 0) return {};
  return fileIdOf(place);
}

bool sameFile(const FileId& a, const FileId& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case FileId::Kind::Existing:
      return a.dev == b.dev && a.ino == b.ino;
    case FileId::Kind::New:
      return a.dev == b.dev && a.ino == b.ino && a.base == b.base;
    case FileId::Kind::None:
      break;
  }
  return false;
}

}  // namespace rt
