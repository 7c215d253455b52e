// Whole runs of the program on inputs it cannot read and in conditions it
// cannot finish in: coordinate, velocity and station selection files that
// are no regular files (a FIFO, a pipe, a device) and constants and datum
// files that are devices stop the run before any open, with a block naming
// the file; inputs that would be read changed (a NUL byte in a text, a
// first station line whose values are not seen) stop it too; the signals that end a run remove the
// new files beside the result files and end it as that signal does; a run
// that runs out of memory ends with a message and status 1, never with an
// abort.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "runtime/testsupport.h"

namespace {

namespace fs = std::filesystem;
using e2e::Keywords;
using e2e::RunDir;

// Every run here ends within this time; a run that would wait for ever (an
// input it opens and waits on) is ended by SIGALRM and fails its test.
constexpr unsigned kRunSeconds = 60;

using e2e::newFilesIn;

// The block that refuses an input file, written for `routine`.
std::string refusal(const std::string& routine, const std::string& name, const std::string& type) {
  return "\n *** SR " + routine + ": Input file is not a regular file\n"
         "                File name:  " + name + "\n"
         "                File type:  " + type + "\n"
         "                A regular file is expected here.\n\n";
}

// The block of a failed open (a missing file, a directory).
std::string openFailure(const std::string& name, const std::string& routine, int iostat) {
  const std::string r = std::string(10 - routine.size(), ' ') + routine;
  const std::string s = std::to_string(iostat);
  return "\n *** SR OPNERR: OPEN FAILED\n"
         "                FILE NAME : " + name + "\n"
         "                PGM./SUBR.: " + r + "\n"
         "                IOSTAT    : " + std::string(6 - s.size(), ' ') + s + "\n"
         "                FILE UNIT :    999\n\n";
}

// A process that opens the FIFO for writing (waiting for a reader) and
// writes `text` into it: the writer of `cat FILE > FIFO &`. Stopped by the
// object's end, whether or not a reader came.
class FifoWriter {
 public:
  FifoWriter(const fs::path& fifo, const std::string& text) {
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(fifo.c_str(), O_WRONLY);
      if (fd >= 0) {
        for (std::size_t done = 0; done < text.size();) {
          const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
          if (n <= 0) break;
          done += static_cast<std::size_t>(n);
        }
      }
      ::_exit(0);
    }
  }
  ~FifoWriter() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  FifoWriter(const FifoWriter&) = delete;
  FifoWriter& operator=(const FifoWriter&) = delete;

 private:
  pid_t pid_ = -1;
};

// A pipe that holds `text`, its writing end closed, so a reader sees the
// whole text and then its end.
class FilledPipe {
 public:
  explicit FilledPipe(const std::string& text) {
    if (::pipe(fds_) != 0) return;
    ok_ = ::write(fds_[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fds_[1]);
  }
  ~FilledPipe() {
    if (fds_[0] >= 0) ::close(fds_[0]);
  }
  FilledPipe(const FilledPipe&) = delete;
  FilledPipe& operator=(const FilledPipe&) = delete;
  bool ok() const { return ok_; }
  int readEnd() const { return fds_[0]; }

 private:
  int fds_[2] = {-1, -1};
  bool ok_ = false;
};

enum class Kind { Fifo, Device, PipeAsFd3, PipeAsStdin, Directory };

struct InputCase {
  std::string label;
  std::string keyword;  // the keyword that names the file
  std::string name;     // the name it gives
  Kind kind;
  std::string fixture;  // the content a FIFO or pipe carries (tests/data)
  std::string block;    // the block that stops the run
};

// The options of the runs: the test network with a station selection file
// and a velocity file at hand.
Keywords inputKeywords() {
  return e2e::networkKeywords().set("USESTA", {"SEL.FIL"}).set("VELAPR", {"NET.VEL"}).set(
      "COORD2", {"NET_B_2021.CRD"});
}

void putInputs(const RunDir& dir) {
  e2e::putNetworkInputs(dir);
  for (const char* f : {"SEL.FIL", "NET.VEL", "NET_B_2021.CRD"}) dir.copy(f, f);
}

// The program on the network of putInputs with the given keywords, ended
// by SIGALRM after kRunSeconds; `inChild` runs in the new process first.
e2e::RunResult runGuarded(const RunDir& dir, const Keywords& keywords,
                          const std::function<void()>& inChild = {}) {
  dir.put("XFORM1.INP", keywords.text());
  return e2e::run(dir, {"XFORM1.INP"}, [&] {
    if (inChild) inChild();
    ::alarm(kRunSeconds);
  });
}

TEST(Xform1Inputs, InputsThatAreNoRegularFilesStopBeforeAnyOpen) {
  const std::string fifoType = "FIFO or pipe";
  const std::vector<InputCase> cases = {
      {"fifo_coord1", "COORD1", "REF_A.FIFO", Kind::Fifo, "NET_A.CRD",
       refusal("GETCO3", "REF_A.FIFO", fifoType)},
      {"device_coord2", "COORD2", "/dev/zero", Kind::Device, "",
       refusal("GETCO3", "/dev/zero", "character device")},
      {"pipe_fd_coord1", "COORD1", "/dev/fd/3", Kind::PipeAsFd3, "NET_A.CRD",
       refusal("GETCO3", "/dev/fd/3", fifoType)},
      {"pipe_stdin_coord2", "COORD2", "/dev/stdin", Kind::PipeAsStdin, "NET_B_2021.CRD",
       refusal("GETCO3", "/dev/stdin", fifoType)},
      {"fifo_velapr", "VELAPR", "VEL.FIFO", Kind::Fifo, "NET.VEL",
       refusal("GETCO3", "VEL.FIFO", fifoType)},
      {"fifo_usesta", "USESTA", "SEL.FIFO", Kind::Fifo, "SEL.FIL",
       refusal("READSTSG", "SEL.FIFO", fifoType)},
      // Read once, a FIFO would do; a device never (/dev/zero has no end).
      {"device_const", "CONST", "/dev/zero", Kind::Device, "",
       refusal("DEFCON", "/dev/zero", "character device")},
      {"device_datum", "DATUM", "/dev/zero", Kind::Device, "",
       refusal("GETDAT", "/dev/zero", "character device")},
      // A directory is refused by its open, as before.
      {"directory_coord1", "COORD1", "ADIR", Kind::Directory, "",
       openFailure("ADIR", "linCount", EISDIR)},
      {"directory_usesta", "USESTA", "ADIR", Kind::Directory, "",
       openFailure("ADIR", "readstsg", EISDIR)},
  };
  // The report of a run whose file of that keyword is missing: the same
  // report, with the open failure as the block that stops it.
  std::map<std::string, std::string> missing;
  const std::map<std::string, std::string> routines = {
      {"COORD1", "getco3"}, {"COORD2", "getco3"}, {"VELAPR", "getco3"},
      {"USESTA", "readstsg"}, {"CONST", "DEFCON"}, {"DATUM", "GETDAT"}};
  for (const auto& [key, routine] : routines) {
    SCOPED_TRACE("missing " + key);
    RunDir dir("inputs_missing");
    putInputs(dir);
    const e2e::RunResult r = runGuarded(dir, inputKeywords().set(key, {"MISSING"}));
    ASSERT_EQ(r.status, 1) << r.err;
    ASSERT_EQ(r.err, "");
    missing[key] = e2e::replaced(e2e::maskClock(r.out), openFailure("MISSING", routine, ENOENT),
                                 "<BLOCK>");
  }

  for (const InputCase& c : cases) {
    SCOPED_TRACE(c.label);
    RunDir dir("inputs_" + c.label);
    putInputs(dir);
    const std::string content = c.fixture.empty() ? "" : dir.text(c.fixture);
    std::optional<FifoWriter> writer;
    std::optional<FilledPipe> pipe;
    std::function<void()> inChild;
    switch (c.kind) {
      case Kind::Fifo:
        ASSERT_EQ(::mkfifo((dir / c.name).c_str(), 0644), 0);
        writer.emplace(dir / c.name, content);
        break;
      case Kind::PipeAsFd3:
      case Kind::PipeAsStdin: {
        pipe.emplace(content);
        ASSERT_TRUE(pipe->ok());
        const int from = pipe->readEnd();
        const int to = c.kind == Kind::PipeAsFd3 ? 3 : 0;
        inChild = [from, to] { ::dup2(from, to); };
        break;
      }
      case Kind::Directory:
        fs::create_directory(dir / c.name);
        break;
      case Kind::Device:
        break;
    }
    const Keywords keywords = inputKeywords().set(c.keyword, {c.name});
    dir.put("XFORM1.INP", keywords.text());
    const std::set<std::string> before = dir.files();
    const e2e::RunResult r = runGuarded(dir, keywords, inChild);
    EXPECT_EQ(r.status, 1) << "(-1: ended by a signal, after " << kRunSeconds << " s: the run hung)";
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(e2e::maskClock(r.out), e2e::replaced(missing.at(c.keyword), "<BLOCK>", c.block));
    EXPECT_EQ(dir.files(), before);
  }
}

TEST(Xform1Inputs, ConstantsAndDatumFilesAreReadOnceFromAFifo) {
  // The constants and the datum file are read once: from a FIFO the run
  // writes what it writes from the regular file.
  RunDir plain("inputs_plain");
  putInputs(plain);
  const Keywords keywords = inputKeywords().set("COORDRS", {"OUT.CRD"});
  const e2e::RunResult want = runGuarded(plain, keywords);
  ASSERT_EQ(want.status, 0) << want.err;
  for (const auto& [key, fixture] : {std::pair<std::string, std::string>{"CONST", "CONST.TST"},
                                     {"DATUM", "DATUM.TST"}}) {
    SCOPED_TRACE(key);
    RunDir dir("inputs_fifo_" + key);
    putInputs(dir);
    ASSERT_EQ(::mkfifo((dir / "IN.FIFO").c_str(), 0644), 0);
    const FifoWriter writer(dir / "IN.FIFO", dir.text(fixture));
    Keywords fromFifo = keywords;
    const e2e::RunResult r = runGuarded(dir, fromFifo.set(key, {"IN.FIFO"}));
    EXPECT_EQ(r.status, 0) << "(-1: ended by a signal, after " << kRunSeconds << " s: the run hung)";
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(e2e::maskClock(r.out), e2e::maskClock(want.out));
    EXPECT_EQ(e2e::maskClock(dir.text("OUT.CRD")), e2e::maskClock(plain.text("OUT.CRD")));
  }
}

// The blocks that stop a run on an input it would otherwise change.
std::string dataLines(const std::string& name, int line) {
  const std::string n = std::to_string(line);
  return "\n *** SR GETCO3: Error reading data lines for coordinate file\n"
         "                File name:   " + name + "\n"
         "                Line number: " + std::string(6 - n.size(), ' ') + n + "\n\n";
}
std::string header(const std::string& name) {
  return "\n *** SR GETCO3: Error reading header of coordinate file\n"
         "                File name:  " + name + "\n\n";
}
std::string keywordLine(const std::string& line) {
  return "\n*** SR READKEYS: Error decoding keyword line\n"
         "                 panel: XFORM1.INP\n"
         "                 line : " + line + "\n\n";
}
std::string selectionLine(const std::string& name, int line) {
  return "\n *** SR READSTSG: Error reading station selection file.\n"
         "                  File name:     " + name + "\n"
         "                  Line number:   " + std::to_string(line) + "\n\n";
}

TEST(Xform1Inputs, InputsThatWouldBeReadChangedStopTheRun) {
  // A first station line whose values the reader would not see (one column
  // to the left, or with a tab), which would make every value of the file
  // zero; a NUL byte in a text of the run (station line, title, keyword
  // value, station of the selection file or of the table), which would be
  // copied into the results or drop a station. Each stops the run with its
  // block before any result is written.
  using namespace std::string_literals;
  enum class Edit { Shift, Tab, Nul };
  struct Case {
    std::string label;
    Keywords keywords;
    std::string file;    // the input file edited (empty: none)
    int line;            // its line, from 1
    Edit edit;
    std::size_t column;  // of a NUL, from 0
    std::string block;
  };
  const Keywords base = inputKeywords().set("COORDRS", {"OUT.CRD"});
  Keywords merge = base;
  merge.set("COORD", {"OLD.CRD"});
  Keywords byTable = base;
  byTable.set("RADIO_1", {"0"}).set("RADIO_2", {"1"});
  const std::vector<Case> cases = {
      {"coord1 line 7 shifted", base, "NET_A.CRD", 7, Edit::Shift, 0, dataLines("NET_A.CRD", 1)},
      {"coord2 line 7 tabbed", base, "NET_B_2021.CRD", 7, Edit::Tab, 0,
       dataLines("NET_B_2021.CRD", 1)},
      {"velocity line 7 shifted", base, "NET.VEL", 7, Edit::Shift, 0, dataLines("NET.VEL", 1)},
      {"velocity line 7 tabbed", base, "NET.VEL", 7, Edit::Tab, 0, dataLines("NET.VEL", 1)},
      {"merged file line 7 tabbed", merge, "OLD.CRD", 7, Edit::Tab, 0, dataLines("OLD.CRD", 1)},
      {"NUL in a station name of coord2", base, "NET_B_2021.CRD", 9, Edit::Nul, 8,
       dataLines("NET_B_2021.CRD", 3)},
      {"NUL in a station name of the velocities", base, "NET.VEL", 9, Edit::Nul, 8,
       dataLines("NET.VEL", 3)},
      {"NUL in the title of coord1", base, "NET_A.CRD", 1, Edit::Nul, 4, header("NET_A.CRD")},
      {"NUL in TITLE", Keywords(base).set("TITLE", {"Helmert\0 network"s}), "",
       0, Edit::Nul, 0, keywordLine("TITLE 1 \"Helmert")},
      {"NUL in a station of STASELECT",
       Keywords(byTable).set("STASELECT", {"\"AL\0A 10001M001\" \"\" \"\" \"\""s}),
       "", 0, Edit::Nul, 0, keywordLine("STASELECT 1 \"AL")},
      {"NUL in a station of USESTA", base, "SEL.FIL", 6, Edit::Nul, 2, selectionLine("SEL.FIL", 6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RunDir dir("inputs_changed");
    putInputs(dir);
    if (c.file == "OLD.CRD") dir.copy("OLD.CRD", "OLD.CRD");
    if (!c.file.empty()) {
      std::string text = dir.text(c.file);
      std::size_t at = 0;
      for (int line = 1; line < c.line; ++line) at = text.find('\n', at) + 1;
      switch (c.edit) {
        case Edit::Shift: text.erase(at, 1); break;
        case Edit::Tab: text.replace(text.find("    ", at + 5), 4, "\t"); break;
        case Edit::Nul: text[at + c.column] = '\0'; break;
      }
      dir.put(c.file, text);
    }
    dir.put("XFORM1.INP", c.keywords.text());
    const std::set<std::string> before = dir.files();
    const e2e::RunResult r = runGuarded(dir, c.keywords);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find(c.block), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\0'), std::string::npos);
    EXPECT_EQ(dir.files(), before);
  }
}

TEST(Xform1Inputs, MergeIntoAFifoStopsWithoutWritingTheResult) {
  // The existing file of the merge (COORD) is read as a coordinate file.
  RunDir dir("inputs_merge_fifo");
  putInputs(dir);
  ASSERT_EQ(::mkfifo((dir / "OLD.FIFO").c_str(), 0644), 0);
  const FifoWriter writer(dir / "OLD.FIFO", e2e::fileContent(e2e::dataDir() / "OLD.CRD"));
  dir.put("MERGED.CRD", "old coordinates\n");
  const e2e::RunResult r = runGuarded(
      dir, inputKeywords().set("COORD", {"OLD.FIFO"}).set("COORDRS", {"MERGED.CRD"}));
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find(refusal("GETCO3", "OLD.FIFO", "FIFO or pipe")), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(">>> Program ended with an error"), std::string::npos);
  EXPECT_EQ(dir.text("MERGED.CRD"), "old coordinates\n");
  EXPECT_EQ(newFilesIn(dir.path()), std::vector<std::string>{});
}

// A network of 100 000 stations made by the network generator, with every
// result file under a name of its own.
class LargeInputs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new RunDir("inputs_large");
    ASSERT_TRUE(e2e::makeLargeRun(*dir_));
    // The result files of a whole run.
    const e2e::RunResult whole = e2e::run(*dir_, {"XFORM1.INP"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    for (const auto& [key, value] : kResults) complete_[value] = e2e::maskClock(dir_->text(value));
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  // Gives each result file an old content of its own.
  static void putOldResults() {
    for (const auto& [key, value] : kResults) dir_->put(value, "old " + value + "\n");
  }
  // Removes the new files that a failed case left, so that the next one
  // starts without them.
  static void removeNewFiles() {
    for (const std::string& n : newFilesIn(dir_->path())) fs::remove(*dir_ / n);
  }
  // Each result file holds its old content or the whole new one.
  static void expectOldOrComplete() {
    for (const auto& [key, value] : kResults) {
      SCOPED_TRACE(value);
      const std::string text = dir_->text(value);
      EXPECT_TRUE(text == "old " + value + "\n" || e2e::maskClock(text) == complete_[value])
          << text.size() << " bytes";
    }
  }

  static inline const std::map<std::string, std::string>& kResults = e2e::largeRunResults();
  static RunDir* dir_;
  static std::map<std::string, std::string> complete_;
};
RunDir* LargeInputs::dir_ = nullptr;
std::map<std::string, std::string> LargeInputs::complete_;

// The same network for runs under a limit of the address space, which the
// sanitizers cannot run under: the network is then not even made.
class LargeInputsUnderLimits : public LargeInputs {
 protected:
  static void SetUpTestSuite() {
    if (rttest::kSanitizer == nullptr) LargeInputs::SetUpTestSuite();
  }
};

TEST_F(LargeInputsUnderLimits, RunningOutOfMemoryNeverAborts) {
  XF_SKIP_UNDER_SANITIZER("its runtime reserves more address space than any limit here leaves");
  // Limits of the address space from one that hardly lets the program start
  // up to one it can finish with, on one thread: each run that cannot get
  // its memory stops with the allocation block of the array or with the
  // message of a run out of memory, status 1, no abort, and leaves every
  // result file as it was or whole and no new file beside one.
  const std::string message =
      "out of memory: the run is stopped, result files not finished are left as they were\n";
  const rttest::EnvVariable oneThread("XFORM1_THREADS", "1");
  int failed = 0;
  bool finished = false;
  for (rlim_t mb = 4; mb <= 128 && !finished; mb += 4) {
    SCOPED_TRACE(std::to_string(mb) + " MB");
    putOldResults();
    fs::remove(*dir_ / "XFORM1.OUT");
    const e2e::RunResult r = e2e::run(*dir_, {"XFORM1.INP"}, [mb] {
      const rlimit limit{mb << 20, mb << 20};
      ::setrlimit(RLIMIT_AS, &limit);
      ::alarm(kRunSeconds);
    });
    // Too little to load the program's libraries: it never ran.
    if (r.status == 127 && r.err.find("error while loading shared libraries") != std::string::npos)
      continue;
    if (r.status == 0) {
      finished = true;
      continue;
    }
    ++failed;
    const std::string report = fs::exists(*dir_ / "XFORM1.OUT") ? dir_->text("XFORM1.OUT") : "";
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.find("terminate called"), std::string::npos) << r.err;
    if (r.err.empty()) {
      EXPECT_NE(report.find(" *** SR ALCERR: ALLOCATION OF AN ARRAY FAILED"), std::string::npos)
          << report;
      EXPECT_NE(report.find(">>> Program ended with an error"), std::string::npos);
    } else {
      EXPECT_EQ(r.err, message);
    }
    EXPECT_EQ(newFilesIn(dir_->path()), std::vector<std::string>{});
    expectOldOrComplete();
    removeNewFiles();
  }
  EXPECT_TRUE(finished) << "no limit let the run finish";
  if (failed == 0) GTEST_SKIP() << "no limit lets the program start here but not finish";
}

}  // namespace
