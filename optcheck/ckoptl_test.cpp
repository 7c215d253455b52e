// Text values: blank values, a largest length and the length of the results.
#include "optcheck/ckopt.h"
#include "optcheck/ckopt_fixture.h"

namespace {

using TextTest = OptCheckTest;

Lines textHead(const char* prefix, bool blank) {
  const std::string sentence = blank ? "An character string is expected for keyword \"STANAM\""
                                     : "The input string for keyword \"STANAM\" is too long.";
  return OptCheckTest::head(std::string(prefix) + sentence, "hminpi", "Station names");
}

struct TextCase {
  const char* name;
  int mode;
  std::vector<std::string> values;
  t_ckoptlOpt opt;     // without the outputs
  std::size_t length;  // of the result texts
  int errDelta;
  int nBad;
  std::string result1;
  std::vector<std::string> result2;
  Lines block;
};

TEST_F(TextTest, ClassesModesAndBlocks) {
  const char* E = " *** SR CKOPTL: ";
  const char* W = " ### SR CKOPTL: ";
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTU";
  const std::string pre(16, '.');  // what the caller's results held
  // clang-format off
  const std::vector<TextCase> cases = {
      {"does not fit the results, mode 1", 1, vals({alphabet}), {.error = "XXERR"}, 16, 1, 1,
       "XXERR           ", {"XXERR           "},
       join({textHead(E, false),
             {in16("Bad value:   \"" + alphabet + "\""), in16("Value used:  \"ABCDEFGHIJKLMNOP\""),
              " "}})},
      {"does not fit the results, mode 0", 0, vals({alphabet}), {.error = "XXERR"}, 16, 0, 1,
       "ABCDEFGHIJKLMNOP", {"ABCDEFGHIJKLMNOP"},
       join({textHead(W, false),
             {in16("Bad value:   \"" + alphabet + "\""), in16("Value used:  \"ABCDEFGHIJKLMNOP\""),
              " "}})},
      {"only blanks lost to the cut", 1, vals({"ABC"}), {}, 4, 0, 0, "ABC ", {"ABC "}, {}},
      {"blank value replaced, even past maxLen and the result length", 1, vals({""}),
       {.empty = "NONE", .maxLen = 2}, 2, 0, 0, "NO", {"NO"}, {}},
      {"blank value without replacement", 1, vals({""}), {.init = "INIT"}, 8, 1, 1, "INIT    ",
       {"INIT    "},
       join({textHead(E, true),
             {in16(rt::fit("Bad value:   \" \"  ", 255)),
              in16(std::string(13, ' ') + "An empty string is not allowed here!"), " "}})},
      {"longer than maxLen", 1, vals({"ABCDEFGHIJK"}), {.maxLen = 8}, 16, 1, 1, "ABCDEFGHIJK     ",
       {pre},
       join({textHead(E, false),
             {in16("Bad value:   \"ABCDEFGHIJK\""), in16("Length found:           11"),
              in16("Max length:              8"), " "}})},
      {"two values longer than maxLen: one block", 1, vals({"ABCDEFGHIJK", "LMNOPQRSTUVW"}),
       {.maxLen = 8, .error = "?"}, 16, 2, 2, "?               ",
       {"?               ", "?               "},
       join({textHead(E, false),
             {in16("Bad value:   \"ABCDEFGHIJK\"     in line            1"),
              in16("Length found:           11"), in16("Max length:              8"),
              in16("Bad value:   \"LMNOPQRSTUVW\"    in line            2"),
              in16("Length found:           12"), in16("Max length:              8"), " "}})},
  };
  // clang-format on
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.name);
    int errCount = 0, nBad = -1;
    std::string result1 = rt::fit(pre, c.length);
    std::vector<std::string> result2(c.values.size(), result1);
    t_ckoptlOpt opt = c.opt;
    opt.nBad = &nBad;
    opt.result1 = &result1;
    opt.result2 = result2;
    CKOPTL(c.mode, "STANAM", c.values, "hminpi", "Station names", 0, errCount, opt);
    EXPECT_EQ(records(), c.block);
    EXPECT_EQ(errCount, c.errDelta);
    EXPECT_EQ(nBad, c.nBad);
    EXPECT_EQ(result1, c.result1);
    EXPECT_EQ(result2, c.result2);
  }
}

// Without result texts nothing is cut: a value is bad only by maxLen.
TEST_F(TextTest, WithoutResultsOnlyMaxLenLimits) {
  int errCount = 0, nGood = 0;
  const std::string longName(200, 'N');
  CKOPTL(1, "STANAM", vals({longName}), "hminpi", "Station names", 0, errCount, {.nGood = &nGood});
  EXPECT_EQ(records(), Lines{});
  EXPECT_EQ(nGood, 1);
}

}  // namespace
