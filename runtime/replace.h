// Replacement of a file whole: the new content is written to a new file
// beside the target, which takes the target's place only once it is
// complete and on the disk.
//
// The target is the file that its name leads to (runtime/fileid.h: the
// directory, held open, and the name there). The new file is created in
// that directory under the target's name followed by ".~" and ten random
// characters, exclusively and without following a link planted under that
// name, with owner access only; every step (the new file, the probe of the
// permissions, the rename, the copy, the removal) acts relative to the
// directory, at any depth. It is known to the process for removal on a
// signal (registerTempFile) from before it exists. At the commit it gets
// the target's permissions (a new target: those its creation would give
// it, 0666 less the umask or what the directory's default access list
// gives, as an empty file made so beside it shows) and, where the process
// may, its owner and group. A replaced target's access list
// (system.posix_acl_access, read at begin) goes with them; a target
// without one leaves the new file none, not even what the directory's
// default list gave it. A list that cannot be read is an input/output
// failure of the target at begin; one that the new file does not take
// fails the commit. Then the new file is synced and renamed over the
// target. A target with other hard links, or one whose directory refuses
// the rename (a sticky directory and another owner), keeps its inode (and
// its permissions and list): the finished content is copied into it once
// the disk has room for all of it, with signals held until the copy is
// done.
//
// Some targets are written where they stand, never beside (begin tells the
// caller so): a file that is not a regular file (FIFO, device, socket), a
// file that may only be read, and one in a directory that refuses new files
// by permission or lies on a read-only file system. A protected file of
// another user (runtime/fileid.h) is refused, and so is a regular file
// named by the link of an open file (/proc/self/fd/N), which the caller
// finds by its own name first. Any other failure to make the new file (no
// descriptor, no inode, no room, no memory, a failing disk) is an
// input/output failure of the target. The copy into a target opens it
// without waiting, and only while it is still a regular file: one that
// became a FIFO, say, fails the commit (ENXIO) and keeps what it holds.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <string>

#include "runtime/fileid.h"

namespace rt {

// A result file whose name reaches no file (`e`, from FilePlace::resolve):
// returns `e` when an open where it stands fails with it too (a directory
// that does not exist or may not be searched, a refused link, a loop of
// links); throws IoFailure naming `name`, operation "open", otherwise (no
// descriptor, no memory).
int unreachableResult(const std::string& name, int e);

class Replacement {
 public:
  enum class Way {
    Beside,   // a new file beside the target receives the content
    InPlace,  // the target is to be written where it stands (by the caller)
  };

  Replacement() = default;
  // A replacement neither committed nor abandoned is abandoned.
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Prepares the replacement of the file that `place` leads to, named
  // `name` in messages, opened with `status`: "OLD" (it must exist), "NEW"
  // (it must not) or any other (either). Returns 0 with way() set, or a
  // positive errno value when the file cannot be opened for the reason an
  // open where it stands would give (its status). Throws IoFailure naming
  // `name`, operation "open", when the new file cannot be made otherwise.
  // The place is not kept: the replacement holds the directory itself.
  // Called once for an object.
  int begin(const std::string& name, const FilePlace& place, const std::string& status);
  // The same for the file that `name` leads to (unreachableResult).
  int begin(const std::string& name, const std::string& status);

  Way way() const { return way_; }
  // Beside: the new file, open for reading and writing. The caller closes
  // it: through commit, or itself before abandon.
  int descriptor() const { return fd_; }
  // Beside: the target existed, and what it is on disk.
  bool targetExisted() const { return targetExisted_; }
  dev_t targetDevice() const { return dev_; }
  ino_t targetInode() const { return ino_; }

  // Puts the new file in place of the target. `stream` is the caller's
  // stream on descriptor(): it is flushed and closed here in any case.
  // Returns 0, or an errno value with the failed step in `operation`
  // ("write" or "close"); the new file is gone afterwards. After a failure
  // a replaced target is as it was; a target copied into is too, unless
  // the copy itself fails once begun (a file system that cannot reserve
  // the room first, a failing disk): it is then cut or mixed, and the
  // failure says so.
  int commit(std::FILE* stream, std::string& operation);

  // Removes the new file; the target stays as it was. Does nothing when
  // there is none (anymore).
  void abandon();

 private:
  int finalMode(int fd) const;
  void closeDirectory();

  Way way_ = Way::InPlace;
  int fd_ = -1;
  int dirFd_ = -1;           // the target's directory
  std::string targetBase_;   // the target's name in it
  std::string tempBase_;     // the new file's name in it; empty when there is none
  int signalSlot_ = -1;      // the new file's entry for removal on a signal
  bool targetExisted_ = false;
  bool copyInto_ = false;    // the target keeps its inode: the content is copied into it
  mode_t mode_ = 0;          // the final permissions
  std::string accessList_;   // the target's access list; empty: none
  uid_t uid_ = 0;            // the target's owner and group
  gid_t gid_ = 0;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

// Test hook: the source of the random part of the names of new files beside
// targets; an empty function restores the random one.
void setTempSuffixSource(std::function<std::string()> source);

}  // namespace rt
