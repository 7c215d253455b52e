// Whole runs of the program under faults: result files on special files
// and links, a file-size limit, too few descriptors, a full disk, a program
// output that cannot be written, signals during a large run, concurrent
// merges into one coordinate file and a directory that refuses the
// replacement. Result files are replaced whole or not at all, a failure
// ends with status 127 and a message naming the file, no new file beside a
// result file is ever left behind, and none is readable by more users than
// its target.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <dirent.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "runtime/testsupport.h"

namespace {

namespace fs = std::filesystem;
using e2e::Keywords;
using e2e::RunDir;

// The options of every run: the test network, rejection on (one outlier),
// and the four result files under regular names.
Keywords faultKeywords() { return e2e::everyResultKeywords(); }

// Result keywords with the names of the reference run.
const std::map<std::string, std::string> kResults = {{"LISTFIL", "REJECT.LST"},
                                                     {"TRNFIL", "PARAM.TRN"},
                                                     {"COORDRS", "TRANSF.CRD"},
                                                     {"OKSTA", "ACCEPT.FIL"}};

// Copies the input files of the test network into the directory.
void putInputs(const RunDir& dir, const Keywords& keywords) {
  e2e::putNetworkInputs(dir);
  dir.put("XFORM1.INP", keywords.text());
}

struct Outcome {
  int wait = -1;     // wait status of the process
  std::string out;   // standard output (when it went to a pipe)
  std::string err;   // standard error
  bool exited(int code) const { return WIFEXITED(wait) && WEXITSTATUS(wait) == code; }
  bool killedBy(int sig) const { return WIFSIGNALED(wait) && WTERMSIG(wait) == sig; }
};

struct Launch {
  std::vector<std::string> args = {"XFORM1.INP"};
  std::function<void()> inChild = {};  // run in the child before the program starts
  std::string stdoutFile = {};        // empty: a pipe read by the test
  std::string program = XF_PROGRAM;   // the program that is run
};

// A started program: its process and the read ends of its output pipes.
struct Started {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

Started start(const fs::path& dir, const Launch& how) {
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if (::pipe(err) != 0 || (how.stdoutFile.empty() && ::pipe(out) != 0))
    throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    const int in = ::open("/dev/null", O_RDONLY);
    const int o = how.stdoutFile.empty()
                      ? out[1]
                      : ::open(how.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(o, 1);
    ::dup2(err[1], 2);
    // The signals' usual actions, whatever the test process has.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (how.inChild) how.inChild();
    std::vector<std::string> args = how.args;
    std::string program = how.program;
    std::vector<char*> argv = {program.data()};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(126);
  }
  ::close(err[1]);
  if (out[1] >= 0) ::close(out[1]);
  return {pid, out[0], err[0]};
}

// Reads both pipes to their end, then waits for the process.
Outcome finish(const Started& s) {
  Outcome o;
  std::vector<pollfd> fds;
  if (s.out >= 0) fds.push_back({s.out, POLLIN, 0});
  fds.push_back({s.err, POLLIN, 0});
  std::size_t open = fds.size();
  char buf[65536];
  while (open > 0) {
    if (::poll(fds.data(), fds.size(), -1) < 0) break;
    for (pollfd& p : fds) {
      if (p.fd < 0 || p.revents == 0) continue;
      const ssize_t n = ::read(p.fd, buf, sizeof buf);
      if (n <= 0) {
        ::close(p.fd);
        p.fd = -1;
        --open;
        continue;
      }
      (p.fd == s.out ? o.out : o.err).append(buf, static_cast<std::size_t>(n));
    }
  }
  ::waitpid(s.pid, &o.wait, 0);
  return o;
}

Outcome runIn(const RunDir& dir, const Launch& how = {}) { return finish(start(dir.path(), how)); }

// In the child, before the program starts: when run as root, the program
// gets a private /dev of its own (a new mount namespace), so that a fault
// with a device name as target can never reach the system's devices; a
// user other than root cannot change /dev anyway. Exits 124 when the
// private /dev cannot be made.
void privateDevices() {
  if (::geteuid() != 0) return;
  if (!rttest::mountPrivateTmpfs("/dev", "mode=755")) ::_exit(124);
  const struct {
    const char* name;
    unsigned minor;
  } devices[] = {{"/dev/null", 3}, {"/dev/zero", 5}, {"/dev/full", 7}, {"/dev/urandom", 9}};
  for (const auto& d : devices)
    if (::mknod(d.name, S_IFCHR | 0666, makedev(1, d.minor)) != 0) ::_exit(124);
  const char* links[][2] = {{"/proc/self/fd", "/dev/fd"},
                            {"/proc/self/fd/0", "/dev/stdin"},
                            {"/proc/self/fd/1", "/dev/stdout"},
                            {"/proc/self/fd/2", "/dev/stderr"}};
  for (const auto& l : links)
    if (::symlink(l[0], l[1]) != 0) ::_exit(124);
}

// A run in a private /dev (privateDevices) with its standard output
// redirected to a file beside the directory: that file's content, clock
// masked, is the outcome's standard output.
Outcome runWithOutputFile(const RunDir& dir) {
  const fs::path outFile = dir.path().parent_path() / (dir.path().filename().string() + ".out");
  Outcome o = runIn(dir, {.inChild = privateDevices, .stdoutFile = outFile.string()});
  o.out = e2e::maskClock(e2e::fileContent(outFile));
  fs::remove(outFile);
  return o;
}

// The result files of a complete run with faultKeywords(), clock masked,
// and its report: made once.
const std::map<std::string, std::string>& reference() {
  static const std::map<std::string, std::string> files = [] {
    RunDir dir("fault_reference");
    putInputs(dir, faultKeywords());
    const Outcome o = runIn(dir);
    if (!o.exited(0)) throw std::runtime_error("the reference run failed: " + o.err);
    std::map<std::string, std::string> out;
    for (const auto& [key, name] : kResults) out[key] = e2e::maskClock(dir.text(name));
    out["REPORT"] = e2e::maskClock(o.out);
    return out;
  }();
  return files;
}

using e2e::newFilesIn;

TEST(Xform1Faults, FifosAsResultFilesAreWrittenThrough) {
  RunDir dir("fault_fifo");
  Keywords keywords = faultKeywords();
  std::map<std::string, int> readers;
  for (const auto& [key, name] : kResults) {
    const std::string fifo = key + ".FIFO";
    ASSERT_EQ(::mkfifo((dir / fifo).c_str(), 0644), 0);
    readers[key] = ::open((dir / fifo).c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(readers[key], 0);
    keywords.set(key, {fifo});
  }
  putInputs(dir, keywords);
  const Outcome o = runIn(dir);
  EXPECT_TRUE(o.exited(0)) << o.err;
  EXPECT_EQ(o.err, "");
  for (const auto& [key, fd] : readers) {
    SCOPED_TRACE(key);
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    EXPECT_EQ(e2e::maskClock(got), reference().at(key));
    struct stat sb {};
    ASSERT_EQ(::lstat((dir / (key + ".FIFO")).c_str(), &sb), 0);
    EXPECT_TRUE(S_ISFIFO(sb.st_mode));
  }
  EXPECT_EQ(newFilesIn(dir.path()), std::vector<std::string>{});
}

TEST(Xform1Faults, ADeviceAsResultFileStaysADevice) {
  // A copy of /dev/null named by every result keyword, by the removal list,
  // and as the old list of rejected stations that a run without outliers
  // removes: it is written through and never removed or replaced. Another
  // copy as the program output, which is opened as a new, empty file.
  RunDir dir("fault_device");
  for (const char* node : {"NULLDEV", "SYSOUT.DEV"})
    if (::mknod((dir / node).c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
      GTEST_SKIP() << "mknod is not permitted here";
  Keywords keywords = faultKeywords();
  for (const auto& [key, name] : kResults) keywords.set(key, {"NULLDEV"});
  keywords.set("NLIMIT", {"100"}).set("ELIMIT", {"100"}).set("ULIMIT", {""});
  keywords.set("DELETE_FILES", {"TRNFIL", "OKSTA"}).set("SYSOUT", {"SYSOUT.DEV"});
  putInputs(dir, keywords);
  const Outcome o = runIn(dir);
  EXPECT_TRUE(o.exited(0)) << o.err;
  EXPECT_EQ(o.err, "");
  for (const char* node : {"NULLDEV", "SYSOUT.DEV"}) {
    SCOPED_TRACE(node);
    struct stat sb {};
    ASSERT_EQ(::lstat((dir / node).c_str(), &sb), 0);
    EXPECT_TRUE(S_ISCHR(sb.st_mode));
    EXPECT_EQ(sb.st_rdev, makedev(1, 3));
  }
  EXPECT_EQ(dir.files(), (std::set<std::string>{"CONST.TST", "DATUM.TST", "NET_A.CRD",
                                                "NET_B.CRD", "XFORM1.INP"}));
}

TEST(Xform1Faults, ProgramOutputAsResultFileHoldsReportAndResult) {
  // Standard output redirected to a file, and /dev/stdout as the target of
  // the transformed coordinates: the report is kept and the coordinates
  // follow it, before the end-of-run lines.
  RunDir dir("fault_stdout");
  putInputs(dir, faultKeywords().set("COORDRS", {"/dev/stdout"}));
  const Outcome o = runWithOutputFile(dir);
  if (o.exited(124)) GTEST_SKIP() << "no private /dev for a run as root";
  EXPECT_TRUE(o.exited(0)) << o.err;
  EXPECT_EQ(o.err, "");
  const std::string& coords = reference().at("COORDRS");
  const std::size_t at = o.out.find(coords);
  ASSERT_NE(at, std::string::npos) << o.out;
  EXPECT_LT(at, o.out.find(">>> Program finished successfully"));
  EXPECT_EQ(o.out.substr(0, at) + o.out.substr(at + coords.size()), reference().at("REPORT"));
  EXPECT_EQ(newFilesIn(dir.path()), std::vector<std::string>{});
}

TEST(Xform1Faults, ProgramOutputNamedAsTheStandardOutput) {
  // Standard output redirected to a file and the program output named by
  // a link to it (/dev/stdout, or a link of the run's own): the link stays,
  // and the file holds the report as a program output file of its own holds
  // it, with what the run writes on standard output (its timing line)
  // where the run writes it, before the report's end-of-run lines.
  RunDir plain("fault_sysout_file");
  putInputs(plain, faultKeywords().set("SYSOUT", {"REPORT.OUT"}));
  const Outcome p = runIn(plain);
  ASSERT_TRUE(p.exited(0)) << p.err;
  const std::string report = plain.text("REPORT.OUT");
  const std::size_t end = report.find("\n\n" + std::string(65, '-') + "\n>>> CPU");
  ASSERT_NE(end, std::string::npos);
  const std::string want = e2e::maskClock(report.substr(0, end) + p.out + report.substr(end));
  for (const char* name : {"/dev/stdout", "STDOUT.LNK"}) {
    SCOPED_TRACE(name);
    RunDir dir("fault_sysout_stdout");
    fs::create_symlink("/proc/self/fd/1", dir / "STDOUT.LNK");
    putInputs(dir, faultKeywords().set("SYSOUT", {name}));
    const Outcome o = runWithOutputFile(dir);
    if (o.exited(124)) GTEST_SKIP() << "no private /dev for a run as root";
    EXPECT_TRUE(o.exited(0)) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_TRUE(fs::is_symlink(dir / "STDOUT.LNK"));
    EXPECT_EQ(o.out, want);
  }
}

TEST(Xform1Faults, LinkedResultFilesKeepTheirLinks) {
  // A symbolic link to a file in another directory, and a file with a
  // second hard link: the links stay, their file gets the content.
  RunDir dir("fault_links");
  dir.put("keep/TRANSF.CRD", "old coordinates\n");
  fs::create_symlink("keep/TRANSF.CRD", dir / "LINK.CRD");
  dir.put("PARAM.TRN", "old parameters\n");
  fs::create_hard_link(dir / "PARAM.TRN", dir / "SECOND.TRN");
  struct stat before {};
  ASSERT_EQ(::stat((dir / "PARAM.TRN").c_str(), &before), 0);
  putInputs(dir, faultKeywords().set("COORDRS", {"LINK.CRD"}));
  const Outcome o = runIn(dir);
  EXPECT_TRUE(o.exited(0)) << o.err;
  EXPECT_TRUE(fs::is_symlink(dir / "LINK.CRD"));
  EXPECT_EQ(fs::read_symlink(dir / "LINK.CRD"), "keep/TRANSF.CRD");
  EXPECT_EQ(e2e::maskClock(dir.text("keep/TRANSF.CRD")), reference().at("COORDRS"));
  struct stat after {};
  ASSERT_EQ(::stat((dir / "SECOND.TRN").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_nlink, 2u);
  EXPECT_EQ(dir.text("SECOND.TRN"), reference().at("TRNFIL"));
  EXPECT_EQ(dir.text("PARAM.TRN"), reference().at("TRNFIL"));
  EXPECT_EQ(newFilesIn(dir.path()), std::vector<std::string>{});
}

TEST(Xform1Faults, FileSizeLimitDuringEachResultFile) {
  // Each result file alone, written past a limit of 200 bytes: status 127,
  // the file named on standard error, its old content kept, no success line.
  struct Case {
    std::string key;
    std::string name;
    std::string mergeFrom;  // merged into this existing file (COORD)
  };
  const Case cases[] = {{"TRNFIL", "PARAM.TRN", ""},
                        {"COORDRS", "TRANSF.CRD", ""},
                        {"COORDRS", "MERGED.CRD", "MERGED.CRD"},
                        {"OKSTA", "ACCEPT.FIL", ""},
                        {"LISTFIL", "REJECT.LST", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunDir dir("fault_fsize");
    Keywords keywords = faultKeywords();
    for (const auto& [key, name] : kResults) keywords.set(key, {""});
    keywords.set(c.key, {c.name}).set("COORD", {c.mergeFrom});
    putInputs(dir, keywords);
    if (c.mergeFrom.empty()) {
      dir.put(c.name, "old content of " + c.name + "\n");
    } else {
      dir.copy("OLD.CRD", c.name);
    }
    const std::string old = dir.text(c.name);
    const std::set<std::string> files = dir.files();
    const Outcome o = runIn(dir, {.inChild = [] {
                                    rlimit small{200, RLIM_INFINITY};
                                    ::setrlimit(RLIMIT_FSIZE, &small);
                                  }});
    EXPECT_TRUE(o.exited(127)) << o.wait;
    EXPECT_EQ(o.err, "input/output failure: write on file " + c.name + ": File too large\n");
    EXPECT_EQ(dir.text(c.name), old);
    EXPECT_EQ(dir.files(), files);
    EXPECT_EQ(o.out.find("Program finished successfully"), std::string::npos);
  }
}

TEST(Xform1Faults, NoDescriptorForTheNewFileLeavesTheOldResultFiles) {
  // Too few descriptors to make the new file beside a result file, and a
  // file-size limit that an old file written in place would run into: the
  // run ends with status 127 naming the first result file, and every old
  // result file keeps its content.
  // The runtime of the address sanitizer, and of the undefined-behaviour
  // checks built with it, needs descriptors of its own: its checks of memory
  // go through a pipe.
  if (XF_ADDRESS_SANITIZER) GTEST_SKIP() << "the sanitizer's runtime needs descriptors of its own";
  struct Case {
    const char* what;
    std::vector<std::string> keys;  // the result files of the run
    std::string named;              // the file the failure names
  };
  const Case cases[] = {{"every result file", {"LISTFIL", "TRNFIL", "COORDRS", "OKSTA"}, "REJECT.LST"},
                        {"the transformed coordinates alone", {"COORDRS"}, "TRANSF.CRD"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunDir dir("fault_nofile");
    Keywords keywords = faultKeywords();
    for (const auto& [key, name] : kResults) keywords.set(key, {""});
    for (const std::string& key : c.keys) {
      keywords.set(key, {kResults.at(key)});
      dir.put(kResults.at(key), "old " + kResults.at(key) + "\n");
    }
    putInputs(dir, keywords);
    const std::set<std::string> files = dir.files();
    const Outcome o = runIn(dir, {.inChild = [] {
                                    ::close_range(3, ~0U, 0);
                                    const rlimit fds{4, 4};
                                    const rlimit size{1000, RLIM_INFINITY};
                                    ::setrlimit(RLIMIT_NOFILE, &fds);
                                    ::setrlimit(RLIMIT_FSIZE, &size);
                                  }});
    EXPECT_TRUE(o.exited(127)) << o.wait;
    EXPECT_EQ(o.err, "input/output failure: open on file " + c.named + ": Too many open files\n");
    for (const std::string& key : c.keys)
      EXPECT_EQ(dir.text(kResults.at(key)), "old " + kResults.at(key) + "\n");
    EXPECT_EQ(dir.files(), files);
    EXPECT_EQ(o.out.find("Program finished successfully"), std::string::npos);
  }
}

TEST(Xform1Faults, ProgramOutputThatCannotBeWrittenIsAFailure) {
  RunDir dir("fault_full");
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  putInputs(dir, faultKeywords().set("SYSOUT", {"/dev/full"}));
  const Outcome o = runIn(dir, {.inChild = privateDevices});
  if (o.exited(124)) GTEST_SKIP() << "no private /dev for a run as root";
  EXPECT_TRUE(o.exited(127)) << o.wait;
  EXPECT_EQ(o.err, "input/output failure: write on file /dev/full: No space left on device\n");
  EXPECT_NE(o.out.find(" *** SR EXIT_PGM: Cannot close LFN          998"), std::string::npos);
  // The result files were finished and put in place before.
  EXPECT_EQ(e2e::maskClock(dir.text("TRANSF.CRD")), reference().at("COORDRS"));
  EXPECT_EQ(e2e::maskClock(dir.text("ACCEPT.FIL")), reference().at("OKSTA"));
}

TEST(Xform1Faults, ConcurrentMergesIntoOneFileKeepEveryStation) {
  // Eight runs with stations of their own merge into one coordinate file at
  // the same time, again and again, into a file that exists and into one
  // that does not exist yet: each time the file holds every station of
  // every run once, and nothing else is left beside it.
  constexpr int kRuns = 8;
  RunDir shared("fault_merge");
  const std::string merged = (shared / "M.CRD").string();
  const Keywords keywords = faultKeywords()
                                .set("TRNFIL", {""})
                                .set("OKSTA", {""})
                                .set("LISTFIL", {""})
                                .set("COORD", {merged})
                                .set("COORDRS", {merged});
  std::vector<std::unique_ptr<RunDir>> runs;
  std::set<std::string> ofRuns;
  for (int r = 0; r < kRuns; ++r) {
    const RunDir& d = *runs.emplace_back(std::make_unique<RunDir>("fault_merge_run"));
    putInputs(d, keywords);
    // Run r's stations end in M00(r+1).
    const std::string suffix = "M00" + std::to_string(r + 1);
    for (const char* f : {"NET_A.CRD", "NET_B.CRD"}) {
      std::string text = d.text(f);
      for (std::size_t p = 0; (p = text.find("M001", p)) != std::string::npos; p += 4)
        text.replace(p, 4, suffix);
      d.put(f, text);
    }
    const std::string text = d.text("NET_B.CRD");
    for (std::size_t p = 0; (p = text.find(suffix, p)) != std::string::npos; p += 4)
      ofRuns.insert(text.substr(p - 10, 14));
  }
  ASSERT_EQ(ofRuns.size(), kRuns * 12u);

  struct Case {
    const char* what;
    bool exists;  // the file exists before the runs (OLD.CRD)
  };
  for (const Case c : {Case{"the file exists", true}, Case{"no file yet", false}}) {
    std::set<std::string> expected = ofRuns;
    if (c.exists) expected.insert({"AAAA 10000M001", "ZZZZ 10099M001"});
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(std::string(c.what) + ", round " + std::to_string(round));
      if (c.exists) {
        shared.copy("OLD.CRD", "M.CRD");
      } else {
        fs::remove(shared / "M.CRD");
      }
      std::vector<Started> started;
      for (const auto& d : runs) started.push_back(start(d->path(), {}));
      for (const Started& s : started) {
        const Outcome o = finish(s);
        EXPECT_TRUE(o.exited(0)) << o.wait << " " << o.err;
      }
      // The file is sorted by name: each station once, in name order.
      std::vector<std::string> names;
      std::istringstream lines(shared.text("M.CRD"));
      for (std::string line; std::getline(lines, line);) {
        if (line.size() > 21 && line.find("M00") != std::string::npos)
          names.push_back(line.substr(5, 14));
      }
      EXPECT_EQ(names, std::vector<std::string>(expected.begin(), expected.end()));
      EXPECT_EQ(shared.files(), std::set<std::string>{"M.CRD"});
    }
  }
}

TEST(Xform1Faults, StickyDirectoryAndATargetOfAnotherOwner) {
  // Run as the user nobody, into a sticky directory where the target
  // belongs to root: it cannot be replaced, so it is written in place.
  // Nobody runs a copy of the program and reads the input files, whatever
  // the umask made them.
  const e2e::ProgramForNobody program;
  if (!program.why().empty()) GTEST_SKIP() << program.why();
  RunDir dir("fault_sticky");
  RunDir sticky("fault_sticky_dir");
  fs::permissions(sticky.path(), fs::perms::all | fs::perms::sticky_bit);
  sticky.put("T.CRD", "old coordinates\n");
  fs::permissions(sticky / "T.CRD", static_cast<fs::perms>(0666));
  Keywords keywords = faultKeywords();
  for (const auto& [key, name] : kResults) keywords.set(key, {""});
  keywords.set("COORDRS", {(sticky / "T.CRD").string()});
  putInputs(dir, keywords);
  rttest::letEveryoneRead(dir.path());
  fs::permissions(dir.path(), fs::perms::all);
  for (const auto& [file, mode] :
       {std::pair{dir / "XFORM1.INP", R_OK}, std::pair{sticky / "T.CRD", R_OK | W_OK}})
    if (const std::string why = rttest::whyNobodyCannot(file, mode); !why.empty())
      GTEST_SKIP() << why;
  const Outcome o = runIn(dir, {.inChild = [] {
                                  if (!rttest::becomeNobody()) ::_exit(rttest::kCannotBecomeNobody);
                                },
                                .program = program.path()});
  ASSERT_FALSE(o.exited(rttest::kCannotBecomeNobody)) << "cannot become the user nobody";
  EXPECT_TRUE(o.exited(0)) << o.wait << " " << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(e2e::maskClock(sticky.text("T.CRD")), reference().at("COORDRS"));
  struct stat sb {};
  ASSERT_EQ(::stat((sticky / "T.CRD").c_str(), &sb), 0);
  EXPECT_EQ(sb.st_uid, 0u);
  EXPECT_EQ(sticky.files(), std::set<std::string>{"T.CRD"});
}

// A large network, made once for the signal cases.
class LargeRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new RunDir("fault_large");
    ASSERT_TRUE(e2e::makeLargeRun(*dir_));
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static RunDir* dir_;
};
RunDir* LargeRun::dir_ = nullptr;

}  // namespace

namespace {

// Runs the program with a small file system (tmpfs `options`) mounted on the
// directory `disk` of the run directory, in a mount namespace of its own:
// `prepare` gives the disk its content before the program starts. Once the
// program has ended, the files of the disk named in `copied` are copied out
// as NAME.after beside it, and the names on the disk are listed in
// names.after (the private mount is gone with the program's parent). Exits
// 124 when the disk cannot be mounted.
Outcome runOnSmallDisk(const RunDir& dir, const std::string& options,
                       const std::function<void(const fs::path& disk)>& prepare,
                       const std::vector<std::string>& copied) {
  const fs::path disk = dir / "disk";
  fs::create_directories(disk);
  Launch how;
  how.inChild = [&] {
    if (!rttest::mountPrivateTmpfs(disk, options)) ::_exit(124);
    prepare(disk);
    // The program runs in a child; this process then copies the disk out.
    const pid_t pid = ::fork();
    if (pid < 0) ::_exit(126);
    if (pid > 0) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      std::error_code ec;
      for (const std::string& name : copied)
        fs::copy_file(disk / name, dir / (name + ".after"), fs::copy_options::overwrite_existing, ec);
      std::string names;
      for (const auto& e : fs::directory_iterator(disk)) names += e.path().filename().string() + "\n";
      e2e::writeFile(dir / "names.after", names);
      ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    }
  };
  return runIn(dir, how);
}

// The names listed in names.after by runOnSmallDisk.
std::multiset<std::string> namesOnTheDisk(const RunDir& dir) {
  std::multiset<std::string> names;
  std::istringstream lines(dir.text("names.after"));
  for (std::string line; std::getline(lines, line);) names.insert(line);
  return names;
}

}  // namespace

TEST(Xform1Faults, LinkedResultFileOnAFullDiskKeepsItsOldContent) {
  // A result file with a second hard link gets its content by a copy into
  // it. On a small disk that takes the new file beside it but not the copy
  // as well, the run fails, and the file keeps its old content whole: the
  // copy must not begin before the room for it is certain.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
  RunDir dir("fault_disk");
  ASSERT_TRUE(e2e::generateNetwork(dir, "2000 0"));
  const std::string inp = dir.text("XFORM1.INP");
  const std::string from = "COORDRS 1 \"\"";
  // The size of the new content, from a run onto the ordinary disk.
  dir.put("XFORM1.INP", e2e::replaced(inp, from, "COORDRS 1 \"WHOLE.CRD\""));
  ASSERT_TRUE(runIn(dir).exited(0));
  const std::uintmax_t size = fs::file_size(dir / "WHOLE.CRD");
  const long page = ::sysconf(_SC_PAGESIZE);
  const std::uintmax_t pages = (size + static_cast<std::uintmax_t>(page) - 1) / page;
  ASSERT_GE(pages, 8u);
  // Room for the old file, the new one and half of the copy.
  const std::string options = "size=" + std::to_string((1 + pages + pages / 2) * page);
  dir.put("XFORM1.INP", e2e::replaced(inp, from, "COORDRS 1 \"disk/T.CRD\""));

  const Outcome o = runOnSmallDisk(
      dir, options,
      [](const fs::path& disk) {
        e2e::writeFile(disk / "T.CRD", "old coordinates\n");
        fs::create_hard_link(disk / "T.CRD", disk / "LINK.CRD");
      },
      {"T.CRD", "LINK.CRD"});
  if (o.exited(124)) GTEST_SKIP() << "cannot mount a small file system here";
  EXPECT_TRUE(o.exited(127)) << o.wait << " " << o.err;
  EXPECT_EQ(o.err, "input/output failure: write on file disk/T.CRD: No space left on device\n");
  EXPECT_EQ(dir.text("T.CRD.after"), "old coordinates\n");
  EXPECT_EQ(dir.text("LINK.CRD.after"), "old coordinates\n");
  EXPECT_EQ(namesOnTheDisk(dir), (std::multiset<std::string>{"LINK.CRD", "T.CRD"}));
}

TEST(Xform1Faults, FullDiskUnderTheListOfRejectedStations) {
  // The list of rejected stations goes to a small disk whose inodes and
  // blocks are all used. With outliers, the list of a larger run (some
  // kilobytes) needs a new file beside it, which cannot be made: the run
  // ends with status 127 naming it, an old list keeps its content whole,
  // and without one none is made. Without outliers an old list is
  // removed, which takes no new file: the run ends as usual.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
  struct Case {
    const char* what;
    const char* network;  // stations and outliers
    bool old;             // an old list on the disk
    int status;
    const char* err;
    bool listAfter;
  };
  const Case cases[] = {
      {"outliers, an old list", "20000 100", true, 127,
       "input/output failure: open on file disk/REJECT.LST: No space left on device\n", true},
      {"outliers, no old list", "20000 100", false, 127,
       "input/output failure: open on file disk/REJECT.LST: No space left on device\n", false},
      {"no outlier, an old list", "2000 0", true, 0, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunDir dir("fault_full_disk");
    ASSERT_TRUE(e2e::generateNetwork(dir, c.network));
    dir.put("XFORM1.INP", e2e::replaced(dir.text("XFORM1.INP"), "LISTFIL 1 \"REJECTED.LST\"",
                                        "LISTFIL 1 \"disk/REJECT.LST\""));
    const Outcome o = runOnSmallDisk(
        dir, "size=64k,nr_inodes=32",
        [&c](const fs::path& disk) {
          if (c.old) e2e::writeFile(disk / "REJECT.LST", "old list\n");
          rttest::fillDisk(disk, rttest::Fill::BlocksAndInodes);
        },
        {"REJECT.LST"});
    if (o.exited(124)) GTEST_SKIP() << "cannot mount a small file system here";
    EXPECT_TRUE(o.exited(c.status)) << o.wait << " " << o.err;
    EXPECT_EQ(o.err, c.err);
    const std::multiset<std::string> names = namesOnTheDisk(dir);
    EXPECT_EQ(names.count("REJECT.LST"), c.listAfter ? 1u : 0u);
    if (c.listAfter) {
      EXPECT_EQ(dir.text("REJECT.LST.after"), "old list\n");
    }
    for (const std::string& name : names) EXPECT_EQ(name.find(".~"), std::string::npos) << name;
  }
}

TEST_F(LargeRun, TheNewFileBesideATargetIsNoMoreReadableThanIt) {
  // Under the umask 022, the new file beside the transformed coordinates
  // has owner access only while it is written; the replaced file keeps the
  // target's permissions.
  const Outcome whole = runIn(*dir_);
  ASSERT_TRUE(whole.exited(0)) << whole.err;
  const std::string complete = e2e::maskClock(dir_->text("OUT.CRD"));
  for (const mode_t target : {0600, 0644}) {
    SCOPED_TRACE(target);
    dir_->put("OUT.CRD", "old OUT.CRD\n");
    ASSERT_EQ(::chmod((*dir_ / "OUT.CRD").c_str(), target), 0);
    // Seen with the run held stopped while it writes the new file (run
    // again when it was seen only once past that point).
    mode_t seen = 0;
    const auto writing = [&seen] {
      seen = 0;
      for (const std::string& n : newFilesIn(dir_->path())) {
        struct stat sb {};
        if (n.rfind("OUT.CRD.~", 0) == 0 && ::stat((*dir_ / n).c_str(), &sb) == 0)
          seen = sb.st_mode & 07777;
      }
      return seen != 0;
    };
    Outcome o;
    bool held = false;
    for (int attempt = 0; attempt < 5 && !held; ++attempt) {
      dir_->put("OUT.CRD", "old OUT.CRD\n");
      const Started run = start(dir_->path(), {.inChild = [] { ::umask(022); }});
      held = e2e::stopWhen(run.pid, writing);
      if (held) ::kill(run.pid, SIGCONT);
      o = finish(run);
    }
    EXPECT_TRUE(o.exited(0)) << o.err;
    ASSERT_TRUE(held) << "the new file was never seen being written";
    EXPECT_EQ(seen, 0600u);
    struct stat after {};
    ASSERT_EQ(::stat((*dir_ / "OUT.CRD").c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, target);
    EXPECT_EQ(e2e::maskClock(dir_->text("OUT.CRD")), complete);
  }
  ::chmod((*dir_ / "OUT.CRD").c_str(), 0644);
}

namespace {

// ---- A working directory deeper than the system's path limit ----

// The names in the directory `dir`.
std::vector<std::string> namesAt(int dir) {
  std::vector<std::string> names;
  DIR* d = ::fdopendir(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d == nullptr) return names;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  return names;
}

// The names in `dir` that mark a new file beside a result file.
std::vector<std::string> newFilesAt(int dir) {
  std::vector<std::string> found;
  for (const std::string& name : namesAt(dir))
    if (name.find(".~") != std::string::npos) found.push_back(name);
  return found;
}

std::string textAt(int dir, const std::string& name) {
  std::string text;
  const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "(no file)";
  char buf[65536];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return text;
}

// A chain of directories below a run directory whose path is longer than
// the system's limit, holding hard links to the given files of `from`: the
// program runs there (its working directory), the test reaches it by a
// descriptor.
class DeepDirectory {
 public:
  DeepDirectory(const RunDir& run, const RunDir& from, const std::vector<std::string>& files)
      : top_(run.path() / std::string(200, 'd')) {
    std::string relative;
    fd_ = rttest::makeDeepDirectory(run.path(), 22, &relative);
    const int source = ::open(from.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& name : files)
      if (fd_ >= 0 && ::linkat(source, name.c_str(), fd_, name.c_str(), 0) != 0) {
        ::close(fd_);
        fd_ = -1;
      }
    ::close(source);
    deep_ = (run.path() / relative).string().size() > PATH_MAX;
  }
  ~DeepDirectory() {
    if (fd_ >= 0) ::close(fd_);
    rttest::removeDeepTree(top_);
  }
  DeepDirectory(const DeepDirectory&) = delete;
  DeepDirectory& operator=(const DeepDirectory&) = delete;

  bool ready() const { return fd_ >= 0 && deep_; }
  int fd() const { return fd_; }
  // The program's start there.
  std::function<void()> enter() const {
    return [fd = fd_] {
      if (::fchdir(fd) != 0) ::_exit(126);
    };
  }

 private:
  fs::path top_;
  int fd_ = -1;
  bool deep_ = false;
};

}  // namespace

// Where a run is when a signal comes.
enum class Moment {
  Writing,            // the new file beside the transformed coordinates is written
  CopyingIntoALink,   // the finished coordinates are copied into a file with a second hard link
  WritingDeep,        // writing, in a working directory deeper than the path limit
};

TEST_F(LargeRun, SignalsThatEndTheRunWhileAResultFileIsWritten) {
  // Each signal whose usual action ends the process (the quit signal's core
  // dump among them), at a moment of the writing of the transformed
  // coordinates. The run is held stopped once the moment is seen, the signal
  // is sent and the run continued: the signal comes at that moment however
  // busy the machine. A run seen only once past the moment is run again.
  // - Writing: the run ends by the signal, no new file is left beside any
  //   result file, each holds its old content or its whole new one, and the
  //   transformed coordinates their old one.
  // - Copying into a file with a second hard link: the signal waits until
  //   the copy is done; the file, by both names, is whole.
  // - Writing deeper than the path limit: the new file is removed by its
  //   name in its directory, which works at any depth.
  const int ending[] = {SIGTERM, SIGINT,    SIGHUP, SIGQUIT,       SIGUSR1,
                        SIGUSR2, SIGALRM, SIGVTALRM, SIGPWR, SIGRTMIN + 1};
  struct Case {
    Moment moment;
    int sig;
  };
  std::vector<Case> cases;
  for (const int sig : ending) cases.push_back({Moment::Writing, sig});
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) cases.push_back({Moment::CopyingIntoALink, sig});
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) cases.push_back({Moment::WritingDeep, sig});

  std::vector<std::string> results;
  for (const auto& [key, name] : e2e::largeRunResults()) results.push_back(name);
  const Outcome whole = runIn(*dir_);
  ASSERT_TRUE(whole.exited(0)) << whole.err;
  std::map<std::string, std::string> complete;
  for (const std::string& name : results) complete[name] = e2e::maskClock(dir_->text(name));
  const std::uintmax_t wholeSize = fs::file_size(*dir_ / "OUT.CRD");
  RunDir run("fault_deep_signal");
  const DeepDirectory deep(run, *dir_, {"XFORM1.INP", "REF.CRD", "LOC.CRD", "CONST.", "DATUM."});
  ASSERT_TRUE(deep.ready()) << "cannot make the deep directory";
  const std::string old = "old OUT.CRD\n";

  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.moment == Moment::Writing            ? "writing"
                             : c.moment == Moment::CopyingIntoALink ? "copying into a link"
                                                                    : "writing deep") +
                 ", " + strsignal(c.sig));
    Launch how;
    how.inChild = [&] {
      // The usual action of each signal, and no core file left behind.
      for (const int sig : ending) ::signal(sig, SIG_DFL);
      const rlimit noCore{0, 0};
      ::setrlimit(RLIMIT_CORE, &noCore);
      if (c.moment == Moment::WritingDeep) deep.enter()();
    };
    const fs::path where = c.moment == Moment::WritingDeep ? run.path() : dir_->path();
    std::function<bool()> reached;
    switch (c.moment) {
      case Moment::Writing:
        reached = [] {
          for (const std::string& n : newFilesIn(dir_->path()))
            if (n.rfind("OUT.CRD.~", 0) == 0) return true;
          return false;
        };
        break;
      case Moment::CopyingIntoALink:
        // New bytes at the head of the file, and not all of them yet.
        reached = [&old, wholeSize] {
          std::ifstream in(*dir_ / "OUT.CRD", std::ios::binary);
          char head[4] = {};
          return in.read(head, sizeof head) && std::string(head, sizeof head) != old.substr(0, 4) &&
                 fs::file_size(*dir_ / "OUT.CRD") < wholeSize;
        };
        break;
      case Moment::WritingDeep:
        reached = [&deep] {
          for (const std::string& n : newFilesAt(deep.fd()))
            if (n.rfind("OUT.CRD.~", 0) == 0) return true;
          return false;
        };
        break;
    }

    Outcome o;
    bool held = false;
    for (int attempt = 0; attempt < 5 && !held; ++attempt) {
      for (const std::string& name : results) {
        dir_->put(name, "old " + name + "\n");
        ::unlinkat(deep.fd(), name.c_str(), 0);
      }
      fs::remove(*dir_ / "OUT.LINK");
      if (c.moment == Moment::CopyingIntoALink)
        fs::create_hard_link(*dir_ / "OUT.CRD", *dir_ / "OUT.LINK");
      const Started started = start(where, how);
      held = e2e::stopWhen(started.pid, reached);
      if (held) {
        ::kill(started.pid, c.sig);
        ::kill(started.pid, SIGCONT);
      }
      o = finish(started);
    }
    ASSERT_TRUE(held) << "the run was never held at the moment: wait status " << o.wait << ", "
                      << o.err;
    EXPECT_TRUE(o.killedBy(c.sig)) << "wait status " << o.wait << ": " << o.err;
    switch (c.moment) {
      case Moment::Writing:
        EXPECT_EQ(newFilesIn(dir_->path()), std::vector<std::string>{});
        for (const std::string& name : results) {
          SCOPED_TRACE(name);
          const std::string text = dir_->text(name);
          EXPECT_TRUE(text == "old " + name + "\n" || e2e::maskClock(text) == complete[name])
              << text.size() << " bytes";
        }
        EXPECT_EQ(dir_->text("OUT.CRD"), old);
        break;
      case Moment::CopyingIntoALink: {
        EXPECT_EQ(newFilesIn(dir_->path()), std::vector<std::string>{});
        const std::string text = dir_->text("OUT.CRD");
        EXPECT_TRUE(e2e::maskClock(text) == complete["OUT.CRD"])
            << text.size() << " bytes of " << complete["OUT.CRD"].size();
        EXPECT_EQ(dir_->text("OUT.LINK"), text);
        break;
      }
      case Moment::WritingDeep:
        EXPECT_EQ(newFilesAt(deep.fd()), std::vector<std::string>{});
        EXPECT_EQ(textAt(deep.fd(), "OUT.CRD"), "(no file)");
        break;
    }
  }
  fs::remove(*dir_ / "OUT.LINK");
}

TEST(Xform1Faults, MessageFileInADirectoryDeeperThanThePathLimit) {
  // The old message file is removed before each run writes its own: every
  // run there works, the second as the first.
  RunDir inputs("fault_deep_inputs");
  putInputs(inputs, faultKeywords().set("SYSERR", {"XFORM1.ERR"}).set("ERRMRG", {"0"}));
  RunDir run("fault_deep_messages");
  const DeepDirectory deep(
      run, inputs, {"XFORM1.INP", "CONST.TST", "DATUM.TST", "NET_A.CRD", "NET_B.CRD"});
  ASSERT_TRUE(deep.ready()) << "cannot make the deep directory";
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    const Outcome o = runIn(run, {.inChild = deep.enter()});
    EXPECT_TRUE(o.exited(0)) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(e2e::maskClock(o.out), reference().at("REPORT"));
    EXPECT_EQ(textAt(deep.fd(), "XFORM1.ERR"), "");
    for (const auto& [key, name] : kResults)
      EXPECT_EQ(e2e::maskClock(textAt(deep.fd(), name)), reference().at(key)) << name;
  }
}
