// Whole runs of the program with odd standard streams: standard input,
// output or error closed when the program starts, and one standard stream
// named for two purposes (a result file and the program output or the
// message file, the message file and the console). The files of the run
// are compared byte for byte (the clock masked) with those of a run that
// writes them where nothing is shared.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::Keywords;
using e2e::RunDir;

// The test network with a message file of its own and the parameters and
// the accepted stations as result files; without a title, so that the
// run writes a warning into the message file.
Keywords streamKeywords() {
  return e2e::networkKeywords()
      .set("TITLE", {""})
      .set("ERRMRG", {"0"})
      .set("SYSERR", {"ERRS.TXT"})
      .set("TRNFIL", {"PARAM.TRN"})
      .set("OKSTA", {"ACCEPT.FIL"});
}

const char* const kTitleWarning =
    "\n ### SR PRITIT: Please enter a title to characterize the program run.\n\n";

// The program on the network with the given keywords; `inChild` runs in the
// new process just before the program.
e2e::RunResult runNetwork(const RunDir& dir, const Keywords& keywords,
                          const std::function<void()>& inChild = {}) {
  e2e::putNetworkInputs(dir);
  dir.put("XFORM1.INP", keywords.text());
  return e2e::run(dir, {"XFORM1.INP"}, inChild);
}

TEST(Xform1Streams, ClosedStandardDescriptorsTakeNoFileOfTheRun) {
  // The program started with standard descriptors closed writes as it does
  // with them on /dev/null: the report goes nowhere, and no file of the
  // run takes a standard stream's number and receives what is written
  // there (the message file would begin with the report).
  const std::vector<std::vector<int>> cases = {{1}, {0, 1, 2}};
  for (const std::vector<int>& closed : cases) {
    SCOPED_TRACE("closed: " + std::to_string(closed.size()) + " descriptors");
    RunDir nulled("streams_null");
    const e2e::RunResult want = runNetwork(nulled, streamKeywords(), [&closed] {
      const int null = ::open("/dev/null", O_RDWR);
      for (int fd : closed) ::dup2(null, fd);
    });
    ASSERT_EQ(want.status, 0) << want.err;
    ASSERT_EQ(nulled.text("ERRS.TXT"), kTitleWarning);

    RunDir dir("streams_closed");
    const e2e::RunResult got = runNetwork(dir, streamKeywords(), [&closed] {
      for (int fd : closed) ::close(fd);
    });
    EXPECT_EQ(got.status, want.status) << got.err;
    EXPECT_EQ(dir.files(), nulled.files());
    for (const std::string& name : nulled.files())
      EXPECT_EQ(e2e::maskClock(dir.text(name)), e2e::maskClock(nulled.text(name))) << name;
  }
}

TEST(Xform1Streams, OneStandardStreamNamedTwiceKeepsTheOrderOfTheRun) {
  // The files of a run that writes each under a name of its own.
  RunDir apart("streams_apart");
  const e2e::RunResult ref =
      runNetwork(apart, streamKeywords().set("SYSOUT", {"REPORT.OUT"}));
  ASSERT_EQ(ref.status, 0) << ref.err;
  const std::string report = e2e::maskClock(apart.text("REPORT.OUT"));
  const std::string messages = e2e::maskClock(apart.text("ERRS.TXT"));
  ASSERT_EQ(messages, kTitleWarning);

  {
    SCOPED_TRACE("the message file and the accepted stations on standard error");
    RunDir dir("streams_stderr");
    const e2e::RunResult r = runNetwork(
        dir, streamKeywords().set("SYSERR", {"/dev/stderr"}).set("OKSTA", {"/dev/stderr"}));
    EXPECT_EQ(r.status, 0);
    // The warning, written first, comes first.
    EXPECT_EQ(e2e::maskClock(r.err), messages + e2e::maskClock(apart.text("ACCEPT.FIL")));
    EXPECT_EQ(dir.files(), (std::set<std::string>{"CONST.TST", "DATUM.TST", "NET_A.CRD",
                                                  "NET_B.CRD", "PARAM.TRN", "XFORM1.INP"}));
  }
  {
    SCOPED_TRACE("the program output and the parameters on standard output");
    RunDir dir("streams_stdout");
    const e2e::RunResult r = runNetwork(
        dir, streamKeywords().set("SYSOUT", {"/dev/stdout"}).set("TRNFIL", {"/dev/stdout"}));
    EXPECT_EQ(r.status, 0) << r.err;
    // The parameters follow the report; then the timing line that the run
    // writes on standard output itself, and the report's end-of-run lines
    // after it, as the run writes them.
    const std::size_t end = report.find("\n\n" + std::string(65, '-') + "\n>>> CPU");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(e2e::maskClock(r.out), report.substr(0, end) + apart.text("PARAM.TRN") +
                                         e2e::maskClock(ref.out) + report.substr(end));
    EXPECT_EQ(dir.files(), (std::set<std::string>{"ACCEPT.FIL", "CONST.TST", "DATUM.TST",
                                                  "ERRS.TXT", "NET_A.CRD", "NET_B.CRD",
                                                  "XFORM1.INP"}));
  }
}

TEST(Xform1Streams, MessagesOnTheConsoleComeWhereTheRunWritesThem) {
  // Warnings before the banner (no title), before the report (different
  // datums) and after it (no transformed coordinates in north/east/up)
  // go to a message file that is the console itself, however it is named:
  // they come out where they do when the messages are merged into the
  // program output.
  const Keywords warned = streamKeywords()
                              .set("RESIDTYPE", {"NEU"})
                              .set("COORDRS", {"OUT.CRD"})
                              .set("OKSTA", {""})
                              .set("ERRMRG", {"1"})
                              .set("SYSERR", {""});
  const auto runWarned = [](const RunDir& dir, const Keywords& keywords,
                            const std::function<void()>& inChild = {}) {
    e2e::putNetworkInputs(dir);
    dir.put("NET_B.CRD", e2e::replaced(dir.text("NET_B.CRD"), "IGS14   ", "ITRF2014"));
    dir.put("XFORM1.INP", keywords.text());
    return e2e::run(dir, {"XFORM1.INP"}, inChild);
  };
  RunDir merged("streams_merged");
  const e2e::RunResult ref = runWarned(merged, warned);
  ASSERT_EQ(ref.status, 0) << ref.err;
  const std::string want = e2e::maskClock(ref.out);
  for (const char* warning : {"PRITIT: Please enter a title", "DIFFERENT GEODETIC DATES",
                              "COORDINATE OUTPUT FILE NOT"})
    ASSERT_NE(want.find(warning), std::string::npos) << warning;
  RunDir mergedLog("streams_merged_log");
  const e2e::RunResult refLog = runWarned(mergedLog, Keywords(warned).set("SYSOUT", {"LOG.OUT"}));
  ASSERT_EQ(refLog.status, 0) << refLog.err;

  enum class Console {
    File,        // standard output is a file
    ErrorToo,    // standard output and error are one file
    ByItsName,   // standard output is CONSOLE.OUT, the message file's name
    Pipe,        // standard output is a pipe
    LogFile,     // the program output is LOG.OUT, the message file's name too
  };
  struct Case {
    const char* syserr;
    Console console;
  };
  const Case cases[] = {
      {"/dev/stdout", Console::File},      {"/dev/fd/1", Console::File},
      {"/proc/self/fd/1", Console::File},  {"/dev/stderr", Console::ErrorToo},
      {"CONSOLE.OUT", Console::ByItsName}, {"/dev/stdout", Console::Pipe},
      {"LOG.OUT", Console::LogFile},
  };
  for (const Case& c : cases) {
    static const char* const kConsoles[] = {"a file", "standard output and error on one file",
                                            "the file CONSOLE.OUT", "a pipe",
                                            "the program output LOG.OUT"};
    SCOPED_TRACE(std::string("SYSERR ") + c.syserr + ", the console " +
                 kConsoles[static_cast<int>(c.console)]);
    RunDir dir("streams_console");
    Keywords keywords = Keywords(warned).set("ERRMRG", {"0"}).set("SYSERR", {c.syserr});
    if (c.console == Console::LogFile) keywords.set("SYSOUT", {"LOG.OUT"});
    // The pipe holds the whole output of the run (some kilobytes), which
    // is read once the run is over.
    int pipeEnds[2] = {-1, -1};
    if (c.console == Console::Pipe) {
      ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
      ::fcntl(pipeEnds[1], F_SETPIPE_SZ, 1 << 20);
    }
    const e2e::RunResult r = runWarned(dir, keywords, [&c, &pipeEnds] {
      if (c.console == Console::ErrorToo) ::dup2(1, 2);
      if (c.console == Console::Pipe) ::dup2(pipeEnds[1], 1);
      if (c.console == Console::ByItsName) {
        const int fd = ::open("CONSOLE.OUT", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::dup2(fd, 1) < 0) ::_exit(126);
      }
    });
    std::string piped;
    if (c.console == Console::Pipe) {
      ::close(pipeEnds[1]);
      char buf[4096];
      for (ssize_t n; (n = ::read(pipeEnds[0], buf, sizeof buf)) > 0;)
        piped.append(buf, static_cast<std::size_t>(n));
      ::close(pipeEnds[0]);
    }
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    switch (c.console) {
      case Console::File:
      case Console::ErrorToo:
        EXPECT_EQ(e2e::maskClock(r.out), want);
        break;
      case Console::ByItsName:
        EXPECT_EQ(e2e::maskClock(dir.text("CONSOLE.OUT")), want);
        break;
      case Console::Pipe:
        EXPECT_EQ(e2e::maskClock(piped), want);
        break;
      case Console::LogFile:
        EXPECT_EQ(e2e::maskClock(dir.text("LOG.OUT")), e2e::maskClock(mergedLog.text("LOG.OUT")));
        EXPECT_EQ(e2e::maskClock(r.out), e2e::maskClock(refLog.out));
        break;
    }
  }
}

}  // namespace
