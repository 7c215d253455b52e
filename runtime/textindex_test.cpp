#include "runtime/textindex.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Name = rt::FixedText<16>;

std::vector<Name> names(const std::vector<std::string>& texts) { return {texts.begin(), texts.end()}; }

// The name "N<number>M001".
Name numbered(int number) {
  char text[32];
  std::snprintf(text, sizeof text, "N%dM001", number);
  return Name(text);
}

TEST(FirstIndex, FindsTheFirstOccurrence) {
  const std::vector<Name> keys = names({"ALPHA", "BRAVO", "BRAVO", "ALPHA", "CHARLIE", "alpha"});
  const rt::FirstIndex<16> index(keys);
  struct Case {
    const char* key;
    std::ptrdiff_t at;
  };
  const Case cases[] = {{"ALPHA", 0}, {"BRAVO", 1}, {"CHARLIE", 4}, {"alpha", 5},
                        {"DELTA", -1}, {"ALPH", -1}, {"", -1}};
  for (const Case& c : cases) EXPECT_EQ(index.find(Name(c.key)), c.at) << c.key;
  // A B B A: A is the earliest station with a later twin, although the
  // first repetition met in file order is the second B.
  EXPECT_EQ(index.firstRepeated(), 0);
}

TEST(FirstIndex, FirstRepeatedAndEmptyArrays) {
  struct Case {
    std::vector<std::string> keys;
    std::ptrdiff_t repeated;
  };
  const Case cases[] = {
      {{}, -1},
      {{"A"}, -1},
      {{"A", "B", "C"}, -1},
      {{"A", "B", "C", "B"}, 1},
      {{"A", "B", "C", "C", "A"}, 0},
      {{"A", "A", "A"}, 0},
      {{"x", "A", "a", "X"}, -1},
  };
  for (const Case& c : cases) {
    const std::vector<Name> keys = names(c.keys);
    const rt::FirstIndex<16> index(keys);
    EXPECT_EQ(index.firstRepeated(), c.repeated) << testing::PrintToString(c.keys);
  }
  const rt::FirstIndex<16> none;
  EXPECT_EQ(none.find(Name("A")), -1);
  EXPECT_EQ(none.firstRepeated(), -1);
}

TEST(FirstIndex, ManyKeysAgreeWithAPlainSearch) {
  // Names that differ in few characters and occur two or three times.
  std::vector<Name> keys;
  for (int i = 0; i < 20000; ++i) keys.push_back(numbered((i * 7919) % 9000));
  const rt::FirstIndex<16> index(keys);
  std::vector<Name> wanted;
  for (int v = 0; v < 9100; v += 7) wanted.push_back(numbered(v));
  std::size_t visited = 0;
  index.findEach(wanted, [&](std::size_t i, std::ptrdiff_t found) {
    EXPECT_EQ(i, visited++);
    std::ptrdiff_t expected = -1;
    for (std::size_t k = 0; k < keys.size(); ++k) {
      if (keys[k] == wanted[i]) {
        expected = static_cast<std::ptrdiff_t>(k);
        break;
      }
    }
    EXPECT_EQ(found, expected) << wanted[i];
  });
  EXPECT_EQ(visited, wanted.size());
}

}  // namespace
