// Table lines of a keyword split into a fixed number of column texts.
#include <algorithm>

#include "frame/m_vand.h"
#include "frame/widths.h"
#include "optcheck/ckopt.h"
#include "runtime/freeform.h"
#include "runtime/text.h"

namespace {

const ckopt_frame::t_member member{"CKOPTU", "ckoptu", "that"};

class t_tableValues : public ckopt_frame::t_member_values {
 public:
  t_tableValues(std::string_view keyWord, const std::vector<std::string>& keyValue, int numCol,
                const t_ckoptuOpt& opt)
      : t_member_values(keyWord, keyValue),
        numCol_(static_cast<std::size_t>(std::max(numCol, 0))),
        numColArg_(numCol),
        opt_(opt) {}

  void earlyChecks() override {
    check(opt_.init && opt_.init->size() < numCol_, "init");
    check(opt_.error && opt_.error->size() < numCol_, "error");
    check(opt_.result1 && opt_.result1->size() < numCol_, "result1");
    check(opt_.result2 && opt_.result2->size() < numCol_, "result2");
  }

  // The number of lines that result2 holds.
  std::optional<std::size_t> result2Size() const override {
    if (!opt_.result2) return std::nullopt;
    const t_colTexts& r = *opt_.result2;
    if (numCol_ == 0) return r.empty() ? 0 : r[0].size();
    std::size_t lines = r[0].size();
    for (std::size_t c = 1; c < numCol_; ++c) lines = std::min(lines, r[c].size());
    return lines;
  }

  void presetInit() override { putAll(opt_.init); }
  void storeErrorAll() override { putAll(opt_.error); }
  bool hasError() const override { return opt_.error.has_value(); }
  void storeConverted1(std::size_t i) override {
    if (opt_.result1)
      for (std::size_t c = 0; c < numCol_; ++c) put((*opt_.result1)[c], cells_[i][c]);
  }
  void storeError1() override {
    if (opt_.result1 && opt_.error)
      for (std::size_t c = 0; c < numCol_; ++c) put((*opt_.result1)[c], (*opt_.error)[c]);
  }
  void storeConverted2(std::size_t i) override {
    if (opt_.result2)
      for (std::size_t c = 0; c < numCol_; ++c) put((*opt_.result2)[c][i], cells_[i][c]);
  }
  void storeError2(std::size_t i) override {
    if (opt_.result2 && opt_.error)
      for (std::size_t c = 0; c < numCol_; ++c) put((*opt_.result2)[c][i], (*opt_.error)[c]);
  }

  std::optional<long long> firstExtent() const override { return numColArg_; }
  void allocate(std::size_t n) override {
    cells_.assign(n, std::vector<std::string>(numCol_, std::string(kLineLen, ' ')));
  }

  // A line that ends before every column has a value, or that is not valid
  // free-form input, is bad; columns left without a value stay blank.
  int classify(std::size_t i, const std::string& value) override {
    std::vector<rt::FreeTarget> targets;
    targets.reserve(numCol_);
    for (std::string& cell : cells_[i]) targets.emplace_back(cell, kLineLen);
    return rt::readFree(value, targets).ok() ? 0 : 1;
  }

  bool blankLine(int) const override { return false; }
  std::string sentence(int) const override {
    return "A set of string is expected for keyword \"" + keyWord_ + "\"";
  }
  std::string valueText(int, std::size_t i) const override {
    return "Bad value:   " + rt::trimRight(keyValue_[i]);
  }
  std::size_t lineWidth() const override { return kLineLen; }
  void closing(int) const override {
    rt::writeFmt(LFNMSG, "(16X,A,I5,A)", {"Expected:    ", numColArg_, " columns"});
    ckopt_frame::writeClosing("The string could not be extracted!");
  }
  bool blankEnd() const override { return false; }

 private:
  void check(bool tooSmall, std::string_view name) const {
    if (!tooSmall) return;
    ckopt_frame::fatal("(/,A,2(/,16X,A),/)",
                       {ckopt_frame::fatalText(member),
                        "The size of \"" + std::string(name) + "\" is smaller than \"numCol\".",
                        "Keyword:  " + keyWord_});
  }
  static void put(std::string& target, std::string_view v) { target = rt::fit(v, target.size()); }
  void putAll(const std::optional<std::span<const std::string>>& v) {
    if (!v) return;
    if (opt_.result1)
      for (std::size_t c = 0; c < numCol_; ++c) put((*opt_.result1)[c], (*v)[c]);
    if (opt_.result2)
      for (std::size_t c = 0; c < numCol_; ++c)
        for (std::string& cell : (*opt_.result2)[c]) put(cell, (*v)[c]);
  }

  std::size_t numCol_;
  int numColArg_;
  const t_ckoptuOpt& opt_;
  std::vector<std::vector<std::string>> cells_;
};

}  // namespace

void CKOPTU(int mode, std::string_view keyWord, const std::vector<std::string>& keyValue,
            std::string_view routineName, std::string_view descr, int irc, int& errCount,
            int numCol, const t_ckoptuOpt& opt) {
  t_tableValues values(keyWord, keyValue, numCol, opt);
  ckopt_frame::runMember(member, mode, keyWord, keyValue, routineName, descr, irc, errCount, opt,
                         values);
}
