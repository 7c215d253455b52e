#include "runtime/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <ctime>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/chunkpool.h"
#include "runtime/testsupport.h"
#include "runtime/units.h"

namespace fs = std::filesystem;

namespace {

TEST(Process, FailureMessageNamesFileAndOperation) {
  const rt::IoFailure full("out/report.txt", "write", "No space left on device");
  EXPECT_STREQ(full.what(),
               "input/output failure: write on file out/report.txt: No space left on device");
  EXPECT_EQ(full.file(), "out/report.txt");
  EXPECT_EQ(full.operation(), "write");
  const rt::IoFailure bare("a.inp", "read");
  EXPECT_STREQ(bare.what(), "input/output failure: read on file a.inp");
}

TEST(Process, CommandLine) {
  const char* argv[] = {"xform1", "my input", "file.inp"};
  rt::setCommandLine(3, argv);
  EXPECT_EQ(rt::argCount(), 2);
  EXPECT_EQ(rt::argument(1), "my input");
  EXPECT_EQ(rt::argument(2), "file.inp");
  EXPECT_EQ(rt::argument(0), "");
  EXPECT_EQ(rt::argument(3), "");
  const char* only[] = {"xform1"};
  rt::setCommandLine(1, only);
  EXPECT_EQ(rt::argCount(), 0);
  EXPECT_EQ(rt::argument(1), "");
}

// Runs with the time zone set to `tz`, restoring the former one.
class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    variable_.emplace("TZ", tz);
    ::tzset();
  }
  ~TimeZone() {
    variable_.reset();
    ::tzset();
  }

 private:
  std::optional<rttest::EnvVariable> variable_;
};

TEST(Process, LocalClockHasOffsetAndMilliseconds) {
  const TimeZone zone("XYZ-2");  // two hours east of UTC
  // Bracketed by the clock the program reads: std::time may read a coarser
  // one that lags it by some milliseconds at the turn of a second.
  const auto realTime = [] {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec;
  };
  const std::time_t before = realTime();
  const rt::ClockValues c = rt::localClock();
  const std::time_t after = realTime();
  EXPECT_EQ(c[3], 120);
  std::tm utc{};
  bool matched = false;
  for (std::time_t t : {before, after}) {
    const std::time_t shifted = t + 7200;
    gmtime_r(&shifted, &utc);
    matched = matched || (c[0] == utc.tm_year + 1900 && c[1] == utc.tm_mon + 1 &&
                          c[2] == utc.tm_mday && c[4] == utc.tm_hour && c[5] == utc.tm_min &&
                          c[6] == utc.tm_sec);
  }
  EXPECT_TRUE(matched) << c[0] << '-' << c[1] << '-' << c[2] << ' ' << c[4] << ':' << c[5]
                       << ':' << c[6];
  EXPECT_GE(c[7], 0);
  EXPECT_LE(c[7], 999);
}

TEST(Process, ClockAndCpuOverrides) {
  const rt::ClockValues fixed{2024, 2, 29, -300, 23, 59, 58, 999};
  rt::setClockOverride(fixed);
  EXPECT_EQ(rt::localClock(), fixed);
  rt::setClockOverride(std::nullopt);
  EXPECT_GE(rt::localClock()[0], 2024);

  rt::setCpuOverride(12.5);
  EXPECT_EQ(rt::cpuSeconds(), 12.5);
  rt::setCpuOverride(std::nullopt);
  const double t0 = rt::cpuSeconds();
  volatile double sink = 0.0;
  for (int i = 0; i < 20000000; ++i) sink = sink + i * 0.5;
  const double t1 = rt::cpuSeconds();
  EXPECT_GE(t0, 0.0);
  EXPECT_GT(t1, t0);
  EXPECT_LT(t1 - t0, 60.0);
}

class RunProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = rttest::freshTempDir("process_test");
    oldErr_ = std::cerr.rdbuf(err_.rdbuf());
    rt::setConsoleOutput(&out_);
  }
  void TearDown() override {
    std::cerr.rdbuf(oldErr_);
    rt::resetUnits();
    rt::setConsoleOutput(nullptr);
    fs::remove_all(dir_);
  }
  // Connects a file to unit 20 and leaves one record in its buffer.
  void bufferedRecord() {
    rt::OpenRequest req;
    req.status = "NEW";
    ASSERT_EQ(rt::openUnit(20, file(), req), 0);
    rt::writeRecord(20, "record");
  }
  std::string file() const { return (dir_ / "out.txt").string(); }
  std::string content() const { return rttest::fileContent(file()); }
  // Entries of the test directory: 1 when the file is all there is.
  std::ptrdiff_t entries() const {
    return std::distance(fs::directory_iterator(dir_), fs::directory_iterator());
  }
  int run(const std::function<void()>& body) {
    const char* argv[] = {"xform1", "run.inp"};
    return rt::runProgram(2, argv, body);
  }

  fs::path dir_;
  std::ostringstream err_;
  std::ostringstream out_;
  std::streambuf* oldErr_ = nullptr;
};

TEST_F(RunProgram, NormalEnd) {
  int seenArgs = -1;
  EXPECT_EQ(run([&] {
              seenArgs = rt::argCount();
              EXPECT_EQ(rt::argument(1), "run.inp");
              bufferedRecord();
              rt::writeRecord(6, "done");
            }),
            0);
  EXPECT_EQ(seenArgs, 1);
  EXPECT_EQ(content(), "record\n");  // flushed, although the unit is still open
  EXPECT_EQ(out_.str(), "done\n");
  EXPECT_EQ(err_.str(), "");
}

TEST_F(RunProgram, ExitStatusFromProgramExit) {
  for (int status : {0, 1}) {
    EXPECT_EQ(run([&] {
                bufferedRecord();
                throw rt::ProgramExit{status};
              }),
              status);
    EXPECT_EQ(content(), "record\n");
    rt::resetUnits();
    fs::remove(file());
  }
  EXPECT_EQ(err_.str(), "");
}

TEST_F(RunProgram, IoFailureGives127AndAMessage) {
  EXPECT_EQ(run([&] {
              bufferedRecord();
              throw rt::IoFailure("coords.crd", "read", "status 5010");
            }),
            127);
  EXPECT_EQ(err_.str(), "input/output failure: read on file coords.crd: status 5010\n");
  EXPECT_EQ(content(), "record\n");
}

TEST_F(RunProgram, FailedFinalFlushGives127) {
  EXPECT_EQ(run([] {
              rt::OpenRequest req;
              ASSERT_EQ(rt::openUnit(21, "/dev/full", req), 0);
              rt::writeRecord(21, "cannot be written");
            }),
            127);
  EXPECT_EQ(err_.str(), "input/output failure: write on file /dev/full: No space left on device\n");
}

// A failure of the program output is told once, although the final flush
// meets it again.
TEST_F(RunProgram, FailureOfTheOutputIsToldOnce) {
  std::ostringstream broken;
  broken.setstate(std::ios::badbit);
  rt::setConsoleOutput(&broken);
  EXPECT_EQ(run([] { rt::writeRecord(6, "lost"); }), 127);
  rt::setConsoleOutput(nullptr);
  EXPECT_EQ(err_.str(), "input/output failure: write on file standard output: the stream failed\n");
}

// A result file still open when the run ends is put in place after
// status 0 and left as it was after any other ending.
TEST_F(RunProgram, ResultFilesStillOpenAtTheEnd) {
  struct Case {
    const char* name;
    std::function<void()> ending;
    int status;
    bool replaced;
  };
  const Case cases[] = {
      {"return", [] {}, 0, true},
      {"exit 0", [] { throw rt::ProgramExit{0}; }, 0, true},
      {"exit 1", [] { throw rt::ProgramExit{1}; }, 1, false},
      {"failure", [] { throw rt::IoFailure("other.crd", "read"); }, 127, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    { std::ofstream(file()) << "old\n"; }
    EXPECT_EQ(run([&] {
                ASSERT_EQ(rt::openUnit(20, file(), rttest::resultRequest()), 0);
                rt::writeRecord(20, "new");
                c.ending();
              }),
              c.status);
    EXPECT_FALSE(rt::unitOpened(20));
    EXPECT_EQ(content(), c.replaced ? "new\n" : "old\n");
    EXPECT_EQ(entries(), 1);
  }
}

// An exception that no routine expects leaves no new file beside a result
// file, and the result file as it was; the exception goes on.
TEST_F(RunProgram, UnexpectedExceptionLeavesNoNewFile) {
  { std::ofstream(file()) << "old\n"; }
  EXPECT_THROW(run([&] {
                 ASSERT_EQ(rt::openUnit(20, file(), rttest::resultRequest()), 0);
                 rt::writeRecord(20, "new");
                 throw std::logic_error("unexpected");
               }),
               std::logic_error);
  EXPECT_FALSE(rt::unitOpened(20));
  EXPECT_EQ(content(), "old\n");
  EXPECT_EQ(entries(), 1);
}

// Memory running out where no routine names the array, in the program's
// own thread or in a job of the pool, or an array asked for with more
// elements than an array can hold: status 1 and a message, the result
// file as it was and no new file beside it, what was written before out.
TEST_F(RunProgram, OutOfMemoryEndsWithStatus1AndAMessage) {
  const struct {
    const char* name;
    std::function<void()> failure;
  } cases[] = {
      {"program", [] { throw std::bad_alloc(); }},
      {"pool job", [] {
         rt::ChunkPool pool(2);
         pool.run(4, [](std::size_t chunk) {
           if (chunk == 2) throw std::bad_alloc();
         });
       }},
      // More elements than an array can hold: std::length_error.
      {"program, array beyond any size", [] {
         std::vector<double> v;
         v.reserve(v.max_size() + 1);
       }},
      {"pool job, array beyond any size", [] {
         rt::ChunkPool pool(2);
         pool.run(4, [](std::size_t chunk) {
           if (chunk == 2) std::vector<double>().reserve(std::vector<double>().max_size() + 1);
         });
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string result = (dir_ / "result.txt").string();
    { std::ofstream(result) << "old\n"; }
    err_.str("");
    EXPECT_EQ(run([&] {
                bufferedRecord();
                ASSERT_EQ(rt::openUnit(21, result, rttest::resultRequest()), 0);
                rt::writeRecord(21, "new");
                c.failure();
              }),
              1);
    EXPECT_EQ(err_.str(),
              "out of memory: the run is stopped, result files not finished are left as they "
              "were\n");
    EXPECT_FALSE(rt::unitOpened(21));
    EXPECT_EQ(rttest::fileContent(result), "old\n");
    EXPECT_EQ(content(), "record\n");
    EXPECT_EQ(entries(), 2);
    rt::resetUnits();
    fs::remove(file());
  }
}

// A file-size limit makes the write fail (status 127, the file named)
// instead of killing the process, and the result file keeps its content.
TEST_F(RunProgram, FileSizeLimitIsAWriteFailure) {
  { std::ofstream(file()) << "old\n"; }
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const int status = run([&] {
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ASSERT_EQ(rt::openUnit(20, file(), rttest::resultRequest()), 0);
    for (int i = 0; i < 100; ++i) rt::writeRecord(20, std::string(80, 'x'));
    rt::closeUnit(20);
  });
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(status, 127);
  EXPECT_EQ(err_.str(), "input/output failure: write on file " + file() + ": File too large\n");
  EXPECT_EQ(content(), "old\n");
  EXPECT_EQ(entries(), 1);
}

// Each of those signals while a result file is written: the new file
// beside it is removed, the target keeps its content and the process ends
// as that signal ends it, also after a fault of the program itself and
// after std::terminate. A signal ignored when the run starts stays ignored,
// one with a handler of its own keeps it: the run goes on.
TEST_F(RunProgram, SignalsRemoveNewFilesAndEndTheRunAsUsual) {
  enum class Start { Default, Ignored, Handled };
  enum class Cause { Raised, Fault, Terminate };
  struct Case {
    int sig;
    Start start;
    Cause cause;
  };
  std::vector<Case> cases;
  for (int sig = 1; sig < NSIG; ++sig)
    if (rt::signalEndsTheRun(sig)) cases.push_back({sig, Start::Default, Cause::Raised});
  cases.push_back({SIGSEGV, Start::Default, Cause::Fault});
  cases.push_back({SIGABRT, Start::Default, Cause::Terminate});
  cases.push_back({SIGHUP, Start::Ignored, Cause::Raised});
  cases.push_back({SIGUSR1, Start::Handled, Cause::Raised});
  for (const Case c : cases) {
    SCOPED_TRACE(std::to_string(c.sig) + " " + strsignal(c.sig) +
                 (c.start == Start::Ignored   ? " ignored"
                  : c.start == Start::Handled ? " handled"
                  : c.cause == Cause::Fault   ? " fault"
                  : c.cause == Cause::Terminate ? " terminate"
                                                : ""));
    { std::ofstream(file()) << "old\n"; }
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      struct sigaction start {};
      start.sa_handler = c.start == Start::Ignored   ? SIG_IGN
                         : c.start == Start::Handled ? [](int) {}
                                                     : SIG_DFL;
      sigemptyset(&start.sa_mask);
      ::sigaction(c.sig, &start, nullptr);
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, c.sig);
      ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
      const rlimit noCore{0, 0};
      ::setrlimit(RLIMIT_CORE, &noCore);
      const char* argv[] = {"xform1"};
      const int status = rt::runProgram(1, argv, [&] {
        if (rt::openUnit(20, file(), rttest::resultRequest()) != 0) throw rt::ProgramExit{3};
        rt::writeRecord(20, "new");
        rt::flushAll();
        switch (c.cause) {
          case Cause::Raised:
            ::raise(c.sig);
            break;
          case Cause::Fault: {
            // A write to a page that may only be read.
            void* page = ::mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (page == MAP_FAILED) throw rt::ProgramExit{4};
            *static_cast<volatile char*>(page) = 1;
            break;
          }
          case Cause::Terminate: {
            // Without the note of the C++ library on standard error.
            const int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) ::dup2(null, 2);
            std::terminate();
          }
        }
      });
      ::_exit(status);
    }
    int ws = 0;
    ASSERT_EQ(::waitpid(pid, &ws, 0), pid);
    if (c.start != Start::Default) {
      EXPECT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 0) << "wait status " << ws;
      EXPECT_EQ(content(), "new\n");
    } else {
      EXPECT_TRUE(WIFSIGNALED(ws) && WTERMSIG(ws) == c.sig) << "wait status " << ws;
      EXPECT_EQ(content(), "old\n");
    }
    EXPECT_EQ(entries(), 1);
  }
}

// A signal that comes while it is held ends the run, as it would have, once
// the last holder is gone: the held work is finished first.
TEST_F(RunProgram, HeldSignalsEndTheRunAfterTheHeldWork) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGTERM, SIG_DFL);
    const char* argv[] = {"xform1"};
    const int status = rt::runProgram(1, argv, [&] {
      {
        const rt::SignalsHeld outer;
        ::raise(SIGTERM);
        {
          const rt::SignalsHeld inner;
          ::raise(SIGTERM);
        }
        std::ofstream(file()) << "finished\n";
      }
      std::ofstream(file()) << "after the holders\n";
    });
    ::_exit(status);
  }
  int ws = 0;
  ASSERT_EQ(::waitpid(pid, &ws, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(ws) && WTERMSIG(ws) == SIGTERM) << "wait status " << ws;
  EXPECT_EQ(content(), "finished\n");
}

// Standard descriptors closed when the run starts are open on /dev/null
// while the body runs, so that a file it opens never takes their numbers.
TEST_F(RunProgram, ClosedStandardDescriptorsAreOpenedOnNull) {
  struct stat null {};
  ASSERT_EQ(::stat("/dev/null", &null), 0);
  const std::vector<std::vector<int>> cases = {{0}, {1}, {2}, {0, 1, 2}};
  for (const std::vector<int>& closed : cases) {
    SCOPED_TRACE(closed.size() == 1 ? "descriptor " + std::to_string(closed[0]) : "all three");
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int fd : closed) ::close(fd);
      bool fine = false;
      run([&] {
        const int opened = ::open(file().c_str(), O_WRONLY | O_CREAT, 0644);
        fine = opened > 2;
        for (int fd : closed) {
          struct stat sb {};
          const int mode = ::fcntl(fd, F_GETFL) & O_ACCMODE;
          fine = fine && ::fstat(fd, &sb) == 0 && sb.st_rdev == null.st_rdev &&
                 mode == (fd == 0 ? O_RDONLY : O_WRONLY);
        }
      });
      ::_exit(fine ? 0 : 1);
    }
    int ws = 0;
    ASSERT_EQ(::waitpid(pid, &ws, 0), pid);
    EXPECT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 0) << "wait status " << ws;
  }
}

}  // namespace
