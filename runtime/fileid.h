// Identity of files: whether two file names stand for one file.
//
// An existing file is known by its device and inode, whatever name reaches
// it ("./X" and "X", "a/../X", a symbolic link, a hard link). A name that
// does not exist yet is known by the file that writing under it would make:
// the real path of its directory and its last name, after following
// symbolic links to the file they point at, as the writing of a result file
// does (units.h). Files that are written through and never replaced are no
// file of the run's own and are never the same as another name: files that
// are not regular files (FIFOs, devices, sockets, directories) and the file
// that is the program's own standard output or standard error. Nor is a name
// that reaches no file and could make none (a directory that does not
// exist, a component that may not be searched).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

// Splits a path into its directory ("." when it has none, "/" for a name
// right under the root) and its last name.
void splitPath(const std::string& path, std::string& dir, std::string& base);

// Follows symbolic links from `name` to the name of the file they end at,
// which need not exist: the file that writing under `name` reaches or
// makes. Returns 0 or an errno value (ELOOP after 40 links).
int followLinks(const std::string& name, std::string& target);

// The real name of a directory (absolute, links resolved, no trailing
// slash but for the root); empty when it cannot be found.
std::string realDirectory(const std::string& dir);

// The descriptor, 1 or 2, of the standard stream (output or error) that is
// the file `sb`; -1 when neither is.
int standardStreamOf(const struct stat& sb);

struct FileId {
  enum class Kind {
    None,      // the same as no other file
    Existing,  // dev and ino
    New,       // path: the file that writing under the name would create
  };
  Kind kind = Kind::None;
  std::uint64_t dev = 0;
  std::uint64_t ino = 0;
  std::string path;
};

// The file that the text stands for, its name taken as fileNameOf takes it.
FileId fileIdOf(std::string_view name);

// True when both are one file; never for Kind::None.
bool sameFile(const FileId& a, const FileId& b);

}  // namespace rt
