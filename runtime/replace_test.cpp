// Tests of the replacement of a file whole: failures to make the new file
// beside the target, the targets that are written in place, the failures
// that are the target's own open failures, the permissions of the new file
// while it is written, an access list that cannot be carried over, and
// abandoning it.
#include "runtime/replace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "runtime/process.h"
#include "runtime/testsupport.h"

namespace fs = std::filesystem;

namespace {

// The descriptor of a child's report: above every descriptor that a test
// closes in the child.
constexpr int kReportFd = 200;

// Thrown in a child: the case cannot be set up on this machine.
struct Skip {
  std::string reason;
};

struct ChildOutcome {
  bool skipped = false;
  std::string text;  // what the child reported, or why it skipped
};

// Runs `body` in a child process and returns the text it gives back.
ChildOutcome inChild(const std::function<std::string()>& body) {
  int fds[2] = {-1, -1};
  if (::pipe(fds) != 0) return {false, "pipe failed"};
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    if (::dup2(fds[1], kReportFd) < 0) ::_exit(1);
    ::close(fds[1]);
    std::string text;
    int code = 0;
    try {
      text = body();
    } catch (const Skip& s) {
      text = s.reason;
      code = 77;
    } catch (const std::exception& e) {
      text = std::string("exception: ") + e.what();
    }
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t n = ::write(kReportFd, text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::_exit(code);
  }
  ::close(fds[1]);
  ChildOutcome outcome;
  char buf[4096];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    outcome.text.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  outcome.skipped = WIFEXITED(status) && WEXITSTATUS(status) == 77;
  if (!WIFEXITED(status)) outcome.text += " (child ended by a signal)";
  return outcome;
}

// In a child: a mount namespace of the child's own, with a tmpfs of the
// given options mounted on `dir`.
void mountSmallDisk(const fs::path& dir, const std::string& options, unsigned long flags = 0) {
  if (::geteuid() != 0) throw Skip{"needs root to mount a small file system"};
  fs::create_directories(dir);
  if (!rttest::mountPrivateTmpfs(dir, options, flags))
    throw Skip{std::string("cannot mount a small file system here: ") + std::strerror(errno)};
}

// Replaces `target` by `content` through rt::Replacement and tells, in one
// line, what happened.
std::string replaceWith(const std::string& target, const std::string& content,
                        const std::string& status = "UNKNOWN") {
  rt::Replacement r;
  int e = 0;
  try {
    e = r.begin(target, status);
  } catch (const rt::IoFailure& failure) {
    return std::string("failure: ") + failure.what();
  }
  if (e != 0) return std::string("status: ") + std::strerror(e);
  if (r.way() == rt::Replacement::Way::InPlace) return "in place";
  std::FILE* f = ::fdopen(r.descriptor(), "w");
  if (f == nullptr) return "fdopen failed";
  std::fputs(content.c_str(), f);
  std::string operation;
  const int c = r.commit(f, operation);
  if (c != 0) return "commit: " + operation + ": " + std::strerror(c);
  return "replaced";
}

class Replace : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = rttest::freshTempDir("replace_test"); }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void put(const std::string& name, const std::string& content) const {
    std::ofstream(path(name), std::ios::binary) << content;
  }
  std::string get(const std::string& name) const { return rttest::fileContent(path(name)); }
  // The entries of a directory of the test that mark a new file beside a
  // target.
  std::vector<std::string> newFiles(const std::string& sub = "") const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_ / sub)) {
      const std::string name = e.path().filename().string();
      if (name.find(".~") != std::string::npos) out.push_back(name);
    }
    return out;
  }

  fs::path dir_;
};

TEST_F(Replace, FailuresToMakeTheNewFileEndTheRun) {
  // The target keeps its old content and no new file is left; the failure
  // names the target.
  using rttest::Fill;
  struct Case {
    const char* what;
    int freeDescriptors;       // descriptors the child may still open; -1: no limit
    const char* mount;         // options of a small file system for the target; null: none
    std::optional<Fill> fill;  // what is used up on it
    const char* want;          // after the path of the target
  };
  const Case cases[] = {
      {"no descriptor for the directory", 0, nullptr, std::nullopt,
       ": Too many open files"},
      {"no descriptor for the new file", 1, nullptr, std::nullopt, ": Too many open files"},
      {"no inode left", -1, "nr_inodes=16,size=1m", Fill::Inodes, ": No space left on device"},
      {"no block left", -1, "size=64k", Fill::Blocks, ""},
  };
  std::string skipped;  // the cases that did not run, and why
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (XF_ADDRESS_SANITIZER && c.freeDescriptors >= 0) {
      // The runtime of the address sanitizer, and of the undefined-behaviour
      // checks built with it, needs descriptors of its own: it checks memory
      // through a pipe, and without one takes a valid object for a bad one.
      skipped += std::string(skipped.empty() ? "" : "; ") + c.what +
                 ": the sanitizer's runtime needs descriptors of its own";
      continue;
    }
    const fs::path disk = dir_ / "disk";
    const std::string target = (disk / "T.CRD").string();
    fs::create_directories(disk);
    const ChildOutcome o = inChild([&] {
      if (c.mount != nullptr) mountSmallDisk(disk, c.mount);
      std::ofstream(target) << "old\n";
      if (c.fill) rttest::fillDisk(disk, *c.fill);
      rlimit saved{};
      ::getrlimit(RLIMIT_NOFILE, &saved);
      if (c.freeDescriptors >= 0) {
        ::close_range(3, kReportFd - 1, 0);
        ::close_range(kReportFd + 1, ~0U, 0);
        const rlimit few{static_cast<rlim_t>(3 + c.freeDescriptors), saved.rlim_max};
        if (::setrlimit(RLIMIT_NOFILE, &few) != 0) throw Skip{"cannot limit the descriptors"};
      }
      std::string text = replaceWith(target, "new content\n");
      ::setrlimit(RLIMIT_NOFILE, &saved);
      text += " | " + rttest::fileContent(target);
      for (const auto& e : fs::directory_iterator(disk))
        if (e.path().filename().string().find(".~") != std::string::npos)
          text += " left " + e.path().filename().string();
      return text;
    });
    fs::remove_all(disk);
    if (o.skipped) {
      skipped += std::string(skipped.empty() ? "" : "; ") + c.what + ": " + o.text;
      continue;
    }
    const std::string want = c.fill == Fill::Blocks
                                 ? "commit: write: No space left on device | old\n"
                                 : "failure: input/output failure: open on file " + target +
                                       c.want + " | old\n";
    EXPECT_EQ(o.text, want);
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

TEST_F(Replace, TargetsThatAreWrittenInPlace) {
  // Nothing is made beside them: the caller opens them where they stand.
  struct Case {
    const char* what;
    std::function<void(const fs::path& dir)> make;  // in a child: makes dir/T
    const char* want;                               // the outcome and the entries afterwards
  };
  const auto readOnlyDisk = [](const fs::path& dir, bool withTarget) {
    mountSmallDisk(dir, "size=64k");
    if (withTarget) std::ofstream(dir / "T") << "old\n";
    if (::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
      throw Skip{"cannot make a read-only file system here"};
  };
  const Case cases[] = {
      {"a FIFO", [](const fs::path& dir) { ::mkfifo((dir / "T").c_str(), 0644); }, "in place T"},
      {"a socket",
       [](const fs::path& dir) {
         // Bound by its name in the directory (the child's working directory
         // from here on): a socket's address holds no more than 107 bytes,
         // fewer than a path under a long temporary directory.
         const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         std::strcpy(addr.sun_path, "T");
         if (s < 0 || ::chdir(dir.c_str()) != 0 ||
             ::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
           throw std::runtime_error(std::string("no socket: ") + std::strerror(errno));
       },
       "in place T"},
      {"a file on a read-only file system", [&](const fs::path& dir) { readOnlyDisk(dir, true); },
       "in place T"},
      {"a new file on a read-only file system",
       [&](const fs::path& dir) { readOnlyDisk(dir, false); }, "in place"},
  };
  std::string skipped;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path sub = dir_ / "sub";
    fs::create_directories(sub);
    const ChildOutcome o = inChild([&] {
      c.make(sub);
      std::string text = replaceWith((sub / "T").string(), "new\n");
      for (const auto& e : fs::directory_iterator(sub)) text += " " + e.path().filename().string();
      return text;
    });
    fs::remove_all(sub);
    if (o.skipped) {
      skipped = o.text;
      continue;
    }
    EXPECT_EQ(o.text, c.want);
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped << ": the read-only cases did not run";
}

TEST_F(Replace, OpenFailuresOfTheTargetAreItsStatus) {
  // As an open where it stands would fail: a status for the caller, nothing made.
  put("T.CRD", "old\n");
  put("plain.txt", "plain\n");
  fs::create_symlink("loop", path("loop"));
  struct Case {
    const char* name;
    const char* status;
    int want;
  };
  const Case cases[] = {{"missing/T.CRD", "UNKNOWN", ENOENT},
                        {"NONE.CRD", "OLD", ENOENT},
                        {"T.CRD", "NEW", EEXIST},
                        {"plain.txt/T.CRD", "UNKNOWN", ENOTDIR},
                        {"loop", "UNKNOWN", ELOOP}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(replaceWith(path(c.name), "new\n", c.status),
              std::string("status: ") + std::strerror(c.want));
  }
  EXPECT_EQ(get("T.CRD"), "old\n");
  EXPECT_EQ(newFiles(), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(path("NONE.CRD")));
}

// Gives the directory a default access list: the owner and the user 1234
// may read and write a new file, its group read it, nobody else; false
// where the file system takes no such list.
bool giveDefaultAccessList(const std::string& dir) {
  struct Entry {
    std::uint16_t tag, perm;
    std::uint32_t id;
  };
  struct List {
    std::uint32_t version;
    Entry entries[5];
  };
  constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  // Owner, a named user, the group, the mask, others: in this order.
  const List list = {2, {{0x01, 6, kNone}, {0x02, 6, 1234}, {0x04, 4, kNone}, {0x10, 6, kNone},
                         {0x20, 0, kNone}}};
  return ::setxattr(dir.c_str(), "system.posix_acl_default", &list, sizeof list, 0) == 0;
}

TEST_F(Replace, TheNewFileIsNeverMoreReadableThanTheTarget) {
  // While it is written the new file has owner access only; at the commit
  // it gets the target's permissions, or for a new target those that its
  // creation where it stands would give it: 0666 less the umask, or what
  // the directory's default access list gives (which takes the umask's
  // place there).
  struct Case {
    const char* what;
    mode_t target;  // 0: no target yet
    mode_t umask;
    bool accessList;  // the target's directory has a default access list
    mode_t want;
  };
  const Case cases[] = {
      {"a 0600 target", 0600, 022, false, 0600},
      {"a 0644 target", 0644, 022, false, 0644},
      {"a 0640 target, umask 077", 0640, 077, false, 0640},
      {"a new target", 0, 022, false, 0644},
      {"a new target, umask 027", 0, 027, false, 0640},
      {"a new target, a default access list", 0, 022, true, 0660},
  };
  std::string skipped;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string sub = c.accessList ? "acl" : "";
    const std::string name = c.accessList ? "acl/T.CRD" : "T.CRD";
    const std::string target = path(name);
    fs::create_directories(path(sub));
    fs::remove(target);
    if (c.accessList && !giveDefaultAccessList(path(sub))) {
      skipped = "the file system takes no access list";
      continue;
    }
    if (c.target != 0) {
      put(name, "old\n");
      ASSERT_EQ(::chmod(target.c_str(), c.target), 0);
    }
    const ChildOutcome o = inChild([&] {
      ::umask(c.umask);
      rt::Replacement r;
      if (r.begin(target, "UNKNOWN") != 0 || r.way() != rt::Replacement::Way::Beside)
        return std::string("not beside");
      struct stat during {};
      ::fstat(r.descriptor(), &during);
      std::FILE* f = ::fdopen(r.descriptor(), "w");
      std::fputs("new\n", f);
      std::string operation;
      if (r.commit(f, operation) != 0) return "commit failed: " + operation;
      struct stat after {};
      ::stat(target.c_str(), &after);
      char text[64];
      std::snprintf(text, sizeof text, "%04o %04o", during.st_mode & 07777, after.st_mode & 07777);
      return std::string(text);
    });
    if (o.skipped) {
      skipped = o.text;
      continue;
    }
    char want[64];
    std::snprintf(want, sizeof want, "%04o %04o", 0600, static_cast<unsigned>(c.want));
    EXPECT_EQ(o.text, want);
    EXPECT_EQ(get(name), "new\n");
    EXPECT_EQ(newFiles(sub), std::vector<std::string>{});
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped << ": the case with it did not run";
}

TEST_F(Replace, AnAccessListThatCannotBeCarriedOverKeepsTheTarget) {
  // The target's access list shuts the user nobody out of a file that
  // everyone else may read. Where the new file does not take the list, or
  // the list cannot be read, the new file would let nobody in: the target
  // stays as it was, with its list, and the failure names it.
  struct Case {
    const char* what;
    std::vector<long> refused;  // the system calls that fail
    int error;
    std::string want;
  };
  const std::string target = path("T.CRD");
  const Case cases[] = {
      {"the new file refuses the list", {SYS_fsetxattr}, EOPNOTSUPP,
       "commit: write: Operation not supported"},
      {"the target's list cannot be read", {SYS_fgetxattr, SYS_lgetxattr, SYS_getxattr}, EIO,
       "failure: input/output failure: open on file " + target + ": Input/output error"},
  };
  const std::string list = rttest::accessList(6, {{65534, 0}}, 4, 4, 4);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    put("T.CRD", "old\n");
    ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
    if (!rttest::giveAccessList(target, list))
      GTEST_SKIP() << "the file system of the temporary directory takes no access list";
    const ChildOutcome o = inChild([&] {
      if (!rttest::refuseSystemCalls(c.refused, c.error))
        throw Skip{std::string("cannot refuse system calls here: ") + std::strerror(errno)};
      return replaceWith(target, "new\n");
    });
    if (o.skipped) GTEST_SKIP() << o.text;
    EXPECT_EQ(o.text, c.want);
    EXPECT_EQ(get("T.CRD"), "old\n");
    EXPECT_EQ(rttest::accessListOf(target), list);
    EXPECT_EQ(newFiles(), std::vector<std::string>{});
  }
}

TEST_F(Replace, AbandonedOrFailedTheTargetStaysAsItWas) {
  struct Case {
    const char* what;
    std::function<std::string(rt::Replacement&, std::FILE*)> end;
    const char* want;
  };
  const Case cases[] = {
      {"abandoned",
       [](rt::Replacement& r, std::FILE* f) {
         std::fclose(f);
         r.abandon();
         return std::string("abandoned");
       },
       "abandoned"},
      {"neither committed nor abandoned",
       [](rt::Replacement&, std::FILE* f) {
         std::fclose(f);
         return std::string("dropped");
       },
       "dropped"},
      {"the rename fails: the target became a directory",
       [this](rt::Replacement& r, std::FILE* f) {
         fs::remove(path("T.CRD"));
         fs::create_directory(path("T.CRD"));
         std::string operation;
         const int e = r.commit(f, operation);
         return operation + ": " + std::strerror(e);
       },
       "write: Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(path("T.CRD"));
    put("T.CRD", "old\n");
    std::string got;
    {
      rt::Replacement r;
      ASSERT_EQ(r.begin(path("T.CRD"), "UNKNOWN"), 0);
      ASSERT_EQ(r.way(), rt::Replacement::Way::Beside);
      std::FILE* f = ::fdopen(r.descriptor(), "w");
      std::fputs("new\n", f);
      std::fflush(f);
      EXPECT_EQ(newFiles().size(), 1u);
      got = c.end(r, f);
    }
    EXPECT_EQ(got, c.want);
    if (fs::is_regular_file(path("T.CRD"))) {
      EXPECT_EQ(get("T.CRD"), "old\n");
    }
    EXPECT_EQ(newFiles(), std::vector<std::string>{});
  }
}

TEST_F(Replace, ACopyIntoATargetThatBecameAFifoNeverWaits) {
  // A target with a second hard link gets its content by a copy. Its name
  // is given to a FIFO before the commit: the copy fails at once, whether
  // or not the FIFO has a reader, and nothing goes into the FIFO.
  for (const bool withReader : {false, true}) {
    SCOPED_TRACE(withReader ? "a reader waits" : "no reader");
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    put("T.CRD", "old\n");
    fs::create_hard_link(path("T.CRD"), path("T.LINK"));
    ASSERT_EQ(::mkfifo(path("F").c_str(), 0666), 0);
    std::string got;
    int reader = -1;
    {
      rt::Replacement r;
      ASSERT_EQ(r.begin(path("T.CRD"), "UNKNOWN"), 0);
      ASSERT_EQ(r.way(), rt::Replacement::Way::Beside);
      std::FILE* f = ::fdopen(r.descriptor(), "w");
      std::fputs("new\n", f);
      ASSERT_EQ(::rename(path("F").c_str(), path("T.CRD").c_str()), 0);
      if (withReader) reader = ::open(path("T.CRD").c_str(), O_RDONLY | O_NONBLOCK);
      // Should the copy wait for a reader all the same, one comes after a
      // while, so that the failure shows instead of a test that hangs.
      std::atomic<bool> done{false};
      std::thread rescue([&] {
        for (int i = 0; i < 1000 && !done.load(); ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done.load()) return;
        const int late = ::open(path("T.CRD").c_str(), O_RDONLY | O_NONBLOCK);
        while (!done.load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::close(late);
      });
      std::string operation;
      const int e = r.commit(f, operation);
      done = true;
      rescue.join();
      got = operation + ": " + std::strerror(e);
    }
    EXPECT_EQ(got, std::string("write: ") + std::strerror(ENXIO));
    if (reader >= 0) {
      char buf[16];
      EXPECT_EQ(::read(reader, buf, sizeof buf), 0);  // no writer and nothing written
      ::close(reader);
    }
    struct stat sb {};
    ASSERT_EQ(::lstat(path("T.CRD").c_str(), &sb), 0);
    EXPECT_TRUE(S_ISFIFO(sb.st_mode));
    EXPECT_EQ(get("T.LINK"), "old\n");
    EXPECT_EQ(newFiles(), std::vector<std::string>{});
  }
}

}  // namespace
