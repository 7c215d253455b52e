// Integer values: classes, bounds, modes and the whole diagnostic blocks.
#include "optcheck/ckopt.h"
#include "optcheck/ckopt_fixture.h"

namespace {

using IntegerTest = OptCheckTest;

const std::string kBlank13(13, ' ');

Lines intHead(const char* prefix, bool range) {
  const std::string sentence = range ? "The value for keyword \"NITER\" exceeds the range."
                                     : "An integer string is expected for keyword \"NITER\"";
  return OptCheckTest::head(std::string(prefix) + sentence, "hminpi", "Number of iterations");
}

struct IntCase {
  const char* name;
  int mode;
  std::vector<std::string> values;
  t_ckoptiOpt opt;  // without the outputs
  int errDelta;
  int nBad;
  int nGood;
  int result1;
  std::vector<int> result2;
  Lines block;
};

TEST_F(IntegerTest, ClassesModesAndBlocks) {
  const char* E = " *** SR CKOPTI: ";
  const char* W = " ### SR CKOPTI: ";
  const std::string emptyClose = in16(kBlank13 + "An empty string is not allowed here!");
  const std::string convClose = in16(kBlank13 + "The string could not be converted to an integer!");
  // Values 1, x, blank and 9 against le 5: one block per class, in class order.
  const Lines mixed =
      join({intHead(E, false),
            {in16(rt::fit("Bad value:   \" \"  in line            3", 80)), emptyClose, " "},
            intHead(E, false),
            {in16("Bad value:   \" x \"  in line            2"), convClose, " "},
            intHead(E, true),
            {in16("Bad value:   " + std::string(12, ' ') + "9      in line            4"),
             in16("Expected:    ( value <=            5 )"), " "}});
  Lines mixedWarn = mixed;
  mixedWarn[1] = std::string(W) + mixed[1].substr(16);
  mixedWarn[9] = std::string(W) + mixed[9].substr(16);
  mixedWarn[17] = std::string(W) + mixed[17].substr(16);

  // clang-format off
  const std::vector<IntCase> cases = {
      {"good value in range", 1, vals({"1"}), {.ge = 0, .le = 1}, 0, 0, 1, 1, {1}, {}},
      {"above the range", 1, vals({"2"}), {.ge = 0, .le = 1, .error = -1}, 1, 1, 0, -1, {-1},
       join({intHead(E, true),
             {in16("Bad value:   " + std::string(12, ' ') + "2"),
              in16("Valid range: (            0 <= value <=            1 )"), " "}})},
      {"below a lower bound alone", 1, vals({"-3"}), {.ge = 0}, 1, 1, 0, -3, {-1},
       join({intHead(E, true),
             {in16("Bad value:   " + std::string(11, ' ') + "-3"),
              in16("Expected:    ( value >=            0 )"), " "}})},
      {"not an integer", 1, vals({"x"}), {.ge = 0, .le = 1, .error = 0}, 1, 1, 0, 0, {0},
       join({intHead(E, false), {in16("Bad value:   \" x \""), convClose, " "}})},
      {"blank without empty", 1, vals({""}), {.init = 4}, 1, 1, 0, 4, {4},
       join({intHead(E, false), {in16(rt::fit("Bad value:   \" \"  ", 80)), emptyClose, " "}})},
      {"blank with empty outside the bounds", 1, vals({""}), {.empty = 5, .ge = 0, .le = 1}, 0, 0,
       1, 5, {5}, {}},
      {"first item read, the rest ignored", 1, vals({"7 8"}), {.le = 10}, 0, 0, 1, 7, {7}, {}},
      {"leading zeros, shown as the integer", 0, vals({"007"}), {.le = 5}, 0, 1, 0, 7, {7},
       join({intHead(W, true),
             {in16("Bad value:   " + std::string(12, ' ') + "7"),
              in16("Expected:    ( value <=            5 )"), " "}})},
      {"mixed values in mode 1", 1, vals({"1", "x", "", "9"}), {.le = 5, .init = -7, .error = 0}, 3,
       3, 1, 1, {1, 0, 0, 0}, mixed},
      // In mode 0 the bad values keep their converted value; a value with none
      // (not an integer, blank) leaves its result as it was.
      {"mixed values in mode 0", 0, vals({"1", "x", "", "9"}), {.le = 5, .init = -7, .error = 0}, 0,
       3, 1, 1, {1, -7, -7, 9}, mixedWarn},
      {"out of range among short values", 1, vals({"1", "22", "200"}), {.ge = 0, .le = 100}, 1, 1,
       2, 1, {1, 22, -1},
       join({intHead(E, true),
             {in16("Bad value:   " + std::string(10, ' ') + "200      in line            3"),
              in16("Valid range: (            0 <= value <=          100 )"), " "}})},
  };
  // clang-format on
  for (const IntCase& c : cases) {
    SCOPED_TRACE(c.name);
    int errCount = 2, nBad = -1, nGood = -1, result1 = -1, numVal = -1;
    std::vector<int> result2(c.values.size(), -1);
    t_ckoptiOpt opt = c.opt;
    opt.nBad = &nBad;
    opt.nGood = &nGood;
    opt.result1 = &result1;
    opt.numVal = &numVal;
    opt.result2 = result2;
    CKOPTI(c.mode, "NITER", c.values, "hminpi", "Number of iterations", 0, errCount, opt);
    EXPECT_EQ(records(), c.block);
    EXPECT_EQ(errCount, 2 + c.errDelta);
    EXPECT_EQ(nBad, c.nBad);
    EXPECT_EQ(nGood, c.nGood);
    EXPECT_EQ(result1, c.result1);
    EXPECT_EQ(result2, c.result2);
    EXPECT_EQ(numVal, static_cast<int>(c.values.size()));
  }
}

// The position text of an out-of-range value starts in column 33 at the
// earliest, after the 13 columns of the written integer.
TEST_F(IntegerTest, OutOfRangePositionAfterTheNumber) {
  int errCount = 0;
  CKOPTI(1, "NITER", vals({"1", "200"}), "hminpi", "Number of iterations", 0, errCount,
         {.le = 100});
  const Lines out = records();
  ASSERT_EQ(out.size(), 8u);
  EXPECT_EQ(out[5].find("in line"), 16u + 32u);
}

}  // namespace
