// Tests of the system files: which units the program output and the
// messages go to, and which files are created.
#include "frame/opnsys.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "frame/d_inpkey.h"
#include "frame/m_vand.h"
#include "frame/sysfiles_fixture.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

using namespace sysfiles_test;

class OpnsysTest : public SysFilesTest {
 protected:
  // One result record and one message record, then every unit closed.
  static void writeAndClose() {
    rt::writeRecord(LFNOUT, "result");
    rt::writeRecord(LFNMSG, "message");
    rt::resetUnits();
  }
};

TEST_F(OpnsysTest, UnitsAndFilesByKeywords) {
  struct Case {
    const char* what;
    Keys keys;
    std::vector<std::string> oldFiles;  // exist before, holding "old"
    int lfnOut;
    int lfnMsg;
    std::map<std::string, std::string> files;  // contents afterwards
    std::vector<std::string> absent;
    std::string console;
  };
  const std::vector<Case> cases = {
      {"no keywords", {}, {}, 6, 6, {}, {}, "result\nmessage\n"},
      {"program output replaces an old file",
       {{"SYSOUT", {"@XFORM1.OUT"}}},
       {"XFORM1.OUT"},
       998,
       998,
       {{"XFORM1.OUT", "result\nmessage\n"}},
       {},
       ""},
      {"messages into the program output by SYSOUT",
       {{"SYSOUT", {"@XFORM1.OUT"}}, {"SYSERR", {"SYSOUT"}}},
       {},
       998,
       998,
       {{"XFORM1.OUT", "result\nmessage\n"}},
       {},
       ""},
      {"blank message file name",
       {{"SYSOUT", {"@XFORM1.OUT"}}, {"SYSERR", {""}}},
       {},
       998,
       998,
       {{"XFORM1.OUT", "result\nmessage\n"}},
       {},
       ""},
      {"separate message file",
       {{"SYSOUT", {"@XFORM1.OUT"}}, {"SYSERR", {"@XFORM1.ERR"}}},
       {"XFORM1.ERR"},
       998,
       997,
       {{"XFORM1.OUT", "result\n"}, {"XFORM1.ERR", "message\n"}},
       {},
       ""},
      {"message file with output on the console",
       {{"SYSERR", {"@XFORM1.ERR"}}},
       {},
       6,
       997,
       {{"XFORM1.ERR", "message\n"}},
       {},
       "result\n"},
      {"merge set",
       {{"SYSOUT", {"@XFORM1.OUT"}}, {"SYSERR", {"@XFORM1.ERR"}}, {"ERRMRG", {"1"}}},
       {},
       998,
       998,
       {{"XFORM1.OUT", "result\nmessage\n"}},
       {"XFORM1.ERR"},
       ""},
      {"merge not set, message file",
       {{"SYSOUT", {"@XFORM1.OUT"}}, {"SYSERR", {"@XFORM1.ERR"}}, {"ERRMRG", {"0"}}},
       {"XFORM1.OUT", "XFORM1.ERR"},
       998,
       997,
       {{"XFORM1.OUT", "result\n"}, {"XFORM1.ERR", "message\n"}},
       {},
       ""},
      {"merge not set, SYSERR is SYSOUT",
       {{"ERRMRG", {"0"}}, {"SYSOUT", {"@XFORM1.OUT"}}, {"SYSERR", {"SYSOUT"}}},
       {},
       998,
       998,
       {{"XFORM1.OUT", "result\nmessage\n"}},
       {},
       ""},
      {"merge not set, no program-output file",
       {{"ERRMRG", {"0"}}, {"SYSERR", {"@XFORM1.ERR"}}},
       {},
       6,
       997,
       {{"XFORM1.ERR", "message\n"}},
       {},
       "result\n"},
      // The message file named like the program-output file shares its unit.
      {"message file is the program-output file",
       {{"SYSOUT", {"@XFORM1.OUT"}}, {"SYSERR", {"@XFORM1.OUT"}}},
       {},
       998,
       998,
       {{"XFORM1.OUT", "result\nmessage\n"}},
       {},
       ""},
      {"merge not set, message file is the program-output file",
       {{"SYSOUT", {"@XFORM1.OUT"}}, {"SYSERR", {"@sub/../XFORM1.OUT"}}, {"ERRMRG", {"0"}}},
       {},
       998,
       998,
       {{"XFORM1.OUT", "result\nmessage\n"}},
       {},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    freshRun();
    fs::create_directories(dir_ / "sub");
    for (const std::string& f : c.oldFiles) std::ofstream(dir_ / f) << "old\n";
    setKeys(c.keys);

    OPNSYS();

    EXPECT_EQ(LFNOUT, c.lfnOut);
    EXPECT_EQ(LFNMSG, c.lfnMsg);
    writeAndClose();
    for (const auto& [name, text] : c.files) {
      EXPECT_TRUE(fs::exists(dir_ / name)) << name;
      EXPECT_EQ(fileContent(dir_ / name), text) << name;
    }
    for (const std::string& name : c.absent) EXPECT_FALSE(fs::exists(dir_ / name)) << name;
    EXPECT_EQ(console_.str(), c.console);
    EXPECT_EQ(rt::unitName(LFNINP), "");  // still the standard input
  }
}

TEST_F(OpnsysTest, DefaultNameWarning) {
  const std::vector<std::string> warning = {
      "",
      " ### SR OPNSYS: Special program output requested, but default file name found.",
      "                Program output: " + (dir_ / "XFORM107").string(),
      "",
  };
  struct Case {
    const char* what;
    Keys keys;
    bool warned;
  };
  const std::vector<Case> cases = {
      {"default name, box not set", {{"SYSOUT", {"@XFORM107"}}, {"SYSODEF", {"0"}}}, true},
      {"default name, box set", {{"SYSOUT", {"@XFORM107"}}, {"SYSODEF", {"1"}}}, false},
      {"name ending in letters", {{"SYSOUT", {"@XFORM1.OUT"}}, {"SYSODEF", {"0"}}}, false},
      {"no SYSODEF keyword", {{"SYSOUT", {"@XFORM107"}}}, false},
      {"no program-output file", {{"SYSODEF", {"0"}}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    freshRun();
    setKeys(c.keys);

    OPNSYS();
    writeAndClose();

    std::vector<std::string> want;
    if (c.warned) want = warning;
    want.push_back("result");
    want.push_back("message");
    const fs::path out = LFNOUT == 6 ? fs::path() : fs::path(rt::trimRight(inpKey.keys[0].value[0]));
    EXPECT_EQ(linesOf(out.empty() ? console_.str() : fileContent(out)), want);
  }
}

TEST_F(OpnsysTest, MergeWithoutMessageFileNameStops) {
  setKeys({{"SYSOUT", {"@XFORM1.OUT"}}, {"ERRMRG", {"0"}}, {"SYSERR", {""}}});
  EXPECT_EQ(exitStatusOf(OPNSYS), 1);
  const std::vector<std::string> want = {
      "",
      " *** SR GTFLNA: File name not found or blank",
      "                Keyword:  SYSERR",
      "",
  };
  EXPECT_EQ(linesOf(console_.str()), want);
}

TEST_F(OpnsysTest, BadCheckBoxRunsRemainingStepsThenStops) {
  setKeys({{"SYSOUT", {"@XFORM107"}}, {"SYSERR", {"SYSOUT"}}, {"ERRMRG", {"2"}}, {"SYSODEF", {"0"}}});
  EXPECT_EQ(exitStatusOf(OPNSYS), 1);
  // The check-box block goes to the console, the message unit of that moment.
  const std::vector<std::string> block = {
      "",
      " *** SR CKOPTI: The value for keyword \"ERRMRG\" exceeds the range.",
      "                Input file:  " + (dir_ / "XFORM1.INP").string(),
      "                Called by:   OPNSYS",
      "                Option:      Merge program messages into output",
      "                Bad value:               2",
      "                Valid range: (            0 <= value <=            1 )",
      " ",
  };
  EXPECT_EQ(linesOf(console_.str()), block);
  // The default-name check still ran, on the program output by then.
  const std::vector<std::string> out = {
      "",
      " ### SR OPNSYS: Special program output requested, but default file name found.",
      "                Program output: " + (dir_ / "XFORM107").string(),
      "",
  };
  EXPECT_EQ(linesOf(fileContent(dir_ / "XFORM107")), out);
}

TEST_F(OpnsysTest, SystemInput) {
  const fs::path inp = dir_ / "SYSTEM.INP";
  std::ofstream(inp) << "first line\n";
  setKeys({{"SYSINP", {"@SYSTEM.INP"}}});
  OPNSYS();
  EXPECT_TRUE(rt::unitOpened(LFNINP));
  EXPECT_EQ(rt::unitName(LFNINP), inp.string());
  EXPECT_EQ(LFNOUT, 6);
  EXPECT_EQ(LFNMSG, 6);
}

TEST_F(OpnsysTest, OpenFailures) {
  struct Case {
    const char* what;
    Keys keys;
    std::string file;
    const char* unit;
  };
  const std::vector<Case> cases = {
      {"missing system input", {{"SYSINP", {"@NONE.INP"}}}, "@NONE.INP", "     5"},
      {"program output in a missing directory",
       {{"SYSOUT", {"@none/XFORM1.OUT"}}},
       "@none/XFORM1.OUT",
       "   998"},
      // Reported on the console, the message unit before the switch.
      {"message file in a missing directory",
       {{"SYSOUT", {"@XFORM1.OUT"}}, {"SYSERR", {"@none/XFORM1.ERR"}}},
       "@none/XFORM1.ERR",
       "   997"},
      {"message file in a missing directory, merge not set",
       {{"SYSOUT", {"@XFORM1.OUT"}}, {"ERRMRG", {"0"}}, {"SYSERR", {"@none/XFORM1.ERR"}}},
       "@none/XFORM1.ERR",
       "   997"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    freshRun();
    setKeys(c.keys);
    EXPECT_EQ(exitStatusOf(OPNSYS), 1);
    const std::vector<std::string> want = {
        "",
        " *** SR OPNERR: OPEN FAILED",
        "                FILE NAME : " + expand(c.file),
        "                PGM./SUBR.:     OPNSYS",
        "                IOSTAT    :      2",
        std::string("                FILE UNIT : ") + c.unit,
        "",
    };
    EXPECT_EQ(linesOf(console_.str()), want);
  }
}

// ERRFIL tells, without writing anything, whether OPNSYS opens a message
// file of its own: the unit it leaves in LFNMSG (it opens one even when
// ERRMRG is in error, and stops only afterwards).
TEST_F(OpnsysTest, MessageFileOfItsOwnKnownBeforehand) {
  struct Case {
    Keys keys;
    bool own;  // a message file of its own (unit 997)
  };
  const std::vector<Case> cases = {
      {{}, false},
      {{{"SYSERR", {"@XFORM1.ERR"}}}, true},
      {{{"SYSERR", {""}}}, false},
      {{{"SYSERR", {"SYSOUT"}}}, false},
      {{{"SYSERR", {" SYSOUT"}}}, true},
      {{{"SYSERR", {"sysout"}}}, true},
      {{{"ERRMRG", {"1"}}, {"SYSERR", {"@XFORM1.ERR"}}}, false},
      {{{"ERRMRG", {"0"}}, {"SYSERR", {"@XFORM1.ERR"}}}, true},
      {{{"ERRMRG", {"0"}}, {"SYSERR", {"SYSOUT"}}}, false},
      {{{"ERRMRG", {"0"}}, {"SYSERR", {""}}}, false},
      {{{"ERRMRG", {"2"}}, {"SYSERR", {"@XFORM1.ERR"}}}, true},
      {{{"ERRMRG", {""}}, {"SYSERR", {"@XFORM1.ERR"}}}, true},
      {{{"ERRMRG", {"1", "1"}}, {"SYSERR", {"@XFORM1.ERR"}}}, true},
      {{{"SYSOUT", {"@XFORM1.OUT"}}, {"SYSERR", {"@XFORM1.ERR"}}}, true},
  };
  // A name that is not "SYSOUT" (" SYSOUT", "sysout") is a file of the
  // working directory: the cases run in the temporary one.
  const fs::path start = fs::current_path();
  for (const Case& c : cases) {
    std::string trace;
    for (const auto& [name, values] : c.keys)
      for (const std::string& v : values) trace += " " + name + "=\"" + v + "\"";
    SCOPED_TRACE(trace);
    freshRun();
    fs::current_path(dir_);
    setKeys(c.keys);
    const bool own = ERRFIL();
    EXPECT_EQ(own, c.own);
    EXPECT_EQ(console_.str(), "");
    exitStatusOf(OPNSYS);
    EXPECT_EQ(LFNMSG == LFNERF, c.own) << "unit " << LFNMSG;
    rt::resetUnits();
    fs::current_path(start);
  }
}

}  // namespace
