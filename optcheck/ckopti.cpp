// Integer values of a keyword, with optional inclusive bounds.
#include <algorithm>

#include "frame/m_vand.h"
#include "optcheck/ckopt.h"
#include "runtime/freeform.h"
#include "runtime/text.h"

namespace {

const ckopt_frame::t_member member{"CKOPTI", "ckopti", "than"};

// An integer written in free form (13 characters), trimmed on the right.
std::string freeInt(int v) { return rt::trimRight(rt::freeText({rt::FItem(v)})); }

class t_intValues : public ckopt_frame::t_typed_values<int> {
 public:
  t_intValues(std::string_view keyWord, const std::vector<std::string>& keyValue,
              const t_ckoptiOpt& opt)
      : t_typed_values(opt.init, opt.error, opt.result1, opt.result2),
        keyWord_(rt::trimRight(keyWord)),
        keyValue_(keyValue),
        opt_(opt) {}

  int classify(std::size_t i, const std::string& value) override {
    if (rt::isBlank(value)) {
      if (!opt_.empty) return 1;
      setConverted(i, *opt_.empty);
      return 0;
    }
    int number = 0;
    rt::FreeRead read = rt::readFree(value, {rt::FreeTarget(number)});
    if (!read.ok()) return 2;
    if (read.set.empty() || !read.set[0]) return 0;  // nothing assigned (a lone slash)
    setConverted(i, number);
    if ((opt_.ge && number < *opt_.ge) || (opt_.le && number > *opt_.le)) return 3;
    return 0;
  }

  std::string sentence(int cls) const override {
    if (cls == 3) return "The value for keyword \"" + keyWord_ + "\" exceeds the range.";
    return "An integer string is expected for keyword \"" + keyWord_ + "\"";
  }
  std::string valueText(int cls, std::size_t i) const override {
    if (cls == 3) return "Bad value:   " + freeInt(converted(i));
    return "Bad value:   \" " + rt::trimRight(keyValue_[i]) + " \"";
  }
  std::size_t positionBase(int cls, std::size_t longest) const override {
    return cls == 3 ? std::max<std::size_t>(longest, 13) : longest;
  }
  void closing(int cls) const override {
    if (cls == 1) {
      rt::writeFmt(LFNMSG, "(16X,A,A)",
                   {std::string(13, ' '), "An empty string is not allowed here!"});
    } else if (cls == 2) {
      rt::writeFmt(LFNMSG, "(16X,A,A)",
                   {std::string(13, ' '), "The string could not be converted to an integer!"});
    } else if (opt_.ge && opt_.le) {
      rt::writeFmt(
          LFNMSG, "(16X,A,A)",
          {"Valid range: ", "(" + freeInt(*opt_.ge) + " <= value <=" + freeInt(*opt_.le) + " )"});
    } else if (opt_.ge) {
      rt::writeFmt(LFNMSG, "(16X,A,A)", {"Expected:    ", "( value >=" + freeInt(*opt_.ge) + " )"});
    } else if (opt_.le) {
      rt::writeFmt(LFNMSG, "(16X,A,A)", {"Expected:    ", "( value <=" + freeInt(*opt_.le) + " )"});
    }
  }

 private:
  std::string keyWord_;
  const std::vector<std::string>& keyValue_;
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
