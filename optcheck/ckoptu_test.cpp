// Table lines split into columns.
#include "optcheck/ckopt.h"
#include "optcheck/ckopt_fixture.h"

namespace {

using TableTest = OptCheckTest;

const std::string kCell(8, '.');  // what the caller's cells held

// result2 of numCol columns and nLine lines, 8 characters per cell.
t_colTexts table(std::size_t numCol, std::size_t nLine) {
  return t_colTexts(numCol, std::vector<std::string>(nLine, kCell));
}

// The column texts of one line of result2.
std::vector<std::string> row(const t_colTexts& t, std::size_t j) {
  std::vector<std::string> out;
  for (const auto& column : t) out.push_back(rt::trimRight(column[j]));
  return out;
}

std::vector<std::string> trimmed(const std::vector<std::string>& texts) {
  std::vector<std::string> out;
  for (const auto& t : texts) out.push_back(rt::trimRight(t));
  return out;
}

Lines tableBlock(const char* prefix, const Lines& valueLines, int numCol) {
  Lines out =
      OptCheckTest::head(std::string(prefix) + "A set of string is expected for keyword \"STATAB\"",
                         "hminpi", "Station table");
  for (const auto& l : valueLines) out.push_back(OptCheckTest::in16(l));
  out.push_back(
      OptCheckTest::in16("Expected:    " + rt::formatLine("(I5)", {numCol}) + " columns"));
  out.push_back(OptCheckTest::in16(std::string(13, ' ') + "The string could not be extracted!"));
  return out;
}

TEST_F(TableTest, LinesSplitIntoColumns) {
  struct Case {
    const char* name;
    std::string line;
    int numCol;
    std::vector<std::string> cells;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"quoted texts lose their quotes", "'ABCD' 'x' 'y' 'M'", 4, {"ABCD", "x", "y", "M"}},
      {"more items than columns", "A B C", 2, {"A", "B"}},
      {"a quoted cell holds blanks", "'A B' C", 2, {"A B", "C"}},
      {"an empty value leaves a blank column", "A,,C", 3, {"A", "", "C"}},
      {"long texts are cut to the cells", "ABCDEFGHIJ x", 2, {"ABCDEFGH", "x"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int errCount = 0, nGood = 0;
    t_colTexts result2 = table(c.numCol, 1);
    std::vector<std::string> result1(c.numCol, kCell);
    CKOPTU(1, "STATAB", vals({c.line}), "hminpi", "Station table", 0, errCount, c.numCol,
           {.nGood = &nGood, .result1 = result1, .result2 = &result2});
    EXPECT_EQ(records(), Lines{});
    EXPECT_EQ(errCount, 0);
    EXPECT_EQ(nGood, 1);
    EXPECT_EQ(row(result2, 0), c.cells);
    EXPECT_EQ(trimmed(result1), c.cells);
  }
}

TEST_F(TableTest, LineWithTooFewColumns) {
  const std::vector<std::string> error = {"E1", "E2", "E3", "E4"};
  for (int mode : {1, 0}) {
    SCOPED_TRACE(mode);
    int errCount = 0, nBad = 0;
    t_colTexts result2 = table(4, 1);
    std::vector<std::string> result1(4, kCell);
    CKOPTU(mode, "STATAB", vals({"ABCD x y"}), "hminpi", "Station table", 0, errCount, 4,
           {.error = error, .nBad = &nBad, .result1 = result1, .result2 = &result2});
    EXPECT_EQ(records(), tableBlock(mode == 1 ? " *** SR CKOPTU: " : " ### SR CKOPTU: ",
                                    {"Bad value:   ABCD x y"}, 4));
    EXPECT_EQ(errCount, mode);
    EXPECT_EQ(nBad, 1);
    // Mode 1 stores the error texts; mode 0 passes on what the split produced.
    const std::vector<std::string> expected =
        mode == 1 ? error : std::vector<std::string>{"ABCD", "x", "y", ""};
    EXPECT_EQ(row(result2, 0), expected);
    EXPECT_EQ(trimmed(result1), expected);
  }
}

// One value line for the bad third line only, its position placed after the
// longest of all five lines (13 characters: column 33).
TEST_F(TableTest, BadLineAmongSeveral) {
  int errCount = 0, nGood = 0, numVal = 0;
  t_colTexts result2 = table(2, 5);
  std::vector<std::string> result1(2, kCell);
  CKOPTU(1, "STATAB", vals({"A1 B1", "A2 B2", "LONGLINE3", "A4 B4", "AAAAA5 BBBBB5"}), "hminpi",
         "Station table", 0, errCount, 2,
         {.lineNum = 7,
          .entry = "not shown",
          .nGood = &nGood,
          .result1 = result1,
          .numVal = &numVal,
          .result2 = &result2});
  EXPECT_EQ(
      records(),
      tableBlock(" *** SR CKOPTU: ", {"Bad value:   LONGLINE3          in line            3"}, 2));
  EXPECT_EQ(errCount, 1);
  EXPECT_EQ(nGood, 4);
  EXPECT_EQ(numVal, 5);
  EXPECT_EQ(row(result2, 1), (std::vector<std::string>{"A2", "B2"}));
  EXPECT_EQ(row(result2, 2), (std::vector<std::string>{"........", "........"}));
  EXPECT_EQ(row(result2, 4), (std::vector<std::string>{"AAAAA5", "BBBBB5"}));
  EXPECT_EQ(trimmed(result1), (std::vector<std::string>{"A1", "B1"}));
}

// Result arrays too small for numCol stop the run before anything else,
// even after a failed lookup.
TEST_F(TableTest, ResultArraysSmallerThanTheColumnsStop) {
  const std::vector<std::string> three(3, "x"), four(4, "x");
  std::vector<std::string> result1Small(3, kCell);
  t_colTexts result2Small = table(3, 1);
  struct Case {
    const char* name;
    t_ckoptuOpt opt;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"init", {.init = three}}, {"error", {.init = four, .error = three}},
      {"result1", {.result1 = result1Small}}, {"result2", {.result2 = &result2Small}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int errCount = 0;
    EXPECT_EQ(exitStatus([&] {
                CKOPTU(1, "STATAB", vals({"a b c d"}), "hminpi", "d", 1, errCount, 4, c.opt);
              }),
              1);
    EXPECT_EQ(
        records(),
        (Lines{"", " *** SR CKOPTU: Dear programmer, you did a FATAL ERROR!!!",
               in16("The size of \"" + std::string(c.name) + "\" is smaller than \"numCol\"."),
               in16("Keyword:  STATAB"), ""}));
    EXPECT_EQ(errCount, 0);
  }
}

// A failed lookup and too many lines store the error texts column by column.
TEST_F(TableTest, ErrorTextsPerColumn) {
  const std::vector<std::string> init = {"I1", "I2"}, error = {"E1", "E2"};
  int errCount = 0, nBad = 0;
  t_colTexts result2 = table(2, 2);
  CKOPTU(1, "STATAB", vals({"a b"}), "hminpi", "d", 1, errCount, 2,
         {.init = init, .error = error, .nBad = &nBad, .result2 = &result2});
  EXPECT_EQ(errCount, 1);
  EXPECT_EQ(nBad, 99);
  EXPECT_EQ(row(result2, 0), error);
  EXPECT_EQ(row(result2, 1), error);

  result2 = table(2, 2);
  CKOPTU(1, "STATAB", vals({"a b", "c d", "e f"}), "hminpi", "d", 0, errCount, 2,
         {.init = init, .error = error, .nBad = &nBad, .result2 = &result2});
  EXPECT_EQ(records(),
            join({head(" *** SR CKOPTN: Too many items found for keyword \"STATAB\".", "hminpi",
                       "d"),
                  {in16("Num of items:            3"), in16("Max of items:            2"), " "}}));
  EXPECT_EQ(errCount, 2);
  EXPECT_EQ(nBad, 2);
  EXPECT_EQ(row(result2, 1), error);
}

}  // namespace
