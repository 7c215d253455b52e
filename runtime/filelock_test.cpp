#include "runtime/filelock.h"

#include <fcntl.h>
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

  // Locks `name` with `lock` and leaves a child process waiting for the
  // same lock (forked before this process takes it: a child would share
  // it). Once the child holds the lock it writes one byte on the returned
  // pipe, and it keeps the lock until its end (`holdMs` later).
  int childWaitingFor(rt::FileLock& lock, const std::string& name, int holdMs, pid_t& pid) const {
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
      if (lock.lock(path(name)) != 0) ::_exit(1);
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

  fs::path dir_;
};

TEST_F(FileLockTest, NoFileNoLock) {
  rt::FileLock lock;
  EXPECT_EQ(lock.lock(path("missing.crd")), ENOENT);
  EXPECT_FALSE(lock.held());
  lock.release();  // nothing to release
}

TEST_F(FileLockTest, AnotherProcessWaitsUntilTheRelease) {
  put("M.CRD", "stations\n");
  pid_t pid = 0;
  rt::FileLock lock;
  const int fd = childWaitingFor(lock, "M.CRD", 0, pid);
  ASSERT_TRUE(lock.held());
  EXPECT_FALSE(locked(fd, 200));
  // Reading the file is never held up by the lock.
  std::ifstream in(path("M.CRD"));
  std::string line;
  EXPECT_TRUE(std::getline(in, line));
  lock.release();
  EXPECT_FALSE(lock.held());
  EXPECT_TRUE(locked(fd, 5000));
  ::close(fd);
  EXPECT_EQ(exitOf(pid), 0);
  // The lock leaves no file behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(FileLockTest, ANewFileUnderTheNameIsLockedInstead) {
  // The holder puts a new file in place of the locked one before it lets
  // go; the waiting process must end up holding the new file's lock.
  put("M.CRD", "old\n");
  pid_t pid = 0;
  rt::FileLock lock;
  const int fd = childWaitingFor(lock, "M.CRD", 1000, pid);
  ASSERT_TRUE(lock.held());
  EXPECT_FALSE(locked(fd, 100));
  put("NEW.CRD", "new\n");
  fs::rename(path("NEW.CRD"), path("M.CRD"));
  lock.release();
  ASSERT_TRUE(locked(fd, 5000));
  const int probe = ::open(path("M.CRD").c_str(), O_RDONLY);
  ASSERT_GE(probe, 0);
  EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), -1);
  EXPECT_EQ(errno, EWOULDBLOCK);
  ::close(probe);
  ::close(fd);
  ::kill(pid, SIGKILL);
  exitOf(pid);
}

}  // namespace
