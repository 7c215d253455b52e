// Choice of a keyword's values from a list of valid texts.
#include <algorithm>

#include "frame/m_vand.h"
#include "frame/widths.h"
#include "optcheck/ckopt.h"
#include "runtime/text.h"

namespace {

const ckopt_frame::t_member member{"CKOPTC", "ckoptc", "that"};

class t_choiceValues : public ckopt_frame::t_typed_values<int> {
 public:
  t_choiceValues(std::string_view keyWord, const std::vector<std::string>& keyValue,
                 const std::vector<std::string>& validVal, const t_ckoptcOpt& opt)
      : t_typed_values(keyWord, keyValue, opt.init, opt.error, opt.result1, opt.result2),
        validVal_(validVal),
        opt_(opt) {}

  void ownChecks() override {
    if (opt_.valueList && opt_.valueList->size() != validVal_.size())
      ckopt_frame::fatal(
          "(/,A,/,16X,A,2(/,16X,A,I5),/)",
          {ckopt_frame::fatalText(member),
           "The size of valid values und the value list is different:", "Number of valid values: ",
           static_cast<long long>(validVal_.size()),
           "Size of value list:     ", static_cast<long long>(opt_.valueList->size())});
  }

  // The only work array is the position of each value.
  std::string_view statusArrayName() const override { return "result"; }
  void allocate(std::size_t n) override {
    t_typed_values::allocate(n);
    position_.assign(n, -1);
  }

  // The last valid text equal to the value gives its position.
  int classify(std::size_t i, const std::string& value) override {
    for (std::size_t k = 0; k < validVal_.size(); ++k)
      if (rt::eqPadded(value, validVal_[k])) position_[i] = static_cast<int>(k + 1);
    if (position_[i] > 0) {
      setConverted(i, opt_.valueList ? (*opt_.valueList)[position_[i] - 1] : position_[i]);
      return 0;
    }
    if (opt_.otherVal) {
      setConverted(i, *opt_.otherVal);
      return 0;
    }
    setConverted(i, -1);
    return 1;
  }

  void storeResult1(const std::vector<int>&, int mode) override {
    if (!result1_) return;
    const auto matched = [](int p) { return p > 0; };
    const auto first = std::find_if(position_.begin(), position_.end(), matched);
    if (first != position_.end()) {
      if (opt_.valueList) {
        *result1_ = (*opt_.valueList)[*first - 1];
      } else {
        *result1_ = *std::find_if(position_.rbegin(), position_.rend(), matched);
      }
    } else if (opt_.otherVal) {
      *result1_ = *opt_.otherVal;
    } else if (mode == 1 && opt_.error) {
      *result1_ = *opt_.error;
    } else {
      *result1_ = -1;
    }
  }

  bool blankLine(int) const override { return false; }
  std::string sentence(int) const override {
    return "The input string for keyword \"" + keyWord_ + "\" is invalid.";
  }
  std::string valueText(int, std::size_t i) const override {
    return ckopt_frame::quotedValue(keyValue_[i]);
  }

  // The valid texts, as many to a line as fit before column 41 + M.
  void closing(int) const override {
    if (validVal_.empty()) return;
    std::size_t longest = 0;
    for (const std::string& v : validVal_) longest = std::max(longest, rt::trimLen(v));
    std::string line = rt::fit("Valid items: ", kMessageLineLen);
    std::size_t field = 0;
    for (std::size_t k = 0; k < validVal_.size(); ++k) {
      const bool last = k + 1 == validVal_.size();
      const std::string text = '"' + rt::trimRight(validVal_[k]) + '"' + (last ? " " : ",");
      const std::size_t from = 13 + field * (longest + 4);
      for (std::size_t c = 0; c < text.size() && from + c < line.size(); ++c)
        line[from + c] = text[c];
      ++field;
      if (rt::trimLen(line) + longest > 41 || last) {
        rt::writeFmt(LFNMSG, "(16X,A)", {rt::trimRight(line)});
        line = std::string(kMessageLineLen, ' ');
        field = 0;
      }
    }
  }

 private:
  const std::vector<std::string>& validVal_;
  const t_ckoptcOpt& opt_;
  std::vector<int> position_;
};

}  // namespace

void CKOPTC(int mode, std::string_view keyWord, const std::vector<std::string>& keyValue,
            const std::vector<std::string>& validVal, std::string_view routineName,
            std::string_view descr, int irc, int& errCount, const t_ckoptcOpt& opt) {
  t_choiceValues values(keyWord, keyValue, validVal, opt);
  ckopt_frame::runMember(member, mode, keyWord, keyValue, routineName, descr, irc, errCount, opt,
                         values);
}
