#include "runtime/filelock.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/testsupport.h"

namespace fs = std::filesystem;

namespace {

class FileLockTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = rttest::freshTempDir("filelock_test"); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void put(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  long long entries() const {
    return std::distance(fs::recursive_directory_iterator(dir_),
                         fs::recursive_directory_iterator());
  }

  // Locks `name` with `lock` and leaves a child process waiting for the
  // lock of `childName` (forked before this process takes its lock: a child
  // would share it). Once the child holds its lock it writes one byte on
  // the returned pipe, and it keeps the lock until its end (`holdMs`
  // later).
  int childWaitingFor(rt::FileLock& lock, const std::string& name, const std::string& childName,
                      int holdMs, pid_t& pid) const {
    int done[2];
    int start[2];
    EXPECT_EQ(::pipe(done), 0);
    EXPECT_EQ(::pipe(start), 0);
    pid = ::fork();
    if (pid == 0) {
      ::close(done[0]);
      ::close(start[1]);
      char byte = 0;
      if (::read(start[0], &byte, 1) != 1) ::_exit(3);
      rt::FileLock lock;
      if (lock.lock(path(childName)) != 0) ::_exit(1);
      if (::write(done[1], &byte, 1) != 1) ::_exit(2);
      ::usleep(static_cast<useconds_t>(holdMs) * 1000);
      ::_exit(0);
    }
    ::close(done[1]);
    ::close(start[0]);
    EXPECT_EQ(lock.lock(path(name)), 0);
    const char byte = 'G';
    EXPECT_EQ(::write(start[1], &byte, 1), 1);
    ::close(start[1]);
    return done[0];
  }
  // True when the child reported its lock within `ms` milliseconds.
  static bool locked(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1 && (p.revents & POLLIN) != 0;
  }
  static int exitOf(pid_t pid) {
    int ws = 0;
    ::waitpid(pid, &ws, 0);
    return WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
  }
  // True when the directory's lock is held by someone (probed without
  // waiting).
  static bool directoryLocked(const fs::path& dir) {
    const int probe = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_GE(probe, 0);
    const bool busy = ::flock(probe, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(probe);
    return busy;
  }

  fs::path dir_;
};

TEST_F(FileLockTest, AnotherProcessWaitsWhetherTheFileExistsOrNot) {
  // The lock of a file binds every file of its directory, the one that
  // exists (M.CRD) and one not yet made (NEW.CRD), and no file of another
  // directory; a link leads to the directory of the file it points at, made
  // or not.
  struct Case {
    const char* holder;
    const char* other;
    bool waits;
  };
  const Case cases[] = {{"M.CRD", "M.CRD", true},        {"NEW.CRD", "NEW.CRD", true},
                        {"M.CRD", "NEW.CRD", true},      {"NEW.CRD", "M.CRD", true},
                        {"LINK.CRD", "sub/M.CRD", true}, {"sub/M.CRD", "LINK.CRD", true},
                        {"M.CRD", "sub/M.CRD", false},   {"LINK.CRD", "M.CRD", false}};
  put("M.CRD", "stations\n");
  fs::create_directory(dir_ / "sub");
  put("sub/M.CRD", "stations\n");
  fs::create_symlink("sub/NEW.CRD", dir_ / "LINK.CRD");
  const long long before = entries();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.holder) + " held, " + c.other + " locked");
    pid_t pid = 0;
    rt::FileLock lock;
    const int fd = childWaitingFor(lock, c.holder, c.other, 0, pid);
    ASSERT_TRUE(lock.held());
    EXPECT_EQ(locked(fd, c.waits ? 200 : 5000), !c.waits);
    // Reading the file is never held up by the lock.
    std::ifstream in(path("M.CRD"));
    std::string line;
    EXPECT_TRUE(std::getline(in, line));
    lock.release();
    EXPECT_FALSE(lock.held());
    EXPECT_TRUE(locked(fd, 5000));
    ::close(fd);
    EXPECT_EQ(exitOf(pid), 0);
  }
  // The lock leaves no file behind, and makes none it was asked for.
  EXPECT_EQ(entries(), before);
  EXPECT_FALSE(fs::exists(dir_ / "NEW.CRD"));
}

TEST_F(FileLockTest, AFileReplacedMeanwhileIsStillLocked) {
  // The holder puts a new file in place of the locked one before it lets
  // go: the waiting process holds the lock that binds the new file.
  put("M.CRD", "old\n");
  pid_t pid = 0;
  rt::FileLock lock;
  const int fd = childWaitingFor(lock, "M.CRD", "M.CRD", 1000, pid);
  ASSERT_TRUE(lock.held());
  EXPECT_FALSE(locked(fd, 100));
  put("NEW.CRD", "new\n");
  fs::rename(path("NEW.CRD"), path("M.CRD"));
  lock.release();
  ASSERT_TRUE(locked(fd, 5000));
  EXPECT_TRUE(directoryLocked(dir_));
  ::close(fd);
  ::kill(pid, SIGKILL);
  exitOf(pid);
}

TEST_F(FileLockTest, ANameThatLeadsElsewhereMeanwhileIsLockedThere) {
  // While the child waits, the link it locks by is turned to another
  // directory, whose lock the holder takes before it lets go of the first:
  // the child then waits for that one.
  fs::create_directory(dir_ / "a");
  fs::create_directory(dir_ / "b");
  fs::create_symlink("a/M.CRD", dir_ / "LINK.CRD");
  pid_t pid = 0;
  rt::FileLock first;
  const int fd = childWaitingFor(first, "LINK.CRD", "LINK.CRD", 0, pid);
  ASSERT_TRUE(first.held());
  EXPECT_FALSE(locked(fd, 100));
  fs::remove(dir_ / "LINK.CRD");
  fs::create_symlink("b/M.CRD", dir_ / "LINK.CRD");
  rt::FileLock second;
  ASSERT_EQ(second.lock(path("b/M.CRD")), 0);
  first.release();
  EXPECT_FALSE(locked(fd, 300));
  second.release();
  EXPECT_TRUE(locked(fd, 5000));
  ::close(fd);
  EXPECT_EQ(exitOf(pid), 0);
}

TEST_F(FileLockTest, NoDirectoryToLockNoLock) {
  rt::FileLock lock;
  EXPECT_EQ(lock.lock(path("missing/M.CRD")), ENOENT);
  EXPECT_FALSE(lock.held());
  lock.release();  // nothing to release

  // A directory that may be written and searched but not read: as another
  // user than root, who may read any directory. Root takes the user nobody,
  // who must reach the directory for the refusal to be its reading's.
  fs::create_directory(dir_ / "closed");
  fs::permissions(dir_ / "closed", static_cast<fs::perms>(0333));
  fs::permissions(dir_, static_cast<fs::perms>(0755));
  const auto refused = [this] {
    rt::FileLock closed;
    return closed.lock(path("closed/M.CRD")) == EACCES && !closed.held();
  };
  if (::geteuid() != 0) {
    EXPECT_TRUE(refused());
  } else if (const std::string why = rttest::whyNobodyCannot(dir_ / "closed", W_OK | X_OK);
             !why.empty()) {
    fs::permissions(dir_ / "closed", fs::perms::owner_all);
    GTEST_SKIP() << why;
  } else {
    EXPECT_EQ(rttest::runAsNobody(refused), 0);
  }
  fs::permissions(dir_ / "closed", fs::perms::owner_all);
}

}  // namespace
