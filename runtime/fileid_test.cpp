#include "runtime/fileid.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/testsupport.h"

namespace fs = std::filesystem;

namespace {

// Names are taken relative to the test's own directory, the working
// directory while the test runs.
class FileIds : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = rttest::freshTempDir("fileid_test");
    home_ = fs::current_path();
    fs::current_path(dir_);
    fs::create_directories("sub");
    std::ofstream("X") << "x\n";
    std::ofstream("Y") << "y\n";
  }
  void TearDown() override {
    fs::current_path(home_);
    fs::remove_all(dir_);
  }

  static bool same(const std::string& a, const std::string& b) {
    return rt::sameFile(rt::fileIdOf(a), rt::fileIdOf(b));
  }

  fs::path dir_;
  fs::path home_;
};

struct Pair {
  std::string a;
  std::string b;
  bool same;
};

TEST_F(FileIds, OneFileHoweverItIsNamed) {
  fs::create_symlink("X", "LINK");
  fs::create_symlink("LINK", "LINK2");
  fs::create_hard_link("X", "sub/HARD");
  fs::create_symlink(".", "sub/UP");  // a link to a directory
  fs::create_symlink("NEW", "DANGLING");
  fs::create_symlink("../NEW", "sub/DANGLING");
  // A link to a directory further down: ".." after it is the parent of the
  // directory it leads to.
  fs::create_directories("other/inner");
  std::ofstream("other/X") << "other x\n";
  fs::create_symlink("other/inner", "a");
  const std::string abs = dir_.string();
  const std::vector<Pair> pairs = {
      // An existing file.
      {"X", "X", true},
      {"X", "./X", true},
      {"X", "sub/../X", true},
      {"X", abs + "/X", true},
      {"X", "  X   ", true},  // blanks around a name are not part of it
      {"X", "LINK", true},
      {"X", "LINK2", true},
      {"X", "sub/HARD", true},
      {"sub/HARD", "sub/UP/HARD", true},
      {"X", "Y", false},
      {"X", "x", false},
      // A name that does not exist yet: the file that writing would make.
      {"NEW", "NEW", true},
      {"NEW", "./NEW", true},
      {"NEW", "sub/../NEW", true},
      {"NEW", abs + "//NEW", true},
      {"NEW", "DANGLING", true},
      {"NEW", "sub/DANGLING", true},
      {"sub/NEW", "sub/UP/NEW", true},
      {"NEW", "sub/NEW", false},
      {"NEW", "NEW2", false},
      // Through a linked directory, ".." as the system takes it.
      {"a/../X", "other/X", true},
      {"a/../X", "X", false},
      {"a/../NEW", "other/NEW", true},
      {"a/../NEW", "NEW", false},
      // An existing file is never a new one.
      {"X", "NEW", false},
      {"LINK", "DANGLING", false},
  };
  for (const Pair& p : pairs) {
    EXPECT_EQ(same(p.a, p.b), p.same) << p.a << " / " << p.b;
    EXPECT_EQ(same(p.b, p.a), p.same) << p.b << " / " << p.a;
  }
}

TEST_F(FileIds, FilesThatAreNoFileOfTheRunsOwn) {
  ASSERT_EQ(::mkfifo("FIFO", 0666), 0);
  fs::create_symlink("FIFO", "FIFO_LINK");
  const std::vector<std::string> names = {
      "",            // names no file
      "   ",
      "FIFO",        // not regular files
      "FIFO_LINK",
      "/dev/null",
      "sub",
      ".",
      "nodir/NEW",   // a file that cannot be made
      "X/NEW",
      "sub/..",
      "a/../inner/..",  // the directory other
  };
  for (const std::string& name : names) {
    SCOPED_TRACE("\"" + name + "\"");
    const rt::FileId id = rt::fileIdOf(name);
    EXPECT_EQ(id.kind, rt::FileId::Kind::None);
    EXPECT_FALSE(rt::sameFile(id, id));
  }
}

TEST_F(FileIds, TheProgramsOwnOutputIsNoFileOfItsOwn) {
  // Standard output connected to a regular file for a while: that file,
  // under any name, is never the same as another.
  std::fflush(stdout);
  const int saved = ::dup(1);
  ASSERT_GE(saved, 0);
  const int out = ::open("OUT", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(out, 0);
  ASSERT_EQ(::dup2(out, 1), 1);
  const rt::FileId byName = rt::fileIdOf("OUT");
  const rt::FileId byStream = rt::fileIdOf("/dev/stdout");
  const rt::FileId other = rt::fileIdOf("X");
  ::dup2(saved, 1);
  ::close(saved);
  ::close(out);
  EXPECT_EQ(byName.kind, rt::FileId::Kind::None);
  EXPECT_EQ(byStream.kind, rt::FileId::Kind::None);
  EXPECT_EQ(other.kind, rt::FileId::Kind::Existing);
  // Once it is not the standard output any more, it is a file like others.
  EXPECT_TRUE(same("OUT", "./OUT"));
}

// Removals act in the directory that the name leads to, at any depth.
TEST_F(FileIds, RemovalsWhereTheNameLeads) {
  fs::create_directories("other/inner");
  fs::create_symlink("other/inner", "a");
  std::ofstream("other/X") << "other x\n";
  std::string deep;
  const int deepFd = rttest::makeDeepDirectory(".", 22, &deep);
  ASSERT_GE(deepFd, 0);
  ASSERT_GT(deep.size(), static_cast<std::size_t>(PATH_MAX));
  ASSERT_EQ(::close(::openat(deepFd, "F", O_WRONLY | O_CREAT, 0644)), 0);
  ::close(deepFd);
  struct Case {
    std::string name;
    std::string removed;  // what is gone afterwards ("" for the deep file)
    std::string kept;     // what stays
  };
  const Case cases[] = {
      {"a/../X", "other/X", "X"},
      {deep + "/F", "", "Y"},
      {deep + "/../" + std::string(200, 'd') + "/F", "", "Y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.substr(0, 40));
    if (c.removed.empty()) {
      // The name is too long for the system to take whole.
      EXPECT_EQ(::open(c.name.c_str(), O_RDONLY), -1);
      EXPECT_EQ(errno, ENAMETOOLONG);
    }
    rt::FilePlace place;
    ASSERT_EQ(place.resolve(c.name), 0);
    EXPECT_TRUE(place.exists());
    const int fd = place.open(O_RDONLY);
    EXPECT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(place.remove(), 0);
    if (!c.removed.empty()) {
      EXPECT_FALSE(fs::exists(c.removed));
    }
    EXPECT_TRUE(fs::exists(c.kept));
    rt::FilePlace again;
    ASSERT_EQ(again.resolve(c.name), 0);
    EXPECT_FALSE(again.exists());
    if (c.removed.empty()) {
      // Made again for the next case.
      ASSERT_EQ(::close(again.open(O_WRONLY | O_CREAT, 0644)), 0);
    }
  }
  rttest::removeDeepTree(dir_ / std::string(200, 'd'));
}

// Links in a directory that everyone may write and that is sticky (a
// shared /tmp) are followed only when they belong to the run's user or to
// the directory's owner; elsewhere every link is followed.
TEST_F(FileIds, LinksInSharedDirectoriesFollowTheProtectedRule) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give links to another user";
  constexpr uid_t kOther = rttest::kNobodyUid;
  struct Case {
    const char* what;
    mode_t mode;      // of the directory holding the link
    uid_t dirOwner;
    uid_t linkOwner;
    int want;         // resolve's outcome
  };
  const Case cases[] = {
      {"another user's link, sticky shared directory", 01777, 0, kOther, EACCES},
      {"the run's own link, sticky shared directory", 01777, 0, 0, 0},
      {"the directory owner's link, sticky shared directory", 01777, kOther, kOther, 0},
      {"another user's link, ordinary shared directory", 0777, 0, kOther, 0},
      {"another user's link, sticky directory of one writer", 01755, 0, kOther, 0},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string shared = "shared" + std::to_string(i++);
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), c.mode), 0);
    ASSERT_EQ(::chown(shared.c_str(), c.dirOwner, 0), 0);
    fs::create_symlink("../X", shared + "/OUT");
    ASSERT_EQ(::lchown((shared + "/OUT").c_str(), c.linkOwner, 0), 0);
    // The link itself, and a directory reached through such a link.
    fs::create_symlink("../sub", shared + "/DIR");
    ASSERT_EQ(::lchown((shared + "/DIR").c_str(), c.linkOwner, 0), 0);
    for (const std::string& name : {shared + "/OUT", shared + "/DIR/NEW"}) {
      SCOPED_TRACE(name);
      rt::FilePlace place;
      EXPECT_EQ(place.resolve(name), c.want);
    }
    EXPECT_EQ(rt::fileIdOf(shared + "/OUT").kind,
              c.want == 0 ? rt::FileId::Kind::Existing : rt::FileId::Kind::None);
  }
  EXPECT_EQ(rttest::fileContent("X"), "x\n");
}

// FIFOs and regular files in a sticky directory that everyone may write
// are opened for writing only when they belong to the run's user or to
// the directory's owner; any of them may be read.
TEST_F(FileIds, FifosAndFilesInSharedDirectoriesFollowTheProtectedRule) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to other users";
  constexpr uid_t kDirOwner = 65534;
  constexpr uid_t kThird = 65533;
  struct Case {
    const char* what;
    mode_t dirMode;
    uid_t owner;
    bool fifo;
    bool writable;
  };
  const Case cases[] = {
      {"a third user's file, sticky shared directory", 01777, kThird, false, false},
      {"a third user's FIFO, sticky shared directory", 01777, kThird, true, false},
      {"the directory owner's file", 01777, kDirOwner, false, true},
      {"the directory owner's FIFO", 01777, kDirOwner, true, true},
      {"the run's own file", 01777, 0, false, true},
      {"a third user's file, ordinary shared directory", 0777, kThird, false, true},
      {"a third user's file, sticky directory of one writer", 01755, kThird, false, true},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string shared = "shared" + std::to_string(i++);
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), c.dirMode), 0);
    ASSERT_EQ(::chown(shared.c_str(), kDirOwner, 0), 0);
    const std::string file = shared + "/F";
    if (c.fifo) {
      ASSERT_EQ(::mkfifo(file.c_str(), 0666), 0);
    } else {
      std::ofstream(file) << "old\n";
    }
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(::chown(file.c_str(), c.owner, 0), 0);
    // Reached directly and through a link of the run's own elsewhere.
    fs::create_symlink(file, shared + "_LINK");
    for (const std::string& name : {file, shared + "_LINK"}) {
      SCOPED_TRACE(name);
      rt::FilePlace place;
      ASSERT_EQ(place.resolve(name), 0);
      EXPECT_EQ(place.writeProtected(), !c.writable);
      for (int flags : {O_WRONLY, O_RDWR, O_RDONLY | O_TRUNC, O_RDONLY}) {
        const int fd = place.open(flags | O_NONBLOCK | (c.fifo ? 0 : O_CREAT), 0666);
        const int e = fd < 0 ? errno : 0;
        if (fd >= 0) ::close(fd);
        const bool writes = flags != O_RDONLY;
        // A FIFO without a reader is not opened for writing anyway.
        const int allowed = c.fifo && flags == O_WRONLY ? ENXIO : 0;
        EXPECT_EQ(e, writes && !c.writable ? EACCES : allowed) << "flags " << flags;
      }
    }
    if (!c.fifo && !c.writable) {
      EXPECT_EQ(rttest::fileContent(file), "old\n");
    }
  }
}

// A directory mounted a second time is the same directory: a new file
// there is one file under both names, as an existing file is.
TEST_F(FileIds, ADirectoryMountedTwiceIsOneDirectory) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
  fs::create_directory("bind");
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (!rttest::privateMountNamespace() || ::mount(".", "bind", nullptr, MS_BIND, nullptr) != 0)
      ::_exit(77);
    const bool ok = same("bind/NEW", "NEW") && same("bind/X", "X") && !same("bind/NEW", "X") &&
                    !same("bind/NEW", "bind/bind/NEW2");
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot bind-mount here";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
}

}  // namespace
