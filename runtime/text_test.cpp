#include "runtime/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(Text, FitCutsOrFillsWithBlanks) {
  EXPECT_EQ(rt::fit("abc", 5), "abc  ");
  EXPECT_EQ(rt::fit("abcdef", 4), "abcd");
  EXPECT_EQ(rt::fit("abc", 3), "abc");
  EXPECT_EQ(rt::fit("", 2), "  ");
  EXPECT_EQ(rt::fit("abc", 0), "");
}

TEST(Text, TrimmingDropsTrailingBlanksAndNuls) {
  const std::string withNuls = "ab c \0 \0"s;
  EXPECT_EQ(rt::trimLen(withNuls), 4u);
  EXPECT_EQ(rt::trimRight(withNuls), "ab c");
  EXPECT_EQ(rt::trimRight("  lead"), "  lead");
  EXPECT_EQ(rt::trimRight("a\t"), "a\t");  // a tab is not a blank
  EXPECT_EQ(rt::trimLen("   "), 0u);
  EXPECT_TRUE(rt::isBlank(""));
  EXPECT_TRUE(rt::isBlank("  \0 "s));
  EXPECT_FALSE(rt::isBlank(" \t "));
  EXPECT_FALSE(rt::isBlank("   x"));
}

TEST(Text, PaddedComparison) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {"ABC", "ABC     ", true}, {"ABC     ", "ABC", true}, {"", "   ", true},
      {"ABC", "ABCD", false},     {"abc", "ABC", false},    {" ABC", "ABC", false},
      {"AB C", "AB", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rt::eqPadded(c.a, c.b), c.equal) << '"' << c.a << "\" vs \"" << c.b << '"';
  }
}

TEST(Text, LeftAdjustMovesLeadingBlanksOnly) {
  EXPECT_EQ(rt::leftAdjust("  ab"), "ab  ");
  EXPECT_EQ(rt::leftAdjust("  a b "), "a b   ");
  EXPECT_EQ(rt::leftAdjust("\tab"), "\tab");  // tabs stay in place
  EXPECT_EQ(rt::leftAdjust(" \tab"), "\tab ");
  EXPECT_EQ(rt::leftAdjust("    "), "    ");
  EXPECT_EQ(rt::leftAdjust(""), "");
}

TEST(Text, UpperCaseOnlyAtoZ) {
  EXPECT_EQ(rt::upperAZ("readOnly-09_{}"), "READONLY-09_{}");
  const std::string high = "\xe9t\xe9";  // bytes above 127 stay as they are
  EXPECT_EQ(rt::upperAZ(high), "\xe9T\xe9");
  EXPECT_EQ(rt::upperAZ("`az{"), "`AZ{");
}

}  // namespace

// Both ways of naming the columns of a line: from a column counted from 0
// with a length, and first..last counted from 1; what lies past the line's
// end is left out, never read.
TEST(Text, ColumnsOfALine) {
  const std::string_view line = "ABCDEFGH";
  EXPECT_EQ(rt::columns(line, 2, 3), "CDE");
  EXPECT_EQ(rt::columns(line, 6, 5), "GH");
  EXPECT_EQ(rt::columns(line, 8, 2), "");
  EXPECT_EQ(rt::columns(line, 20, 2), "");

  const struct {
    long first, last;
    std::string_view expected;
  } cases[] = {
      {1, 8, "ABCDEFGH"}, {3, 5, "CDE"}, {4, 4, "D"},  {7, 12, "GH"}, {9, 12, ""},
      {30, 40, ""},       {0, 2, "AB"},  {-5, 1, "A"}, {5, 4, ""},    {6, 2, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rt::columnRange(line, c.first, c.last), c.expected) << c.first << ".." << c.last;
  }
}
