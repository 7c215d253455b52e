// Test support shared by the tests of every folder: a fresh temporary
// directory per test, the content of a file, the request that opens a
// result file, an environment variable and a file-size limit set for a
// while, a small file system in a child's own mount namespace and its
// filling, access lists, system calls refused in a child, the sanitizer
// the tests are built with. Used by tests only.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/testsanitizer.h"
#include "runtime/units.h"

namespace rttest {

namespace fs = std::filesystem;

// An empty directory under the system's temporary directory, named after
// the tag, the process and the running test.
inline fs::path freshTempDir(const std::string& tag) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const fs::path dir = fs::temp_directory_path() /
                       (tag + "_" + std::string(info->test_suite_name()) + "_" +
                        std::to_string(::getpid()) + "_" + info->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// A chain of `levels` nested directories of 200-character names below
// `top` (22 of them go beyond the system's path limit of 4096 bytes):
// returns a descriptor of the deepest, which the caller closes, or -1; its
// name relative to `top` in `relative`. removeDeepTree removes it.
inline int makeDeepDirectory(const fs::path& top, int levels, std::string* relative = nullptr) {
  const std::string name(200, 'd');
  int dir = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int i = 0; i < levels && dir >= 0; ++i) {
    const int next = ::mkdirat(dir, name.c_str(), 0755) == 0
                         ? ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                         : -1;
    ::close(dir);
    dir = next;
    if (relative != nullptr) *relative += (i == 0 ? "" : "/") + name;
  }
  return dir;
}

// Removes a directory and everything in it, at any depth (the library's
// removal goes by whole names, which the system refuses beyond its limit).
inline void removeDeepTree(const fs::path& dir) {
  const std::string command = "rm -rf '" + dir.string() + "'";
  if (std::system(command.c_str()) != 0) {
    // Left for the system's cleaning of temporary files.
  }
}

// The whole content of a file, byte for byte; throws std::runtime_error
// when the file cannot be read (a missing file is no empty one).
inline std::string fileContent(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The request that opens a file as a result file (rt::FileRole::Result).
inline rt::OpenRequest resultRequest() {
  rt::OpenRequest req;
  req.role = rt::FileRole::Result;
  return req;
}

// Sets an environment variable (or removes it, for a null value) for the
// life of the object; the former state comes back afterwards.
class EnvVariable {
 public:
  EnvVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvVariable() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  EnvVariable(const EnvVariable&) = delete;
  EnvVariable& operator=(const EnvVariable&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Limits the size of the files the process writes to `bytes` for the life
// of the object, with SIGXFSZ ignored so that a write past the limit fails
// instead of ending the process; the former limit and handler come back
// afterwards. ok() is false when the limit could not be set.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0) return;
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved_;
    small.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~FileSizeLimit() {
    if (ok_) ::setrlimit(RLIMIT_FSIZE, &saved_);
    if (oldHandler_ != SIG_ERR) std::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  bool ok() const { return ok_; }

 private:
  rlimit saved_{};
  void (*oldHandler_)(int) = SIG_ERR;
  bool ok_ = false;
};

// For a child process that is thrown away afterwards: gives it a mount
// namespace of its own, so that the mounts it makes go with it. False, with
// errno set, where the machine does not allow it (only root may mount).
inline bool privateMountNamespace() {
  return ::unshare(CLONE_NEWNS) == 0 &&
         ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// For such a child: mounts in its own namespace a small file system, a
// tmpfs with `options` ("size=64k", "nr_inodes=16", "mode=755"), on the
// existing directory `dir`. False, with errno set, where the machine does
// not allow it.
inline bool mountPrivateTmpfs(const fs::path& dir, const std::string& options,
                              unsigned long flags = 0) {
  return privateMountNamespace() &&
         ::mount("tmpfs", dir.c_str(), "tmpfs", flags, options.c_str()) == 0;
}

// What fillDisk uses up on a small file system.
enum class Fill { Blocks, Inodes, BlocksAndInodes };

// Uses up the blocks (one file, fill.data, written until the disk is full)
// and then the inodes (empty files fill.0, fill.1, ...) of the small file
// system on `dir`, or only one of them.
inline void fillDisk(const fs::path& dir, Fill what) {
  if (what != Fill::Inodes) {
    const int data = ::open((dir / "fill.data").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string block(4096, 'f');
    while (data >= 0 && ::write(data, block.data(), block.size()) > 0) {
    }
    ::close(data);
  }
  if (what == Fill::Blocks) return;
  for (int i = 0;; ++i) {
    const int fd =
        ::open((dir / ("fill." + std::to_string(i))).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) break;
    ::close(fd);
  }
}

// A named user's entry of an access list: permissions 4 read, 2 write,
// 1 execute.
struct NamedUser {
  std::uint32_t uid;
  unsigned perm;
};

// An access list as the system stores it in the attribute
// system.posix_acl_access (version 2, entries of tag, permissions and id,
// little-endian, in the order of their tags): the owner, the named users,
// the group, the mask and the others.
inline std::string accessList(unsigned owner, const std::vector<NamedUser>& users, unsigned group,
                              unsigned mask, unsigned other) {
  std::string out;
  const auto put = [&out](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  };
  const auto entry = [&put](std::uint32_t tag, unsigned perm, std::uint32_t id) {
    put(tag, 2);
    put(perm, 2);
    put(id, 4);
  };
  constexpr std::uint32_t kNoId = 0xFFFFFFFFu;
  put(2, 4);
  entry(0x01, owner, kNoId);
  for (const NamedUser& u : users) entry(0x02, u.perm, u.uid);
  entry(0x04, group, kNoId);
  entry(0x10, mask, kNoId);
  entry(0x20, other, kNoId);
  return out;
}

// The access list of a file as the system gives it; empty when it has none.
inline std::string accessListOf(const fs::path& file) {
  std::string list(4096, '\0');
  const ssize_t n = ::getxattr(file.c_str(), "system.posix_acl_access", list.data(), list.size());
  list.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return list;
}

// Gives the file the access list, or its directory the default list for
// new files (`name` "system.posix_acl_default"); false, with errno set,
// where its file system takes none (ENOTSUP).
inline bool giveAccessList(const fs::path& file, const std::string& list,
                           const char* name = "system.posix_acl_access") {
  return ::setxattr(file.c_str(), name, list.data(), list.size(), 0) == 0;
}

// For a child process that is thrown away afterwards (and the programs it
// starts): each system call of `calls` (SYS_fsetxattr, say) fails from now
// on with `error` without reaching the system, as a file system that
// refuses it would fail it. False, with errno set, where the machine does
// not allow it.
inline bool refuseSystemCalls(const std::vector<long>& calls, int error) {
#if defined(__x86_64__)
  constexpr __u32 arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
  constexpr __u32 arch = AUDIT_ARCH_AARCH64;
#else
  constexpr __u32 arch = 0;
  errno = ENOSYS;
  return false;
#endif
  std::vector<sock_filter> filter = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
  };
  for (long call : calls) {
    filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(call), 0, 1));
    filter.push_back(BPF_STMT(BPF_RET | BPF_K,
                              SECCOMP_RET_ERRNO | (static_cast<__u32>(error) & SECCOMP_RET_DATA)));
  }
  filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  const sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

}  // namespace rttest
