#include "runtime/fileid.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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

}  // namespace
