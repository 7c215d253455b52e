// An exclusive advisory lock on an existing file.
#pragma once

#include <string>

namespace rt {

// Holds an exclusive lock (flock) on a file from lock() until release() or
// its destruction. The lock is taken on the file itself, so it leaves no
// file behind, and it binds only those who lock the same file: readers
// that do not lock are never held up.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Locks the file that `path` names, waiting while another process holds
  // its lock. After the wait the name must still name the locked file: when
  // another process has meanwhile put a new file in its place, the new file
  // is locked instead. Returns 0, or an errno value with nothing locked
  // (ENOENT: there is no file of that name).
  int lock(const std::string& path);
  void release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace rt
