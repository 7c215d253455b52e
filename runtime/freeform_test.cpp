#include "runtime/freeform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/units.h"

namespace {

// One read: the line, the kinds of its targets (I integer, R real, T text,
// L text of declared length 6), the status and, per target, the value it
// holds afterwards ("-" when it was not set and kept its old value).
struct ReadCase {
  const char* line;
  const char* kinds;
  int iostat;
  std::vector<std::string> expect;
};

constexpr int kOldInt = 777;
constexpr double kOldReal = -9.5;
const char* const kOldText = "old";

void checkRead(const ReadCase& c) {
  SCOPED_TRACE(std::string("line [") + c.line + "] kinds " + c.kinds);
  const std::string kinds = c.kinds;
  const std::size_t n = kinds.size();
  ASSERT_EQ(c.expect.size(), n);
  std::vector<int> ints(n, kOldInt);
  std::vector<double> reals(n, kOldReal);
  std::vector<std::string> texts(n, kOldText);
  std::vector<rt::FreeTarget> targets;
  for (std::size_t i = 0; i < n; ++i) {
    switch (kinds[i]) {
      case 'I': targets.emplace_back(ints[i]); break;
      case 'R': targets.emplace_back(reals[i]); break;
      case 'T': targets.emplace_back(texts[i]); break;
      default: targets.emplace_back(texts[i], 6); break;
    }
  }
  const rt::FreeRead r = rt::readFree(c.line, targets);
  EXPECT_EQ(r.iostat, c.iostat);
  EXPECT_EQ(r.ok(), c.iostat == 0);
  ASSERT_EQ(r.set.size(), n);
  for (std::size_t i = 0; i < n; ++i) {
    SCOPED_TRACE("target " + std::to_string(i + 1));
    const bool unchanged = c.expect[i] == "-";
    EXPECT_EQ(r.set[i], !unchanged);
    switch (kinds[i]) {
      case 'I':
        EXPECT_EQ(ints[i], unchanged ? kOldInt : std::stoi(c.expect[i]));
        break;
      case 'R':
        // Exact: the reader must give the nearest double of the decimal text.
        EXPECT_EQ(reals[i], unchanged ? kOldReal : std::strtod(c.expect[i].c_str(), nullptr));
        break;
      default:
        EXPECT_EQ(texts[i], unchanged ? std::string(kOldText) : c.expect[i]);
        break;
    }
  }
}

TEST(FreeRead, SeparatorsEmptyValuesAndSlash) {
  const ReadCase cases[] = {
      {"1 2.5 abc", "IRT", 0, {"1", "2.5", "abc"}},
      {"  7,\t-3 ,x", "IIT", 0, {"7", "-3", "x"}},
      {"1\t\t2", "II", 0, {"1", "2"}},
      {"1,,3", "III", 0, {"1", "-", "3"}},
      {"1 , , 3", "III", 0, {"1", "-", "3"}},
      {",5", "II", 0, {"-", "5"}},
      {",", "I", 0, {"-"}},
      {"1 /", "III", 0, {"1", "-", "-"}},
      {"1 2/3", "III", 0, {"1", "2", "-"}},
      {"/", "I", 0, {"-"}},
      {"abc/def", "TT", 0, {"abc", "-"}},
      {"5 6 7 extra, stuff", "II", 0, {"5", "6"}},
  };
  for (const ReadCase& c : cases) checkRead(c);
}

TEST(FreeRead, LineEndingTooEarlyFails) {
  const ReadCase cases[] = {
      {"1 2", "III", rt::kIoEnd, {"1", "2", "-"}},
      {"", "I", rt::kIoEnd, {"-"}},
      {"    ", "T", rt::kIoEnd, {"-"}},
      {"1,", "II", rt::kIoEnd, {"1", "-"}},  // a comma at the end gives no value
      {"KEY", "TI", rt::kIoEnd, {"KEY", "-"}},
  };
  for (const ReadCase& c : cases) checkRead(c);
}

TEST(FreeRead, QuotedAndUnquotedTexts) {
  const ReadCase cases[] = {
      {"'a b' \"c\"\"d\" 'it''s'", "TTT", 0, {"a b", "c\"d", "it's"}},
      {"'' x", "TT", 0, {"", "x"}},
      {"'a,b/c' \"x'y\"", "TT", 0, {"a,b/c", "x'y"}},
      {"COORD1 1 \"a b.CRD\"", "TIT", 0, {"COORD1", "1", "a b.CRD"}},
      {"NAME 'two words' trailing stuff", "TT", 0, {"NAME", "two words"}},
      {"ab'c d", "TT", 0, {"ab'c", "d"}},
      {"abcdefgh xy ''", "LLL", 0, {"abcdef", "xy    ", "      "}},
      {"\"abc", "T", rt::kIoEnd, {"-"}},          // the line ends inside the text
      {"'ab'c", "T", rt::kIoConversion, {"-"}},   // no separator after the quote
  };
  for (const ReadCase& c : cases) checkRead(c);
}

TEST(FreeRead, RepeatCounts) {
  const ReadCase cases[] = {
      {"3*1.0", "RRR", 0, {"1.0", "1.0", "1.0"}},
      {"2*7 8", "III", 0, {"7", "7", "8"}},
      {"3*", "III", 0, {"-", "-", "-"}},
      {"2* 5", "III", 0, {"-", "-", "5"}},
      {"2*,5", "III", 0, {"-", "-", "5"}},
      {"1 2*", "III", 0, {"1", "-", "-"}},
      {"2*'x y'", "TT", 0, {"x y", "x y"}},
      {"5*1", "II", 0, {"1", "1"}},
      {"99999999999999999999*4", "I", 0, {"4"}},
      {"2*", "III", rt::kIoEnd, {"-", "-", "-"}},
      {"0*1", "I", rt::kIoConversion, {"-"}},
      {"2*x", "II", rt::kIoConversion, {"-", "-"}},
      {"*5", "T", 0, {"*5"}},  // no count before the asterisk: a plain text
  };
  for (const ReadCase& c : cases) checkRead(c);
}

TEST(FreeRead, Numbers) {
  const ReadCase cases[] = {
      {"1.5E3 1.5d-3 -2.5e+2 .5 5. 1.5-3 +2+2 1D2", "RRRRRRRR", 0,
       {"1500", "0.0015", "-250", "0.5", "5", "0.0015", "200", "100"}},
      {"6378137 -0.0 1.5e-300 0.1", "RRRR", 0, {"6378137", "-0.0", "1.5e-300", "0.1"}},
      {"299792458.D0 1.5-", "RR", rt::kIoConversion, {"299792458", "-"}},
      {"+12 -0 007", "III", 0, {"12", "0", "7"}},
      {"2147483647 -2147483648", "II", 0, {"2147483647", "-2147483648"}},
  };
  for (const ReadCase& c : cases) checkRead(c);
}

TEST(FreeRead, ConversionErrors) {
  const ReadCase cases[] = {
      {"1.5", "I", rt::kIoConversion, {"-"}},
      {"1e3", "I", rt::kIoConversion, {"-"}},
      {"2147483648", "I", rt::kIoConversion, {"-"}},
      {"+", "I", rt::kIoConversion, {"-"}},
      {"'1'", "I", rt::kIoConversion, {"-"}},
      {"12a", "I", rt::kIoConversion, {"-"}},
      {"abc", "R", rt::kIoConversion, {"-"}},
      {"-", "R", rt::kIoConversion, {"-"}},
      {".", "R", rt::kIoConversion, {"-"}},
      {"1.5e", "R", rt::kIoConversion, {"-"}},
      {"1.5E+", "R", rt::kIoConversion, {"-"}},
      {"1.5.2", "R", rt::kIoConversion, {"-"}},
      {"1.5x3", "R", rt::kIoConversion, {"-"}},
      {"1e400", "R", rt::kIoConversion, {"-"}},
      {"inf", "R", rt::kIoConversion, {"-"}},
      {"0x10", "R", rt::kIoConversion, {"-"}},
      {"\"2.0\"", "R", rt::kIoConversion, {"-"}},
      // Values before the bad one keep what they received.
      {"1 x 3", "III", rt::kIoConversion, {"1", "-", "-"}},
  };
  for (const ReadCase& c : cases) checkRead(c);
}

TEST(FreeWrite, Records) {
  struct WriteCase {
    const char* what;
    rt::FItems items;
    std::vector<std::string> records;
  };
  const std::string text70(70, 'a');
  const std::string text100(100, 'b');
  const WriteCase cases[] = {
      {"no values", {}, {" "}},
      {"one integer", {5}, {"            5"}},
      {"two integers", {1, -23}, {"            1          -23"}},
      {"unit complaint",
       {" *** SR EXIT_PGM: Cannot close LFN", 998},
       {"  *** SR EXIT_PGM: Cannot close LFN          998"}},
      {"texts together", {"ab", "cd"}, {" abcd"}},
      {"text, integer, text", {"ab", 1, "cd"}, {" ab            1 cd"}},
      {"seven integers",
       {1, 2, 3, 4, 5, 6, 7},
       {"            1            2            3            4            5            6",
        "            7"}},
      {"text past column 79", {text70, "0123456789"}, {" " + text70, " 0123456789"}},
      {"text up to column 79", {text70, "01234567"}, {" " + text70 + "01234567"}},
      {"long text unchanged", {"x", text100}, {" x", " " + text100}},
      {"large integer", {1234567890123LL}, {" 1234567890123"}},
  };
  for (const WriteCase& c : cases) {
    EXPECT_EQ(rt::freeRecords(c.items), c.records) << c.what;
  }
}

TEST(FreeWrite, TextIsTheFirstRecord) {
  EXPECT_EQ(rt::freeText({2}), "            2");
  EXPECT_EQ(rt::freeText({2}).size(), 13u);
  EXPECT_EQ(rt::freeText({1, 2, 3, 4, 5, 6, 7}).size(), 78u);
  EXPECT_EQ(rt::freeText({}), " ");
}

TEST(FreeWrite, WritesRecordsToUnit) {
  std::ostringstream out;
  rt::setConsoleOutput(&out);
  rt::writeFree(6, {"Count:", 42});
  rt::writeFree(6, {});
  rt::setConsoleOutput(nullptr);
  EXPECT_EQ(out.str(), " Count:           42\n \n");
}

}  // namespace
