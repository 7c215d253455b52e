// Integer values of a keyword, with optional inclusive bounds.
#include <algorithm>

#include "frame/m_vand.h"
#include "optcheck/ckopt.h"

namespace {

const ckopt_frame::t_member member{"CKOPTI", "ckopti", "than"};

using ckopt_frame::freeInt;

class t_intValues : public ckopt_frame::t_number_values<int> {
 public:
  t_intValues(std::string_view keyWord, const std::vector<std::string>& keyValue,
              const t_ckoptiOpt& opt)
      : t_number_values(keyWord, keyValue, opt, "An integer string is expected for keyword",
                        "The string could not be converted to an integer!"),
        opt_(opt) {}

  // The written integer has 13 characters: the position text comes after it.
  std::size_t positionBase(int cls, std::size_t longest) const override {
    return cls == 3 ? std::max<std::size_t>(longest, 13) : longest;
  }

 protected:
  bool outOfRange(std::size_t, int number) override {
    return (opt_.ge && number < *opt_.ge) || (opt_.le && number > *opt_.le);
  }
  std::string numberText(int number) const override { return freeInt(number); }
  void rangeRecord() const override {
    if (opt_.ge && opt_.le) {
      rt::writeFmt(
          LFNMSG, "(16X,A,A)",
          {"Valid range: ", '(' + freeInt(*opt_.ge) + " <= value <=" + freeInt(*opt_.le) + " )"});
    } else if (opt_.ge) {
      rt::writeFmt(LFNMSG, "(16X,A,A)", {"Expected:    ", "( value >=" + freeInt(*opt_.ge) + " )"});
    } else if (opt_.le) {
      rt::writeFmt(LFNMSG, "(16X,A,A)", {"Expected:    ", "( value <=" + freeInt(*opt_.le) + " )"});
    }
  }

 private:
  const t_ckoptiOpt& opt_;
};

}  // namespace

void CKOPTI(int mode, std::string_view keyWord, const std::vector<std::string>& keyValue,
            std::string_view routineName, std::string_view descr, int irc, int& errCount,
            const t_ckoptiOpt& opt) {
  t_intValues values(keyWord, keyValue, opt);
  ckopt_frame::runMember(member, mode, keyWord, keyValue, routineName, descr, irc, errCount, opt,
                         values);
}
