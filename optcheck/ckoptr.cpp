// Real values of a keyword, with optional inclusive or exclusive bounds.
#include <algorithm>
#include <cmath>

#include "frame/m_vand.h"
#include "optcheck/ckopt.h"
#include "runtime/text.h"

namespace {

const ckopt_frame::t_member member{"CKOPTR", "ckoptr", "that"};

class t_realValues : public ckopt_frame::t_number_values<double> {
 public:
  t_realValues(std::string_view keyWord, const std::vector<std::string>& keyValue,
               const t_ckoptrOpt& opt)
      : t_number_values(keyWord, keyValue, opt, "A real string is expected for keyword",
                        "The string could not be converted to a real!"),
        opt_(opt) {}

  void ownChecks() override {
    const std::string first = ckopt_frame::fatalText(member);
    if (opt_.ge && opt_.gt)
      ckopt_frame::fatal("(/,A,2(/,16X,A),/)",
                         {first, "You have specified the optional arguments \"ge\" and \"gt\"",
                          "in the same call of the subroutine."});
    if (opt_.le && opt_.lt)
      ckopt_frame::fatal("(/,A,2(/,16X,A),/)",
                         {first, "You have specified the optional arguments \"le\" and \"lt\"",
                          "in the same call of the subroutine."});
  }

  void allocate(std::size_t n) override {
    t_number_values::allocate(n);
    outOfRange_.assign(n, 0);
  }

  // The written number has the width of its format: the position text comes
  // after it.
  std::size_t positionBase(int cls, std::size_t longest) const override {
    if (cls != 3) return longest;
    return std::max<std::size_t>(longest, useExponent() ? 12 : 19);
  }

 protected:
  // Comparisons that are false for an unordered value: it passes the bound.
  bool outOfRange(std::size_t i, double number) override {
    const bool out = (opt_.ge && number < *opt_.ge) || (opt_.gt && number <= *opt_.gt) ||
                     (opt_.le && number > *opt_.le) || (opt_.lt && number >= *opt_.lt);
    outOfRange_[i] = out ? 1 : 0;
    return out;
  }
  std::string numberText(double x) const override {
    return rt::trimRight(rt::formatLine(useExponent() ? "(E12.4)" : "(F19.4)", {x}));
  }
  void rangeRecord() const override {
    const std::optional<double> lower = opt_.ge ? opt_.ge : opt_.gt;
    const std::optional<double> upper = opt_.le ? opt_.le : opt_.lt;
    if (lower && upper) {
      const std::string op =
          std::string(opt_.ge ? " <= value <" : " < value <") + (opt_.le ? "=" : "");
      rt::writeFmt(LFNMSG, "(16X,A,A)",
                   {"Valid range: ", '(' + numberText(*lower) + op + numberText(*upper) + " )"});
    } else if (lower || upper) {
      const char* op = opt_.ge   ? "( value >="
                       : opt_.gt ? "( value >"
                       : opt_.le ? "( value <="
                                 : "( value <";
      rt::writeFmt(LFNMSG, "(16X,A,A)",
                   {"Expected:    ", op + numberText(lower ? *lower : *upper) + " )"});
    }
  }

 private:
  // The number format of the range block: the exponent form when a bound or
  // the smallest or largest out-of-range magnitude is above 1.0E5 or between
  // 0 and 0.001, else fixed point in 19 columns.
  bool useExponent() const {
    std::vector<double> considered;
    if (opt_.ge) considered.push_back(*opt_.ge);
    if (opt_.gt) considered.push_back(*opt_.gt);
    if (opt_.le) considered.push_back(*opt_.le);
    if (opt_.lt) considered.push_back(*opt_.lt);
    bool any = false;
    double smallest = 0.0, largest = 0.0;
    for (std::size_t i = 0; i < outOfRange_.size(); ++i) {
      if (!outOfRange_[i]) continue;
      const double a = std::fabs(converted(i));
      if (!any || a < smallest) smallest = a;
      if (!any || a > largest) largest = a;
      any = true;
    }
    if (any) {
      considered.push_back(smallest);
      considered.push_back(largest);
    }
    return std::any_of(considered.begin(), considered.end(), [](double x) {
      const double a = std::fabs(x);
      return a > 1.0e5 || (a > 0.0 && a < 0.001);
    });
  }

  const t_ckoptrOpt& opt_;
  std::vector<char> outOfRange_;
};

}  // namespace

void CKOPTR(int mode, std::string_view keyWord, const std::vector<std::string>& keyValue,
            std::string_view routineName, std::string_view descr, int irc, int& errCount,
            const t_ckoptrOpt& opt) {
  t_realValues values(keyWord, keyValue, opt);
  ckopt_frame::runMember(member, mode, keyWord, keyValue, routineName, descr, irc, errCount, opt,
                         values);
}
