// The steps that every option check shares, shown through its members.
#include "optcheck/ckopt.h"

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "frame/m_vand.h"
#include "optcheck/ckopt_fixture.h"

namespace {

using ContractTest = OptCheckTest;

TEST_F(ContractTest, DescriptionOfFortyFiveCharactersGivesNoWarning) {
  const std::string descr45(45, 'd');
  int errCount = 0, result = 0;
  CKOPTI(1, "NITER", vals({"3"}), "hminpi", descr45, 0, errCount, {.result1 = &result});
  EXPECT_EQ(records(), Lines{});
  EXPECT_EQ(result, 3);
}

TEST_F(ContractTest, LongDescriptionWarnsAndTheCallGoesOnWithItsFirst45Characters) {
  const std::string descr46 = std::string(45, 'd') + "X";
  int errCount = 0, result = 0;
  CKOPTI(1, "NITER", vals({"x"}), "hminpi", descr46, 0, errCount, {.result1 = &result});
  EXPECT_EQ(
      records(),
      join({{"", " ### SR CKOPTI: Dear programmer, please give a shorter description",
             in16("for this option - not more than 45 chr. are possible"),
             in16("to get a \"nice\" error message."),
             in16("You have a description with  46 characters."), in16("Keyword:  NITER"), ""},
            head(" *** SR CKOPTI: An integer string is expected for keyword \"NITER\"", "hminpi",
                 std::string(45, 'd')),
            {in16("Bad value:   \" x \""),
             in16("             The string could not be converted to an integer!"), " "}}));
  EXPECT_EQ(errCount, 1);
}

// The input file's own description of the option, at most 45 characters,
// stands before the caller's.
TEST_F(ContractTest, OptionRecordTakesTheDescriptionOfTheInputFile) {
  const std::string long50 = "Number of iterations of the adjustment, at most 9";
  addKey("DESCR_NITER", {"Iterations of the adjustment"});
  addKey("MSG_NSTEP", {long50});
  int errCount = 0;
  CKOPTI(1, "NITER", vals({"x"}), "hminpi", "Number of iterations", 0, errCount);
  CKOPTI(1, "NSTEP", vals({"x"}), "hminpi", "Number of steps", 0, errCount);
  const std::string closing = in16("             The string could not be converted to an integer!");
  EXPECT_EQ(records(),
            join({head(" *** SR CKOPTI: An integer string is expected for keyword \"NITER\"",
                       "hminpi", "Iterations of the adjustment"),
                  {in16("Bad value:   \" x \""), closing, " "},
                  head(" *** SR CKOPTI: An integer string is expected for keyword \"NSTEP\"",
                       "hminpi", long50.substr(0, 42) + " .."),
                  {in16("Bad value:   \" x \""), closing, " "}}));
  EXPECT_EQ(errCount, 2);
}

// A failed lookup counts 1 in any mode, checks nothing (not even the mode),
// writes nothing and hands out the error values.
TEST_F(ContractTest, FailedLookupCountsOnceAndStoresTheErrorValues) {
  for (int mode : {0, 1, 5}) {
    SCOPED_TRACE(mode);
    int errCount = 4, nBad = -1, nGood = -1, result1 = -1, numVal = -1;
    std::array<int, 3> result2{-1, -1, -1};
    CKOPTI(mode, "NITER", vals({"1"}), "hminpi", "Number of iterations", 1, errCount,
           {.init = 3,
            .error = 7,
            .nBad = &nBad,
            .nGood = &nGood,
            .result1 = &result1,
            .numVal = &numVal,
            .result2 = result2});
    EXPECT_EQ(records(), Lines{});
    EXPECT_EQ(errCount, 5);
    EXPECT_EQ(nBad, 99);
    EXPECT_EQ(nGood, 0);
    EXPECT_EQ(result1, 7);
    EXPECT_EQ(result2, (std::array<int, 3>{7, 7, 7}));
    EXPECT_EQ(numVal, 0);
  }
}

TEST_F(ContractTest, FailedLookupWithoutErrorValueKeepsThePresets) {
  int errCount = 0;
  double result1 = -1.0;
  std::vector<double> result2(2, -1.0);
  CKOPTR(1, "LIMIT", vals({"1"}), "hminpi", "Limit", 2, errCount,
         {.init = 0.5, .result1 = &result1, .result2 = result2});
  EXPECT_EQ(errCount, 1);
  EXPECT_EQ(result1, 0.5);
  EXPECT_EQ(result2, (std::vector<double>{0.5, 0.5}));
}

// A mode other than 0 and 1: the programmer-error block of each member, then
// the stop with return code 2 (exit status 1).
TEST_F(ContractTest, WrongModeStopsEveryMemberWithItsBlock) {
  const std::string first = ": Dear programmer, you did a FATAL ERROR!!!";
  const std::string modeText = in16("The first parameter has to be \"0\" or \"1\".");
  const std::vector<std::string> one = vals({"1"});
  struct Case {
    const char* member;
    std::function<void()> call;
    bool namesKeyword;
  };
  int errCount = 0;
  std::vector<std::string> table(1, std::string(8, ' '));
  addKey("CHECKBOX", {"1"});
  // clang-format off
  const std::vector<Case> cases = {
      {"CKOPTI", [&] { CKOPTI(2, "OPTKEY", one, "hminpi", "d", 0, errCount); }, true},
      {"CKOPTR", [&] { CKOPTR(-1, "OPTKEY", one, "hminpi", "d", 0, errCount); }, true},
      {"CKOPTL", [&] { CKOPTL(2, "OPTKEY", one, "hminpi", "d", 0, errCount); }, true},
      {"CKOPTC", [&] { CKOPTC(2, "OPTKEY", one, {"1"}, "hminpi", "d", 0, errCount); }, true},
      {"CKOPTU", [&] { CKOPTU(2, "OPTKEY", one, "hminpi", "d", 0, errCount, 1); }, true},
      {"CKOPTB", [&] { CKOPTB(2, {"CHECKBOX"}, "hminpi", "d", errCount); }, false},
      {"CKOPTN",
       [&] {
         int n = 0;
         CKOPTN(3, "OPTKEY", one, n, "hminpi", "d", errCount, 1);
       },
       false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.member);
    EXPECT_EQ(exitStatus(c.call), 1);
    Lines expected{"", " *** SR " + std::string(c.member) + first, modeText};
    if (c.namesKeyword) expected.push_back(in16("Keyword:  OPTKEY"));
    expected.push_back("");
    EXPECT_EQ(records(), expected);
  }
  EXPECT_EQ(errCount, 0);
}

// maxVal larger than the array of results; CKOPTI's text says "than", the
// others' "that".
TEST_F(ContractTest, MaxValLargerThanTheResultArrayStops) {
  const std::vector<std::string> one = vals({"1"});
  int errCount = 0;
  std::array<int, 2> ints{};
  std::array<double, 2> reals{};
  std::array<std::string, 2> texts{std::string(8, ' '), std::string(8, ' ')};
  t_colTexts table(1, std::vector<std::string>(2, std::string(8, ' ')));
  struct Case {
    const char* member;
    const char* word;
    std::function<void()> call;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"CKOPTI", "than",
       [&] {
         CKOPTI(1, "OPTKEY", one, "hminpi", "d", 0, errCount, {.maxVal = 3, .result2 = ints});
       }},
      {"CKOPTR", "that",
       [&] {
         CKOPTR(1, "OPTKEY", one, "hminpi", "d", 0, errCount, {.maxVal = 3, .result2 = reals});
       }},
      {"CKOPTL", "that",
       [&] {
         CKOPTL(1, "OPTKEY", one, "hminpi", "d", 0, errCount, {.maxVal = 3, .result2 = texts});
       }},
      {"CKOPTC", "that",
       [&] {
         CKOPTC(1, "OPTKEY", one, {"1"}, "hminpi", "d", 0, errCount,
                {.maxVal = 3, .result2 = ints});
       }},
      {"CKOPTU", "that",
       [&] {
         CKOPTU(1, "OPTKEY", one, "hminpi", "d", 0, errCount, 1, {.maxVal = 3, .result2 = &table});
       }},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.member);
    EXPECT_EQ(exitStatus(c.call), 1);
    EXPECT_EQ(
        records(),
        (Lines{"",
               " *** SR " + std::string(c.member) + ": Dear programmer, you did a FATAL ERROR!!!",
               in16("The optional parameter \"maxVal\" is bigger " + std::string(c.word) + " the"),
               in16("size of the \"result\" array."), in16("Keyword:  OPTKEY"), ""}));
  }
  EXPECT_EQ(errCount, 0);
}

// Too many values: the count check's block (always an error, also in mode
// 0), nBad is the limit, the error values are stored and no value is looked at.
TEST_F(ContractTest, TooManyValuesAreCountedInEitherModeAndNoValueIsChecked) {
  int errCount = 0, nBad = -1, nGood = -1, numVal = -1, result1 = -1;
  std::array<int, 2> result2{-1, -1};
  CKOPTI(0, "NITER", vals({"x", "y", "z"}), "hminpi", "Number of iterations", 0, errCount,
         {.error = 0,
          .nBad = &nBad,
          .nGood = &nGood,
          .result1 = &result1,
          .numVal = &numVal,
          .result2 = result2});
  EXPECT_EQ(records(),
            join({head(" *** SR CKOPTN: Too many items found for keyword \"NITER\".", "hminpi",
                       "Number of iterations"),
                  {in16("Num of items:            3"), in16("Max of items:            2"), " "}}));
  EXPECT_EQ(errCount, 1);
  EXPECT_EQ(nBad, 2);
  EXPECT_EQ(nGood, 0);
  EXPECT_EQ(numVal, 0);
  EXPECT_EQ(result1, 0);
  EXPECT_EQ(result2, (std::array<int, 2>{0, 0}));
}

TEST_F(ContractTest, MaxValLimitsTheCountWithoutResultArray) {
  int errCount = 0, nBad = -1;
  CKOPTR(1, "LIMIT", vals({"1", "2"}), "hminpi", "Limit", 0, errCount,
         {.maxVal = 1, .nBad = &nBad});
  EXPECT_EQ(records(),
            join({head(" *** SR CKOPTN: Too many items found for keyword \"LIMIT\".", "hminpi",
                       "Limit"),
                  {in16("Num of items:            2"), in16("Max of items:            1"), " "}}));
  EXPECT_EQ(errCount, 1);
  EXPECT_EQ(nBad, 1);
}

// With one value the block shows "Column:", "Entry for:" and "Line number:"
// and the value line has no position; with several, "Entry for:" and "Line
// number:" are left out and every value line carries its position.
TEST_F(ContractTest, EntryAndLineNumberOnlyForASingleValue) {
  int errCount = 0;
  CKOPTI(1, "STATAB", vals({"x"}), "hminpi", "Station table", 0, errCount,
         {.column = "Flag", .lineNum = 12, .entry = "ZIMM 14001M004"});
  EXPECT_EQ(records(),
            join({head(" *** SR CKOPTI: An integer string is expected for keyword \"STATAB\"",
                       "hminpi", "Station table"),
                  {in16("Column:      Flag"), in16("Entry for:   ZIMM 14001M004"),
                   in16("Line number:    12"), in16("Bad value:   \" x \""),
                   in16("             The string could not be converted to an integer!"), " "}}));

  CKOPTI(1, "STATAB", vals({"x", "1"}), "hminpi", "Station table", 0, errCount,
         {.column = "Flag", .lineNum = 12, .entry = "ZIMM 14001M004"});
  EXPECT_EQ(records(),
            join({head(" *** SR CKOPTI: An integer string is expected for keyword \"STATAB\"",
                       "hminpi", "Station table"),
                  {in16("Column:      Flag"), in16("Bad value:   \" x \"  in line            1"),
                   in16("             The string could not be converted to an integer!"), " "}}));
  EXPECT_EQ(errCount, 2);
}

// The position text starts in column L + 20 of the value line, L being the
// longest trimmed value of the keyword.
TEST_F(ContractTest, PositionTextStartsAfterTheLongestValue) {
  int errCount = 0;
  CKOPTI(1, "NITER", vals({"ab", "abc"}), "hminpi", "Number of iterations", 0, errCount);
  const Lines out = records();
  EXPECT_EQ(out, join({head(" *** SR CKOPTI: An integer string is expected for keyword \"NITER\"",
                            "hminpi", "Number of iterations"),
                       {in16("Bad value:   \" ab \"   in line            1"),
                        in16("Bad value:   \" abc \"  in line            2"),
                        in16("             The string could not be converted to an integer!"),
                        " "}}));
  ASSERT_EQ(out.size(), 9u);
  EXPECT_EQ(out[5].find("in line"), 16u + 22u);
  EXPECT_EQ(errCount, 2);
}

// A value too long for the position text: the 80-character value line keeps
// its value and nothing is written past its end.
TEST_F(ContractTest, ValueLineIsCutAtItsLength) {
  const std::string longValue(70, 'q');
  int errCount = 0;
  CKOPTI(1, "NITER", vals({longValue, "1"}), "hminpi", "Number of iterations", 0, errCount);
  EXPECT_EQ(records(),
            join({head(" *** SR CKOPTI: An integer string is expected for keyword \"NITER\"",
                       "hminpi", "Number of iterations"),
                  {in16(("Bad value:   \" " + longValue + " \"").substr(0, 80)),
                   in16("             The string could not be converted to an integer!"), " "}}));
  EXPECT_EQ(ckopt_frame::overPosition("Bad value:   \" abc \"", 30, 3, "in line            2"),
            "Bad value:   \" abc \"  in line ");
}

TEST_F(ContractTest, GoodThenBadValueInModeOne) {
  int errCount = 0, nBad = 0, nGood = 0, result1 = 0;
  std::array<int, 2> result2{};
  CKOPTI(1, "NITER", vals({"4", "x"}), "hminpi", "Number of iterations", 0, errCount,
         {.error = -9, .nBad = &nBad, .nGood = &nGood, .result1 = &result1, .result2 = result2});
  EXPECT_EQ(result1, 4);
  EXPECT_EQ(result2, (std::array<int, 2>{4, -9}));
  EXPECT_EQ(errCount, 1);
  EXPECT_EQ(nBad, 1);
  EXPECT_EQ(nGood, 1);
}

// A keyword whose line gives a negative count has no values: nothing to
// check, numVal 0, and the results keep their presets.
TEST_F(ContractTest, KeywordWithoutValues) {
  int errCount = 0, numVal = -1, result1 = -1, nGood = -1;
  CKOPTI(1, "NITER", {}, "hminpi", "Number of iterations", 0, errCount,
         {.init = 6, .error = 0, .nGood = &nGood, .result1 = &result1, .numVal = &numVal});
  EXPECT_EQ(records(), Lines{});
  EXPECT_EQ(errCount, 0);
  EXPECT_EQ(numVal, 0);
  EXPECT_EQ(nGood, 0);
  EXPECT_EQ(result1, 0);  // no good value in mode 1: the error value
}

// A value that assigns nothing (a lone slash) is good but has no converted
// value: the results it would go to keep what they held.
TEST_F(ContractTest, ValueWithoutConvertedValueLeavesItsResults) {
  int errCount = 0, nGood = 0, result1 = 0;
  std::array<int, 2> result2{};
  CKOPTI(1, "NITER", vals({"/", "4"}), "hminpi", "Number of iterations", 0, errCount,
         {.init = 3, .nGood = &nGood, .result1 = &result1, .result2 = result2});
  EXPECT_EQ(records(), Lines{});
  EXPECT_EQ(nGood, 2);
  EXPECT_EQ(result1, 3);
  EXPECT_EQ(result2, (std::array<int, 2>{3, 4}));

  double real = 0.0;
  CKOPTR(1, "LIMIT", vals({"/"}), "hminpi", "Limit", 0, errCount, {.init = 0.25, .result1 = &real});
  EXPECT_EQ(records(), Lines{});
  EXPECT_EQ(real, 0.25);
  EXPECT_EQ(errCount, 0);
}

TEST_F(ContractTest, MessagesGoToTheMessageUnit) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("optcheck_msg_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "messages.txt").string();
  ASSERT_EQ(rt::openUnit(997, path), 0);
  LFNMSG = 997;
  int errCount = 0;
  CKOPTI(0, "NITER", vals({"x"}), "hminpi", "Number of iterations", 0, errCount);
  rt::closeUnit(997);
  EXPECT_EQ(records(), Lines{});
  std::ifstream in(path);
  Lines written;
  for (std::string line; std::getline(in, line);) written.push_back(line);
  EXPECT_EQ(written,
            join({head(" ### SR CKOPTI: An integer string is expected for keyword \"NITER\"",
                       "hminpi", "Number of iterations"),
                  {in16("Bad value:   \" x \""),
                   in16("             The string could not be converted to an integer!"), " "}}));
  std::filesystem::remove_all(dir);
}

}  // namespace
