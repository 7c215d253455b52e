// Tests of reading the keyword input file into the keyword list.
#include "frame/readinpf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/d_inpkey.h"
#include "frame/m_vand.h"
#include "frame/testsupport.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

using frametest::exitStatusOf;
using frametest::linesOf;

std::string repeat(const std::string& line, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += line + "\n";
  return out;
}

class ReadinpfTest : public frametest::FrameTest {
 protected:
  // Writes the keyword input file and reads it into inpKey.
  std::string read(const std::string& text, const std::string& name = "PANEL.INP") {
    const std::string path = writeFile(name, text);
    READINPF(path, inpKey);
    return path;
  }

  // Trimmed values of entry i.
  static std::vector<std::string> valuesOf(std::size_t i) {
    std::vector<std::string> out;
    for (const auto& v : inpKey.keys.at(i).value) {
      EXPECT_EQ(v.size(), 255u);
      out.push_back(rt::trimRight(v));
    }
    return out;
  }

  static std::vector<std::string> names() {
    std::vector<std::string> out;
    for (const auto& k : inpKey.keys) out.push_back(k.keyName);
    return out;
  }
};

using Values = std::vector<std::string>;

TEST_F(ReadinpfTest, CommentsAndBlankLinesOnlyGiveAnEmptyList) {
  const std::string path = read("# comment\n\n   ! indented comment\n  * another\n\n");
  EXPECT_EQ(inpKey.readState, 2);
  EXPECT_EQ(inpKey.keyCount, 0);
  EXPECT_TRUE(inpKey.keys.empty());
  EXPECT_EQ(inpKey.delCount, 0);
  EXPECT_TRUE(inpKey.delFil.empty());
  EXPECT_EQ(inpKey.fileName, rt::fit(path, 255));
  EXPECT_FALSE(rt::unitOpened(LFNRD));
  EXPECT_EQ(console_.str(), "");
}

TEST_F(ReadinpfTest, ValueFormsByCount) {
  read("ZERO 0\n"
       "WORD 1 abc  ignored\n"
       "APOS 1 'a b'\n"
       "QUOT 1 \"a b\"\n"
       "RAW  1 \"a b\" \"c\"\n"
       "  TWO 2  trailing items ignored\n"
       "# a comment between the values\n"
       "\n"
       "   first second\n"
       "\"x y\" \"z\" kept whole\n"
       "NONE -1\n"
       "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789ABCD 1 long\n"
       "ZERO 1 again\n");
  ASSERT_EQ(inpKey.keyCount, 9);
  EXPECT_EQ(names(), (std::vector<std::string>{
                         rt::fit("ZERO", 32), rt::fit("WORD", 32), rt::fit("APOS", 32),
                         rt::fit("QUOT", 32), rt::fit("RAW", 32), rt::fit("TWO", 32),
                         rt::fit("NONE", 32), "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345",
                         rt::fit("ZERO", 32)}));
  EXPECT_EQ(valuesOf(0), Values{""});      // count 0: one blank value
  EXPECT_EQ(valuesOf(1), Values{"abc"});
  EXPECT_EQ(valuesOf(2), Values{"a b"});
  EXPECT_EQ(valuesOf(3), Values{"a b"});
  EXPECT_EQ(valuesOf(4), Values{"\"a b\" \"c\""});  // raw from the first double quote
  EXPECT_EQ(valuesOf(5), (Values{"first", "\"x y\" \"z\" kept whole"}));
  EXPECT_EQ(valuesOf(6), Values{""});      // negative count: taken as 0
  EXPECT_EQ(valuesOf(7), Values{"long"});
  EXPECT_EQ(valuesOf(8), Values{"again"});    // a repeated name is its own entry
  EXPECT_EQ(inpKey.readState, 2);
}

TEST_F(ReadinpfTest, ValueCleanUpOfHashesAndQuotes) {
  struct Case {
    const char* item;  // what follows "K 1 " on the keyword line
    const char* value;
  };
  const Case cases[] = {
      {"#abc#", "abc"},
      {"##", ""},
      {"#", "#"},
      {"#a", "#a"},
      {"'#a b#'", "a b"},
      {"#\"#p#\"#", "\"p\""},                     // enclosing hashes first, then quoted
      {"\"#a b#\" \"\" x", "\"a b\" \"\" x"},       // raw: more than two double quotes
      {"\"#a#\" \"#b#\"", "\"a\" \"b\""},
      {"\"#a\" \"b#\"", "\"#a\" \"b#\""},           // the search stops at a double quote
      {"\"#\"#\" x\"", "\"#\"#\" x\""},              // each search meets a double quote first
      {"\"#x#\"\"#y#\"\"", "\"x\"\"y\"\""},
      {"\"#x#\"#y#\"", "\"x\"y\""},                  // the scan goes on at the closing quote
  };
  std::string text;
  for (const auto& c : cases) text += "K 1 " + std::string(c.item) + "\n";
  read(text);
  ASSERT_EQ(inpKey.keyCount, static_cast<int>(std::size(cases)));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(valuesOf(i), Values{cases[i].value}) << cases[i].item;
  }
}

TEST_F(ReadinpfTest, ValueLinesAreCleanedToo) {
  read("V 3\n  '#abc#'\n\"#a#\" \"#b#\"\n  \"##\"\n");
  EXPECT_EQ(valuesOf(0), (Values{"abc", "\"a\" \"b\"", ""}));
}

TEST_F(ReadinpfTest, ThousandBlankLinesAreSkippedTheNextOneEndsTheFile) {
  // Comment lines between the blank lines do not count.
  read("FIRST 1 a\n" + repeat("", 500) + "# note\n" + repeat("   ", 500) + "SECOND 1 b\n");
  EXPECT_EQ(names(), (std::vector<std::string>{rt::fit("FIRST", 32), rt::fit("SECOND", 32)}));

  read("FIRST 1 a\n" + repeat("", 1001) + "SECOND 1 b\n", "OTHER.INP");
  EXPECT_EQ(names(), (std::vector<std::string>{rt::fit("FIRST", 32)}));
  EXPECT_EQ(inpKey.readState, 2);
}

TEST_F(ReadinpfTest, BlankLimitAlsoHoldsBetweenValueLines) {
  read("VALS 2\n" + repeat("", 1000) + "one\n" + repeat("", 1000) + "two\nNEXT 0\n");
  ASSERT_EQ(inpKey.keyCount, 2);
  EXPECT_EQ(valuesOf(0), (Values{"one", "two"}));
}

TEST_F(ReadinpfTest, DeleteListOfTheLastLineResolvedAfterReading) {
  read("DELETE_FILES 2\n  OLD_A\n  OLD_B\n"
       "OLD_A 1 a.dat\n"
       "DELETE_FILES 3\n  OUT1\n  not_a_keyword.tmp\n  OUT2\n"
       "OUT1 1 \"${P}/out1.dat\"\n"
       "OUT1 1 second.dat\n"
       "OUT2 0\n");
  ASSERT_EQ(inpKey.delCount, 3);
  ASSERT_EQ(inpKey.delFil.size(), 3u);
  EXPECT_EQ(inpKey.delFil[0], rt::fit("${P}/out1.dat", 255));  // first entry of the name
  EXPECT_EQ(inpKey.delFil[1], rt::fit("not_a_keyword.tmp", 255));
  EXPECT_EQ(inpKey.delFil[2], std::string(255, ' '));
  // The keyword entries themselves keep the names.
  EXPECT_EQ(valuesOf(2), (Values{"OUT1", "not_a_keyword.tmp", "OUT2"}));
}

TEST_F(ReadinpfTest, DeleteListWithCountZeroOrNegativeIsEmpty) {
  for (const char* count : {"0", "-1"}) {
    read(std::string("DELETE_FILES 1 X\nX 1 x.dat\nDELETE_FILES ") + count + "\n",
         std::string("PANEL") + count + ".INP");
    EXPECT_EQ(inpKey.delCount, 0) << count;
    EXPECT_TRUE(inpKey.delFil.empty()) << count;
    EXPECT_EQ(valuesOf(2), Values{""}) << count;
  }
}

TEST_F(ReadinpfTest, SameNameAgainKeepsTheListBlankNameReadsTheCommandLine) {
  const std::string path = read("A 1 first\n");
  writeFile("PANEL.INP", "A 1 second\nB 0\n");

  READINPF(path, inpKey);  // same name: unchanged
  ASSERT_EQ(inpKey.keyCount, 1);
  EXPECT_EQ(valuesOf(0), Values{"first"});

  READINPF(path + "   ", inpKey);  // trailing blanks do not matter
  EXPECT_EQ(inpKey.keyCount, 1);

  const char* argv[] = {"prog", path.c_str()};
  rt::setCommandLine(2, argv);
  READINPF("   ", inpKey);  // blank name: read again, the name from the command line
  ASSERT_EQ(inpKey.keyCount, 2);
  EXPECT_EQ(valuesOf(0), Values{"second"});
  EXPECT_EQ(inpKey.fileName, rt::fit(path, 255));
  EXPECT_EQ(inpKey.readState, 2);
}

TEST_F(ReadinpfTest, UndecodableKeywordLineStopsDuringInitialization) {
  const char* badLines[] = {"ONLYNAME", "KEY abc", "KEY 1.5", "\t\t"};
  for (const char* bad : badLines) {
    restart();
    const std::string path = writeFile("BAD.INP", "GOOD 1 x\n" + std::string(bad) + "\nLAST 0\n");
    EXPECT_EQ(exitStatusOf([&] { READINPF(path, inpKey); }), 1) << bad;
    EXPECT_EQ(linesOf(console_.str()),
              (std::vector<std::string>{"", "*** SR READKEYS: Error decoding keyword line",
                                        "                 panel: " + path,
                                        "                 line : " + std::string(bad), "", "",
                                        " ### SR EXITRC: PROGRAM HAS BEEN STOPPED DURING "
                                        "INITIALIZATION",
                                        ""}))
        << bad;
    EXPECT_EQ(inpKey.readState, 3);
    EXPECT_FALSE(rt::unitOpened(LFNRD));  // closed by the exit sequence
  }
}

TEST_F(ReadinpfTest, NulByteInAKeywordOrValueLineStopsDuringInitialization) {
  // The block shows the keyword line, up to the NUL when it holds one; a
  // NUL in a comment line is no text of the run.
  using namespace std::string_literals;
  struct Case {
    const char* what;
    std::string text;  // between "GOOD 1 x" and "LAST 0"
    std::string shown;  // the line of the block; empty: the file is read
  };
  const Case cases[] = {
      {"single value", "TITLE 1 \"Helmert\0 network\"\n"s, "TITLE 1 \"Helmert"},
      {"keyword name", "TIT\0LE 1 x\n"s, "TIT"},
      {"count", "TITLE 1\0 x\n"s, "TITLE 1"},
      {"table line", "STASELECT 2\n  \"ALFA\" \"\" \"\" \"\"\n  \"BR\0VO\" \"\" \"\" \"\"\n"s,
       "STASELECT 2"},
      {"value line", "VALUES 2\n  one\n  tw\0o\n"s, "VALUES 2"},
      {"comment line", "! a NUL \0 in a comment\nTITLE 1 x\n"s, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    restart();
    const std::string path = writeFile("NUL.INP", "GOOD 1 x\n" + c.text + "LAST 0\n");
    if (c.shown.empty()) {
      READINPF(path, inpKey);
      EXPECT_EQ(inpKey.keyCount, 3);
      EXPECT_EQ(console_.str(), "");
      continue;
    }
    EXPECT_EQ(exitStatusOf([&] { READINPF(path, inpKey); }), 1);
    EXPECT_EQ(linesOf(console_.str()),
              (std::vector<std::string>{"", "*** SR READKEYS: Error decoding keyword line",
                                        "                 panel: " + path,
                                        "                 line : " + c.shown, "", "",
                                        " ### SR EXITRC: PROGRAM HAS BEEN STOPPED DURING "
                                        "INITIALIZATION",
                                        ""}));
  }
}

TEST_F(ReadinpfTest, UndecodableValueIsAnUncheckedInputFailure) {
  struct Case {
    const char* text;
    const char* line;  // the line the failure names
  };
  const Case cases[] = {
      {"A 0\nB 1\nC 0\n", "B 1"},          // count 1 and nothing after the count
      {"A 0\nB 3\n  one\n  two\n", "B 3"}, // the file ends before the third value
  };
  for (const auto& c : cases) {
    restart();
    const std::string path = writeFile("VAL.INP", c.text);
    try {
      READINPF(path, inpKey);
      ADD_FAILURE() << "no failure for " << c.text;
    } catch (const rt::IoFailure& e) {
      EXPECT_EQ(e.file(), path);
      const std::string what = e.what();
      EXPECT_NE(what.find(path), std::string::npos) << what;
      EXPECT_NE(what.find(std::string("line: ") + c.line), std::string::npos) << what;
    }
  }
}

TEST_F(ReadinpfTest, MissingFileStopsWithTheOpenFailure) {
  const std::string path = this->path("MISSING.INP");
  EXPECT_EQ(exitStatusOf([&] { READINPF(path, inpKey); }), 1);
  const auto lines = linesOf(console_.str());
  ASSERT_EQ(lines.size(), 10u) << console_.str();
  EXPECT_EQ(lines[1], " *** SR OPNERR: OPEN FAILED");
  EXPECT_EQ(lines[2], "                FILE NAME : " + path);
  EXPECT_EQ(lines[3], "                PGM./SUBR.:   readInpf");
  EXPECT_EQ(lines[4], "                IOSTAT    :      2");  // no such file
  EXPECT_EQ(lines[5], "                FILE UNIT :    999");
  EXPECT_EQ(lines[8], " ### SR EXITRC: PROGRAM HAS BEEN STOPPED DURING INITIALIZATION");
}

TEST_F(ReadinpfTest, GetcmdJoinsTheArguments) {
  struct Case {
    std::vector<const char*> argv;
    std::size_t len;
    std::string line;
  };
  const std::string longArg(300, 'x');
  const Case cases[] = {
      {{"prog"}, 10, std::string(10, ' ')},
      {{"prog", "a", "", "  b  ", "   ", "c"}, 12, "a   b c     "},  // leading blanks kept
      {{"prog", "  lead"}, 8, "lead    "},                          // the whole text left-adjusted
      {{"prog", "abc", "defgh"}, 6, "abc d "},  // cut before the adjustment
      {{"prog", longArg.c_str(), "z"}, 300, std::string(255, 'x') + " z" + std::string(43, ' ')},
  };
  for (const auto& c : cases) {
    rt::setCommandLine(static_cast<int>(c.argv.size()), c.argv.data());
    std::string line(c.len, '?');
    GETCMD(line);
    EXPECT_EQ(line, c.line);
  }
}

TEST_F(ReadinpfTest, NumchrCountsTheWholeText) {
  int pos = -1;
  EXPECT_EQ(NUMCHR("a\"b\"c\"  ", '"', &pos), 3);
  EXPECT_EQ(pos, 2);
  EXPECT_EQ(NUMCHR("abc   ", ' ', &pos), 3);  // trailing blanks count
  EXPECT_EQ(pos, 4);
  EXPECT_EQ(NUMCHR("abc", '"', &pos), 0);
  EXPECT_EQ(pos, 0);
}

TEST_F(ReadinpfTest, NextlineWithoutAdjustmentTakesIndentedComments) {
  const std::string path = writeFile("LINES.TXT", "\n  # indented\n# comment\n!x\nlast\n");
  rt::OpenRequest req;
  req.status = "OLD";
  ASSERT_EQ(rt::openUnit(20, path, req), 0);
  std::string line;
  int irc = 9;
  NEXTLINE(20, 0, line, irc);
  EXPECT_EQ(irc, 0);
  EXPECT_EQ(line, rt::fit("  # indented", 255));
  NEXTLINE(20, 0, line, irc);
  EXPECT_EQ(line, rt::fit("last", 255));
  NEXTLINE(20, 0, line, irc);
  EXPECT_EQ(irc, -1);
  EXPECT_EQ(line, std::string(255, ' '));
}

}  // namespace
