// Free texts of a keyword: blank values, a largest length and the length of
// the caller's result texts.
#include "frame/m_vand.h"
#include "frame/widths.h"
#include "optcheck/ckopt.h"
#include "runtime/text.h"

namespace {

const ckopt_frame::t_member member{"CKOPTL", "ckoptl", "that"};

std::optional<std::string> text(std::optional<std::string_view> t) {
  if (!t) return std::nullopt;
  return std::string(*t);
}

class t_textValues : public ckopt_frame::t_typed_values<std::string> {
 public:
  t_textValues(std::string_view keyWord, const std::vector<std::string>& keyValue,
               const t_ckoptlOpt& opt)
      : t_typed_values(keyWord, keyValue, text(opt.init), text(opt.error), opt.result1,
                       opt.result2),
        opt_(opt) {}

  int classify(std::size_t i, const std::string& value) override {
    if (rt::isBlank(value)) {
      if (!opt_.empty) return 1;
      setConverted(i, std::string(*opt_.empty));
      return 0;
    }
    setConverted(i, rt::fit(value, kLineLen));
    if (opt_.maxLen && static_cast<long long>(rt::trimLen(value)) > *opt_.maxLen) return 2;
    std::string cut = converted(i);
    if (result1_) cut = rt::fit(cut, result1_->size());
    if (result2_) cut = rt::fit(cut, (*result2_)[i].size());
    if (!rt::eqPadded(cut, value)) {
      setConverted(i, cut);
      return 3;
    }
    return 0;
  }

  std::string sentence(int cls) const override {
    if (cls == 1) return "An character string is expected for keyword \"" + keyWord_ + "\"";
    return "The input string for keyword \"" + keyWord_ + "\" is too long.";
  }
  std::string valueText(int, std::size_t i) const override {
    return "Bad value:   \"" + rt::trimRight(keyValue_[i]) + "\"";
  }
  std::size_t lineWidth() const override { return kLineLen; }
  void afterValueLine(int cls, std::size_t i) const override {
    if (cls == 2) {
      auto [found, allowed] =
          ckopt_frame::alignedPair(static_cast<long long>(rt::trimLen(keyValue_[i])), *opt_.maxLen);
      rt::writeFmt(LFNMSG, "(16X,A,A)", {"Length found:", found});
      rt::writeFmt(LFNMSG, "(16X,A,A)", {"Max length:  ", allowed});
    } else if (cls == 3) {
      rt::writeFmt(LFNMSG, "(16X,A,A)",
                   {"Value used:  ", '"' + rt::trimRight(converted(i)) + '"'});
    }
  }
  void closing(int cls) const override {
    if (cls == 1) ckopt_frame::writeClosing("An empty string is not allowed here!");
  }

 protected:
  void put(std::string& target, const std::string& v) const override {
    target = rt::fit(v, target.size());
  }

 private:
  const t_ckoptlOpt& opt_;
};

}  // namespace

void CKOPTL(int mode, std::string_view keyWord, const std::vector<std::string>& keyValue,
            std::string_view routineName, std::string_view descr, int irc, int& errCount,
            const t_ckoptlOpt& opt) {
  t_textValues values(keyWord, keyValue, opt);
  ckopt_frame::runMember(member, mode, keyWord, keyValue, routineName, descr, irc, errCount, opt,
                         values);
}
