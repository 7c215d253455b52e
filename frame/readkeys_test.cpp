// Tests of keyword lookup, file names and option descriptions.
#include "frame/readkeys.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "frame/d_inpkey.h"
#include "frame/m_vand.h"
#include "frame/testsupport.h"
#include "runtime/process.h"
#include "runtime/text.h"

namespace {

using frametest::exitStatusOf;
using frametest::linesOf;
using frametest::Texts;

Texts trimmed(const Texts& values) {
  Texts out;
  for (const auto& v : values) {
    EXPECT_EQ(v.size(), 255u);
    out.push_back(rt::trimRight(v));
  }
  return out;
}

const std::string kPanel = "/panels/XFORM1.INP";

class ReadkeysTest : public frametest::FrameTest {
 protected:
  // The keyword list of kPanel, read.
  void SetUp() override {
    FrameTest::SetUp();
    listRead();
  }
  static void listRead() {
    inpKey.fileName = rt::fit(kPanel, 255);
    inpKey.readState = 2;
  }
  static void add(const std::string& name, const Texts& values) { frametest::addKey(name, values); }
};

TEST_F(ReadkeysTest, ValuesOfAKeyword) {
  add("COORD1", {"first.CRD"});
  add("LIST", {"a", "b", "c"});
  add("EMPTY", {""});
  add("NONE", {});
  add("COORD1", {"second.CRD"});
  add("", {"blank name"});

  struct Case {
    const char* keyWord;
    Texts values;
  };
  const Case cases[] = {
      {"COORD1", {"first.CRD"}},  // the first entry of a name
      {"COORD1   ", {"first.CRD"}},
      {"LIST", {"a", "b", "c"}},
      {"EMPTY", {""}},
      {"NONE", {}},  // no values: an empty list
      {"", {kPanel}},
      {"   ", {kPanel}},  // blank: the input file's name, also with a blank-named entry
  };
  for (const auto& c : cases) {
    Texts values = {"left over", "from before"};
    int irc = 9;
    READKEYS(c.keyWord, values, irc);
    EXPECT_EQ(irc, 0) << c.keyWord;
    EXPECT_EQ(trimmed(values), c.values) << c.keyWord;
  }
  EXPECT_EQ(console_.str(), "");
}

TEST_F(ReadkeysTest, AllNamesInFileOrder) {
  Texts values;
  int irc = 9;
  READKEYS("*", values, irc);  // no keywords at all
  EXPECT_EQ(irc, 0);
  EXPECT_TRUE(values.empty());

  add("B", {"1"});
  add("A", {"2"});
  add("B", {"3"});
  READKEYS("*", values, irc);
  EXPECT_EQ(irc, 0);
  EXPECT_EQ(trimmed(values), (Texts{"B", "A", "B"}));
}

TEST_F(ReadkeysTest, KeywordNotFound) {
  add("COORD1", {"x"});
  Texts values = {"old"};
  int irc = 0;
  READKEYS("COORD2  ", values, irc);
  EXPECT_EQ(irc, 1);
  EXPECT_EQ(trimmed(values), Texts{""});
  EXPECT_EQ(linesOf(console_.str()),
            (Texts{"", " *** SR READKEYS: Keyword \"COORD2\" not found.",
                   "                  Input file name:  " + kPanel, ""}));

  console_.str("");
  READKEYS("DUMMY_KEY", values, irc);
  EXPECT_EQ(irc, 1);
  EXPECT_EQ(trimmed(values), Texts{""});
  EXPECT_EQ(console_.str(), "");
}

TEST_F(ReadkeysTest, NoAnswerOutsideReadState2) {
  add("COORD1", {"x"});
  for (int state : {0, 1, 3}) {
    inpKey.readState = state;
    Texts values;
    int irc = 0;
    READKEYS("COORD1", values, irc);
    EXPECT_EQ(irc, 1);
    EXPECT_EQ(trimmed(values), Texts{""});
    READKEYS("*", values, irc);
    EXPECT_EQ(irc, 1);
    EXPECT_FALSE(KEYEXI("COORD1"));
    std::string path = "unchanged";
    GTFLNA(0, "COORD1", path, irc);
    EXPECT_EQ(irc, 1);
    EXPECT_EQ(path, std::string(255, ' '));
  }
  EXPECT_EQ(console_.str(), "");
}

TEST_F(ReadkeysTest, Keyexi) {
  EXPECT_FALSE(KEYEXI("A"));  // empty list
  add("A", {});
  add("B", {"1"});
  EXPECT_TRUE(KEYEXI("A"));
  EXPECT_TRUE(KEYEXI("B  "));
  EXPECT_FALSE(KEYEXI("b"));  // case-sensitive
  EXPECT_FALSE(KEYEXI("AB"));
}

TEST_F(ReadkeysTest, GtflnaFileNames) {
  add("COORD1", {"/data/FIRST.CRD"});
  add("BLANK", {""});
  add("NONE", {});
  struct Case {
    int iStop;
    const char* keyWord;
    std::size_t len;
    std::string path;
    int irc;
  };
  const Case cases[] = {
      {1, "COORD1", 255, rt::fit("/data/FIRST.CRD", 255), 0},
      {0, "COORD1", 32, rt::fit("/data/FIRST.CRD", 32), 0},
      {0, "COORD1", 8, "/data/FI", 0},
      {0, "BLANK", 32, std::string(32, ' '), 1},
      {0, "NONE", 32, std::string(32, ' '), 1},
      {0, "MISSING", 32, std::string(32, ' '), 1},  // not looked up: no message
  };
  for (const auto& c : cases) {
    std::string path = "previous";
    int irc = 9;
    GTFLNA(c.iStop, c.keyWord, path, irc, c.len);
    EXPECT_EQ(path, c.path) << c.keyWord;
    EXPECT_EQ(irc, c.irc) << c.keyWord;
  }
  EXPECT_EQ(console_.str(), "");

  std::string path = "kept";
  int irc = 7;
  GTFLNA(1, "DEFNAM", path, irc);
  EXPECT_EQ(path, "kept");
  EXPECT_EQ(irc, 7);
}

TEST_F(ReadkeysTest, GtflnaStopsOnAMissingOrBlankName) {
  struct Case {
    const char* keyWord;
    Texts console;
  };
  const Case cases[] = {
      {"BLANK",
       {"", " *** SR GTFLNA: File name not found or blank", "                Keyword:  BLANK",
        ""}},
      {"DESCRIBED",
       {"", " *** SR GTFLNA: File name not found or blank",
        "                Keyword:  DESCRIBED",
        "                Option:   Parameter file of the transformation", ""}},
      {"MISSING",
       {"", " *** SR READKEYS: Keyword \"MISSING\" not found.",
        "                  Input file name:  " + kPanel, "", "",
        " *** SR GTFLNA: File name not found or blank", "                Keyword:  MISSING",
        ""}},
  };
  for (const auto& c : cases) {
    restart();
    listRead();
    add("BLANK", {""});
    add("DESCRIBED", {" "});
    add("MSG_DESCRIBED", {"Parameter file of the transformation"});
    std::string path;
    int irc = 0;
    EXPECT_EQ(exitStatusOf([&] { GTFLNA(1, c.keyWord, path, irc); }), 1) << c.keyWord;
    EXPECT_EQ(linesOf(console_.str()), c.console) << c.keyWord;
    EXPECT_EQ(inpKey.readState, 3);
  }
}

TEST_F(ReadkeysTest, GtflnaBeforeTheListIsReadStops) {
  inpKey.readState = 1;
  add("COORD1", {"x"});
  std::string path;
  int irc = 0;
  EXPECT_EQ(exitStatusOf([&] { GTFLNA(1, "COORD1", path, irc); }), 1);
  EXPECT_EQ(linesOf(console_.str()),
            (Texts{"", " *** SR GTFLNA: File name not found or blank",
                   "                Keyword:  COORD1", "", "",
                   " ### SR EXITRC: PROGRAM HAS BEEN STOPPED DURING INITIALIZATION", ""}));
}

TEST_F(ReadkeysTest, DescriptionsShortenedToMaxLen) {
  const std::string sixty = "Residual limit in north direction for outlier rejection (mm)";
  ASSERT_EQ(sixty.size(), 60u);
  add("MSG_NLIMIT", {sixty});
  add("DESCR_ELIMIT", {"East limit"});
  add("MSG_ELIMIT", {"later form"});
  add("DESCR_EMPTY", {""});
  add("MSG_NONE", {});
  struct Case {
    const char* keyWord;
    int maxLen;
    std::size_t len;
    std::string descr;
  };
  const Case cases[] = {
      {"NLIMIT", 45, 50, rt::fit(sixty.substr(0, 42) + " ..", 50)},
      {"NLIMIT", 60, 60, sixty},  // exactly maxLen: whole
      {"NLIMIT", 3, 10, "Res       "},
      {"NLIMIT", 1, 10, "R         "},
      {"NLIMIT", 4, 10, "R ..      "},
      {"NLIMIT", 80, 20, sixty.substr(0, 20)},  // cut to the length of descr
      {"ELIMIT  ", 45, 20, rt::fit("East limit", 20)},  // the earlier of both forms
      {"EMPTY", 0, 10, std::string(10, ' ')},  // blank: no error even with maxLen 0
      {"EMPTY", -2, 10, std::string(10, ' ')},  // nor with a negative one
      {"NONE", 10, 10, std::string(10, ' ')},
      {"ULIMIT", 10, 10, std::string(10, ' ')},  // no description
  };
  for (const auto& c : cases) {
    std::string descr = "x";
    DESCRP(c.keyWord, c.maxLen, descr, c.len);
    EXPECT_EQ(descr, c.descr) << c.keyWord << " " << c.maxLen;
  }
  EXPECT_EQ(console_.str(), "");

  inpKey.readState = 1;
  std::string descr;
  DESCRP("NLIMIT", 45, descr, 50);
  EXPECT_EQ(descr, std::string(50, ' '));
  inpKey.readState = 3;  // also answered while exiting
  DESCRP("ELIMIT", 45, descr, 20);
  EXPECT_EQ(descr, rt::fit("East limit", 20));
}

TEST_F(ReadkeysTest, DescriptionTooLongForMaxLenZeroOrLessStops) {
  for (const auto& [maxLen, shown] : {std::pair{0, "    0"}, std::pair{-3, "   -3"}}) {
    restart();
    listRead();
    add("MSG_NLIMIT", {"North limit"});
    std::string descr;
    EXPECT_EQ(exitStatusOf([&, maxLen = maxLen] { DESCRP("NLIMIT", maxLen, descr, 50); }), 1);
    const std::string header = " *** SR DESCRP: Illegal length of description string: ";
    EXPECT_EQ(linesOf(console_.str()),
              (Texts{"", header + shown, "                Keyword:  NLIMIT", ""}));
  }
}

}  // namespace
