// A check box or a set of radio buttons: each item a keyword whose single
// value is 1 (set) or 0; a set of several needs exactly one item set.
#include <algorithm>

#include "frame/m_vand.h"
#include "frame/readkeys.h"
#include "optcheck/ckopt.h"
#include "runtime/freeform.h"
#include "runtime/text.h"

namespace {

const ckopt_frame::t_member member{"CKOPTB", "ckoptb", ""};

// "Item", the position right-aligned in as many columns as the count has
// digits, and a colon, in 13 characters.
std::string itemLabel(std::size_t i, std::size_t n) {
  const std::size_t digits = std::to_string(n).size();
  std::string number = std::to_string(i);
  number.insert(0, digits > number.size() ? digits - number.size() : 0, ' ');
  return rt::fit("Item" + number + ":", 13);
}

// The value of one item as CKOPTI in mode 1 takes it (a single value, 0 or
// 1, read as CKOPTI reads a number): 1 set, 0 not set, -1 in error.
int itemValue(const std::string& keyWord) {
  if (!KEYEXI(keyWord)) return -1;  // a failed lookup
  std::vector<std::string> value;
  int irc = 0;
  READKEYS(keyWord, value, irc);
  if (irc != 0 || value.size() > 1) return -1;
  if (value.empty()) return 0;
  const ckopt_frame::t_numberRead<int> read = ckopt_frame::readNumber<int>(value[0]);
  if (read.cls != 0) return -1;
  if (!read.number) return 0;  // nothing assigned (a lone slash)
  return *read.number == 0 || *read.number == 1 ? *read.number : -1;
}

// What the check of one item found: its value 1, its value 0 (or, in mode 0,
// a bad value, which only warns), or an error.
enum class ItemState { NotSet, Set, InError };

// The rule of a set, the one decision of CKOPTB and CKOPTB_ITEM: the set
// stands when no item is in error and exactly one item is set, or when a
// single check box is not set. Every item is looked at, in order.
struct SetDecision {
  int item = 0;      // position (from 1) of the last item set, 0 when none is
  int selected = 0;  // number of items set
  bool inError = false;
  std::size_t n = 0;

  bool stands() const { return !inError && (selected == 1 || (selected == 0 && n == 1)); }
};

template <typename StateOf>
SetDecision decideSet(std::size_t n, StateOf&& stateOf) {
  SetDecision set;
  set.n = n;
  for (std::size_t i = 0; i < n; ++i) {
    switch (stateOf(i)) {
      case ItemState::Set:
        set.item = static_cast<int>(i + 1);
        ++set.selected;
        break;
      case ItemState::InError: set.inError = true; break;
      case ItemState::NotSet: break;
    }
  }
  return set;
}

}  // namespace

int CKOPTB_ITEM(const std::vector<std::string>& keyWord) {
  const SetDecision set = decideSet(keyWord.size(), [&](std::size_t i) {
    const int v = itemValue(keyWord[i]);
    return v < 0 ? ItemState::InError : v == 1 ? ItemState::Set : ItemState::NotSet;
  });
  return set.stands() ? set.item : -1;
}

void CKOPTB(int mode, const std::vector<std::string>& keyWord, std::string_view routineName,
            std::string_view descr, int& errCount, const t_ckoptbOpt& opt) {
  const std::size_t n = keyWord.size();
  const std::string descr45 = rt::fit(descr, 45);
  const std::string_view firstKey = n > 0 ? std::string_view(keyWord[0]) : std::string_view();
  ckopt_frame::descrCheck(member, descr, "Keyword 1: ", firstKey);
  if (mode != 0 && mode != 1) ckopt_frame::fatalMode(member, std::nullopt);

  if (opt.result1 && n == 1) *opt.result1 = 0;
  if (opt.result1 && opt.init) *opt.result1 = *opt.init;
  if (opt.isSet) *opt.isSet = false;

  // Each item is checked by CKOPTI, which reports a bad value.
  const SetDecision set = decideSet(n, [&](std::size_t i) {
    std::vector<std::string> value;
    int irc = 0;
    READKEYS(keyWord[i], value, irc);
    // A value without a converted value (blank or not an integer, in mode 0)
    // leaves 0: the item is not selected.
    const int before = errCount;
    int item = 0;
    CKOPTI(mode, keyWord[i], value, routineName, descr45, irc, errCount,
           {.ge = 0, .le = 1, .maxVal = 1, .error = 0, .result1 = &item});
    if (errCount != before) return ItemState::InError;
    return item != 0 ? ItemState::Set : ItemState::NotSet;
  });
  if (set.selected > 0) {
    if (opt.result1) *opt.result1 = set.item;
    if (opt.isSet) *opt.isSet = true;
  }

  if (set.inError) {
    if (opt.result1 && opt.error) *opt.result1 = *opt.error;
    if (opt.isSet) *opt.isSet = false;
    return;
  }

  if (set.stands()) return;
  if (mode == 1) {
    if (opt.result1 && opt.error) *opt.result1 = *opt.error;
    if (opt.isSet) *opt.isSet = false;
    errCount += 1;
  }

  ckopt_frame::writeHead(member, mode,
                         set.selected > 1
                             ? "More than one item was selected for a set of radiobottons."
                             : "No item was selected for a set of radiobottons.",
                         firstKey, descr45, routineName);
  ckopt_frame::writeDetails(opt.column, opt.entry, opt.lineNum);
  for (std::size_t i = 0; i < n; ++i) {
    std::vector<std::string> value;
    int irc = 0;
    READKEYS(keyWord[i], value, irc);
    const std::string first = irc == 0 && !value.empty() ? rt::trimRight(value[0]) : "";
    rt::writeFmt(LFNMSG, "(16X,A,A)",
                 {itemLabel(i + 1, n), rt::trimRight(keyWord[i]) + " = " + first});
  }
  ckopt_frame::writeBlankRecord();
}
