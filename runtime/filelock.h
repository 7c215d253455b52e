// An exclusive advisory lock for those who replace or create a file.
#pragma once

#include <string>

namespace rt {

// Holds an exclusive lock (flock) from lock() until release() or its
// destruction on the directory of a file: the directory that its name
// leads to (runtime/fileid.h), where the result-file writer makes and
// renames the file. A file that exists and
// one that does not exist yet thus share one lock, and the lock leaves no
// file behind. It binds only those who lock a file of the same directory
// (so they take turns whatever file of it they lock): readers that do not
// lock are never held up.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Locks the directory of the file that `path` names, waiting while
  // another process holds its lock. After the wait the name must still lead
  // to the locked directory: when it leads to another one meanwhile (a link
  // changed, the directory replaced), that one is locked instead. Returns 0,
  // or an errno value with nothing locked: the name leads to no directory
  // (FilePlace::resolve), the directory may not be read (EACCES), or its
  // file system has no locks.
  int lock(const std::string& path);
  void release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace rt
