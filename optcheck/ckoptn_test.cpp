// Count check of a keyword's values.
#include "optcheck/ckopt.h"
#include "optcheck/ckopt_fixture.h"

namespace {

using CountTest = OptCheckTest;

TEST_F(CountTest, CountAgainstTheLimit) {
  const Lines tooMany1 =
      join({head(" *** SR CKOPTN: Too many items found for keyword \"COORD1\".", "xform1",
                 "Coordinate file"),
            {in16("Num of items:            3"), in16("Max of items:            1"), " "}});
  Lines tooMany0 = tooMany1;
  tooMany0[1] = " ### SR CKOPTN: Too many items found for keyword \"COORD1\".";
  struct Case {
    const char* name;
    int mode;
    std::vector<std::string> values;
    int maxNum;
    int numVal;
    int errDelta;
    Lines block;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"three values, limit three", 1, vals({"a", "b", "c"}), 3, 3, 0, {}},
      {"three values, limit one", 1, vals({"a", "b", "c"}), 1, 3, 1, tooMany1},
      {"mode 0 warns and counts nothing", 0, vals({"a", "b", "c"}), 1, 3, 0, tooMany0},
      {"one blank value passes a limit of one", 1, vals({""}), 1, 1, 0, {}},
      {"one value is more than none", 1, vals({"a"}), 0, 1, 1,
       join({head(" *** SR CKOPTN: Too many items found for keyword \"COORD1\".", "xform1",
                  "Coordinate file"),
             {in16("Num of items:            1"), in16("Max of items:            0"), " "}})},
      {"no values", 1, {}, 0, 0, 0, {}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int numVal = -1, errCount = 10;
    CKOPTN(c.mode, "COORD1", c.values, numVal, "xform1", "Coordinate file", errCount, c.maxNum);
    EXPECT_EQ(numVal, c.numVal);
    EXPECT_EQ(errCount, 10 + c.errDelta);
    EXPECT_EQ(records(), c.block);
  }
}

// The numbers end in column 42: 16 blanks, the 13-character label and 13
// columns; larger numbers stay right-aligned with each other.
TEST_F(CountTest, NumbersAreRightAligned) {
  const auto [a, b] = ckopt_frame::alignedPair(3, 1);
  EXPECT_EQ(a, "            3");
  EXPECT_EQ(b, "            1");
  int numVal = 0, errCount = 0;
  CKOPTN(1, "COORD1", vals({"a", "b", "c"}), numVal, "xform1", "Coordinate file", errCount, 1);
  const Lines out = records();
  ASSERT_EQ(out.size(), 8u);
  EXPECT_EQ(out[5].size(), 42u);
  EXPECT_EQ(out[6].size(), 42u);
}

}  // namespace
