// Tests of file opening, inquiry and variable replacement.
#include "frame/opnfil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

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

class OpnfilTest : public frametest::FrameTest {
 protected:
  // A keyword of the list, which then counts as read.
  static void add(const std::string& name, const Texts& values) {
    frametest::addKey(name, values);
    inpKey.readState = 2;
  }

  static std::string firstRecord(int lfn) {
    std::string record;
    EXPECT_EQ(rt::readRecord(lfn, record), 0);
    return record;
  }
};

TEST_F(OpnfilTest, LeftjsAndUpperc) {
  struct Case {
    std::string in, leftjs, upperc;
  };
  const Case cases[] = {
      {"  ab", "ab  ", "  AB"},
      {"\tab", "\tab", "\tAB"},  // a tab is not a blank
      {"    ", "    ", "    "},
      {"", "", ""},
      {"x1-z_{}\xe4\xc3", "x1-z_{}\xe4\xc3", "X1-Z_{}\xe4\xc3"},
  };
  for (const auto& c : cases) {
    std::string s = c.in;
    LEFTJS(s);
    EXPECT_EQ(s, c.leftjs);
    s = c.in;
    UPPERC(s);
    EXPECT_EQ(s, c.upperc);
  }
}

TEST_F(OpnfilTest, RplenvarReplacements) {
  add("ENVIRONMENT", {"\"A\" \"x\"", "\"B\" \"y\"", "LONGNAME \"/long/value\"", "\"X\"",
                      "\"D\" \"$HOME\"", "\"D\" \"dee\"", "\"SP\" \"a b\"", "\"E\" \"\""});
  add("ENVIRONMENT", {"\"A\" \"other\"", "\"C\" \"sea\""});  // only the first keyword counts
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"${A}/${B}.DAT", "x/y.DAT"},
      {"$A.DAT", "x.DAT"},
      {"$AB", "xB"},                               // one-character name
      {"${LONGNAME}/${B}", "/long/value/y"},      // a longer reference before a shorter value
      {"${B}${A}", "yx"},
      {"/p/${X}/f", "/p//f"},                       // a name alone: an empty value
      {"${D}", "dee"},                              // a value with a dollar sign is passed over
      {"${SP}z", "a bz"},
      {"${C}/${B}", "${C}/y"},                      // not defined in the first keyword
      {"${}x", "${}x"},                             // blank name
      {"$ x", "$ x"},
      {"ab$", "ab$"},
      {"$", "$"},                                   // shorter than 2 characters
      {"  ${A}  z", "  x  z"},                      // blanks before and after stay
      {"${A", "${A"},                               // no closing brace
  };
  for (const auto& c : cases) {
    std::string s = rt::fit(c.in, 40);
    RPLENVAR(0, s);
    EXPECT_EQ(s, rt::fit(c.out, 40)) << c.in;
  }
  EXPECT_EQ(console_.str(), "");  // mode 0 is silent

  std::string blank(10, ' ');
  RPLENVAR(1, blank);
  EXPECT_EQ(blank, std::string(10, ' '));
}

TEST_F(OpnfilTest, RplenvarKeepsTheLengthAndCutsAt255) {
  add("ENVIRONMENT", {"\"L\" \"" + std::string(200, 'v') + "\""});
  std::string s = "${L}/" + std::string(100, 'w');
  RPLENVAR(0, s);
  EXPECT_EQ(s, std::string(105, 'v'));  // cut to its length of 105

  s = rt::fit("${L}${L}", 300);
  RPLENVAR(0, s);
  EXPECT_EQ(s, rt::fit(std::string(255, 'v'), 300));
}

TEST_F(OpnfilTest, RplenvarWarningsInMode1) {
  add("ENVIRONMENT", {"\"B\" \"y\""});
  std::string s = rt::fit("${C}/${B}/${E", 30);
  RPLENVAR(1, s);
  EXPECT_EQ(s, rt::fit("${C}/y/${E", 30));
  EXPECT_EQ(linesOf(console_.str()),
            (Texts{"", " ### SR RPLENVAR: Variable C not resolved in: ${C}/${B}/${E", "", "",
                   " ### SR RPLENVAR: \"}\" is missing in: ${C}/y/${E", ""}));
}

TEST_F(OpnfilTest, RplenvarStopsInMode2) {
  struct Case {
    const char* in;
    const char* message;
  };
  const Case cases[] = {
      {"${C}/x", " *** SR RPLENVAR: Variable C not resolved in: ${C}/x"},
      {"a/${B", " *** SR RPLENVAR: \"}\" is missing in: a/${B"},
  };
  for (const auto& c : cases) {
    console_.str("");
    inpKey.readState = 2;
    add("ENVIRONMENT", {"\"B\" \"y\""});
    std::string s = rt::fit(c.in, 20);
    EXPECT_EQ(exitStatusOf([&] { RPLENVAR(2, s); }), 1) << c.in;
    EXPECT_EQ(linesOf(console_.str()), (Texts{"", c.message, ""})) << c.in;
  }
}

TEST_F(OpnfilTest, StatusFormAndActionKeywords) {
  const std::string existing = writeFile("EXIST.TXT", "kept\n");
  inpKey.readState = 2;
  struct Case {
    const char* status;
    const char* form;
    const char* action;
  };
  const Case cases[] = {
      {"new", "formatted", ""},  // NEW opens like UNKNOWN: an existing file is no error
      {"Unknown", "", "readonly"},
      {"", "BINARY", ""},
      {"OLD", "UNFORMATTED", "READONLY"},
  };
  for (const auto& c : cases) {
    int iostat = -1;
    OPNFIL(20, existing, c.status, c.form, c.action, " ", iostat);
    EXPECT_EQ(iostat, 0) << c.status << c.form << c.action;
    EXPECT_TRUE(rt::unitOpened(20));
    EXPECT_FALSE(inpKey.openBusy);
  }
  rt::closeUnit(20);
  EXPECT_EQ(fileContent(existing), "kept\n");

  int iostat = -1;
  OPNFIL(21, "", "SCRATCH", "", "", "", iostat);
  EXPECT_EQ(iostat, 0);
  rt::writeRecord(21, "scratch record");

  OPNFIL(22, path("NOT_THERE.TXT"), "OLD", "", "", "", iostat);
  EXPECT_NE(iostat, 0);
  EXPECT_FALSE(rt::unitOpened(22));
  EXPECT_FALSE(inpKey.openBusy);
  EXPECT_EQ(console_.str(), "");  // a failed open writes nothing itself
}

TEST_F(OpnfilTest, ReadonlyAccess) {
  const std::string existing = writeFile("RO.TXT", "line\n");
  int iostat = -1;
  OPNFIL(20, existing, "OLD", "FORMATTED", "READONLY", "", iostat);
  ASSERT_EQ(iostat, 0);
  EXPECT_THROW(rt::writeRecord(20, "no"), rt::IoFailure);
  EXPECT_EQ(fileContent(existing), "line\n");
}

TEST_F(OpnfilTest, KeywordOutsideItsListStopsInOpnfil) {
  const std::string name = path("K.TXT");
  struct Case {
    int readState;
    const char* status;
    const char* form;
    const char* action;
    std::string field;  // the 20-character field as compared
  };
  const Case cases[] = {
      {2, "OLD", "FORMATTED", "read", "READ                "},
      {2, "append", "FORMATTED", "", "APPEND              "},
      {2, "OLD", "text", "bad", "TEXT                "},  // the first bad one is named
      {3, "old", "FORMATTED", "", "old                 "},  // no upper-casing while exiting
  };
  for (const auto& c : cases) {
    restart();
    inpKey.readState = c.readState;
    EXPECT_EQ(exitStatusOf([&] {
                int iostat = 0;
                OPNFIL(999, "  " + name, c.status, c.form, c.action, "", iostat);
              }),
              1);
    EXPECT_TRUE(inpKey.openBusy);
    EXPECT_EQ(linesOf(console_.str()),
              (Texts{"", " SR OPNFIL: UNKNOWN KEYWORD    : " + c.field,
                     "            LOGICAL FILENUMBER : 999",
                     "            FILENAME           : " + rt::fit(name, 255), "", "",
                     " ### SR EXITRC: PROGRAM HAS BEEN STOPPED IN OPNFIL", ""}))
        << c.field;
    EXPECT_FALSE(fs::exists(name));
  }
}

TEST_F(OpnfilTest, UpperCaseKeywordsWorkWhileExiting) {
  inpKey.readState = 3;
  int iostat = -1;
  OPNFIL(20, path("EXITING.TXT"), "UNKNOWN", "FORMATTED", "", "", iostat);
  EXPECT_EQ(iostat, 0);
}

TEST_F(OpnfilTest, LeadingBlanksAndEarlierConnections) {
  const std::string file = writeFile("DATA.TXT", "first\nsecond\n");
  int iostat = -1;
  OPNFIL(996, "   " + file, "OLD", "", "", "", iostat);  // left-adjusted name
  ASSERT_EQ(iostat, 0);
  EXPECT_EQ(rt::unitName(996), file);

  OPNFIL(LFNRD, file, "OLD", "", "", "", iostat);  // the same file on another unit
  ASSERT_EQ(iostat, 0);
  EXPECT_FALSE(rt::unitOpened(996));
  EXPECT_TRUE(rt::unitOpened(999));
  EXPECT_EQ(firstRecord(999), "first");

  OPNFIL(LFNRD, file, "OLD", "", "", "", iostat);  // again on the same unit: from the start
  ASSERT_EQ(iostat, 0);
  EXPECT_EQ(firstRecord(999), "first");

  const std::string other = writeFile("OTHER.TXT", "other\n");
  OPNFIL(LFNRD, other, "OLD", "", "", "", iostat);  // the unit is freed first
  ASSERT_EQ(iostat, 0);
  EXPECT_EQ(firstRecord(999), "other");
  EXPECT_EQ(rt::inquireFile(file).opened, false);
}

TEST_F(OpnfilTest, AResultFileOpenedAgainIsNotPutInPlaceHalfWritten) {
  // A result file still being written on one unit and opened again (on
  // another unit, or on the same): the half-written content is dropped, the
  // file keeps its old content until the new opening is closed.
  const std::string file = writeFile("T.CRD", "old\n");
  for (int second : {LFNRD, 996}) {
    SCOPED_TRACE(second);
    int iostat = -1;
    OPNFIL(996, file, "UNKNOWN", "", "", "", iostat, rt::FileRole::Result);
    ASSERT_EQ(iostat, 0);
    rt::writeRecord(996, "half");
    OPNFIL(second, file, "UNKNOWN", "", "", "", iostat, rt::FileRole::Result);
    ASSERT_EQ(iostat, 0);
    EXPECT_EQ(rt::unitOpened(996), second == 996);
    EXPECT_EQ(fileContent(file), "old\n");
    rt::writeRecord(second, "whole");
    rt::closeUnit(second);
    EXPECT_EQ(fileContent(file), "whole\n");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"T.CRD"});
    writeFile("T.CRD", "old\n");
  }
}

TEST_F(OpnfilTest, LateSuccessNoteAndTheLimitOf10000Attempts) {
  const std::string file = writeFile("LATE.TXT", "x\n");
  struct Case {
    int failing;  // attempts that fail before the platform is asked
    int iostatZero;
    const char* programName;
    Texts console;
  };
  const std::string note = " ### SR OPNFIL: Problem to access file for opening";
  const Case cases[] = {
      {0, 1, "XFORM1", {}},
      {2, 1, "XFORM1",
       {"", note, "                File name : " + file,
        "                Successful after     3 open commands", ""}},
      {9999, 1, "",
       {"", note, "                File name : " + file,
        "                Successful after 10000 open commands", ""}},
      {2, 1, "PNLQRY", {}},
      {10000, 0, "XFORM1", {}},  // all 10000 fail: status of the last, no message
  };
  for (const auto& c : cases) {
    console_.str("");
    programName = rt::fit(c.programName, 8);
    opnfilFailFirst = c.failing;
    int iostat = -1;
    OPNFIL(30, "  " + file, "OLD", "", "", "", iostat);
    EXPECT_EQ(iostat == 0, c.iostatZero == 1) << c.failing;
    EXPECT_EQ(rt::unitOpened(30), c.iostatZero == 1);
    EXPECT_EQ(opnfilFailFirst, 0);
    EXPECT_FALSE(inpKey.openBusy);
    EXPECT_EQ(linesOf(console_.str()), c.console) << c.failing;
    rt::closeUnit(30);
  }
}

TEST_F(OpnfilTest, VariableInTheNameIsExpandedAndRegistered) {
  add("ENVIRONMENT", {"\"DIR\" \"" + dir_.string() + "\""});
  const std::string raw = "${DIR}/OUT.TXT";
  inpKey.delFil = {rt::fit("keep.me", 255), rt::fit(raw, 255), rt::fit(raw, 255)};
  inpKey.delCount = 3;

  int iostat = -1;
  OPNFIL(40, "  " + raw, "UNKNOWN", "", "", "", iostat);  // not equal to the entries as given
  ASSERT_EQ(iostat, 0);
  EXPECT_EQ(inpKey.delFil[1], rt::fit(raw, 255));

  OPNFIL(40, raw, "UNKNOWN", "", "", "", iostat);
  ASSERT_EQ(iostat, 0);
  EXPECT_EQ(rt::unitName(40), path("OUT.TXT"));
  EXPECT_TRUE(fs::exists(path("OUT.TXT")));
  EXPECT_EQ(inpKey.delFil[0], rt::fit("keep.me", 255));
  EXPECT_EQ(inpKey.delFil[1], rt::fit(path("OUT.TXT"), 255));  // the first equal entry
  EXPECT_EQ(inpKey.delFil[2], rt::fit(raw, 255));
  EXPECT_EQ(console_.str(), "");

  // An unresolved reference only warns; the open goes on under that name.
  OPNFIL(41, path("${NOPE}.TXT"), "UNKNOWN", "", "", "", iostat);
  EXPECT_EQ(iostat, 0);
  EXPECT_TRUE(fs::exists(path("${NOPE}.TXT")));
  EXPECT_EQ(linesOf(console_.str()),
            (Texts{"", " ### SR RPLENVAR: Variable NOPE not resolved in: " + path("${NOPE}.TXT"),
                   ""}));
}

TEST_F(OpnfilTest, NoReplacementBeforeTheListIsRead) {
  add("ENVIRONMENT", {"\"A\" \"x\""});
  for (int state : {0, 1}) {
    inpKey.readState = state;
    const std::string name = path("$A" + std::to_string(state) + ".TXT");
    int iostat = -1;
    OPNFIL(50, name, "UNKNOWN", "", "", "", iostat);
    EXPECT_EQ(iostat, 0);
    EXPECT_EQ(rt::unitName(50), name);
    EXPECT_TRUE(fs::exists(name));
  }
}

// An input file that is no regular file stops the run before it is opened,
// its name taken as OPNFIL takes it (leading blanks, variables); a regular
// file, a missing one and a directory are left to the open.
TEST_F(OpnfilTest, InputFileThatIsNoRegularFileStopsTheRun) {
  add("ENVIRONMENT", {"\"DIR\" \"" + dir_.string() + "\""});
  ASSERT_EQ(::mkfifo(path("IN.FIFO").c_str(), 0644), 0);
  fs::create_symlink("/dev/null", dir_ / "NULL.LNK");
  writeFile("IN.CRD", "title\n");
  fs::create_directory(dir_ / "SUB");

  for (const std::string name : {"IN.CRD", "MISSING.CRD", "SUB", "${NOPE}.CRD"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(exitStatusOf([&] { CHKINPF("  ${DIR}/" + name, "getco3"); }), -1);
    EXPECT_EQ(console_.str(), "");  // an unresolved variable is OPNFIL's to report
  }
  const struct {
    std::string name;
    std::string type;
  } refused[] = {{"IN.FIFO", "FIFO or pipe"}, {"NULL.LNK", "character device"}};
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name);
    restart();
    add("ENVIRONMENT", {"\"DIR\" \"" + dir_.string() + "\""});
    const std::string given = rt::fit("  ${DIR}/" + c.name, 32);
    EXPECT_EQ(exitStatusOf([&] { CHKINPF(given, "readstsg"); }), 1);
    EXPECT_EQ(consoleLines(), (Texts{"", " *** SR READSTSG: Input file is not a regular file",
                                     "                File name:    ${DIR}/" + c.name,
                                     "                File type:  " + c.type,
                                     "                A regular file is expected here.", ""}));
  }
}

// An input that is read once may be a FIFO, never a device.
TEST_F(OpnfilTest, InputReadOnceMayBeAFifoButNoDevice) {
  ASSERT_EQ(::mkfifo(path("IN.FIFO").c_str(), 0644), 0);
  EXPECT_EQ(exitStatusOf([&] { CHKINPF(path("IN.FIFO"), "DEFCON", InputReading::Once); }), -1);
  EXPECT_EQ(console_.str(), "");
  EXPECT_EQ(exitStatusOf([&] { CHKINPF("/dev/zero", "DEFCON", InputReading::Once); }), 1);
  EXPECT_EQ(consoleLines(), (Texts{"", " *** SR DEFCON: Input file is not a regular file",
                                   "                File name:  /dev/zero",
                                   "                File type:  character device",
                                   "                A regular file is expected here.", ""}));
}

TEST_F(OpnfilTest, InquireByUnitAndByFile) {
  add("ENVIRONMENT", {"\"DIR\" \"" + dir_.string() + "\""});
  const std::string file = writeFile("Q.TXT", "q\n");
  int iostat = -1;
  OPNFIL(60, file, "OLD", "", "", "", iostat);
  ASSERT_EQ(iostat, 0);

  std::string name;
  bool exist = false;
  bool opened = false;
  int number = 0;
  INQUIRE({.file = "${DIR}/Q.TXT", .exist = &exist, .opened = &opened, .number = &number});
  EXPECT_TRUE(exist);
  EXPECT_TRUE(opened);
  EXPECT_EQ(number, 60);

  INQUIRE({.file = "${DIR}/NONE.TXT", .exist = &exist, .opened = &opened, .number = &number});
  EXPECT_FALSE(exist);
  EXPECT_FALSE(opened);

  // With a unit, the file is ignored: no replacement and no stop.
  INQUIRE({.unit = 60, .file = "${UNDEFINED}", .name = &name, .exist = &exist,
           .opened = &opened});
  EXPECT_EQ(name, file);
  EXPECT_TRUE(exist);
  EXPECT_TRUE(opened);
  INQUIRE({.unit = 61, .opened = &opened});
  EXPECT_FALSE(opened);
  EXPECT_EQ(console_.str(), "");

  EXPECT_EQ(exitStatusOf([&] { INQUIRE({.file = "${UNDEFINED}/x", .exist = &exist}); }), 1);
  EXPECT_EQ(linesOf(console_.str()),
            (Texts{"", " *** SR RPLENVAR: Variable UNDEFINED not resolved in: ${UNDEFINED}/x",
                   ""}));
}

}  // namespace
