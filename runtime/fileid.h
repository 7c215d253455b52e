// Where a file name leads: the one answer to "which file is this", for the
// opening and inquiry of units, the check of names, the replacement of
// result files, the merge lock and every removal.
//
// A name is resolved once, as the system resolves it for the run's user,
// component by component from the working directory (or from the root for
// an absolute name), so that a name works at any depth of directories:
//  - "." stays and ".." goes to the parent of the directory reached so far,
//    as the system takes them: "a/../X" with `a` a link to a directory is X
//    beside the directory that `a` leads to, never the X beside `a`;
//  - symbolic links are followed, at most 40 in a name (ELOOP), under the
//    system's rule for protected links whatever the machine's setting: a
//    link in a sticky directory that everyone may write is followed only
//    when it belongs to the run's user (effective user) or to the owner of
//    that directory; otherwise the name is refused (EACCES);
//  - the same rule protects FIFOs and regular files there, as the system's
//    rule for protected FIFOs and regular files does: an existing one that
//    belongs to neither of them is reached, and may be read, but is never
//    opened for writing (open: EACCES);
//  - the links of the process file system (/proc/self/fd/N, which
//    /dev/stdout leads to) stand for open files rather than for names: the
//    system follows them itself (resolveOpenFile finds the name of a
//    regular file behind one).
// The answer (FilePlace) is the directory that holds the file, held open
// and known by device and inode, the file's name in it, and what the file
// is when it exists. Whatever is opened, made, renamed or removed under
// the name is so relative to that directory, never by the name again.
//
// Two names are one file when they reach the same existing file (device
// and inode: "./X", "X", "a/../X", a link, a hard link, a second mount of
// its directory) or, for a file that does not exist yet, the same
// directory (device and inode) and the same name in it. Files that are
// written through and never replaced are no file of the run's own and are
// never the same as another name: files that are not regular files (FIFOs,
// devices, sockets, directories) and the file that is the program's own
// standard output or standard error. Nor is a name that reaches no file
// and could make none (a directory that does not exist, a component that
// may not be searched, a refused link).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

// The file name that a text stands for: the text without its leading blanks
// and without its trailing blanks and NULs. Opening and inquiring by name
// both take the name through it, so a name is the same file everywhere.
std::string fileNameOf(std::string_view text);

class FilePlace {
 public:
  FilePlace() = default;
  ~FilePlace() { closeDirectory(); }
  // Moved, the directory goes with the place.
  FilePlace(FilePlace&& other) noexcept;
  FilePlace& operator=(FilePlace&& other) noexcept;
  FilePlace(const FilePlace&) = delete;
  FilePlace& operator=(const FilePlace&) = delete;

  // Resolves `name` as it is given (see above). Returns 0, or an errno
  // value with nothing resolved: ENOENT (an empty name, a directory on the
  // way that does not exist), ENOTDIR, EACCES (a directory that may not be
  // searched, a refused link), ELOOP, ENAMETOOLONG, EMFILE.
  int resolve(const std::string& name);
  bool resolved() const { return resolved_; }

  // The directory, for use as the directory of the *at calls: a descriptor
  // held open, or AT_FDCWD for the working directory, which the process
  // holds (the program never changes it); -1 once closeDirectory has been
  // called (the identity stays).
  int directory() const { return dir_; }
  // A descriptor of the directory of the caller's own (to close), or -1
  // with errno.
  int holdDirectory() const;
  dev_t directoryDevice() const { return dirDev_; }
  ino_t directoryInode() const { return dirIno_; }
  // The file's name in the directory: "." when the name leads to the
  // directory itself ("sub/..", "dir/").
  const std::string& base() const { return base_; }

  // The file exists, and what it is (links followed).
  bool exists() const { return exists_; }
  const struct stat& status() const { return status_; }
  // The name in the directory is a link of an open file that the system
  // follows (/proc/self/fd/N): the file has no directory of its own here.
  bool systemLink() const { return systemLink_; }
  // The file is a protected FIFO or regular file (see above): it is not
  // opened for writing.
  bool writeProtected() const { return writeProtected_; }

  // For a place that is the link of an open regular file (systemLink):
  // resolves `file` to that file under its own name, the one that the
  // system gives for the link, taken only when it leads to that very file
  // (device and inode). Returns 0, an errno value of resolve, or ENOENT
  // when the file has no such name (it was removed, or it lies beyond the
  // run's view of the file system).
  int resolveOpenFile(FilePlace& file) const;

  // Opens the file as open(2) would with `flags` (O_CLOEXEC added); a link
  // put under the name since it was resolved is not followed (ELOOP). A
  // protected file is not opened for writing (EACCES). Returns the
  // descriptor or -1 with errno.
  int open(int flags, mode_t mode = 0) const;
  // Removes the file from the directory: 0 or an errno value.
  int remove() const;

  // Lets the directory go; the place keeps telling which file it is.
  void closeDirectory();

  // The same directory and the same name in it.
  bool sameNameAs(const FilePlace& other) const;

 private:
  void take(FilePlace& other) noexcept;

  bool resolved_ = false;
  int dir_ = -1;
  dev_t dirDev_ = 0;
  ino_t dirIno_ = 0;
  std::string base_;
  bool exists_ = false;
  bool systemLink_ = false;  // the name in the directory is a link the system follows
  bool writeProtected_ = false;
  struct stat status_ {};
};

// The rule for protected links, FIFOs and regular files (see above): false
// when the directory `dir` (a descriptor, or AT_FDCWD) is a sticky
// directory that everyone may write and `file` belongs neither to the
// run's user nor to the directory's owner (or the directory cannot be
// looked at).
bool trustedInDirectory(int dir, const struct stat& file);

// The descriptor, 1 or 2, of the standard stream (output or error) that is
// the file `sb`; -1 when neither is.
int standardStreamOf(const struct stat& sb);

// An errno value of FilePlace::resolve that tells of the name: it reaches
// no file and could make none (ENOENT, ENOTDIR, EACCES, ELOOP,
// ENAMETOOLONG), and an open by that name fails with it as well. Any other
// value (EMFILE) tells of the process, not of the name.
bool unreachableName(int e);

// How the run writes a file that it names for output.
enum class Writing {
  Replace,  // a result file: replaced whole, or written where it stands (runtime/replace.h)
  Renew,    // a system file: an old regular file removed, a new one made in its place
};

// A FIFO or a device: the kind of file that an output or a result is
// opened for writing only (runtime/units.h), never for reading as well.
inline bool fifoOrDevice(const struct stat& sb) {
  return S_ISFIFO(sb.st_mode) || S_ISCHR(sb.st_mode) || S_ISBLK(sb.st_mode);
}

// Whether the run's user (effective user and groups) may write the file
// that `place` leads to in the given way, decided from what the system
// tells now by the facts that the opening decides by. Returns 0, or the
// errno value of the step that would fail:
//  - the program's own standard output or error: written through the
//    stream, 0;
//  - a directory: EISDIR;
//  - a protected FIFO or regular file of another user (writeProtected):
//    EACCES;
//  - a FIFO or a device: opened for writing only, it must allow writing;
//  - a file written where it stands (the link of an open file; a result
//    file in a directory that takes no new files): opened for reading and
//    writing, it must allow both;
//  - Replace, an existing regular file: it must be writable (a file that
//    may only be read is not replaced, and a write to it would fail); its
//    new content goes beside it when the directory takes new files, into
//    it otherwise;
//  - Renew, an existing regular file: its directory must let the run
//    remove it (writable; in a sticky directory the file or the directory
//    of the run's user) and make the new one;
//  - a file that does not exist yet: its directory must take new files.
// A read-only file system answers EROFS.
int writeAccess(const FilePlace& place, Writing way);

// What a name stands for in the check of names (see above).
struct FileId {
  enum class Kind {
    None,      // the same as no other file
    Existing,  // dev and ino of the file
    New,       // dev and ino of the directory, and base: the file that writing would make
  };
  Kind kind = Kind::None;
  std::uint64_t dev = 0;
  std::uint64_t ino = 0;
  std::string base;
};

// The file that the text stands for, its name taken as fileNameOf takes it.
FileId fileIdOf(std::string_view name);
// The identity of a resolved place.
FileId fileIdOf(const FilePlace& place);

// True when both are one file; never for Kind::None.
bool sameFile(const FileId& a, const FileId& b);

}  // namespace rt
