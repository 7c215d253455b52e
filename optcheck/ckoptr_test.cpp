// Real values: bounds, their programmer checks, and the number formats of
// the range block.
#include <algorithm>
#include <cmath>

#include "optcheck/ckopt.h"
#include "optcheck/ckopt_fixture.h"

namespace {

using RealTest = OptCheckTest;

constexpr double kTol = 1e-12;  // values read from short decimal texts

Lines realHead(const char* prefix, bool range) {
  const std::string sentence = range ? "The value for keyword \"ELIMIT\" exceeds the range."
                                     : "A real string is expected for keyword \"ELIMIT\"";
  return OptCheckTest::head(std::string(prefix) + sentence, "hminpi", "Limit for east residuals");
}

// A number in F19.4, trimmed on the right.
std::string f19(const char* digits) {
  return std::string(19 - std::string(digits).size(), ' ') + digits;
}

struct RealCase {
  const char* name;
  int mode;
  std::vector<std::string> values;
  t_ckoptrOpt opt;  // without the outputs
  int errDelta;
  int nBad;
  double result1;
  std::vector<double> result2;
  Lines block;
};

TEST_F(RealTest, ClassesBoundsAndNumberFormats) {
  const char* E = " *** SR CKOPTR: ";
  const std::string b13(13, ' ');
  // clang-format off
  const std::vector<RealCase> cases = {
      {"exclusive bounds exclude both ends", 1, vals({"0", "1", "0.5"}), {.gt = 0.0, .lt = 1.0}, 2,
       2, 0.5, {-1.0, -1.0, 0.5},
       join({realHead(E, true),
             {in16("Bad value:   " + f19("0.0000") + "      in line            1"),
              in16("Bad value:   " + f19("1.0000") + "      in line            2"),
              in16("Valid range: (" + f19("0.0000") + " < value <" + f19("1.0000") + " )"), " "}})},
      {"inclusive bounds include both ends", 1, vals({"0", "1", "0.5"}), {.ge = 0.0, .le = 1.0}, 0,
       0, 0.0, {0.0, 1.0, 0.5}, {}},
      {"exclusive lower, inclusive upper", 1, vals({"5"}), {.le = 1.0, .gt = 0.0}, 1, 1, 5.0,
       {-1.0},
       join(
           {realHead(E, true),
            {in16("Bad value:   " + f19("5.0000")),
             in16("Valid range: (" + f19("0.0000") + " < value <=" + f19("1.0000") + " )"), " "}})},
      {"inclusive lower, exclusive upper", 1, vals({"-0.25"}), {.ge = 0.0, .lt = 1.0}, 1, 1, -0.25,
       {-1.0},
       join(
           {realHead(E, true),
            {in16("Bad value:   " + f19("-0.2500")),
             in16("Valid range: (" + f19("0.0000") + " <= value <" + f19("1.0000") + " )"), " "}})},
      {"blank with empty counts as good", 1, vals({""}), {.empty = 9.0e9, .ge = 0.0}, 0, 0, 9.0e9,
       {9.0e9}, {}},
      {"below a lower bound of 0: fixed point", 1, vals({"-5"}), {.ge = 0.0}, 1, 1, -5.0, {-1.0},
       join({realHead(E, true),
             {in16("Bad value:   " + f19("-5.0000")),
              in16("Expected:    ( value >=" + f19("0.0000") + " )"), " "}})},
      {"large value: exponent form", 1, vals({"2.0E6"}), {.le = 1.0e3}, 1, 1, 2.0e6, {-1.0},
       join({realHead(E, true),
             {in16("Bad value:     0.2000E+07"), in16("Expected:    ( value <=  0.1000E+04 )"),
              " "}})},
      {"small value: exponent form", 1, vals({"2.0E-4"}), {.ge = 0.001}, 1, 1, 2.0e-4, {-1.0},
       join({realHead(E, true),
             {in16("Bad value:     0.2000E-03"), in16("Expected:    ( value >=  0.1000E-02 )"),
              " "}})},
      {"one large magnitude sets the form of the whole block", 1, vals({"-5", "-2.0E6", "3"}),
       {.ge = 10.0}, 3, 3, -5.0, {-1.0, -1.0, -1.0},
       join({realHead(E, true),
             {in16("Bad value:    -0.5000E+01      in line            1"),
              in16("Bad value:    -0.2000E+07      in line            2"),
              in16("Bad value:     0.3000E+01      in line            3"),
              in16("Expected:    ( value >=  0.1000E+02 )"), " "}})},
      {"one block per class, each line with its position", 1, vals({"1.5", "abc", "", "12"}),
       {.lt = 10.0, .error = 0.0}, 3, 3, 1.5, {1.5, 0.0, 0.0, 0.0},
       join({realHead(E, false),
             {in16(rt::fit("Bad value:   \" \"  in line            3", 80)),
              in16(b13 + "An empty string is not allowed here!"), " "}, realHead(E, false),
             {in16("Bad value:   \" abc \"  in line            2"),
              in16(b13 + "The string could not be converted to a real!"), " "}, realHead(E, true),
             {in16("Bad value:   " + f19("12.0000") + "      in line            4"),
              in16("Expected:    ( value <" + f19("10.0000") + " )"), " "}})},
  };
  // clang-format on
  for (const RealCase& c : cases) {
    SCOPED_TRACE(c.name);
    int errCount = 0, nBad = -1;
    double result1 = -1.0;
    std::vector<double> result2(c.values.size(), -1.0);
    t_ckoptrOpt opt = c.opt;
    opt.nBad = &nBad;
    opt.result1 = &result1;
    opt.result2 = result2;
    CKOPTR(c.mode, "ELIMIT", c.values, "hminpi", "Limit for east residuals", 0, errCount, opt);
    EXPECT_EQ(records(), c.block);
    EXPECT_EQ(errCount, c.errDelta);
    EXPECT_EQ(nBad, c.nBad);
    EXPECT_NEAR(result1, c.result1, kTol * std::max(1.0, std::fabs(c.result1)));
    ASSERT_EQ(result2.size(), c.result2.size());
    for (std::size_t i = 0; i < result2.size(); ++i)
      EXPECT_NEAR(result2[i], c.result2[i], kTol * std::max(1.0, std::fabs(c.result2[i])));
  }
}

TEST_F(RealTest, ModeZeroKeepsTheConvertedValues) {
  int errCount = 0;
  std::vector<double> result2(2, -1.0);
  CKOPTR(0, "ELIMIT", vals({"0.02", "2.5"}), "hminpi", "Limit for east residuals", 0, errCount,
         {.le = 1.0, .error = 0.0, .result2 = result2});
  EXPECT_EQ(records(),
            join({realHead(" ### SR CKOPTR: ", true),
                  {in16("Bad value:   " + f19("2.5000") + "      in line            2"),
                   in16("Expected:    ( value <=" + f19("1.0000") + " )"), " "}}));
  EXPECT_EQ(errCount, 0);
  EXPECT_NEAR(result2[0], 0.02, 1e-15);
  EXPECT_NEAR(result2[1], 2.5, 1e-15);
}

// Two lower or two upper bounds in one call: the block names the pair and
// the run stops, even when every value would be good; not after a failed
// lookup, which checks nothing.
TEST_F(RealTest, ContradictoryBoundsStop) {
  const std::vector<std::string> good = vals({"0.5"});
  int errCount = 0;
  struct Case {
    const char* pair;
    t_ckoptrOpt opt;
  };
  for (const Case& c : {Case{"\"ge\" and \"gt\"", {.ge = 0.0, .gt = 0.0}},
                        Case{"\"le\" and \"lt\"", {.le = 1.0, .lt = 1.0}}}) {
    SCOPED_TRACE(c.pair);
    EXPECT_EQ(exitStatus([&] { CKOPTR(1, "ELIMIT", good, "hminpi", "d", 0, errCount, c.opt); }), 1);
    EXPECT_EQ(records(),
              (Lines{"", " *** SR CKOPTR: Dear programmer, you did a FATAL ERROR!!!",
                     in16("You have specified the optional arguments " + std::string(c.pair)),
                     in16("in the same call of the subroutine."), ""}));
    EXPECT_EQ(exitStatus([&] { CKOPTR(1, "ELIMIT", good, "hminpi", "d", 1, errCount, c.opt); }),
              -1);
    EXPECT_EQ(records(), Lines{});
  }
  EXPECT_EQ(errCount, 2);  // the two failed lookups
  double result = 0.0;
  CKOPTR(1, "ELIMIT", good, "hminpi", "d", 0, errCount, {.ge = 0.0, .lt = 1.0, .result1 = &result});
  EXPECT_EQ(records(), Lines{});
  EXPECT_NEAR(result, 0.5, 1e-15);
}

}  // namespace
