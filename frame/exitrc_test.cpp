// Tests of the failure reports and the exit sequence.
#include "frame/exitrc.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/cpu.h"
#include "frame/d_inpkey.h"
#include "frame/m_vand.h"
#include "frame/runid.h"
#include "frame/testsupport.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace fs = std::filesystem;

namespace {

using frametest::fileContent;
using frametest::exitStatusOf;
using frametest::linesOf;
using frametest::Texts;

const std::string kTiming = ">>> CPU/Real time for pgm \"XFORM1\": 0:00:00.000 / 0:00:00.000";

class ExitrcTest : public frametest::FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    CPUBEG(0);  // no end-of-run report unless a test starts the timers
  }

  void restart() {
    FrameTest::restart();
    CPUBEG(0);
  }

  // Starts the timers with a fixed clock, so that every time shows as 0.
  static void startTimers() {
    rt::setCpuOverride(1.5);
    rt::setClockOverride(rt::ClockValues{2001, 3, 5, 60, 14, 5, 9, 250});
    CPUBEG(-1);
  }

  static void registerForRemoval(const Texts& names) {
    inpKey.delFil.clear();
    for (const auto& n : names) inpKey.delFil.push_back(rt::fit(n, 255));
    inpKey.delCount = static_cast<int>(names.size());
  }
};

TEST_F(ExitrcTest, PhaseNotesAndExitStatus) {
  const std::string opnfil = " ### SR EXITRC: PROGRAM HAS BEEN STOPPED IN OPNFIL";
  const std::string init = " ### SR EXITRC: PROGRAM HAS BEEN STOPPED DURING INITIALIZATION";
  const std::string exiting = " ### SR EXITRC: PROGRAM HAS BEEN STOPPED DURING EXITING";
  struct Case {
    int readState;
    bool openBusy;
    const char* programName;
    int retCode;
    int status;
    std::string note;  // empty: none
    bool removed;      // the registered file was removed
  };
  const Case cases[] = {
      {2, false, "XFORM1", 0, 0, "", true},
      {2, false, "XFORM1", 1, 0, "", true},
      {2, false, "XFORM1", 2, 1, "", true},
      {2, false, "XFORM1", 5, 1, "", true},
      {0, false, "XFORM1", 2, 1, "", false},
      {1, false, "XFORM1", 2, 1, init, false},
      {3, false, "XFORM1", 0, 0, exiting, false},
      {4, false, "XFORM1", 2, 1, exiting, false},
      {2, true, "XFORM1", 2, 1, opnfil, false},
      {0, true, "XFORM1", 0, 0, opnfil, false},
      {1, true, "XFORM1", 2, 1, opnfil, false},
      {1, false, "PNLQRY", 2, 1, "", false},
      {2, true, "PNLQRY", 2, 1, "", false},
      {2, false, "", 2, 1, "", false},  // no program name: nothing removed
  };
  for (const auto& c : cases) {
    restart();
    const std::string file = writeFile("REMOVE.ME", "x\n");
    programName = rt::fit(c.programName, 8);
    inpKey.readState = c.readState;
    inpKey.openBusy = c.openBusy;
    registerForRemoval({file});
    const std::string label = std::to_string(c.readState) + (c.openBusy ? " busy " : " ") +
                              c.programName + " " + std::to_string(c.retCode);
    EXPECT_EQ(exitStatusOf([&] { EXITRC(c.retCode); }), c.status) << label;
    EXPECT_EQ(linesOf(console_.str()), c.note.empty() ? Texts{} : (Texts{"", c.note, ""}))
        << label;
    EXPECT_EQ(inpKey.readState, 3) << label;
    EXPECT_EQ(fs::exists(file), !c.removed) << label;
  }
}

TEST_F(ExitrcTest, SuccessfulRunRemovesFilesReportsAndClosesUnits) {
  struct Case {
    int retCode;
    int status;
    const char* verdict;
  };
  const Case cases[] = {
      {0, 0, ">>> Program finished successfully"},
      {1, 0, ">>> Program finished successfully"},
      {2, 1, ">>> Program ended with an error"},
  };
  for (const auto& c : cases) {
    restart();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const std::string closed = writeFile("CLOSED.TXT", "a\n");
    const std::string open996 = writeFile("OPEN996.TXT", "b\n");
    const std::string dollar = writeFile("D$X.TXT", "c\n");
    const std::string kept = writeFile("KEPT.TXT", "d\n");
    rt::OpenRequest old;
    old.status = "OLD";
    ASSERT_EQ(rt::openUnit(996, open996, old), 0);
    for (int lfn : {9, 10, 500, 999}) {
      ASSERT_EQ(rt::openUnit(lfn, path("UNIT" + std::to_string(lfn) + ".TXT")), 0);
    }
    programName = rt::fit("XFORM1", 8);
    inpKey.readState = 2;
    registerForRemoval({closed, open996, path("MISSING.TXT"), dollar, ""});
    startTimers();

    EXPECT_EQ(exitStatusOf([&] { EXITRC(c.retCode); }), c.status);
    EXPECT_FALSE(fs::exists(closed));
    EXPECT_FALSE(fs::exists(open996));
    EXPECT_TRUE(fs::exists(dollar));  // still holds a variable reference
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_FALSE(fs::exists(path("MISSING.TXT")));
    for (int lfn : {10, 500, 996, 999}) EXPECT_FALSE(rt::unitOpened(lfn)) << lfn;
    EXPECT_TRUE(rt::unitOpened(9));  // below 10: left to the process end
    // The report: console line, then the program output, here the console too.
    EXPECT_EQ(linesOf(console_.str()),
              (Texts{"", kTiming, "", "", "", std::string(65, '-'), kTiming, c.verdict, ""}));
  }
}

TEST_F(ExitrcTest, RemovedProgramOutputSendsTheReportToTheConsole) {
  const std::string out = path("XFORM1.OUT");
  ASSERT_EQ(rt::openUnit(LFNOUF, out), 0);
  LFNOUT = LFNOUF;
  LFNMSG = LFNOUF;
  rt::writeRecord(LFNOUT, "report");
  programName = rt::fit("XFORM1", 8);
  inpKey.readState = 2;
  registerForRemoval({out});
  startTimers();

  EXPECT_EQ(exitStatusOf([] { EXITRC(0); }), 0);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(LFNOUT, 6);
  EXPECT_EQ(LFNMSG, 6);
  EXPECT_EQ(linesOf(console_.str()),
            (Texts{"", kTiming, "", "", "", std::string(65, '-'), kTiming,
                   ">>> Program finished successfully", ""}));
}

TEST_F(ExitrcTest, UnitThatCannotBeClosedIsReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ASSERT_EQ(rt::openUnit(12, "/dev/full"), 0);
  try {
    rt::writeRecord(12, "stays in the buffer until the close");
  } catch (const rt::IoFailure&) {
    GTEST_SKIP() << "records are not buffered";
  }
  ASSERT_EQ(rt::openUnit(13, path("FINE.TXT")), 0);
  rt::writeRecord(13, "written whole");
  // The console record, every other unit still closed, and the run ends as
  // an input/output failure naming the file, whatever the return code.
  for (int retCode : {2, 0}) {
    SCOPED_TRACE(retCode);
    try {
      EXITRC(retCode);
      ADD_FAILURE() << "EXITRC returned";
    } catch (const rt::IoFailure& e) {
      EXPECT_EQ(e.file(), "/dev/full");
    } catch (const rt::ProgramExit&) {
      ADD_FAILURE() << "a unit that cannot be closed ended the run normally";
    }
    EXPECT_EQ(linesOf(console_.str()),
              (Texts{"  *** SR EXIT_PGM: Cannot close LFN           12"}));
    EXPECT_FALSE(rt::unitOpened(12));
    EXPECT_FALSE(rt::unitOpened(13));
    EXPECT_EQ(fileContent(path("FINE.TXT")), "written whole\n");
    restart();
    ASSERT_EQ(rt::openUnit(12, "/dev/full"), 0);
    rt::writeRecord(12, "stays in the buffer until the close");
  }
}

// Result files still open at the end: put in place before the end-of-run
// report after success, left as they were after an error, and removed when
// registered for removal (whether or not they existed before).
TEST_F(ExitrcTest, ResultFilesAtTheEndOfTheRun) {
  struct Case {
    int retCode;
    bool registered;
    const char* accepted;  // content of ACCEPTED.FIL afterwards, nullptr: removed
  };
  const Case cases[] = {{0, false, "new\n"}, {2, false, "old\n"}, {0, true, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.retCode) + (c.registered ? " registered" : ""));
    restart();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const std::string accepted = writeFile("ACCEPTED.FIL", "old\n");
    const std::string created = path("CREATED.FIL");
    const rt::OpenRequest req = rttest::resultRequest();
    ASSERT_EQ(rt::openUnit(996, accepted, req), 0);
    ASSERT_EQ(rt::openUnit(999, created, req), 0);
    rt::writeRecord(996, "new");
    rt::writeRecord(999, "made");
    programName = rt::fit("XFORM1", 8);
    inpKey.readState = 2;
    if (c.registered) registerForRemoval({accepted, created});
    startTimers();

    EXPECT_EQ(exitStatusOf([&] { EXITRC(c.retCode); }), c.retCode == 0 ? 0 : 1);
    EXPECT_FALSE(rt::unitOpened(996));
    EXPECT_FALSE(rt::unitOpened(999));
    if (c.accepted == nullptr) {
      EXPECT_FALSE(fs::exists(accepted));
    } else {
      EXPECT_EQ(fileContent(accepted), c.accepted);
    }
    EXPECT_EQ(fs::exists(created), c.retCode == 0 && !c.registered);
    // Nothing else is left in the directory.
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      EXPECT_TRUE(name == "ACCEPTED.FIL" || name == "CREATED.FIL") << name;
    }
  }
}

// A result file that cannot be put in place at the end: the console names
// its unit, the report ends with the error line instead of the success line,
// the other units are still closed, and the run ends as an input/output
// failure naming the file.
TEST_F(ExitrcTest, ResultFileThatCannotBePutInPlaceIsNoSuccess) {
  fs::create_directories(dir_ / "gone");
  const std::string accepted = path("gone/ACCEPTED.FIL");
  const rt::OpenRequest req = rttest::resultRequest();
  ASSERT_EQ(rt::openUnit(996, accepted, req), 0);
  rt::writeRecord(996, "never in place");
  const std::string fine = path("FINE.FIL");
  ASSERT_EQ(rt::openUnit(997, fine, req), 0);
  rt::writeRecord(997, "in place");
  fs::remove_all(dir_ / "gone");  // its directory disappears before the end
  programName = rt::fit("XFORM1", 8);
  inpKey.readState = 2;
  startTimers();

  std::string failedFile;
  try {
    EXITRC(0);
  } catch (const rt::IoFailure& e) {
    failedFile = e.file();
  } catch (const rt::ProgramExit&) {
    ADD_FAILURE() << "the run ended as a success";
  }
  EXPECT_EQ(failedFile, accepted);
  EXPECT_EQ(linesOf(console_.str()),
            (Texts{"  *** SR EXIT_PGM: Cannot close LFN          996", "", kTiming, "", "", "",
                   std::string(65, '-'), kTiming, ">>> Program ended with an error", ""}));
  EXPECT_FALSE(rt::unitOpened(996));
  EXPECT_FALSE(rt::unitOpened(997));
  EXPECT_EQ(fileContent(fine), "in place\n");
}

TEST_F(ExitrcTest, AlcerrBlock) {
  EXPECT_EQ(exitStatusOf([] { ALCERR(0, "XVEL", {3, 120}, "getvel"); }), -1);
  EXPECT_EQ(console_.str(), "");

  struct Case {
    int irc;
    std::vector<long long> extents;
    std::string size;
  };
  const Case cases[] = {
      {1, {3, 120}, "(       3,     120)"},
      {12, {25}, "(      25)"},
      {-3, {1, 2, 3}, "(       1,       2,       3)"},
      {1, {123456789}, "(********)"},
      {1234567, {0}, "(       0)"},
  };
  for (const auto& c : cases) {
    restart();
    LFNMSG = 0;  // no message unit yet: the console
    EXPECT_EQ(exitStatusOf([&] {
                if (c.extents.size() == 1) {
                  ALCERR(c.irc, "staList%staNam ", {c.extents[0]}, "getco3  ");
                } else if (c.extents.size() == 2) {
                  ALCERR(c.irc, "staList%staNam ", {c.extents[0], c.extents[1]}, "getco3  ");
                } else {
                  ALCERR(c.irc, "staList%staNam ", {c.extents[0], c.extents[1], c.extents[2]},
                         "getco3  ");
                }
              }),
              1);
    EXPECT_EQ(LFNMSG, 6);
    char status[8];
    std::snprintf(status, sizeof status, "%6d", c.irc);
    EXPECT_EQ(linesOf(console_.str()),
              (Texts{"", " *** SR ALCERR: ALLOCATION OF AN ARRAY FAILED",
                     "                VARIABLE NAME : staList%staNam",
                     "                SIZE OF ARRAY : " + c.size,
                     "                PGM./SUBR.    : getco3",
                     "                ERROR STATUS  : " +
                         (c.irc == 1234567 ? std::string("******") : std::string(status)),
                     ""}))
        << c.size;
  }
}

// Every allocation check: memory running out and more elements than an
// array can hold (a count gone wrong) both stop the run with the allocation
// block; an allocation that goes through returns, and any other exception
// goes on untouched.
TEST_F(ExitrcTest, FailedAllocationStopsWithTheAllocationBlock) {
  constexpr long long kHuge = 1LL << 62;
  const auto block = [](const std::string& name, const std::string& size) {
    return Texts{"", " *** SR ALCERR: ALLOCATION OF AN ARRAY FAILED",
                 "                VARIABLE NAME : " + name,
                 "                SIZE OF ARRAY : " + size,
                 "                PGM./SUBR.    : getco3",
                 "                ERROR STATUS  :      1", ""};
  };
  std::vector<std::array<double, 3>> x;
  EXPECT_EQ(exitStatusOf([&] { reserveChecked(x, kHuge, "xstat", {3, kHuge}, "getco3"); }), 1);
  EXPECT_EQ(linesOf(console_.str()), block("xstat", "(       3,********)"));

  restart();
  std::vector<std::string> footer;
  EXPECT_EQ(exitStatusOf([&] {
              allocChecked(footer, -1, std::string(255, ' '), "footer", {-1}, "getco3");
            }),
            1);
  EXPECT_EQ(linesOf(console_.str()), block("footer", "(      -1)"));

  restart();
  EXPECT_EQ(exitStatusOf([] {
              allocOrStop([] { throw std::bad_alloc(); }, "staList%sigma", {4, 7}, "getco3");
            }),
            1);
  EXPECT_EQ(linesOf(console_.str()), block("staList%sigma", "(       4,       7)"));

  restart();
  std::vector<int> kept;
  EXPECT_EQ(exitStatusOf([&] { allocChecked(kept, 3, 5, "kept", {3}, "getco3"); }), -1);
  EXPECT_EQ(kept, (std::vector<int>{5, 5, 5}));
  EXPECT_TRUE(allocates([] {}));
  EXPECT_FALSE(allocates([] { throw std::length_error("too long"); }));
  EXPECT_THROW((void)allocates([] { throw std::out_of_range("not an allocation"); }),
               std::out_of_range);
  EXPECT_EQ(console_.str(), "");
}

TEST_F(ExitrcTest, OpnerrBlock) {
  for (int iostat : {0, 256, 512, -256}) {
    EXPECT_EQ(exitStatusOf([&] { OPNERR(LFNMSG, 999, iostat, "a.crd", "GETCO3"); }), -1);
  }
  EXPECT_EQ(console_.str(), "");

  struct Case {
    int iostat;
    const char* filePath;
    const char* routine;
    std::string iostatLine, routineLine;
  };
  const Case cases[] = {
      {-1, "/data/A.CRD", "GETCO3", "    -1", "    GETCO3"},
      {258, "  B.CRD", "readInpf", "     2", "  readInpf"},  // name as the caller gave it
      {2, "C.CRD", "averyverylongname", "     2", "averyveryl"},
      {-258, "D.CRD", "x", "    -2", "         x"},
  };
  for (const auto& c : cases) {
    restart();
    EXPECT_EQ(exitStatusOf([&] { OPNERR(0, 996, c.iostat, c.filePath, c.routine); }), 1);
    EXPECT_EQ(linesOf(console_.str()),
              (Texts{"", " *** SR OPNERR: OPEN FAILED",
                     std::string("                FILE NAME : ") + c.filePath,
                     "                PGM./SUBR.: " + c.routineLine,
                     "                IOSTAT    : " + c.iostatLine,
                     "                FILE UNIT :    996", ""}))
        << c.iostat;
  }

  // A message file of its own takes the block.
  restart();
  const std::string messages = path("MESSAGES.ERR");
  ASSERT_EQ(rt::openUnit(LFNERF, messages), 0);
  EXPECT_EQ(exitStatusOf([] { OPNERR(LFNERF, 20, 13, "E.CRD", "GETDAT"); }), 1);
  EXPECT_EQ(console_.str(), "");
  EXPECT_EQ(fileContent(messages),
            "\n *** SR OPNERR: OPEN FAILED\n"
            "                FILE NAME : E.CRD\n"
            "                PGM./SUBR.:     GETDAT\n"
            "                IOSTAT    :     13\n"
            "                FILE UNIT :     20\n\n");
}

TEST_F(ExitrcTest, ReturnCodeLineRewrittenForTovrask) {
  const std::string longLine(300, 'L');
  std::string text = "FIRST 1 a   \n"
                     "TOVRASK_IRCODE  1  \"0\"  \n"
                     "  TOVRASK_IRCODE  1  \"0\"\n" +
                     longLine + "\nLAST 0\n";
  for (int i = 0; i < 1000; ++i) text += "   \n";
  text += "AFTER 1 x\n";
  for (int i = 0; i < 1001; ++i) text += "\n";
  text += "DROPPED 1 y\n";

  std::string kept = "FIRST 1 a\nTOVRASK_IRCODE  1  \"D\"\n  TOVRASK_IRCODE  1  \"0\"\n" +
                     longLine.substr(0, 255) + "\nLAST 0\n" + std::string(1000, '\n') +
                     "AFTER 1 x\n";
  struct Case {
    int retCode;
    char digit;
  };
  for (const Case c : {Case{2, '2'}, Case{0, '0'}, Case{1, '2'}}) {
    restart();
    exitInpFile = writeFile("TOVRASK.INP", text);
    programName = rt::fit("TOVRASK", 8);
    inpKey.readState = 2;
    exitStatusOf([&] { EXITRC(c.retCode); });
    std::string expected = kept;
    expected[expected.find("\"D\"") + 1] = c.digit;
    EXPECT_EQ(fileContent(exitInpFile), expected) << c.retCode;
    EXPECT_EQ(console_.str(), "");
  }

  // Another program leaves the file alone; a missing file is no error.
  restart();
  exitInpFile = writeFile("OTHER.INP", text);
  programName = rt::fit("XFORM1", 8);
  inpKey.readState = 2;
  EXPECT_EQ(exitStatusOf([] { EXITRC(2); }), 1);
  EXPECT_EQ(fileContent(exitInpFile), text);

  restart();
  exitInpFile = path("NOT_THERE.INP");
  programName = rt::fit("TOVRASK", 8);
  inpKey.readState = 2;
  EXPECT_EQ(exitStatusOf([] { EXITRC(0); }), 0);
  EXPECT_FALSE(fs::exists(exitInpFile));
  EXPECT_EQ(console_.str(), "");
}

}  // namespace
