// Whole runs with result files and the program output on special files: a
// FIFO (with a reader that comes late, one that leaves early, or none), a
// protected file of another user in a shared sticky directory, and a
// regular file named by an open descriptor (/dev/fd/N). The run waits for
// a FIFO's reader until a signal, ends as on a pipe closed early, refuses
// what it may not write, and never writes a regular file in place.
#include <fcntl.h>
#include <limits.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/fanotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;
using e2e::Keywords;
using e2e::RunDir;

struct Outcome {
  int wait = -1;    // wait status of the process
  bool hung = false;  // still running at the deadline: killed
  std::string out;
  std::string err;
  bool exited(int code) const { return WIFEXITED(wait) && WEXITSTATUS(wait) == code; }
  bool killedBy(int sig) const { return !hung && WIFSIGNALED(wait) && WTERMSIG(wait) == sig; }
};

// A started program, its standard output and error on pipes.
struct Started {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

// Starts the built program (or `program`, a copy of it) in the directory
// on the keyword input file; inChild, when given, is called in the new
// process just before the program is started.
Started start(const RunDir& dir, const std::function<void()>& inChild = {},
              const std::string& inputFile = "XFORM1.INP",
              const std::string& program = XF_PROGRAM) {
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if (::pipe(out) != 0 || ::pipe(err) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (::chdir(dir.path().c_str()) != 0) ::_exit(126);
    const int in = ::open("/dev/null", O_RDONLY);
    if (in < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (inChild) inChild();
    std::string name = program;
    std::string input = inputFile;
    char* argv[] = {name.data(), input.data(), nullptr};
    ::execv(name.c_str(), argv);
    ::_exit(126);
  }
  ::close(out[1]);
  ::close(err[1]);
  return {pid, out[0], err[0]};
}

// Reads both pipes to their end and waits for the process; a process that
// still runs after two minutes (a run that hangs) is killed.
Outcome finish(const Started& s) {
  Outcome o;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  pollfd fds[] = {{s.out, POLLIN, 0}, {s.err, POLLIN, 0}};
  int open = 2;
  char buf[65536];
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      o.hung = true;
      ::kill(s.pid, SIGKILL);
      break;
    }
    if (::poll(fds, 2, static_cast<int>(left.count())) < 0) break;
    for (pollfd& p : fds) {
      if (p.fd < 0 || p.revents == 0) continue;
      const ssize_t n = ::read(p.fd, buf, sizeof buf);
      if (n <= 0) {
        p.fd = -1;
        --open;
        continue;
      }
      (&p == &fds[0] ? o.out : o.err).append(buf, static_cast<std::size_t>(n));
    }
  }
  ::close(s.out);
  ::close(s.err);
  ::waitpid(s.pid, &o.wait, 0);
  return o;
}

// Everything a reader of the FIFO gets, `limit` bytes at most: it then
// leaves.
std::string readFifo(const fs::path& fifo, std::size_t limit = std::string::npos) {
  std::string got;
  const int fd = ::open(fifo.c_str(), O_RDONLY);
  if (fd < 0) return "(no reader)";
  char buf[65536];
  while (got.size() < limit) {
    const ssize_t n = ::read(fd, buf, std::min(sizeof buf, limit - got.size()));
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return got;
}

bool isFifo(const fs::path& p) {
  struct stat sb {};
  return ::lstat(p.c_str(), &sb) == 0 && S_ISFIFO(sb.st_mode);
}

// The run of the test network with every result file under a name of its
// own, rejection on.
Keywords smallKeywords() { return e2e::everyResultKeywords(); }

// The transformed coordinates of a complete run of smallKeywords(), clock
// masked: made once.
const std::string& smallReference() {
  static const std::string coords = [] {
    RunDir dir("special_reference");
    e2e::putNetworkInputs(dir);
    dir.put("XFORM1.INP", smallKeywords().text());
    const Outcome o = finish(start(dir));
    if (!o.exited(0)) throw std::runtime_error("the reference run failed: " + o.err);
    return e2e::maskClock(dir.text("TRANSF.CRD"));
  }();
  return coords;
}

TEST(Xform1FileKinds, AFifoWithoutAReaderIsWaitedForUntilASignal) {
  // The transformed coordinates, or the program output, on a FIFO that no
  // one reads: the run waits in the open as any writer of a FIFO, and a
  // signal ends it there as anywhere: no new file beside a result is left.
  if (XF_THREAD_SANITIZER)
    GTEST_SKIP() << "under the thread sanitizer a signal is held until the open of the FIFO "
                    "returns, which it never does here";
  struct Case {
    const char* key;
    int sig;
  };
  for (const Case& c : {Case{"COORDRS", SIGTERM}, Case{"SYSOUT", SIGINT}}) {
    SCOPED_TRACE(c.key);
    RunDir dir("special_noreader");
    e2e::putNetworkInputs(dir);
    ASSERT_EQ(::mkfifo((dir / "OUT.FIFO").c_str(), 0644), 0);
    dir.put("XFORM1.INP", smallKeywords().set(c.key, {"OUT.FIFO"}).text());
    const Started run = start(dir);
    const bool waited = rttest::waitsToWrite(run.pid);
    if (waited) ::kill(run.pid, c.sig);
    const Outcome o = finish(run);
    EXPECT_TRUE(waited) << "the run did not wait for a reader: " << o.out;
    EXPECT_TRUE(o.killedBy(c.sig)) << "wait status " << o.wait;
    EXPECT_TRUE(isFifo(dir / "OUT.FIFO"));
    EXPECT_EQ(e2e::newFilesIn(dir.path()), std::vector<std::string>{});
  }
}

// A generated network of 10 000 stations, its results made once in regular
// files: the coordinates (far more than a pipe holds) and the report.
class LargeFifoRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new RunDir("special_large");
    ASSERT_TRUE(e2e::generateNetwork(*dir_, "10000 5"));
    const std::string inp = e2e::replaced(dir_->text("XFORM1.INP"), "COORDRS 1 \"\"",
                                          "COORDRS 1 \"OUT.CRD\"");
    dir_->put("XFORM1.INP", inp);
    const Outcome whole = finish(start(*dir_));
    ASSERT_TRUE(whole.exited(0)) << whole.err;
    complete_ = new std::map<std::string, std::string>{
        {"COORDRS", e2e::maskClock(dir_->text("OUT.CRD"))},
        {"SYSOUT", e2e::maskClock(dir_->text("XFORM1.OUT"))}};
    ASSERT_GT(complete_->at("COORDRS").size(), 200000u);
  }
  static void TearDownTestSuite() {
    delete dir_;
    delete complete_;
    dir_ = nullptr;
    complete_ = nullptr;
  }
  // FIFO.INP: the keyword input file with `key` naming OUT.FIFO, a new
  // FIFO.
  static void fifoFor(const std::string& key) {
    fs::remove(*dir_ / "OUT.FIFO");
    ASSERT_EQ(::mkfifo((*dir_ / "OUT.FIFO").c_str(), 0644), 0);
    const std::string from = key == "COORDRS" ? "COORDRS 1 \"OUT.CRD\"" : "SYSOUT 1 \"XFORM1.OUT\"";
    dir_->put("FIFO.INP", e2e::replaced(dir_->text("XFORM1.INP"), from, key + " 1 \"OUT.FIFO\""));
  }
  static RunDir* dir_;
  static std::map<std::string, std::string>* complete_;
};
RunDir* LargeFifoRun::dir_ = nullptr;
std::map<std::string, std::string>* LargeFifoRun::complete_ = nullptr;


TEST_F(LargeFifoRun, AReaderThatComesLateGetsEveryRecord) {
  // The run waits for the reader, which then gets the records whole and
  // their end; the run ends as usual.
  for (const char* key : {"COORDRS", "SYSOUT"}) {
    SCOPED_TRACE(key);
    fifoFor(key);
    const Started run = start(*dir_, {}, "FIFO.INP");
    const bool waited = rttest::waitsToWrite(run.pid);
    const std::string got = readFifo(*dir_ / "OUT.FIFO");
    const Outcome o = finish(run);
    EXPECT_TRUE(waited) << "the run did not wait for a reader";
    EXPECT_TRUE(o.exited(0)) << "wait status " << o.wait << ": " << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_TRUE(e2e::maskClock(got) == complete_->at(key))
        << got.size() << " bytes of " << complete_->at(key).size();
    EXPECT_TRUE(isFifo(*dir_ / "OUT.FIFO"));
    EXPECT_EQ(e2e::newFilesIn(dir_->path()), std::vector<std::string>{});
  }
}

TEST_F(LargeFifoRun, AReaderThatLeavesEarlyEndsTheRun) {
  // The reader of the transformed coordinates leaves after 100 bytes: the
  // run ends as on a pipe closed early, by SIGPIPE or, with that signal
  // ignored, by a failed write that names the file; it never hangs and
  // never tells of success.
  for (const bool ignorePipe : {false, true}) {
    SCOPED_TRACE(ignorePipe ? "SIGPIPE ignored" : "SIGPIPE at its default");
    fifoFor("COORDRS");
    const Started run = start(*dir_, [ignorePipe] {
      if (ignorePipe) ::signal(SIGPIPE, SIG_IGN);
    }, "FIFO.INP");
    const std::string got = readFifo(*dir_ / "OUT.FIFO", 100);
    const Outcome o = finish(run);
    EXPECT_FALSE(o.hung) << "the run did not end";
    EXPECT_EQ(e2e::maskClock(got), complete_->at("COORDRS").substr(0, 100));
    if (ignorePipe) {
      EXPECT_TRUE(o.exited(127)) << "wait status " << o.wait;
      EXPECT_EQ(o.err, "input/output failure: write on file OUT.FIFO: Broken pipe\n");
    } else {
      EXPECT_TRUE(o.killedBy(SIGPIPE)) << "wait status " << o.wait;
    }
    EXPECT_EQ(dir_->text("XFORM1.OUT").find(">>> Program finished successfully"), std::string::npos);
    EXPECT_EQ(e2e::newFilesIn(dir_->path()), std::vector<std::string>{});
  }
}

TEST(Xform1FileKinds, ProtectedFilesOfAThirdUserAreNotWritten) {
  // A sticky directory that everyone may write, of another owner: a FIFO
  // or a regular file there of a third user is not opened for writing,
  // whatever the machine's own setting (the name check refuses it before
  // anything is written); one of the directory's owner is.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to other users";
  constexpr uid_t kDirOwner = 65534;
  constexpr uid_t kThird = 65533;
  struct Case {
    const char* name;
    uid_t owner;
    bool fifo;
    bool written;
  };
  const Case cases[] = {{"T3.CRD", kThird, false, false},
                        {"F3.FIFO", kThird, true, false},
                        {"T2.CRD", kDirOwner, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunDir dir("special_protected");
    e2e::putNetworkInputs(dir);
    const fs::path shared = dir / "shared";
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(::chown(shared.c_str(), kDirOwner, kDirOwner), 0);
    const fs::path target = shared / c.name;
    if (c.fifo) {
      ASSERT_EQ(::mkfifo(target.c_str(), 0666), 0);
    } else {
      e2e::writeFile(target, "old coordinates\n");
    }
    ASSERT_EQ(::chmod(target.c_str(), 0666), 0);
    ASSERT_EQ(::chown(target.c_str(), c.owner, c.owner), 0);
    const std::string name = std::string("shared/") + c.name;
    dir.put("XFORM1.INP", smallKeywords().set("COORDRS", {name}).text());
    const Outcome o = finish(start(dir));
    struct stat sb {};
    ASSERT_EQ(::lstat(target.c_str(), &sb), 0);
    EXPECT_EQ(sb.st_uid, c.owner);
    EXPECT_EQ(e2e::newFilesIn(dir.path()), std::vector<std::string>{});
    if (c.written) {
      EXPECT_TRUE(o.exited(0)) << "wait status " << o.wait << ": " << o.out;
      EXPECT_EQ(e2e::maskClock(e2e::fileContent(target)), smallReference());
      continue;
    }
    EXPECT_TRUE(o.exited(1)) << "wait status " << o.wait;
    EXPECT_EQ(o.err, "");
    // Refused before anything is written: no parameters, no list.
    EXPECT_FALSE(fs::exists(dir / "PARAM.TRN"));
    EXPECT_FALSE(fs::exists(dir / "ACCEPT.FIL"));
    EXPECT_NE(o.out.find(" *** SR CKFLNA: Output file cannot be written\n"
                         "                Output file: COORDRS = " + name + "\n"
                         "                The run may neither create nor write it: "
                         "Permission denied\n"),
              std::string::npos)
        << o.out;
    EXPECT_TRUE(c.fifo ? S_ISFIFO(sb.st_mode)
                       : e2e::fileContent(target) == "old coordinates\n");
  }
}

TEST(Xform1FileKinds, AResultSwappedForAFifoInASharedDirectory) {
  // The run, as the user nobody, writes the transformed coordinates into a
  // sticky directory where the target belongs to its owner: the finished
  // content is to be copied into it. As soon as the new file beside the
  // target is made (the test holds the run there, by the system's
  // permission events on the opening of files), the owner puts a FIFO in
  // the target's place. The run must neither wait for a reader of it nor
  // write into it: it ends with the failure, and leaves no new file.
  // Nobody runs a copy of the program and reads the input files, whatever
  // the umask made them.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
  const e2e::ProgramForNobody program;
  if (!program.why().empty()) GTEST_SKIP() << program.why();
  RunDir dir("special_swap");
  e2e::putNetworkInputs(dir);
  const fs::path shared = dir / "shared";
  fs::create_directory(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  const fs::path target = shared / "T.CRD";
  e2e::writeFile(target, "old coordinates\n");
  ASSERT_EQ(::chmod(target.c_str(), 0666), 0);
  dir.put("XFORM1.INP", smallKeywords()
                            .set("COORDRS", {target.string()})
                            .set("TRNFIL", {""})
                            .set("OKSTA", {""})
                            .set("LISTFIL", {""})
                            .text());
  rttest::letEveryoneRead(dir.path());
  fs::permissions(dir.path(), fs::perms::all);
  for (const auto& [file, mode] :
       {std::pair{dir / "XFORM1.INP", R_OK}, std::pair{target, R_OK | W_OK}})
    if (const std::string why = rttest::whyNobodyCannot(file, mode); !why.empty())
      GTEST_SKIP() << why;
  const int watch = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE);
  if (watch < 0) GTEST_SKIP() << "no permission events for the opening of files here";
  if (::fanotify_mark(watch, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD,
                      shared.c_str()) != 0) {
    ::close(watch);
    GTEST_SKIP() << "no permission events for the opening of files here";
  }
  const Started run = start(
      dir,
      [] {
        if (!rttest::becomeNobody()) ::_exit(rttest::kCannotBecomeNobody);
      },
      "XFORM1.INP", program.path());
  // Every opening in the directory is let through; the first one of the
  // new file beside the target (its making) first sees the swap done.
  bool swapped = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (std::chrono::steady_clock::now() < deadline) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(run.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid == run.pid)
      break;
    pollfd p{watch, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    alignas(fanotify_event_metadata) char buf[4096];
    ssize_t n = ::read(watch, buf, sizeof buf);  // what is left of the events
    if (n <= 0) continue;
    for (auto* e = reinterpret_cast<fanotify_event_metadata*>(buf); FAN_EVENT_OK(e, n);
         e = FAN_EVENT_NEXT(e, n)) {
      if (e->fd < 0) continue;
      char name[PATH_MAX] = {};
      const std::string link = "/proc/self/fd/" + std::to_string(e->fd);
      if (!swapped && ::readlink(link.c_str(), name, sizeof name - 1) > 0 &&
          std::string(name).find("/T.CRD.~") != std::string::npos) {
        const fs::path fifo = shared / "FIFO";
        swapped = ::mkfifo(fifo.c_str(), 0666) == 0 && ::chmod(fifo.c_str(), 0666) == 0 &&
                  ::rename(fifo.c_str(), target.c_str()) == 0;
      }
      const fanotify_response allow{e->fd, FAN_ALLOW};
      if (::write(watch, &allow, sizeof allow) != static_cast<ssize_t>(sizeof allow)) break;
      ::close(e->fd);
    }
  }
  if (!swapped) ::kill(run.pid, SIGKILL);
  const Outcome o = finish(run);
  ::close(watch);
  if (o.exited(rttest::kCannotBecomeNobody)) GTEST_SKIP() << "cannot become the user nobody";
  ASSERT_TRUE(swapped) << "the new file beside the target was never seen";
  EXPECT_FALSE(o.hung) << "the run did not end";
  EXPECT_TRUE(o.exited(127)) << "wait status " << o.wait;
  EXPECT_EQ(o.err, "input/output failure: write on file " + target.string() +
                       ": No such device or address\n");
  EXPECT_TRUE(isFifo(target));
  EXPECT_EQ(e2e::newFilesIn(shared), std::vector<std::string>{});
}

TEST(Xform1FileKinds, ARegularFileNamedByADescriptorIsReplacedWhole) {
  // COORDRS /dev/fd/3, with 3 open on a file of old content: the file gets
  // the whole new content under its own name, or, when a file-size limit
  // stops the writing, keeps its old content whole.
  const std::string old = "old coordinates\n";
  for (const rlim_t limit : {RLIM_INFINITY, rlim_t{1000}}) {
    SCOPED_TRACE(limit == RLIM_INFINITY ? "no limit" : "a file-size limit");
    ASSERT_GT(smallReference().size(), 1000u);
    RunDir dir("special_devfd");
    e2e::putNetworkInputs(dir);
    dir.put("OLD.CRD", old);
    dir.put("XFORM1.INP", smallKeywords()
                              .set("COORDRS", {"/dev/fd/3"})
                              .set("TRNFIL", {""})
                              .set("OKSTA", {""})
                              .set("LISTFIL", {""})
                              .text());
    const Outcome o = finish(start(dir, [limit] {
      const int fd = ::open("OLD.CRD", O_RDWR);
      if (fd < 0 || ::dup2(fd, 3) != 3) ::_exit(126);
      const rlimit rl{limit, limit};
      if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(126);
    }));
    if (limit == RLIM_INFINITY) {
      EXPECT_TRUE(o.exited(0)) << "wait status " << o.wait << ": " << o.err;
      EXPECT_EQ(e2e::maskClock(dir.text("OLD.CRD")), smallReference());
    } else {
      EXPECT_TRUE(o.exited(127)) << "wait status " << o.wait;
      EXPECT_EQ(o.err, "input/output failure: write on file /dev/fd/3: File too large\n");
      EXPECT_EQ(dir.text("OLD.CRD"), old);
    }
    EXPECT_EQ(e2e::newFilesIn(dir.path()), std::vector<std::string>{});
  }
}

}  // namespace
