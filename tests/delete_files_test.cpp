// End-to-end: the run frame's program entry removes the files registered by
// DELETE_FILES at the end of the run, and stops with the right exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e_support.h"

namespace fs = std::filesystem;

namespace {

class DeleteFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_ / "work"); }

  void writeFile(const std::string& name, const std::string& text) const { dir_.put(name, text); }

  // Runs the probe in the temporary directory with the given arguments;
  // returns its exit status.
  int run(const std::string& args) const {
    const std::string command = "cd '" + dir_.path().string() + "' && '" + XF_FRAME_PROBE +
                                "' " + args + " > stdout.txt 2> stderr.txt";
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  std::string out() const { return dir_.text("stdout.txt"); }
  std::string err() const { return dir_.text("stderr.txt"); }

  // Registered: two files the probe opens (one named through a variable),
  // an existing closed file, an existing file whose name keeps its variable,
  // and a value that names no keyword.
  std::string panel(const std::string& extra = "") const {
    return "# keyword input file of the probe\n"
           "ENVIRONMENT 1 \"WORK\" \"" + (dir_ / "work").string() + "\"\n"
           "PROBE_OPEN 2\n"
           "  OUT_PLAIN\n"
           "  OUT_VAR\n"
           "OUT_PLAIN 1 plain.out\n"
           "OUT_VAR 1 \"${WORK}/var.out\"\n"
           "OLD_PLAIN 1 old.dat\n"
           "OLD_VAR 1 \"${WORK}/oldvar.dat\"\n"
           "DELETE_FILES 5\n"
           "  OUT_PLAIN\n"
           "  OUT_VAR\n"
           "  OLD_PLAIN\n"
           "  OLD_VAR\n"
           "  loose.tmp\n" +
           extra;
  }

  void writeExistingFiles() const {
    writeFile("old.dat", "old\n");
    writeFile("work/oldvar.dat", "old\n");
    writeFile("loose.tmp", "loose\n");
    writeFile("keep.dat", "keep\n");
  }

  e2e::RunDir dir_{"delete_files"};
};

TEST_F(DeleteFilesTest, RegisteredFilesAreRemovedAtTheEnd) {
  writeFile("MY PANEL.INP", panel());
  writeExistingFiles();

  // The arguments joined by a blank name the keyword input file.
  EXPECT_EQ(run("MY PANEL.INP"), 0) << out() << err();

  EXPECT_FALSE(fs::exists(dir_ / "plain.out"));      // open on its unit at the end
  EXPECT_FALSE(fs::exists(dir_ / "work/var.out"));   // registered under its expanded name
  EXPECT_FALSE(fs::exists(dir_ / "old.dat"));        // existing, not open
  EXPECT_FALSE(fs::exists(dir_ / "loose.tmp"));      // a value that names no keyword
  EXPECT_TRUE(fs::exists(dir_ / "work/oldvar.dat"));  // its variable was never expanded
  EXPECT_TRUE(fs::exists(dir_ / "keep.dat"));
  EXPECT_TRUE(fs::exists(dir_ / "MY PANEL.INP"));

  const std::string stdout_ = out();
  EXPECT_NE(stdout_.find(">>> CPU/Real time for pgm \"FRPROBE\": "), std::string::npos)
      << stdout_;
  const std::string tail = ">>> Program finished successfully\n\n";
  ASSERT_GE(stdout_.size(), tail.size());
  EXPECT_EQ(stdout_.substr(stdout_.size() - tail.size()), tail);
  EXPECT_EQ(err(), "");
}

TEST_F(DeleteFilesTest, StopWhileReadingRemovesNothing) {
  writeFile("PANEL.INP", panel("BROKEN\n"));
  writeExistingFiles();

  EXPECT_EQ(run("PANEL.INP"), 1);
  EXPECT_EQ(out(),
            "\n*** SR READKEYS: Error decoding keyword line\n"
            "                 panel: PANEL.INP\n"
            "                 line : BROKEN\n\n"
            "\n ### SR EXITRC: PROGRAM HAS BEEN STOPPED DURING INITIALIZATION\n\n");
  EXPECT_TRUE(fs::exists(dir_ / "old.dat"));
  EXPECT_TRUE(fs::exists(dir_ / "loose.tmp"));
}

TEST_F(DeleteFilesTest, UndecodableValueEndsWithStatus127) {
  writeFile("PANEL.INP", panel("TITLE 1\n"));
  writeExistingFiles();

  EXPECT_EQ(run("PANEL.INP"), 127);
  const std::string stderr_ = err();
  EXPECT_NE(stderr_.find("PANEL.INP"), std::string::npos) << stderr_;
  EXPECT_NE(stderr_.find("line: TITLE 1"), std::string::npos) << stderr_;
  EXPECT_EQ(out(), "");
  EXPECT_TRUE(fs::exists(dir_ / "old.dat"));
}

}  // namespace
