// Test support shared by the tests of every folder: a fresh temporary
// directory per test, the content of a file, the request that opens a
// result file, an environment variable and a file-size limit set for a
// while, a working directory for a while, a small file system in a
// child's own mount namespace and its filling, access lists, system
// calls refused in a child, another user to run things as, the sanitizer
// the tests are built with. Used by tests only.
#pragma once

#include <fcntl.h>
#include <grp.h>
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
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
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

// Makes `dir` the working directory of the process for the life of the
// object; the former one comes back afterwards. Names relative to it stay
// short whatever the length of the temporary directory's path, for the
// fields that hold a name in a fixed width (a keyword value of 255
// characters, a title, a socket's address of 107 bytes).
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const fs::path& dir) : former_(fs::current_path()) {
    fs::current_path(dir);
  }
  ~WorkingDirectory() {
    std::error_code ec;
    fs::current_path(former_, ec);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  fs::path former_;
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

// For a child process that is thrown away afterwards (and the programs it
// starts): a new thread of the process from now on meets `action` (a
// seccomp return value: SECCOMP_RET_KILL_PROCESS, the process dies at its
// first thread; SECCOMP_RET_ERRNO | EAGAIN, the system refuses it). clone3,
// whose flags a filter cannot see, is not there, so that the C library
// falls back to clone. False where the filter cannot be installed.
inline bool filterThreads(std::uint32_t action) {
#if defined(__x86_64__)
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 0, 3),
      // The low half of the flags (the machine is little-endian).
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, CLONE_THREAD, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, action),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
#else
  (void)action;
  return false;
#endif
}

// True once the child `pid` waits in an open for writing only (of a FIFO
// without a reader, say); false when it ends, or does something else for
// `seconds`.
inline bool waitsToWrite(pid_t pid, int seconds = 120) {
  const std::string file = "/proc/" + std::to_string(pid) + "/syscall";
  for (long i = 0; i < 1000L * seconds; ++i) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid == pid)
      return false;  // ended
    std::ifstream in(file);
    long number = -1;  // none while it runs
    unsigned long args[3] = {};
    if (in >> number && (number == SYS_openat || number == SYS_open) &&
        (in >> std::hex >> args[0] >> args[1] >> args[2])) {
      const unsigned long flags = number == SYS_openat ? args[2] : args[1];
      if ((flags & O_ACCMODE) == O_WRONLY) return true;
    }
    ::usleep(1000);
  }
  return false;
}

// ---- Another user ----
//
// Tests that run something as a user other than the run's own (the program,
// or a piece of it in a child process) take the user nobody. Only root can
// become another user, and that user reaches only what every user may: a
// private temporary directory (mode 0700), a umask of 077 or a build below
// a private directory keep it out. Such a test first asks whyNobodyCannot
// about everything the other user needs, and skips with the answer.

inline constexpr uid_t kNobodyUid = 65534;
inline constexpr gid_t kNobodyGid = 65534;

// In a child process that is thrown away afterwards: becomes the user
// nobody, without supplementary groups. False when the system refuses.
inline bool becomeNobody() {
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobodyGid) == 0 && ::setuid(kNobodyUid) == 0;
}

// The exit status of a child that could not become the user nobody.
inline constexpr int kCannotBecomeNobody = 125;

// Runs `body` in a child process as the user nobody: its exit status, 0
// when `body` returns true, 1 when it returns false or throws;
// kCannotBecomeNobody when the child cannot become that user (not root,
// say), -1 when there is no child.
inline int runAsNobody(const std::function<bool()>& body) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::geteuid() != 0 || !becomeNobody()) ::_exit(kCannotBecomeNobody);
    bool ok = false;
    try {
      ok = body();
    } catch (...) {
    }
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Empty when the user nobody can be become and has the access `mode`
// (R_OK, W_OK, X_OK or F_OK, as access(2) takes it) to `path`, every
// directory on the way to it searched; otherwise the reason it cannot, for
// a skip.
inline std::string whyNobodyCannot(const fs::path& path, int mode) {
  if (::geteuid() != 0) return "only root can run anything as another user (here uid " +
                               std::to_string(::geteuid()) + ")";
  // The errno value of the refusal comes back in the exit status.
  const int status = runAsNobody([&path, mode] {
    if (::access(path.c_str(), mode) == 0) ::_exit(0);
    ::_exit(errno > 0 && errno < 100 ? 100 + errno : 1);
    return false;
  });
  if (status == 0) return "";
  if (status == kCannotBecomeNobody) return "cannot become the user nobody (uid 65534)";
  std::string access;
  if (mode & R_OK) access += "read ";
  if (mode & W_OK) access += "write ";
  if (mode & X_OK) access += "execute ";
  if (access.empty()) access = "any ";
  return "the user nobody has no " + access + "access to " + path.string() +
         (status > 100 ? std::string(": ") + std::strerror(status - 100) : std::string());
}

// Lets every user read the files below `dir` and read and search its
// directories, `dir` itself included, whatever the umask made them (write
// permission stays as it is; links are left alone).
inline void letEveryoneRead(const fs::path& dir) {
  const auto open = [](const fs::path& p, bool directory) {
    fs::perms add = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    if (directory) add |= fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    fs::permissions(p, add, fs::perm_options::add);
  };
  open(dir, true);
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (!e.is_symlink()) open(e.path(), e.is_directory());
}

}  // namespace rttest
