#include "runtime/units.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/format.h"
#include "runtime/process.h"
#include "runtime/testsupport.h"

namespace fs = std::filesystem;

namespace {

class Units : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = rttest::freshTempDir("units_test"); }
  void TearDown() override {
    rt::resetUnits();
    rt::setConsoleOutput(nullptr);
    rt::setConsoleInput(nullptr);
    fs::remove_all(dir_);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void put(const std::string& name, const std::string& content) const {
    std::ofstream(path(name), std::ios::binary) << content;
  }
  std::string get(const std::string& name) const { return rttest::fileContent(path(name)); }
  std::vector<std::string> readAll(int unit) const {
    std::vector<std::string> records;
    std::string rec;
    int st = 0;
    while ((st = rt::readRecord(unit, rec)) == 0) records.push_back(rec);
    EXPECT_EQ(st, rt::kIoEnd);
    return records;
  }

  fs::path dir_;
};

rt::OpenRequest status(const char* s, bool readOnly = false) {
  rt::OpenRequest r;
  r.status = s;
  r.readOnly = readOnly;
  return r;
}

TEST_F(Units, OpenStatuses) {
  put("there.txt", "kept\n");
  fs::create_directories(dir_ / "adir");
  struct Case {
    const char* status;
    const char* file;
    int result;
  };
  const Case cases[] = {
      {"OLD", "there.txt", 0},         {"OLD", "missing1.txt", ENOENT},
      {"NEW", "there.txt", EEXIST},    {"NEW", "new.txt", 0},
      {"UNKNOWN", "there.txt", 0},     {"UNKNOWN", "created.txt", 0},
      {"OLD", "adir", EISDIR},         {"UNKNOWN", "nodir/x.txt", ENOENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.status) + " " + c.file);
    EXPECT_EQ(rt::openUnit(20, path(c.file), status(c.status)), c.result);
    EXPECT_EQ(rt::unitOpened(20), c.result == 0);
    rt::closeUnit(20);
  }
  EXPECT_TRUE(fs::exists(path("new.txt")));
  EXPECT_TRUE(fs::exists(path("created.txt")));
  EXPECT_FALSE(fs::exists(path("missing1.txt")));
  EXPECT_EQ(get("there.txt"), "kept\n");  // opening alone never cuts the file
}

TEST_F(Units, ReadsRecords) {
  put("in.txt", "first\r\n\n  third  \nlast without end");
  ASSERT_EQ(rt::openUnit(30, path("in.txt"), status("OLD", true)), 0);
  EXPECT_EQ(readAll(30), (std::vector<std::string>{"first", "", "  third  ", "last without end"}));
  std::string rec = "x";
  EXPECT_EQ(rt::readRecord(30, rec), rt::kIoEnd);  // stays at the end
  rt::rewindUnit(30);
  EXPECT_EQ(rt::readRecord(30, rec), 0);
  EXPECT_EQ(rec, "first");
  EXPECT_GT(rt::readRecord(31, rec), 0);  // not connected
}

// Lines as records: cut at the longest layout, a CR before the line end
// dropped when the line is not longer than that.
struct CutCase {
  const char* what;
  std::string line;
  std::string record;
};

std::vector<CutCase> cutCases() {
  const std::string a255(rt::kMaxRecordLen, 'a');
  const std::string a254(rt::kMaxRecordLen - 1, 'a');
  return {
      {"short line", "abc", "abc"},
      {"CR before the line end", "abc\r", "abc"},
      {"empty line", "", ""},
      {"a lone CR", "\r", ""},
      {"NUL and tab kept", std::string("a\0\tb", 4), std::string("a\0\tb", 4)},
      {"254 characters and a CR", a254 + "\r", a254},
      {"255 characters", a255, a255},
      {"255 characters and a CR", a255 + "\r", a255},
      {"256 characters", a255 + "b", a255},
      {"CR in column 255 of a longer line", a254 + "\rbbb", a254 + "\r"},
      {"long line ending in a CR", a255 + std::string(100000, 'b') + "\r", a255},
      {"a line longer than the read-ahead block", std::string(200000, 'c'), std::string(255, 'c')},
  };
}

TEST_F(Units, RecordsAreCutAtTheLongestLayout) {
  std::string text;
  std::vector<std::string> expected;
  for (const CutCase& c : cutCases()) {
    text += c.line + "\n";
    expected.push_back(c.record);
  }
  // The line after each long one is read whole: nothing of a cut line is left.
  text += "next\n" + std::string(1000, 'z');  // the last line without a line end
  expected.push_back("next");
  expected.push_back(std::string(255, 'z'));

  put("cut.txt", text);
  ASSERT_EQ(rt::openUnit(30, path("cut.txt"), status("OLD", true)), 0);
  const std::vector<std::string> records = readAll(30);
  ASSERT_EQ(records.size(), expected.size());
  const std::vector<CutCase> cases = cutCases();
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i], expected[i]) << (i < cases.size() ? cases[i].what : "after the cases");
  }
  rt::closeUnit(30);

  // A pipe, which is read line by line, in the same way.
  const std::string fifo = path("cut.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << text; });
  ASSERT_EQ(rt::openUnit(31, fifo, status("OLD", true)), 0);
  EXPECT_EQ(readAll(31), expected);
  rt::closeUnit(31);
  writer.join();

  // The console reads in the same way.
  std::istringstream in(text);
  rt::setConsoleInput(&in);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    std::string rec;
    ASSERT_EQ(rt::readRecord(5, rec), 0) << i;
    EXPECT_EQ(rec, expected[i]) << i;
  }
  std::string rec;
  EXPECT_EQ(rt::readRecord(5, rec), rt::kIoEnd);
}

TEST_F(Units, AViewOfTheRecordAndAFileReadAheadThenWritten) {
  put("f.txt", "first\n" + std::string(70000, 'x') + "\nthird\nfourth\n");
  ASSERT_EQ(rt::openUnit(20, path("f.txt"), status("OLD")), 0);
  std::string_view view;
  ASSERT_EQ(rt::readRecordView(20, view), 0);
  EXPECT_EQ(view, "first");
  ASSERT_EQ(rt::readRecordView(20, view), 0);
  EXPECT_EQ(view, std::string(255, 'x'));
  ASSERT_EQ(rt::readRecordView(20, view), 0);
  EXPECT_EQ(view, "third");
  // The rest of the file was read ahead; the write still starts after the
  // last record taken.
  rt::writeRecord(20, "new fourth");
  rt::rewindUnit(20);
  EXPECT_EQ(readAll(20), (std::vector<std::string>{"first", std::string(255, 'x'), "third",
                                                   "new fourth"}));
  rt::closeUnit(20);
  EXPECT_EQ(get("f.txt"), "first\n" + std::string(70000, 'x') + "\nthird\nnew fourth\n");
  EXPECT_GT(rt::readRecordView(20, view), 0);  // not connected
}

TEST_F(Units, FirstWriteCutsTheFileAtItsPosition) {
  // After the open: the whole content is replaced.
  put("f.txt", "a\nb\nc\n");
  ASSERT_EQ(rt::openUnit(20, path("f.txt"), status("UNKNOWN")), 0);
  rt::writeRecord(20, "x");
  rt::writeRecord(20, "y");
  rt::closeUnit(20);
  EXPECT_EQ(get("f.txt"), "x\ny\n");

  // After a read: the file ends after the new record.
  put("f.txt", "a\nb\nc\n");
  ASSERT_EQ(rt::openUnit(20, path("f.txt"), status("OLD")), 0);
  std::string rec;
  ASSERT_EQ(rt::readRecord(20, rec), 0);
  rt::writeRecord(20, "new");
  rt::closeUnit(20);
  EXPECT_EQ(get("f.txt"), "a\nnew\n");

  // After a rewind: written records replace the content, and read back.
  put("f.txt", "a much longer first line\nb\n");
  ASSERT_EQ(rt::openUnit(20, path("f.txt"), status("OLD")), 0);
  EXPECT_EQ(readAll(20).size(), 2u);
  rt::rewindUnit(20);
  rt::writeRecord(20, "short");
  rt::rewindUnit(20);
  EXPECT_EQ(readAll(20), std::vector<std::string>{"short"});
  rt::closeUnit(20);
  EXPECT_EQ(get("f.txt"), "short\n");
}

TEST_F(Units, InquiryIdentifiesTheFileHoweverItIsNamed) {
  fs::create_directories(dir_ / "sub");
  put("f.txt", "x\n");
  rt::FileInquiry before = rt::inquireFile(path("f.txt"));
  EXPECT_TRUE(before.exist);
  EXPECT_FALSE(before.opened);
  EXPECT_EQ(before.unit, -1);

  const std::string spelled = (dir_ / "sub" / ".." / "." / "f.txt").string();
  ASSERT_EQ(rt::openUnit(996, spelled, status("OLD")), 0);
  EXPECT_EQ(rt::unitName(996), spelled);
  fs::create_hard_link(path("f.txt"), path("link.txt"));
  for (const std::string& name : {path("f.txt"), path("link.txt") + "   ", spelled}) {
    SCOPED_TRACE(name);
    const rt::FileInquiry q = rt::inquireFile(name);
    EXPECT_TRUE(q.exist);
    EXPECT_TRUE(q.opened);
    EXPECT_EQ(q.unit, 996);
  }
  // Relative to the working directory.
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_ / "sub");
  const rt::FileInquiry rel = rt::inquireFile("../f.txt");
  fs::current_path(cwd);
  EXPECT_EQ(rel.unit, 996);

  const rt::FileInquiry missing = rt::inquireFile(path("none.txt"));
  EXPECT_FALSE(missing.exist);
  EXPECT_FALSE(missing.opened);
  EXPECT_FALSE(rt::inquireFile("   ").exist);

  // A connected file that has been removed is still found by its name.
  ASSERT_EQ(rt::openUnit(997, path("gone.txt"), status("NEW")), 0);
  fs::remove(path("gone.txt"));
  const rt::FileInquiry gone = rt::inquireFile((dir_ / "sub" / ".." / "gone.txt").string());
  EXPECT_FALSE(gone.exist);
  EXPECT_EQ(gone.unit, 997);

  rt::closeUnit(996);
  EXPECT_FALSE(rt::inquireFile(spelled).opened);
  EXPECT_EQ(rt::unitName(996), "");
}

TEST_F(Units, CloseKeepsOrDeletes) {
  put("keep.txt", "k\n");
  put("del.txt", "d\n");
  ASSERT_EQ(rt::openUnit(10, path("keep.txt"), status("OLD")), 0);
  ASSERT_EQ(rt::openUnit(11, path("del.txt"), status("OLD")), 0);
  rt::closeUnit(10, rt::Disp::Keep);
  EXPECT_EQ(rt::closeUnitIostat(11, rt::Disp::Delete), 0);
  EXPECT_TRUE(fs::exists(path("keep.txt")));
  EXPECT_FALSE(fs::exists(path("del.txt")));
  EXPECT_FALSE(rt::unitOpened(10));
  EXPECT_FALSE(rt::unitOpened(11));
  EXPECT_NO_THROW(rt::closeUnit(12, rt::Disp::Delete));  // not connected
  EXPECT_EQ(rt::closeUnitIostat(12), 0);
}

TEST_F(Units, ReopeningAUnitClosesTheFormerFile) {
  ASSERT_EQ(rt::openUnit(20, path("a.txt"), status("NEW")), 0);
  rt::writeRecord(20, "into a");
  ASSERT_EQ(rt::openUnit(20, path("b.txt"), status("NEW")), 0);
  EXPECT_EQ(get("a.txt"), "into a\n");
  EXPECT_EQ(rt::unitName(20), path("b.txt"));
}

TEST_F(Units, ScratchFile) {
  ASSERT_EQ(rt::openUnit(50, "ignored name", status("SCRATCH")), 0);
  EXPECT_FALSE(fs::exists("ignored name"));
  rt::writeRecord(50, "one");
  rt::writeRecord(50, "two");
  rt::rewindUnit(50);
  EXPECT_EQ(readAll(50), (std::vector<std::string>{"one", "two"}));
  rt::closeUnit(50);
  EXPECT_FALSE(rt::unitOpened(50));
}

TEST_F(Units, WriteFailuresAreNeverSilent) {
  // A full device: the failure shows at the write that reaches it.
  ASSERT_EQ(rt::openUnit(40, "/dev/full", status("UNKNOWN")), 0);
  const std::string rec(100, 'x');
  try {
    for (int i = 0; i < 10000; ++i) rt::writeRecord(40, rec);
    ADD_FAILURE() << "no failure on a full device";
  } catch (const rt::IoFailure& e) {
    EXPECT_EQ(e.file(), "/dev/full");
    EXPECT_EQ(e.operation(), "write");
  }
  rt::resetUnits();

  // A record still in the buffer fails at the close.
  ASSERT_EQ(rt::openUnit(40, "/dev/full", status("UNKNOWN")), 0);
  rt::writeRecord(40, "buffered");
  EXPECT_THROW(rt::closeUnit(40), rt::IoFailure);
  EXPECT_FALSE(rt::unitOpened(40));
  ASSERT_EQ(rt::openUnit(40, "/dev/full", status("UNKNOWN")), 0);
  rt::writeRecord(40, "buffered");
  EXPECT_EQ(rt::closeUnitIostat(40), ENOSPC);
  // The flush of every unit reports the failure after flushing the others.
  ASSERT_EQ(rt::openUnit(40, "/dev/full", status("UNKNOWN")), 0);
  ASSERT_EQ(rt::openUnit(43, path("other.txt"), status("NEW")), 0);
  rt::writeRecord(40, "buffered");
  rt::writeRecord(43, "saved");
  EXPECT_THROW(rt::flushAll(), rt::IoFailure);
  EXPECT_EQ(get("other.txt"), "saved\n");
  rt::resetUnits();

  // A unit that is not connected, a file opened for reading only.
  try {
    rt::writeRecord(41, "lost");
    ADD_FAILURE() << "no failure on a unit that is not connected";
  } catch (const rt::IoFailure& e) {
    EXPECT_EQ(e.operation(), "write");
    EXPECT_NE(std::string(e.what()).find("41"), std::string::npos);
  }
  put("ro.txt", "r\n");
  ASSERT_EQ(rt::openUnit(42, path("ro.txt"), status("OLD", true)), 0);
  EXPECT_THROW(rt::writeRecord(42, "w"), rt::IoFailure);
  rt::closeUnit(42);
  EXPECT_EQ(get("ro.txt"), "r\n");
}

TEST_F(Units, ConsoleUnits) {
  std::ostringstream out;
  std::istringstream in("line one\r\nline two\n");
  rt::setConsoleOutput(&out);
  rt::setConsoleInput(&in);
  EXPECT_TRUE(rt::unitOpened(5));
  EXPECT_TRUE(rt::unitOpened(6));
  rt::writeRecord(6, "to the console");
  rt::writeRecord(6, "");
  EXPECT_EQ(out.str(), "to the console\n\n");
  std::string rec;
  EXPECT_EQ(rt::readRecord(5, rec), 0);
  EXPECT_EQ(rec, "line one");
  EXPECT_EQ(rt::readRecord(5, rec), 0);
  EXPECT_EQ(rec, "line two");
  EXPECT_EQ(rt::readRecord(5, rec), rt::kIoEnd);
  EXPECT_GT(rt::readRecord(6, rec), 0);
  EXPECT_THROW(rt::writeRecord(5, "x"), rt::IoFailure);
  rt::closeUnit(6);  // the console stays connected
  rt::writeRecord(6, "still here");
  EXPECT_EQ(out.str(), "to the console\n\nstill here\n");

  // A file on unit 5 takes the place of standard input until it is closed.
  put("sysinp.txt", "from file\n");
  ASSERT_EQ(rt::openUnit(5, path("sysinp.txt"), status("OLD")), 0);
  EXPECT_EQ(rt::unitName(5), path("sysinp.txt"));
  EXPECT_EQ(rt::readRecord(5, rec), 0);
  EXPECT_EQ(rec, "from file");
  rt::closeUnit(5);
  std::istringstream in2("console again\n");
  rt::setConsoleInput(&in2);
  EXPECT_EQ(rt::readRecord(5, rec), 0);
  EXPECT_EQ(rec, "console again");
}

TEST_F(Units, FlushAllMakesRecordsVisible) {
  ASSERT_EQ(rt::openUnit(998, path("out.txt"), status("NEW")), 0);
  rt::writeRecord(998, "visible");
  rt::flushAll();
  EXPECT_EQ(get("out.txt"), "visible\n");
  rt::resetUnits();
  EXPECT_FALSE(rt::unitOpened(998));
  EXPECT_TRUE(rt::unitOpened(6));
}

TEST_F(Units, LargeFilesAreFast) {
  const auto start = std::chrono::steady_clock::now();
  const std::string rec =
      "  1  STATION NAME 1        4331297.34550    567555.72870   4633133.86780    ABCDE";
  ASSERT_EQ(rt::openUnit(999, path("big.txt"), status("NEW")), 0);
  for (int i = 0; i < 100000; ++i) rt::writeRecord(999, rec);
  rt::closeUnit(999);
  ASSERT_EQ(rt::openUnit(999, path("big.txt"), status("OLD", true)), 0);
  std::string r;
  std::string last;
  int n = 0;
  while (rt::readRecord(999, r) == 0) {
    ++n;
    last.swap(r);
  }
  rt::closeUnit(999);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(n, 100000);
  EXPECT_EQ(last, rec);
  EXPECT_LT(seconds, 1.0);
}

}  // namespace
