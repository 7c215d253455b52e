// Choice from a list of valid texts.
#include "optcheck/ckopt.h"
#include "optcheck/ckopt_fixture.h"

namespace {

using ChoiceTest = OptCheckTest;

Lines choiceHead(const char* prefix) {
  return OptCheckTest::head(
      std::string(prefix) + "The input string for keyword \"RESIDTYPE\" is invalid.", "hminpi",
      "Residual system");
}

struct ChoiceCase {
  const char* name;
  int mode;
  std::vector<std::string> values;
  std::vector<std::string> validVal;
  std::vector<int> valueList;  // empty: not given
  t_ckoptcOpt opt;             // without the outputs and valueList
  int errDelta;
  int nGood;
  int nBad;
  int result1;
  std::vector<int> result2;
  Lines block;
};

TEST_F(ChoiceTest, MatchingResultsAndBlocks) {
  const char* E = " *** SR CKOPTC: ";
  const char* W = " ### SR CKOPTC: ";
  const std::vector<std::string> neuXyz = {"NEU", "XYZ"};
  const std::string neuXyzItems = in16("Valid items: \"NEU\", \"XYZ\"");
  // clang-format off
  const std::vector<ChoiceCase> cases = {
      {"a valid text gives its position", 1, vals({"XYZ"}), neuXyz, {}, {}, 0, 1, 0, 2, {2}, {}},
      {"case differs: no match, mode 1", 1, vals({"xyz"}), neuXyz, {}, {}, 1, 0, 1, -1, {-4},
       join({choiceHead(E), {in16("Bad value:   \" xyz \""), neuXyzItems, " "}})},
      {"no match, mode 1, with error", 1, vals({"xyz"}), neuXyz, {}, {.error = 0}, 1, 0, 1, 0, {0},
       join({choiceHead(E), {in16("Bad value:   \" xyz \""), neuXyzItems, " "}})},
      {"no match, mode 0", 0, vals({"xyz"}), neuXyz, {}, {.error = 0}, 0, 0, 1, -1, {-1},
       join({choiceHead(W), {in16("Bad value:   \" xyz \""), neuXyzItems, " "}})},
      {"leading blanks count", 0, vals({" NEU"}), neuXyz, {}, {}, 0, 0, 1, -1, {-1},
       join({choiceHead(W), {in16("Bad value:   \"  NEU \""), neuXyzItems, " "}})},
      {"catch-all result", 1, vals({"xyz"}), neuXyz, {}, {.otherVal = 5}, 0, 1, 0, 5, {5}, {}},
      {"value list, mode 0", 0, vals({"m", "E", "x"}), {"M", "m", "E", "e"}, {1, 1, 2, 2}, {}, 0, 2,
       1, 1, {1, 2, -1},
       join({choiceHead(W),
             {in16("Bad value:   \" x \"  in line            3"),
              in16("Valid items: \"M\", \"m\", \"E\", \"e\""), " "}})},
      {"value list, mode 1", 1, vals({"m", "E", "x"}), {"M", "m", "E", "e"}, {1, 1, 2, 2},
       {.error = 9}, 1, 2, 1, 1, {1, 2, 9},
       join({choiceHead(E),
             {in16("Bad value:   \" x \"  in line            3"),
              in16("Valid items: \"M\", \"m\", \"E\", \"e\""), " "}})},
      {"the last equal valid text wins", 1, vals({"A"}), {"A", "A"}, {1, 2}, {}, 0, 1, 0, 2, {2},
       {}},
      {"without value list: position of the last value that matched", 0, vals({"X", "XYZ", "NEU"}),
       neuXyz, {}, {}, 0, 2, 1, 1, {-1, 2, 1},
       join({choiceHead(W),
             {in16("Bad value:   \" X \"    in line            1"), neuXyzItems, " "}})},
      {"with value list: entry of the first value that matched", 0, vals({"X", "XYZ", "NEU"}),
       neuXyz, {7, 8}, {}, 0, 2, 1, 8, {-1, 8, 7},
       join({choiceHead(W),
             {in16("Bad value:   \" X \"    in line            1"), neuXyzItems, " "}})},
      {"valid texts over two lines", 1, vals({"F"}),
       {"AAAAAAA", "BBBBBBB", "CCCCCCC", "DDDDDDD", "EEEEEEE"}, {}, {}, 1, 0, 1, -1, {-4},
       join({choiceHead(E),
             {in16("Bad value:   \" F \""),
              in16("Valid items: \"AAAAAAA\", \"BBBBBBB\", \"CCCCCCC\","),
              in16("             \"DDDDDDD\", \"EEEEEEE\""), " "}})},
      {"no valid texts", 1, vals({"F"}), {}, {}, {}, 1, 0, 1, -1, {-4},
       join({choiceHead(E), {in16("Bad value:   \" F \""), " "}})},
  };
  // clang-format on
  for (const ChoiceCase& c : cases) {
    SCOPED_TRACE(c.name);
    int errCount = 0, nGood = -1, nBad = -1, result1 = -3;
    std::vector<int> result2(c.values.size(), -4);
    t_ckoptcOpt opt = c.opt;
    if (!c.valueList.empty()) opt.valueList = c.valueList;
    opt.nGood = &nGood;
    opt.nBad = &nBad;
    opt.result1 = &result1;
    opt.result2 = result2;
    CKOPTC(c.mode, "RESIDTYPE", c.values, c.validVal, "hminpi", "Residual system", 0, errCount,
           opt);
    EXPECT_EQ(records(), c.block);
    EXPECT_EQ(errCount, c.errDelta);
    EXPECT_EQ(nGood, c.nGood);
    EXPECT_EQ(nBad, c.nBad);
    EXPECT_EQ(result1, c.result1);
    EXPECT_EQ(result2, c.result2);
  }
}

TEST_F(ChoiceTest, ValueListOfAnotherSizeStops) {
  int errCount = 0;
  const std::vector<int> three = {1, 2, 3};
  EXPECT_EQ(exitStatus([&] {
              CKOPTC(1, "RESIDTYPE", vals({"A"}), {"A", "B", "C", "D"}, "hminpi", "d", 0, errCount,
                     {.valueList = three});
            }),
            1);
  EXPECT_EQ(records(), (Lines{"", " *** SR CKOPTC: Dear programmer, you did a FATAL ERROR!!!",
                              in16("The size of valid values und the value list is different:"),
                              in16("Number of valid values:     4"),
                              in16("Size of value list:         3"), ""}));
  EXPECT_EQ(errCount, 0);
}

}  // namespace
