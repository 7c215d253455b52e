// Check boxes and sets of radio buttons.
#include "optcheck/ckopt.h"
#include "optcheck/ckopt_fixture.h"

#include <optional>

namespace {

class ButtonTest : public OptCheckTest {
 protected:
  // Keywords RADIO_1, RADIO_2, ... with the given single values; returns
  // their names.
  static std::vector<std::string> radios(const std::vector<std::string>& values) {
    inpKey.keys.clear();
    std::vector<std::string> names;
    for (std::size_t i = 0; i < values.size(); ++i) {
      names.push_back("RADIO_" + std::to_string(i + 1));
      addKey(names.back(), {values[i]});
    }
    return names;
  }

  static Lines setBlock(const char* prefix, bool moreThanOne, const Lines& details) {
    Lines out = head(std::string(prefix) +
                         (moreThanOne ? "More than one item was selected for a set of radiobottons."
                                      : "No item was selected for a set of radiobottons."),
                     "hminpi", "Residual system");
    for (const auto& d : details) out.push_back(in16(d));
    out.push_back(" ");
    return out;
  }
};

struct ButtonCase {
  const char* name;
  int mode;
  std::vector<std::string> values;
  t_ckoptbOpt opt;  // without the outputs
  int errDelta;
  int result1;
  bool isSet;
  Lines block;
};

TEST_F(ButtonTest, SetsAndTheirBlocks) {
  const char* E = " *** SR CKOPTB: ";
  const char* W = " ### SR CKOPTB: ";
  const Lines items101 = {"Item1:       RADIO_1 = 1", "Item2:       RADIO_2 = 0",
                          "Item3:       RADIO_3 = 1"};
  const Lines items000 = {"Item1:       RADIO_1 = 0", "Item2:       RADIO_2 = 0",
                          "Item3:       RADIO_3 = 0"};
  const Lines rangeBlock =
      join({head(" *** SR CKOPTI: The value for keyword \"RADIO_1\" exceeds the range.", "hminpi",
                 "Residual system"),
            {in16("Bad value:   " + std::string(12, ' ') + "2"),
             in16("Valid range: (            0 <= value <=            1 )"), " "}});
  Lines rangeWarn = rangeBlock;
  rangeWarn[1] = " ### SR CKOPTI: The value for keyword \"RADIO_1\" exceeds the range.";

  // clang-format off
  const std::vector<ButtonCase> cases = {
      {"check box not set", 1, {"0"}, {}, 0, 0, false, {}},
      {"check box not set, with init", 1, {"0"}, {.init = 5}, 0, 5, false, {}},
      {"check box set", 1, {"1"}, {}, 0, 1, true, {}},
      {"one radio button of three", 1, {"0", "1", "0"}, {}, 0, 2, true, {}},
      {"two radio buttons, mode 1", 1, {"1", "0", "1"}, {.error = -1}, 1, -1, false,
       setBlock(E, true, items101)},
      {"two radio buttons, mode 0", 0, {"1", "0", "1"}, {.error = -1}, 0, 3, true,
       setBlock(W, true, items101)},
      {"no radio button", 1, {"0", "0", "0"}, {.error = -1}, 1, -1, false,
       setBlock(E, false, items000)},
      {"no radio button, with column, entry and line number", 0, {"0", "0"},
       {.column = "Type", .lineNum = 3, .entry = "HLM"}, 0, -9, false,
       setBlock(W, false,
                {"Column:      Type", "Entry for:   HLM", "Line number:     3",
                 "Item1:       RADIO_1 = 0", "Item2:       RADIO_2 = 0"})},
      {"empty list", 1, {}, {.error = -1}, 1, -1, false, setBlock(E, false, {})},
      // A blank item has no value in mode 0: it is not selected.
      {"blank item, mode 0", 0, {"", "1"}, {.error = -1}, 0, 2, true,
       join({head(" ### SR CKOPTI: An integer string is expected for keyword \"RADIO_1\"", "hminpi",
                  "Residual system"),
             {in16(rt::fit("Bad value:   \" \"  ", 80)),
              in16(std::string(13, ' ') + "An empty string is not allowed here!"), " "}})},
      {"item out of range, mode 1", 1, {"2", "0", "0"}, {.error = -1}, 1, -1, false, rangeBlock},
      {"item out of range, mode 0: counts as selected", 0, {"2", "0", "0"}, {.error = -1}, 0, 1,
       true, rangeWarn},
  };
  // clang-format on
  for (const ButtonCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> names = radios(c.values);
    int errCount = 0, result1 = -9;
    bool isSet = !c.isSet;
    t_ckoptbOpt opt = c.opt;
    opt.result1 = &result1;
    opt.isSet = &isSet;
    CKOPTB(c.mode, names, "hminpi", "Residual system", errCount, opt);
    EXPECT_EQ(records(), c.block);
    EXPECT_EQ(errCount, c.errDelta);
    EXPECT_EQ(result1, c.result1);
    EXPECT_EQ(isSet, c.isSet);
  }
}

// An item with two values fails the count check, which counts in mode 0 too.
TEST_F(ButtonTest, ItemWithTwoValues) {
  inpKey.keys.clear();
  addKey("RADIO_1", {"1", "0"});
  addKey("RADIO_2", {"0"});
  int errCount = 0, result1 = 0;
  bool isSet = true;
  CKOPTB(0, {"RADIO_1", "RADIO_2"}, "hminpi", "Residual system", errCount,
         {.error = 0, .result1 = &result1, .isSet = &isSet});
  EXPECT_EQ(records(),
            join({head(" *** SR CKOPTN: Too many items found for keyword \"RADIO_1\".", "hminpi",
                       "Residual system"),
                  {in16("Num of items:            2"), in16("Max of items:            1"), " "}}));
  EXPECT_EQ(errCount, 1);
  EXPECT_EQ(result1, 0);
  EXPECT_FALSE(isSet);
}

TEST_F(ButtonTest, ItemLabelsOfTenItems) {
  const std::vector<std::string> names = radios(std::vector<std::string>(10, "0"));
  int errCount = 0;
  CKOPTB(0, names, "hminpi", "Residual system", errCount);
  Lines items;
  for (int i = 1; i <= 9; ++i)
    items.push_back("Item " + std::to_string(i) + ":      RADIO_" + std::to_string(i) + " = 0");
  items.push_back("Item10:      RADIO_10 = 0");
  EXPECT_EQ(records(), setBlock(" ### SR CKOPTB: ", false, items));
  EXPECT_EQ(errCount, 0);
}

TEST_F(ButtonTest, LongDescriptionWarnsWithTheFirstKeyword) {
  const std::vector<std::string> names = radios({"0", "0"});
  const std::string descr50 = std::string(45, 'r') + "XXXXX";
  int errCount = 0;
  CKOPTB(1, names, "hminpi", descr50, errCount);
  EXPECT_EQ(
      records(),
      join({{"", " ### SR CKOPTB: Dear programmer, please give a shorter description",
             in16("for this option - not more than 45 chr. are possible"),
             in16("to get a \"nice\" error message."),
             in16("You have a description with  50 characters."), in16("Keyword 1: RADIO_1"), ""},
            head(" *** SR CKOPTB: No item was selected for a set of radiobottons.", "hminpi",
                 std::string(45, 'r')),
            {in16("Item1:       RADIO_1 = 0"), in16("Item2:       RADIO_2 = 0"), " "}}));
  EXPECT_EQ(errCount, 1);
}

TEST_F(ButtonTest, MissingKeywordCountsOnce) {
  const std::vector<std::string> names = radios({"1"});
  int errCount = 0, result1 = 0;
  bool isSet = true;
  CKOPTB(0, {"RADIO_1", "RADIO_X"}, "hminpi", "Residual system", errCount,
         {.error = 7, .result1 = &result1, .isSet = &isSet});
  EXPECT_EQ(errCount, 1);
  EXPECT_EQ(result1, 7);
  EXPECT_FALSE(isSet);
}

// The item found without a message is the one CKOPTB in mode 1 takes: for
// check boxes and sets of every kind of value, also missing keywords and
// keywords without or with several values.
TEST_F(ButtonTest, ItemFoundSilentlyAsCkoptbFindsIt) {
  using Item = std::optional<Lines>;  // values of one keyword; none: no such keyword
  const std::vector<std::vector<Item>> sets = {
      {Lines{"0"}},   {Lines{"1"}},     {Lines{"2"}},   {Lines{"-1"}},  {Lines{""}},
      {Lines{"/"}},   {Lines{" 1"}},    {Lines{"01"}},  {Lines{"+1"}},  {Lines{"1 0"}},
      {Lines{"1,"}},  {Lines{"1.0"}},   {Lines{"x"}},   {Lines{"'1'"}}, {Lines{}},
      {Lines{"1", "0"}}, {std::nullopt},
      {Lines{"1"}, Lines{"0"}},  {Lines{"0"}, Lines{"1"}},  {Lines{"1"}, Lines{"1"}},
      {Lines{"0"}, Lines{"0"}},  {Lines{"/"}, Lines{"1"}},  {Lines{"0"}, Lines{"x"}},
      {Lines{"0"}, Lines{}},     {Lines{}, Lines{"1"}},     {Lines{"0"}, std::nullopt},
      {std::nullopt, Lines{"1"}}, {Lines{"0"}, Lines{"1", "1"}},
      {Lines{"0"}, Lines{"0"}, Lines{"1"}}, {},
  };
  for (const std::vector<Item>& set : sets) {
    inpKey.keys.clear();
    std::vector<std::string> names;
    std::string trace;
    for (std::size_t i = 0; i < set.size(); ++i) {
      names.push_back("RADIO_" + std::to_string(i + 1));
      if (!set[i]) {
        trace += " (missing)";
        continue;
      }
      addKey(names.back(), *set[i]);
      trace += " (";
      for (const std::string& v : *set[i]) trace += "\"" + v + "\"";
      trace += ")";
    }
    SCOPED_TRACE(trace);
    const int item = CKOPTB_ITEM(names);
    EXPECT_EQ(records(), Lines{});
    int errCount = 0;
    int result1 = -9;
    CKOPTB(1, names, "hminpi", "Residual system", errCount,
           {.init = 0, .error = -1, .result1 = &result1});
    records();
    EXPECT_EQ(item, errCount == 0 ? result1 : -1);
  }
}

}  // namespace
