#include "runtime/units.h"

#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/format.h"
#include "runtime/process.h"
#include "runtime/replace.h"
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

// Through a link `a` to the directory other/inner, "a/../X" is other/X as
// the system takes it: the inquiry finds that file, and a removal removes it
// and not the X beside the link, an ordinary file as a result file.
TEST_F(Units, NamesThroughALinkedDirectoryLeadWhereTheSystemLeads) {
  fs::create_directories(dir_ / "other" / "inner");
  fs::create_symlink("other/inner", dir_ / "a");
  struct Case {
    const char* what;
    rt::OpenRequest request;
    const char* name;    // under the link
    const char* target;  // the file it is
    const char* beside;  // the other file of that name, beside the link
  };
  const Case cases[] = {
      {"an ordinary file", status("UNKNOWN"), "a/../X", "other/X", "X"},
      {"a result file", rttest::resultRequest(), "a/../X", "other/X", "X"},
      {"a new result file", rttest::resultRequest(), "a/../NEW", "other/NEW", "NEW"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    put("X", "the user's own file\n");
    put("other/X", "old\n");
    ASSERT_EQ(rt::openUnit(20, path(c.name), c.request), 0);
    rt::writeRecord(20, "new");
    EXPECT_EQ(rt::inquireFile(path(c.name)).unit, 20);
    EXPECT_EQ(rt::inquireFile(path(c.target)).unit, 20);
    EXPECT_FALSE(rt::inquireFile(path(c.beside)).opened);
    rt::closeUnit(20, rt::Disp::Delete);
    EXPECT_FALSE(fs::exists(path(c.target)));
    EXPECT_EQ(get("X"), "the user's own file\n");
    for (const auto& e : fs::directory_iterator(dir_ / "other"))
      EXPECT_EQ(e.path().filename().string().find(".~"), std::string::npos) << e.path();
  }
}

TEST_F(Units, BlanksAroundANameAreNotPartOfIt) {
  const struct {
    const char* text;
    const char* name;
  } cases[] = {
      {"a.txt", "a.txt"},       {"  a.txt", "a.txt"},   {"a.txt   ", "a.txt"},
      {"  a b.txt  ", "a b.txt"}, {"", ""},
      {"    ", ""},             {"\ta.txt", "\ta.txt"},  // only blanks, not tabs
  };
  for (const auto& c : cases) EXPECT_EQ(rt::fileNameOf(c.text), c.name) << c.text;
  EXPECT_EQ(rt::fileNameOf(std::string("a.txt\0 ", 7)), "a.txt");

  // Open and inquiry take the same file for the padded and the bare name.
  const std::string bare = path("f.txt");
  const std::string padded = "  " + bare + "  ";
  ASSERT_EQ(rt::openUnit(20, padded, status("NEW")), 0);
  EXPECT_EQ(rt::unitName(20), bare);
  EXPECT_TRUE(fs::exists(bare));
  for (const std::string& name : {bare, padded}) {
    const rt::FileInquiry q = rt::inquireFile(name);
    EXPECT_TRUE(q.exist) << name;
    EXPECT_EQ(q.unit, 20) << name;
  }
  rt::closeUnit(20);
  EXPECT_EQ(rt::openUnit(20, "   ", status("UNKNOWN")), ENOENT);
  EXPECT_FALSE(rt::inquireFile("  " + path("none.txt")).exist);
}

// The kind of a file is found without opening it (a FIFO without writer
// would block an open), links followed, the name taken as opening takes it.
TEST_F(Units, KindOfAFileWithoutOpeningIt) {
  put("plain.txt", "x\n");
  fs::create_directory(dir_ / "sub");
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  fs::create_symlink("fifo", dir_ / "to_fifo");
  fs::create_symlink("none", dir_ / "dangling");
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const struct {
    std::string name;
    rt::FileKind kind;
  } cases[] = {
      {path("plain.txt"), rt::FileKind::Regular},
      {"  " + path("plain.txt") + "  ", rt::FileKind::Regular},
      {path("sub"), rt::FileKind::Directory},
      {path("fifo"), rt::FileKind::Fifo},
      {path("to_fifo"), rt::FileKind::Fifo},
      {"/proc/self/fd/" + std::to_string(pipeFds[0]), rt::FileKind::Fifo},
      {"/dev/null", rt::FileKind::CharDevice},
      {path("none"), rt::FileKind::None},
      {path("dangling"), rt::FileKind::None},
      {"   ", rt::FileKind::None},
  };
  for (const auto& c : cases) EXPECT_EQ(rt::fileKindOf(c.name), c.kind) << c.name;
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);

  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // Bound by its name in the directory, the working directory for a
  // moment: a socket's address holds no more than 107 bytes, fewer than a
  // path under a long temporary directory.
  std::strcpy(addr.sun_path, "socket");
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_);
  const int bound = ::bind(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  fs::current_path(cwd);
  EXPECT_EQ(bound, 0) << std::strerror(errno);
  EXPECT_EQ(rt::fileKindOf(path("socket")), rt::FileKind::Socket);
  ::close(sock);
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

// A file that the run may only read (opened for reading, or read-only to
// the run) is still removed by a Delete: its directory decides that.
TEST_F(Units, FileOpenedForReadingIsRemovedByDelete) {
  put("read.txt", "r\n");
  ASSERT_EQ(rt::openUnit(13, path("read.txt"), status("OLD", true)), 0);
  EXPECT_EQ(rt::closeUnitIostat(13, rt::Disp::Delete), 0);
  EXPECT_FALSE(fs::exists(path("read.txt")));
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

  // A unit whose file was closed under the run: the failure names that
  // file (the last one connected there), never the unit; a unit that never
  // had a file names none.
  ASSERT_EQ(rt::openUnit(41, path("first.txt"), status("NEW")), 0);
  ASSERT_EQ(rt::openUnit(41, path("closed.txt"), status("NEW")), 0);
  rt::closeUnit(41);
  const std::pair<int, std::string> notConnected[] = {
      {41, "input/output failure: write on file " + path("closed.txt") + ": the file is closed"},
      {44, "input/output failure: write on file (none): no file was opened for this output"}};
  for (const auto& [unit, message] : notConnected) {
    try {
      rt::writeRecord(unit, "lost");
      ADD_FAILURE() << "no failure on unit " << unit;
    } catch (const rt::IoFailure& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
  // A file opened for reading only.
  put("ro.txt", "r\n");
  ASSERT_EQ(rt::openUnit(42, path("ro.txt"), status("OLD", true)), 0);
  EXPECT_THROW(rt::writeRecord(42, "w"), rt::IoFailure);
  rt::closeUnit(42);
  EXPECT_EQ(get("ro.txt"), "r\n");
}

TEST_F(Units, RecordsWrittenAheadAsOneByOne) {
  // Records made ahead and written at once: the file is the one that
  // writing them one by one gives, cut at the position as a first write.
  put("one.txt", "old 1\nold 2\nold 3\n");
  put("ahead.txt", "old 1\nold 2\nold 3\n");
  ASSERT_EQ(rt::openUnit(40, path("one.txt"), status("OLD")), 0);
  ASSERT_EQ(rt::openUnit(41, path("ahead.txt"), status("OLD")), 0);
  std::string record;
  ASSERT_EQ(rt::readRecord(40, record), 0);
  ASSERT_EQ(rt::readRecord(41, record), 0);
  for (const char* r : {"a", "", "bb  "}) rt::writeRecord(40, r);
  rt::writeRecords(41, "a\n\nbb  \n");
  rt::writeRecords(41, "");
  rt::closeUnit(40);
  rt::closeUnit(41);
  EXPECT_EQ(get("one.txt"), "old 1\na\n\nbb  \n");
  EXPECT_EQ(get("ahead.txt"), get("one.txt"));

  // Failures name the file, as for one record.
  ASSERT_EQ(rt::openUnit(42, "/dev/full", status("UNKNOWN")), 0);
  try {
    rt::writeRecords(42, std::string(1 << 20, 'x') + "\n");
    ADD_FAILURE() << "no failure on a full device";
  } catch (const rt::IoFailure& e) {
    EXPECT_EQ(e.file(), "/dev/full");
    EXPECT_EQ(e.operation(), "write");
  }
  rt::resetUnits();
  put("ro.txt", "r\n");
  ASSERT_EQ(rt::openUnit(43, path("ro.txt"), status("OLD", true)), 0);
  EXPECT_THROW(rt::writeRecords(43, "w\n"), rt::IoFailure);
  rt::closeUnit(43);
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

TEST_F(Units, UnitsOnOneFileKeepTheOrderOfTheirRecords) {
  // Two units on one FIFO (as on a standard stream or a device named for
  // two purposes), with records of a unit on another file in between: the
  // records leave in the order in which they were written, not unit by
  // unit as the buffers empty.
  ASSERT_EQ(::mkfifo(path("F").c_str(), 0644), 0);
  const int reader = ::open(path("F").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(rt::openUnit(30, path("F")), 0);
  ASSERT_EQ(rt::openUnit(31, path("F")), 0);
  ASSERT_EQ(rt::openUnit(32, path("other.txt")), 0);
  const std::pair<int, const char*> writes[] = {
      {30, "a1"}, {31, "b1"}, {32, "x1"}, {30, "a2"}, {32, "x2"}, {31, "b2"}, {31, "b3"},
      // The unit on the other file is closed and its number opened on the
      // FIFO: the new unit writes after what unit 31 still holds.
      {-32, nullptr}, {32, "c1"}, {31, "b4"}};
  for (const auto& [unit, text] : writes) {
    if (unit < 0) {
      rt::closeUnit(-unit);
      ASSERT_EQ(rt::openUnit(-unit, path("F")), 0);
      continue;
    }
    rt::writeRecord(unit, text);
  }
  for (int unit : {32, 31, 30}) rt::closeUnit(unit);
  std::string got;
  char buf[256];
  for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
  ::close(reader);
  EXPECT_EQ(got, "a1\nb1\na2\nb2\nb3\nc1\nb4\n");
  EXPECT_EQ(get("other.txt"), "x1\nx2\n");
}

TEST_F(Units, TheConsoleTakesTurnsWithTheUnitsOnItsFile) {
  // A unit on the console's own file (the message file named as standard
  // output, however it is named, or as standard error when both are that
  // file): the records of the unit and of the console come out in the
  // order in which they were written, whether the console is a file, a
  // pipe or a terminal.
  enum class Console { File, Pipe, Terminal };
  struct Case {
    Console console;
    std::string name;  // of the unit's file
  };
  const char* const kinds[] = {"a file", "a pipe", "a terminal"};
  std::vector<Case> cases;
  for (Console console : {Console::File, Console::Pipe, Console::Terminal})
    for (const char* name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1", "/dev/stderr"})
      cases.push_back({console, name});
  cases.push_back({Console::File, path("console.txt")});
  const std::pair<int, const char*> writes[] = {{6, "c1"}, {97, "m1"}, {6, "c2"}, {6, "c3"},
                                                {97, "m2"}, {97, "m3"}, {6, "c4"}};
  std::string skipped;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(kinds[static_cast<int>(c.console)]) + ", the unit on " + c.name);
    // The console's descriptor for the child, and the one the test reads.
    int console = -1;
    int reader = -1;
    if (c.console == Console::File) {
      console = ::open(path("console.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    } else if (c.console == Console::Pipe) {
      int fds[2] = {-1, -1};
      ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
      reader = fds[0];
      console = fds[1];
    } else {
      reader = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      const char* terminal = reader >= 0 && ::grantpt(reader) == 0 && ::unlockpt(reader) == 0
                                 ? ::ptsname(reader)
                                 : nullptr;
      if (terminal != nullptr) console = ::open(terminal, O_RDWR | O_NOCTTY | O_CLOEXEC);
      termios raw {};
      if (console < 0 || ::tcgetattr(console, &raw) != 0) {
        if (reader >= 0) ::close(reader);
        skipped = "no terminal can be made here";
        continue;
      }
      ::cfmakeraw(&raw);  // the bytes as written, no CR added
      ::tcsetattr(console, TCSANOW, &raw);
    }
    ASSERT_GE(console, 0);
    std::cout.flush();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int code = 0;
      try {
        if (::dup2(console, 1) < 0 || ::dup2(console, 2) < 0) ::_exit(2);
        rt::resetUnits();
        rt::setConsoleOutput(nullptr);
        if (rt::openUnit(97, c.name) != 0) ::_exit(3);
        for (const auto& [unit, text] : writes) rt::writeRecord(unit, text);
        rt::flushAll();
      } catch (...) {
        code = 4;
      }
      ::_exit(code);
    }
    ::close(console);
    std::string got;
    if (reader >= 0) {
      // Read until the child is gone: the end of the pipe, or EIO from a
      // terminal that nobody holds any more.
      char buf[256];
      for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) > 0;)
        got.append(buf, static_cast<std::size_t>(n));
      ::close(reader);
    }
    int status = -1;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    if (c.console == Console::File) got = get("console.txt");
    EXPECT_EQ(got, "c1\nm1\nc2\nc3\nm2\nm3\nc4\n");
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped << ": the terminal cases did not run";
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
  XF_SKIP_UNDER_SANITIZER("the time limit would measure the sanitizer (" +
                          std::to_string(seconds) + " s)");
  EXPECT_LT(seconds, 1.0);
}

// ---- Result files: replaced whole or not at all ----

class ResultFiles : public Units {
 protected:
  void TearDown() override {
    rt::setTempSuffixSource({});
    Units::TearDown();
  }
  // The entries of a directory of the test, sorted.
  std::vector<std::string> names(const std::string& sub = "") const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_ / sub)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  // The one new file beside `target` while it is written ("" if none).
  std::string newFileBeside(const std::string& target, const std::string& sub = "") const {
    std::string found;
    for (const std::string& n : names(sub))
      if (n.rfind(target + ".~", 0) == 0) {
        EXPECT_TRUE(found.empty()) << "more than one new file: " << n;
        found = n;
      }
    return found;
  }
  // Writes the records to `name` as a result file and closes it.
  void writeResult(const std::string& name, const std::vector<std::string>& records,
                   rt::Disp disp = rt::Disp::Keep) {
    ASSERT_EQ(rt::openUnit(20, name, rttest::resultRequest()), 0);
    for (const std::string& r : records) rt::writeRecord(20, r);
    rt::closeUnit(20, disp);
  }
  static struct stat statOf(const std::string& name) {
    struct stat sb {};
    EXPECT_EQ(::lstat(name.c_str(), &sb), 0) << name;
    return sb;
  }
};

TEST_F(ResultFiles, ReplacedOnlyWhenClosedWithKeep) {
  put("T.CRD", "old\n");
  ASSERT_EQ(rt::openUnit(20, path("T.CRD"), rttest::resultRequest()), 0);
  EXPECT_TRUE(rt::resultUnit(20));
  rt::writeRecord(20, "new 1");
  rt::writeRecord(20, "new 2");
  rt::flushAll();
  // While it is written the target is untouched, and the inquiry finds it
  // connected to the unit.
  EXPECT_EQ(get("T.CRD"), "old\n");
  EXPECT_NE(newFileBeside("T.CRD"), "");
  const rt::FileInquiry q = rt::inquireFile(path("T.CRD"));
  EXPECT_TRUE(q.exist);
  EXPECT_TRUE(q.opened);
  EXPECT_EQ(q.unit, 20);
  rt::closeUnit(20);
  EXPECT_EQ(get("T.CRD"), "new 1\nnew 2\n");
  EXPECT_EQ(names(), (std::vector<std::string>{"T.CRD"}));

  // A new target appears only at the close, with 0666 less the umask; for
  // the program it exists from the open on.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ASSERT_EQ(rt::openUnit(21, path("NEW.CRD"), rttest::resultRequest()), 0);
  rt::writeRecord(21, "first");
  EXPECT_FALSE(fs::exists(path("NEW.CRD")));
  const rt::FileInquiry n = rt::inquireFile(path("NEW.CRD"));
  EXPECT_TRUE(n.exist);
  EXPECT_EQ(n.unit, 21);
  rt::closeUnit(21);
  EXPECT_EQ(get("NEW.CRD"), "first\n");
  EXPECT_EQ(statOf(path("NEW.CRD")).st_mode & 07777, 0666 & ~mask);
  EXPECT_EQ(names(), (std::vector<std::string>{"NEW.CRD", "T.CRD"}));
  EXPECT_FALSE(rt::resultUnit(21));
}

TEST_F(ResultFiles, DiscardKeepsTheTargetDeleteRemovesIt) {
  struct Case {
    rt::Disp disp;
    bool existed;
    const char* left;  // content afterwards, nullptr: no file
  };
  const Case cases[] = {{rt::Disp::Discard, true, "old\n"},
                        {rt::Disp::Discard, false, nullptr},
                        {rt::Disp::Delete, true, nullptr},
                        {rt::Disp::Delete, false, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.disp)) + (c.existed ? " existing" : " new"));
    fs::remove(path("T.CRD"));
    if (c.existed) put("T.CRD", "old\n");
    ASSERT_EQ(rt::openUnit(20, path("T.CRD"), rttest::resultRequest()), 0);
    rt::writeRecord(20, "new");
    EXPECT_EQ(rt::closeUnitIostat(20, c.disp), 0);
    if (c.left == nullptr) {
      EXPECT_FALSE(fs::exists(path("T.CRD")));
      EXPECT_EQ(names(), std::vector<std::string>{});
    } else {
      EXPECT_EQ(get("T.CRD"), c.left);
      EXPECT_EQ(names(), (std::vector<std::string>{"T.CRD"}));
    }
  }
  // Closing every result unit: with Discard none is put in place.
  put("A", "a\n");
  ASSERT_EQ(rt::openUnit(30, path("A"), rttest::resultRequest()), 0);
  ASSERT_EQ(rt::openUnit(31, path("B"), rttest::resultRequest()), 0);
  ASSERT_EQ(rt::openUnit(32, path("C"), status("NEW")), 0);
  rt::writeRecord(30, "new a");
  rt::writeRecord(31, "new b");
  rt::closeResultUnits(rt::Disp::Discard);
  EXPECT_FALSE(rt::unitOpened(30));
  EXPECT_FALSE(rt::unitOpened(31));
  EXPECT_TRUE(rt::unitOpened(32));
  EXPECT_EQ(names(), (std::vector<std::string>{"A", "C"}));
  EXPECT_EQ(get("A"), "a\n");
}

TEST_F(ResultFiles, ReconnectingTheUnitDropsAnUnfinishedResultFile) {
  // The unit of a result file still being written is connected again: the
  // half-written content is dropped, never put in place.
  struct Case {
    const char* what;
    std::string next;       // the file connected next
    rt::OpenRequest req;
    const char* written;    // written on the next file before its close
    const char* want;       // the target afterwards
  };
  const Case cases[] = {
      {"another file", path("OTHER.TXT"), status("UNKNOWN"), "other", "old\n"},
      {"the same result file again", path("T.CRD"), rttest::resultRequest(), "whole", "whole\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    put("T.CRD", "old\n");
    ASSERT_EQ(rt::openUnit(20, path("T.CRD"), rttest::resultRequest()), 0);
    rt::writeRecord(20, "half");
    ASSERT_EQ(rt::openUnit(20, c.next, c.req), 0);
    EXPECT_EQ(get("T.CRD"), "old\n");
    rt::writeRecord(20, c.written);
    rt::closeUnit(20);
    EXPECT_EQ(get("T.CRD"), c.want);
    EXPECT_EQ(newFileBeside("T.CRD"), "");
  }
}

TEST_F(ResultFiles, FailedWriteKeepsTheTargetAndNamesIt) {
  put("T.CRD", "old\n");
  std::string failure;
  std::string failedFile;
  {
    const rttest::FileSizeLimit limit(1000);
    ASSERT_TRUE(limit.ok());
    try {
      ASSERT_EQ(rt::openUnit(20, path("T.CRD"), rttest::resultRequest()), 0);
      for (int i = 0; i < 100; ++i) rt::writeRecord(20, std::string(80, 'x'));
      rt::closeUnit(20);  // the records reach the file here, past the limit
    } catch (const rt::IoFailure& e) {
      failure = e.what();
      failedFile = e.file();
    }
  }

  EXPECT_EQ(failedFile, path("T.CRD"));
  EXPECT_EQ(failure, "input/output failure: write on file " + path("T.CRD") + ": File too large");
  EXPECT_FALSE(rt::unitOpened(20));
  EXPECT_EQ(get("T.CRD"), "old\n");
  EXPECT_EQ(names(), (std::vector<std::string>{"T.CRD"}));
}

TEST_F(ResultFiles, SpecialFilesAreWrittenInPlaceAndNeverRemoved) {
  ASSERT_EQ(::mkfifo(path("F").c_str(), 0644), 0);
  const bool haveDevice = ::mknod(path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  const int reader = ::open(path("F").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  for (const char* name : {"F", "null"}) {
    if (std::string(name) == "null" && !haveDevice) continue;
    SCOPED_TRACE(name);
    for (rt::Disp disp : {rt::Disp::Keep, rt::Disp::Discard, rt::Disp::Delete}) {
      ASSERT_EQ(rt::openUnit(20, path(name), rttest::resultRequest()), 0);
      EXPECT_EQ(newFileBeside(name), "");  // nothing is made beside it
      rt::writeRecord(20, "through");
      rt::closeUnit(20, disp);
    }
    const struct stat sb = statOf(path(name));
    EXPECT_TRUE(std::string(name) == "F" ? S_ISFIFO(sb.st_mode) : S_ISCHR(sb.st_mode));
  }
  char buf[64] = {};
  EXPECT_EQ(::read(reader, buf, sizeof buf - 1), 24);
  EXPECT_EQ(std::string(buf), "through\nthrough\nthrough\n");
  ::close(reader);
  EXPECT_EQ(names(), haveDevice ? (std::vector<std::string>{"F", "null"})
                                : (std::vector<std::string>{"F"}));
  if (!haveDevice) GTEST_SKIP() << "mknod is not permitted here: the device case did not run";
}

TEST_F(ResultFiles, FifosThatTheRunOnlyWritesAreOpenedForWritingOnly) {
  // A result file or the program output on a FIFO: its reader sees the
  // end of the records, a reader that leaves makes the write fail, and a
  // FIFO without a reader is waited for (in a child process: the wait ends
  // when a reader comes or at a signal).
  std::string records;
  for (int i = 0; i < 5000; ++i) records += "record " + std::to_string(i) + " of a large result\n";
  for (const rt::FileRole role : {rt::FileRole::Result, rt::FileRole::Output}) {
    SCOPED_TRACE(role == rt::FileRole::Result ? "result" : "program output");
    rt::OpenRequest req = rttest::resultRequest();
    req.role = role;
    fs::remove(path("F"));
    ASSERT_EQ(::mkfifo(path("F").c_str(), 0644), 0);

    // The reader leaves before the records come.
    const int leaving = ::open(path("F").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(leaving, 0);
    ASSERT_EQ(rt::openUnit(20, path("F"), req), 0);
    ::close(leaving);
    const auto oldPipe = ::signal(SIGPIPE, SIG_IGN);
    std::string failure;
    try {
      rt::writeRecord(20, "lost");
      rt::closeUnit(20);
    } catch (const rt::IoFailure& e) {
      failure = e.what();
    }
    ::signal(SIGPIPE, oldPipe);
    EXPECT_EQ(failure, "input/output failure: write on file " + path("F") + ": Broken pipe");
    EXPECT_FALSE(rt::unitOpened(20));

    // Under the thread sanitizer a signal is held until the open returns,
    // which it never does without a reader: the signal case is left out.
    for (const int sig : {0, SIGTERM}) {
      if (sig != 0 && XF_THREAD_SANITIZER) continue;
      SCOPED_TRACE(sig == 0 ? "a reader comes" : "a signal comes");
      const pid_t pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        const rt::RunSignals signals;
        if (rt::openUnit(20, path("F"), req) != 0) ::_exit(1);
        rt::writeRecords(20, records);
        rt::closeUnit(20);
        ::_exit(0);
      }
      const bool waited = rttest::waitsToWrite(pid, 60);
      EXPECT_TRUE(waited) << "the open did not wait for a reader";
      std::string got;
      if (waited && sig != 0) {
        ::kill(pid, sig);
      } else {
        const int reader = ::open(path("F").c_str(), O_RDONLY);
        char buf[65536];
        for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) > 0;)
          got.append(buf, static_cast<std::size_t>(n));
        ::close(reader);
      }
      int ws = 0;
      ::waitpid(pid, &ws, 0);
      if (sig == 0) {
        EXPECT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 0) << "wait status " << ws;
        EXPECT_EQ(got, records);
      } else {
        EXPECT_TRUE(WIFSIGNALED(ws) && WTERMSIG(ws) == sig) << "wait status " << ws;
      }
    }
  }
}

TEST_F(ResultFiles, ARegularFileNamedByAnOpenDescriptorIsReplacedByItsName) {
  // /dev/fd/N (/proc/self/fd/N) on a regular file: the file is replaced
  // under its own name like any other, never written where it stands; a
  // file that has no name left is not opened.
  struct Case {
    const char* what;
    rt::Disp disp;
    bool removed;  // the file's name is removed before the open
    int open;      // openUnit's status
    const char* after;
  };
  const Case cases[] = {
      {"kept", rt::Disp::Keep, false, 0, "new\n"},
      {"discarded", rt::Disp::Discard, false, 0, "old\n"},
      {"no name left", rt::Disp::Keep, true, ENOENT, "old\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    put("T.CRD", "old\n");
    const int fd = ::open(path("T.CRD").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    if (c.removed) fs::remove(path("T.CRD"));
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    EXPECT_EQ(rt::openUnit(20, name, rttest::resultRequest()), c.open);
    if (c.open == 0) {
      EXPECT_NE(newFileBeside("T.CRD"), "");
      rt::writeRecord(20, "new");
      rt::flushAll();
      EXPECT_EQ(get("T.CRD"), "old\n");
      rt::closeUnit(20, c.disp);
    }
    if (!c.removed) {
      EXPECT_EQ(get("T.CRD"), c.after);
    } else {
      char buf[16] = {};
      EXPECT_EQ(::pread(fd, buf, sizeof buf - 1, 0), 4);
      EXPECT_EQ(std::string(buf), c.after);
    }
    ::close(fd);
    EXPECT_EQ(newFileBeside("T.CRD"), "");
  }
}

TEST_F(ResultFiles, LinksStayAndTheirFileGetsTheContent) {
  // A symbolic link: the file it points at is replaced beside itself.
  fs::create_directories(dir_ / "sub");
  put("sub/real.crd", "old\n");
  fs::create_symlink("sub/real.crd", path("link.crd"));
  ASSERT_EQ(rt::openUnit(20, path("link.crd"), rttest::resultRequest()), 0);
  rt::writeRecord(20, "via link");
  EXPECT_NE(newFileBeside("real.crd", "sub"), "");
  rt::closeUnit(20);
  EXPECT_TRUE(fs::is_symlink(path("link.crd")));
  EXPECT_EQ(fs::read_symlink(path("link.crd")), "sub/real.crd");
  EXPECT_EQ(get("sub/real.crd"), "via link\n");

  // A link to a file that does not exist yet: the file is made.
  fs::create_symlink("sub/made.crd", path("ahead.crd"));
  writeResult(path("ahead.crd"), {"made"});
  EXPECT_TRUE(fs::is_symlink(path("ahead.crd")));
  EXPECT_EQ(get("sub/made.crd"), "made\n");

  // Hard links: all names keep the one file, which gets the content.
  put("a.crd", "old\n");
  fs::create_hard_link(path("a.crd"), path("b.crd"));
  const ino_t inode = statOf(path("a.crd")).st_ino;
  ASSERT_EQ(rt::openUnit(20, path("a.crd"), rttest::resultRequest()), 0);
  rt::writeRecord(20, "shared");
  EXPECT_EQ(get("b.crd"), "old\n");  // not before the close
  rt::closeUnit(20);
  EXPECT_EQ(get("b.crd"), "shared\n");
  EXPECT_EQ(statOf(path("a.crd")).st_ino, inode);
  EXPECT_EQ(statOf(path("b.crd")).st_ino, inode);
  // A shorter content is not followed by the rest of the old one.
  writeResult(path("b.crd"), {"s"});
  EXPECT_EQ(get("a.crd"), "s\n");
  EXPECT_EQ(names(), (std::vector<std::string>{"a.crd", "ahead.crd", "b.crd", "link.crd", "sub"}));
  EXPECT_EQ(names("sub"), (std::vector<std::string>{"made.crd", "real.crd"}));
}

TEST_F(ResultFiles, PermissionsAndOwnerAreKept) {
  put("p.crd", "old\n");
  fs::permissions(path("p.crd"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(path("p.crd").c_str(), rttest::kNobodyUid, rttest::kNobodyGid), 0);
  }
  const struct stat before = statOf(path("p.crd"));
  writeResult(path("p.crd"), {"new"});
  const struct stat after = statOf(path("p.crd"));
  EXPECT_EQ(get("p.crd"), "new\n");
  EXPECT_NE(after.st_ino, before.st_ino);  // replaced, not rewritten
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
}

TEST_F(ResultFiles, NewFileNamesCannotBeGuessed) {
  std::vector<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(rt::openUnit(20, path("T.CRD"), rttest::resultRequest()), 0);
    const std::string name = newFileBeside("T.CRD");
    rt::closeUnit(20, rt::Disp::Discard);
    ASSERT_EQ(name.size(), std::string("T.CRD.~").size() + 10) << name;
    seen.push_back(name);
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());

  // A name as long as a directory entry allows still gets a new file beside it.
  const std::string longName(255, 'n');
  writeResult(path(longName), {"long"});
  EXPECT_EQ(get(longName), "long\n");
  EXPECT_EQ(names(), std::vector<std::string>{longName});
}

TEST_F(ResultFiles, PlantedNamesAreNeverFollowed) {
  // Whatever waits under the name chosen for the new file (a symbolic link
  // to another file, a file) is left alone; another name is taken.
  put("victim.txt", "victim\n");
  put("T.CRD", "old\n");
  fs::create_symlink(path("victim.txt"), path("T.CRD.~GUESSED001"));
  put("T.CRD.~GUESSED002", "planted\n");
  int calls = 0;
  rt::setTempSuffixSource([&calls] { return "GUESSED00" + std::to_string(++calls); });
  writeResult(path("T.CRD"), {"new"});
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(get("T.CRD"), "new\n");
  EXPECT_EQ(get("victim.txt"), "victim\n");
  EXPECT_EQ(get("T.CRD.~GUESSED002"), "planted\n");
  EXPECT_TRUE(fs::is_symlink(path("T.CRD.~GUESSED001")));
  EXPECT_EQ(names(), (std::vector<std::string>{"T.CRD", "T.CRD.~GUESSED001", "T.CRD.~GUESSED002",
                                               "victim.txt"}));
}

TEST_F(ResultFiles, TheProgramOutputFileIsContinuedNotReplaced) {
  // Standard output redirected to a file, and that file named as the target.
  std::cout.flush();
  std::fflush(stdout);
  const int saved = ::dup(1);
  ASSERT_GE(saved, 0);
  const int fd = ::open(path("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ::dup2(fd, 1);
  ::close(fd);
  const auto say = [](const char* text) {
    return ::write(1, text, std::strlen(text)) == static_cast<ssize_t>(std::strlen(text));
  };
  const bool before = say("report before\n");
  const int opened = rt::openUnit(20, path("out.txt"), rttest::resultRequest());
  const std::vector<std::string> during = names();
  if (opened == 0) {
    rt::writeRecord(20, "coordinates");
    rt::closeUnit(20);
  }
  const bool after = say("report after\n");
  // A removal never takes the program output away.
  const int again = rt::openUnit(20, path("out.txt"), rttest::resultRequest());
  if (again == 0) rt::closeUnit(20, rt::Disp::Delete);
  ::dup2(saved, 1);
  ::close(saved);

  EXPECT_TRUE(before && after);
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(again, 0);
  EXPECT_EQ(during, (std::vector<std::string>{"out.txt"}));
  EXPECT_EQ(get("out.txt"), "report before\ncoordinates\nreport after\n");
}

TEST_F(ResultFiles, DirectoriesThatRefuseANewFileOrTheReplacement) {
  // A sticky directory and a target of another owner: it cannot be
  // replaced, so the finished content is copied into it. A directory that
  // takes no new file: the target is written directly.
  // Run as the user nobody, with the permissions set whatever the umask.
  fs::create_directories(dir_ / "sticky");
  fs::create_directories(dir_ / "closed");
  fs::permissions(dir_, fs::perms::all);  // the way in for nobody
  fs::permissions(dir_ / "sticky", fs::perms::all | fs::perms::sticky_bit);
  fs::permissions(dir_ / "closed", static_cast<fs::perms>(0755));
  put("sticky/T.CRD", "old\n");
  put("closed/T.CRD", "old\n");
  fs::permissions(path("sticky/T.CRD"), static_cast<fs::perms>(0666));
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(path("closed/T.CRD").c_str(), rttest::kNobodyUid, rttest::kNobodyGid), 0);
  }
  for (const char* name : {"sticky/T.CRD", "closed/T.CRD"})
    if (const std::string why = rttest::whyNobodyCannot(path(name), R_OK | W_OK); !why.empty())
      GTEST_SKIP() << why;
  const ino_t stickyInode = statOf(path("sticky/T.CRD")).st_ino;
  const ino_t closedInode = statOf(path("closed/T.CRD")).st_ino;
  const int status = rttest::runAsNobody([this] {
    for (const char* name : {"sticky/T.CRD", "closed/T.CRD"}) {
      if (rt::openUnit(20, path(name), rttest::resultRequest()) != 0) return false;
      rt::writeRecord(20, "new");
      rt::writeRecord(20, "content");
      rt::closeUnit(20);
    }
    return true;
  });
  EXPECT_EQ(status, 0);
  for (const char* name : {"sticky/T.CRD", "closed/T.CRD"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(get(name), "new\ncontent\n");
  }
  EXPECT_EQ(statOf(path("sticky/T.CRD")).st_ino, stickyInode);
  EXPECT_EQ(statOf(path("sticky/T.CRD")).st_uid, 0u);
  EXPECT_EQ(statOf(path("closed/T.CRD")).st_ino, closedInode);
  EXPECT_EQ(names("sticky"), std::vector<std::string>{"T.CRD"});
  EXPECT_EQ(names("closed"), std::vector<std::string>{"T.CRD"});
}

TEST_F(ResultFiles, AccessListsAreKept) {
  // A replaced file keeps its access list, and with it the users it shuts
  // out or lets in; a file without one gets none, not even the one that
  // its directory's default list gives a new file. A file with another
  // hard link is copied into and keeps its own.
  struct Case {
    const char* what;
    mode_t mode;
    int nobody;        // the named user's permissions; -1: the file has no list
    bool defaultList;  // the directory gives new files a list that lets nobody in
    bool hardLink;
    bool nobodyReads;  // afterwards
  };
  const Case cases[] = {
      {"a 0644 file whose list shuts nobody out", 0644, 0, false, false, false},
      {"a 0640 file whose list lets nobody read", 0640, 4, false, false, true},
      {"a 02660 file whose list lets nobody write", 02660, 6, false, false, true},
      {"a 0640 file without a list, its directory has a default list", 0640, -1, true, false,
       false},
      {"a 0640 file with another hard link whose list lets nobody read", 0640, 4, false, true,
       true},
  };
  fs::permissions(dir_, fs::perms::all);  // the way in for nobody
  const std::string lets = rttest::accessList(6, {{65534, 6}}, 4, 6, 0);
  bool nobodyChecked = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string sub = c.what;
    fs::create_directories(dir_ / sub);
    if (c.defaultList &&
        !rttest::giveAccessList(dir_ / sub, lets, "system.posix_acl_default")) {
      GTEST_SKIP() << "the file system of the temporary directory takes no access list";
    }
    const std::string name = path(sub + "/T.CRD");
    put(sub + "/T.CRD", "old\n");
    ASSERT_EQ(::chmod(name.c_str(), c.mode), 0);
    // A file made in a directory with a default list has a list from it.
    ::removexattr(name.c_str(), "system.posix_acl_access");
    const unsigned group = (c.mode >> 3) & 7;
    if (c.nobody >= 0 &&
        !rttest::giveAccessList(name, rttest::accessList(6, {{65534, static_cast<unsigned>(c.nobody)}},
                                                         group, group, c.mode & 7))) {
      GTEST_SKIP() << "the file system of the temporary directory takes no access list";
    }
    if (c.hardLink) fs::create_hard_link(name, path(sub + "/LINK"));
    const struct stat before = statOf(name);
    const std::string list = rttest::accessListOf(name);
    ASSERT_EQ(list.empty(), c.nobody < 0);

    writeResult(name, {"new"});
    const struct stat after = statOf(name);
    EXPECT_EQ(get(sub + "/T.CRD"), "new\n");
    EXPECT_EQ(after.st_ino == before.st_ino, c.hardLink);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(rttest::accessListOf(name), list);
    const auto opens = [&name] {
      const int fd = ::open(name.c_str(), O_RDONLY);
      if (fd >= 0) ::close(fd);
      return fd >= 0;
    };
    if (rttest::whyNobodyCannot(dir_ / sub, X_OK).empty()) {
      const int status = rttest::runAsNobody(opens);
      ASSERT_TRUE(status == 0 || status == 1) << "status " << status;
      EXPECT_EQ(status == 0, c.nobodyReads);
    } else {
      nobodyChecked = false;
    }
  }
  if (!nobodyChecked)
    GTEST_SKIP() << "the lists were compared; reading as nobody needs root and the user nobody";
}

TEST_F(ResultFiles, TheAccessListOfAFileThatMayOnlyBeWrittenIsKept) {
  // The run may write the file but not read it: its list is read all the
  // same, and the new file takes it.
  fs::permissions(dir_, fs::perms::all);  // nobody makes the new file here
  put("T.CRD", "old\n");
  ASSERT_EQ(::chmod(path("T.CRD").c_str(), 0622), 0);
  const std::string list = rttest::accessList(6, {{65534, 2}}, 2, 2, 2);
  if (!rttest::giveAccessList(path("T.CRD"), list))
    GTEST_SKIP() << "the file system of the temporary directory takes no access list";
  if (const std::string why = rttest::whyNobodyCannot(dir_, W_OK | X_OK); !why.empty())
    GTEST_SKIP() << why;
  const int status = rttest::runAsNobody(
      [this] {
        if (::access(path("T.CRD").c_str(), R_OK) == 0) return false;  // not the case here
        if (rt::openUnit(20, path("T.CRD"), rttest::resultRequest()) != 0) return false;
        rt::writeRecord(20, "new");
        rt::closeUnit(20);
        return true;
      });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(get("T.CRD"), "new\n");
  EXPECT_EQ(statOf(path("T.CRD")).st_mode & 07777, 0622u);
  EXPECT_EQ(rttest::accessListOf(path("T.CRD")), list);
  EXPECT_EQ(names(), std::vector<std::string>{"T.CRD"});
}

}  // namespace
