// Identity of files: whether two file names stand for one file.
#include "runtime/fileid.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "runtime/units.h"

namespace rt {

void splitPath(const std::string& path, std::string& dir, std::string& base) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    dir.assign(1, '.');
    base = path;
  } else {
    dir = path.substr(0, slash == 0 ? 1 : slash);
    base = path.substr(slash + 1);
  }
}

int followLinks(const std::string& name, std::string& target) {
  std::string current = name;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat sb {};
    if (::lstat(current.c_str(), &sb) != 0) {
      if (errno != ENOENT) return errno;
      target = current;
      return 0;
    }
    if (!S_ISLNK(sb.st_mode)) {
      target = current;
      return 0;
    }
    std::vector<char> buf(static_cast<std::size_t>(PATH_MAX) + 1);
    const ssize_t n = ::readlink(current.c_str(), buf.data(), buf.size() - 1);
    if (n < 0) return errno;
    const std::string link(buf.data(), static_cast<std::size_t>(n));
    if (!link.empty() && link[0] == '/') {
      current = link;
    } else {
      std::string dir, base;
      splitPath(current, dir, base);
      current = dir + "/" + link;
    }
  }
  return ELOOP;
}

std::string realDirectory(const std::string& dir) {
  char* real = ::realpath(dir.c_str(), nullptr);
  if (real == nullptr) return {};
  std::string abs = real;
  std::free(real);
  return abs;
}

int standardStreamOf(const struct stat& sb) {
  for (int fd : {1, 2}) {
    struct stat cb {};
    if (::fstat(fd, &cb) == 0 && cb.st_dev == sb.st_dev && cb.st_ino == sb.st_ino) return fd;
  }
  return -1;
}

FileId fileIdOf(std::string_view text) {
  FileId id;
  const std::string name = fileNameOf(text);
  if (name.empty()) return id;

  struct stat sb {};
  if (::stat(name.c_str(), &sb) == 0) {
    if (!S_ISREG(sb.st_mode) || standardStreamOf(sb) >= 0) return id;
    id.kind = FileId::Kind::Existing;
    id.dev = static_cast<std::uint64_t>(sb.st_dev);
    id.ino = static_cast<std::uint64_t>(sb.st_ino);
    return id;
  }
  if (errno != ENOENT) return id;

  // The name of the file that writing under it would make (the name itself
  // does not exist, so neither does the file its links end at).
  std::string target;
  if (followLinks(name, target) != 0) return id;
  std::string dir, base;
  splitPath(target, dir, base);
  if (base.empty() || base == "." || base == "..") return id;
  std::string absDir = realDirectory(dir);
  if (absDir.empty()) return id;
  if (absDir.back() != '/') absDir.push_back('/');
  id.kind = FileId::Kind::New;
  id.path = absDir + base;
  return id;
}

bool sameFile(const FileId& a, const FileId& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case FileId::Kind::Existing:
      return a.dev == b.dev && a.ino == b.ino;
    case FileId::Kind::New:
      return a.path == b.path;
    case FileId::Kind::None:
      break;
  }
  return false;
}

}  // namespace rt
