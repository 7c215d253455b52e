#include "runtime/fixedtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "runtime/text.h"

namespace {

using Name = rt::FixedText<16>;

TEST(FixedText, HoldsExactlyItsLengthInline) {
  static_assert(sizeof(Name) == 16);
  static_assert(sizeof(rt::FixedText<5>) == 5);
  static_assert(std::is_trivially_copyable_v<Name>);
  struct Case {
    std::string in;
    std::string held;
  };
  const Case cases[] = {
      {"", std::string(16, ' ')},
      {"ZIMM", "ZIMM            "},
      {"ZIMM 14001M004", "ZIMM 14001M004  "},
      {"EXACTLY SIXTEEN.", "EXACTLY SIXTEEN."},
      {"LONGER THAN SIXTEEN CHARACTERS", "LONGER THAN SIXT"},
      {std::string("A\0B", 3), std::string("A\0B", 3) + std::string(13, ' ')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    const Name n(c.in);
    EXPECT_EQ(n.view(), c.held);
    EXPECT_EQ(n.str(), rt::fit(c.in, 16));  // as the blank-padded texts are cut or filled
    std::string_view asView = n;
    EXPECT_EQ(asView, c.held);
  }
  EXPECT_EQ(Name().view(), std::string(16, ' '));
  Name n("OLD NAME");
  n.assign("NEW");
  EXPECT_EQ(n.view(), "NEW             ");
  EXPECT_EQ(n[0], 'N');
  EXPECT_EQ(n[15], ' ');
}

TEST(FixedText, OrdersByCharacterCodeAsStringsDo) {
  // Blank before digits and letters, upper before lower case, a byte above
  // 127 after all of them; trailing blanks compare as characters.
  const std::vector<std::string> texts = {"b", "B", "\xC4X", "AB", "A B", "B1", " Z", "A", "a"};
  std::vector<Name> names(texts.begin(), texts.end());
  std::vector<std::string> padded;
  for (const auto& t : texts) padded.push_back(rt::fit(t, 16));
  std::sort(names.begin(), names.end());
  std::sort(padded.begin(), padded.end());
  ASSERT_EQ(names.size(), padded.size());
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i].str(), padded[i]) << i;

  EXPECT_EQ(Name("ABC"), Name("ABC             "));
  EXPECT_NE(Name("ABC"), Name("abc"));  // case-sensitive
  EXPECT_LT(Name("ABC"), Name("ABC1"));
  EXPECT_GT(Name("\xC4"), Name("z"));
}

TEST(FixedText, EqualTextsHashEqually) {
  // A name hashes as its 16 characters do, held anywhere: a blank-padded
  // string, a view into a larger buffer at an odd place.
  const std::string padded = rt::fit("ALPHA", 16);
  const std::string buffer = "x" + padded + "ALPHAB";
  EXPECT_EQ(std::hash<Name>{}(Name("ALPHA")), rt::hashText(padded));
  EXPECT_EQ(rt::hashText(std::string_view(buffer).substr(1, 16)), rt::hashText(padded));
  // Texts that differ in one character, in any place (the full words and
  // the rest after them), or in their length only, hash differently.
  const std::string base = "ZIMM 14001M004 X";  // 16 characters: two words
  const std::string text13 = base.substr(0, 13);  // a word and 5 characters
  for (const std::string& text : {base, text13}) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      std::string other = text;
      other[i] ^= 0x01;
      EXPECT_NE(rt::hashText(other), rt::hashText(text)) << "'" << other << "'";
    }
  }
  EXPECT_NE(std::hash<Name>{}(Name(base)), std::hash<Name>{}(Name(text13)));
  EXPECT_NE(rt::hashText(text13), rt::hashText(text13 + " "));
  EXPECT_NE(rt::hashText(""), rt::hashText(std::string(1, '\0')));
  std::unordered_set<Name> set;
  for (int i = 0; i < 1000; ++i) set.insert(Name("ST" + std::to_string(i)));
  set.insert(Name("ST7"));
  EXPECT_EQ(set.size(), 1000u);
  EXPECT_EQ(set.count(Name("ST999")), 1u);
  EXPECT_EQ(set.count(Name("ST1000")), 0u);
}

TEST(FixedText, PrintsAllItsCharacters) {
  std::ostringstream out;
  out << '[' << rt::FixedText<5>("AB") << ']';
  EXPECT_EQ(out.str(), "[AB   ]");
}

}  // namespace
