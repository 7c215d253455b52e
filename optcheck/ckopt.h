// Option checks: each member turns the values of one keyword (as READKEYS
// returned them) into the caller's typed results, checks them and reports bad
// values on the message unit LFNMSG.
//
// Modes: 0 bad values are warnings (" ### SR " blocks, nothing counted),
// 1 bad values are errors (" *** SR " blocks, each counted in errCount); any
// other mode is a programmer error that stops the run (EXITRC 2), as do the
// members' other checks of their own call.
//
// errCount is the caller's counter: a member never resets it. It grows by 1
// after a failed lookup (irc not 0) and when the keyword has more values than
// allowed, in either mode, and by the mode for every bad value. The caller
// stops the run once, after its last option, when it is not 0.
//
// Optional arguments, one style for the whole family: the member's own
// optional arguments and the common ones are fields of an options struct, in
// the order of the argument list, to be given with designated initialisers:
//
//   CKOPTI(1, "NUMBER", keyValue, "hminpi", descr, irc, errCount,
//          {.ge = 0, .le = 10, .error = 0, .result1 = &number});
//
// - an input is a std::optional (absent when it holds no value);
// - a scalar output is a pointer (absent when null);
// - an array of results is a std::optional<std::span<...>> (absent when it
//   holds no span); its number of elements is the size of the span.
// A text result keeps its declared length, the size() of the caller's string:
// every assignment to it blank-fills or cuts to that length (a caller that
// wants 16-character names passes strings of 16 blanks).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frame/widths.h"
#include "runtime/format.h"
#include "runtime/freeform.h"
#include "runtime/text.h"

// ---------------------------------------------------------------------------
// Count check: numVal := number of values (blank values count); when it
// exceeds maxNum the "Too many items found" block is written and errCount
// grows by mode. The value-checking members call it in mode 1.
void CKOPTN(int mode, std::string_view keyWord, const std::vector<std::string>& keyValue,
            int& numVal, std::string_view routineName, std::string_view descr, int& errCount,
            int maxNum);

// ---------------------------------------------------------------------------
// Integers, with optional inclusive bounds.
struct t_ckoptiOpt {
  std::optional<int> empty{};  // value of a blank value; without it a blank value is bad
  std::optional<int> ge{};     // good only when >= ge
  std::optional<int> le{};     // good only when <= le
  std::optional<std::string_view> column{};
  std::optional<int> lineNum{};
  std::optional<std::string_view> entry{};
  std::optional<int> maxVal{};  // largest number of values accepted
  std::optional<int> init{};    // preset of result1 and every element of result2
  std::optional<int> error{};   // stored for a bad value in mode 1 and after a failed call
  int* nBad = nullptr;
  int* nGood = nullptr;
  int* result1 = nullptr;                   // first good value
  int* numVal = nullptr;                    // number of values of the keyword
  std::optional<std::span<int>> result2{};  // one result per value
};
void CKOPTI(int mode, std::string_view keyWord, const std::vector<std::string>& keyValue,
            std::string_view routineName, std::string_view descr, int irc, int& errCount,
            const t_ckoptiOpt& opt = {});

// ---------------------------------------------------------------------------
// Double-precision numbers, with at most one lower bound (ge inclusive or gt
// exclusive) and at most one upper bound (le inclusive or lt exclusive).
struct t_ckoptrOpt {
  std::optional<double> empty{};
  std::optional<double> ge{};
  std::optional<double> le{};
  std::optional<double> gt{};
  std::optional<double> lt{};
  std::optional<std::string_view> column{};
  std::optional<int> lineNum{};
  std::optional<std::string_view> entry{};
  std::optional<int> maxVal{};
  std::optional<double> init{};
  std::optional<double> error{};
  int* nBad = nullptr;
  int* nGood = nullptr;
  double* result1 = nullptr;
  int* numVal = nullptr;
  std::optional<std::span<double>> result2{};
};
void CKOPTR(int mode, std::string_view keyWord, const std::vector<std::string>& keyValue,
            std::string_view routineName, std::string_view descr, int irc, int& errCount,
            const t_ckoptrOpt& opt = {});

// ---------------------------------------------------------------------------
// Free texts. result1 and the elements of result2 keep their declared lengths
// (their sizes); a value that loses a character other than a blank to them is
// bad.
struct t_ckoptlOpt {
  std::optional<std::string_view> empty{};  // replacement of a blank value
  std::optional<int> maxLen{};              // largest trimmed length of a value
  std::optional<std::string_view> column{};
  std::optional<int> lineNum{};
  std::optional<std::string_view> entry{};
  std::optional<int> maxVal{};
  std::optional<std::string_view> init{};
  std::optional<std::string_view> error{};
  int* nBad = nullptr;
  int* nGood = nullptr;
  std::string* result1 = nullptr;
  int* numVal = nullptr;
  std::optional<std::span<std::string>> result2{};
};
void CKOPTL(int mode, std::string_view keyWord, const std::vector<std::string>& keyValue,
            std::string_view routineName, std::string_view descr, int irc, int& errCount,
            const t_ckoptlOpt& opt = {});

// ---------------------------------------------------------------------------
// Choice from a list of valid texts (validVal, compared as blank-padded texts,
// case and leading blanks significant): the result is the position (from 1)
// of the matching valid text, or the valueList entry that belongs to it.
struct t_ckoptcOpt {
  std::optional<int> otherVal{};  // catch-all result: unmatched values are then good
  std::optional<std::string_view> column{};
  std::optional<int> lineNum{};
  std::optional<std::string_view> entry{};
  std::optional<int> maxVal{};
  std::optional<std::span<const int>> valueList{};  // one result per valid text
  std::optional<int> init{};
  std::optional<int> error{};
  int* nBad = nullptr;
  int* nGood = nullptr;
  int* result1 = nullptr;
  int* numVal = nullptr;
  std::optional<std::span<int>> result2{};
};
void CKOPTC(int mode, std::string_view keyWord, const std::vector<std::string>& keyValue,
            const std::vector<std::string>& validVal, std::string_view routineName,
            std::string_view descr, int irc, int& errCount, const t_ckoptcOpt& opt = {});

// ---------------------------------------------------------------------------
// Table lines split into numCol column texts (free-form reading, quoted texts
// may hold blanks). init, error and result1 hold one text per column (at least
// numCol elements); result2 is indexed [column][line]: (*result2)[c][j] is
// column c of line j, counted from 0, every column holding the same number of
// lines. Result texts keep their declared lengths (their sizes).
using t_colTexts = std::vector<std::vector<std::string>>;
struct t_ckoptuOpt {
  std::optional<std::string_view> column{};
  std::optional<int> lineNum{};
  std::optional<std::string_view> entry{};
  std::optional<int> maxVal{};
  std::optional<std::span<const std::string>> init{};
  std::optional<std::span<const std::string>> error{};
  int* nBad = nullptr;
  int* nGood = nullptr;
  std::optional<std::span<std::string>> result1{};
  int* numVal = nullptr;
  t_colTexts* result2 = nullptr;
};
void CKOPTU(int mode, std::string_view keyWord, const std::vector<std::string>& keyValue,
            std::string_view routineName, std::string_view descr, int irc, int& errCount,
            int numCol, const t_ckoptuOpt& opt = {});

// ---------------------------------------------------------------------------
// A check box (one keyword) or a set of radio buttons (several keywords of
// which exactly one must be "1"). The values are fetched with READKEYS and
// each checked by CKOPTI (a single 0 or 1).
struct t_ckoptbOpt {
  std::optional<std::string_view> column{};
  std::optional<int> lineNum{};
  std::optional<std::string_view> entry{};
  std::optional<int> init{};   // result1 before the check
  std::optional<int> error{};  // result1 when the set is in error
  int* result1 = nullptr;      // position (from 1) of the selected item
  bool* isSet = nullptr;       // true when an item is selected
};
void CKOPTB(int mode, const std::vector<std::string>& keyWord, std::string_view routineName,
            std::string_view descr, int& errCount, const t_ckoptbOpt& opt = {});

// What CKOPTB in mode 1 finds in the set, without writing anything: the
// position (from 1) of the one item set, 0 for a single check box that is
// not set, -1 when CKOPTB reports the set in error (its caller then gets
// the error value). For a decision that has to be made before the run
// writes anything.
int CKOPTB_ITEM(const std::vector<std::string>& keyWord);

// ---------------------------------------------------------------------------
// The steps that every member shares, written once; used by the members'
// own sources only, not by callers.
namespace ckopt_frame {

// Names and texts that tell the members apart.
struct t_member {
  std::string_view name;    // "CKOPTI": in every block
  std::string_view lower;   // "ckopti": in the allocation-failure report
  std::string_view p2Word;  // "than" or "that": the word before "the" in the maxVal block
};

// An integer written in free form (13 characters), trimmed on the right.
std::string freeInt(long long v);

// Two numbers written in free form, trimmed, blank-filled in front to one
// length and to at least 5 characters.
std::pair<std::string, std::string> alignedPair(long long a, long long b);

// Writes the warning for a description longer than 45 characters (when it
// is), with keyLabel ("Keyword:  " or "Keyword 1: ") and the keyword.
void descrCheck(const t_member& m, std::string_view descr, std::string_view keyLabel,
                std::string_view keyWord);

// Programmer errors: the block, then EXITRC(2).
[[noreturn]] void fatalMode(const t_member& m, std::optional<std::string_view> keyWord);
// The first text of every such block: " *** SR CKOPTI: Dear programmer, ...".
std::string fatalText(const t_member& m);
[[noreturn]] void fatal(std::string_view fmt, const rt::FItems& items);

// Records 1 to 4 of a diagnostic block: empty record and header, input file,
// caller, option.
void writeHead(const t_member& m, int mode, std::string_view sentence, std::string_view keyWord,
               std::string_view descr, std::string_view routineName);
// The records of the optional details, each when given, in this order:
// "Column:", "Entry for:", "Line number:".
void writeDetails(std::optional<std::string_view> column, std::optional<std::string_view> entry,
                  std::optional<int> lineNum);
// The closing record of a block: one blank.
void writeBlankRecord();

// The arguments that every value-checking member has.
struct t_call {
  const t_member& member;
  int mode;
  std::string_view keyWord;
  const std::vector<std::string>& keyValue;
  std::string_view routineName;
  std::string_view descr;
  int irc;
  int& errCount;
  std::optional<std::string_view> column;
  std::optional<int> lineNum;
  std::optional<std::string_view> entry;
  std::optional<int> maxVal;
  int* nBad;
  int* nGood;
  int* numVal;
};

// The value line of a value shown with its text: "Bad value:   ", a double
// quote, a blank, the trimmed value, a blank and a double quote.
std::string quotedValue(std::string_view value);
// A closing record of a block: 13 blanks and the text.
void writeClosing(std::string_view text);

// What a member adds to the shared steps: its results, its classification
// and the texts of its blocks. Statuses: 0 good, 1 to 3 the member's classes.
class t_member_values {
 public:
  t_member_values(std::string_view keyWord, const std::vector<std::string>& keyValue);
  virtual ~t_member_values() = default;

  // Checks of the call made right after the description check.
  virtual void earlyChecks() {}
  // Checks of the call made after the mode check.
  virtual void ownChecks() {}
  // Number of values the array of results can take; none without it.
  virtual std::optional<std::size_t> result2Size() const = 0;

  // Results: init into result1 and result2; error into both; one result.
  virtual void presetInit() = 0;
  virtual void storeErrorAll() = 0;
  virtual bool hasError() const = 0;
  virtual void storeConverted1(std::size_t i) = 0;
  virtual void storeError1() = 0;
  virtual void storeConverted2(std::size_t i) = 0;
  virtual void storeError2(std::size_t i) = 0;
  // result1 after the values; the shared rule unless a member has its own.
  virtual void storeResult1(const std::vector<int>& status, int mode);

  // Work arrays for n values (may throw std::bad_alloc or std::length_error).
  virtual void allocate(std::size_t n) = 0;
  // Extent of the converted values per value, reported before the count of
  // values (none: the array has one element per value).
  virtual std::optional<long long> firstExtent() const { return std::nullopt; }
  // Name of the statuses' array in the failure report.
  virtual std::string_view statusArrayName() const { return "irCode"; }
  // Status of value i, keeping its converted value.
  virtual int classify(std::size_t i, const std::string& value) = 0;

  // Texts of the blocks.
  virtual std::string sentence(int cls) const = 0;
  // True when the class's value line is the blank-value line, written in full.
  virtual bool blankLine(int cls) const { return cls == 1; }
  virtual std::string valueText(int cls, std::size_t i) const = 0;
  virtual std::size_t lineWidth() const { return kMessageLineLen; }
  // L for the position text of the class (a member may raise it).
  virtual std::size_t positionBase(int cls, std::size_t longest) const {
    (void)cls;
    return longest;
  }
  // Records after value i's line.
  virtual void afterValueLine(int cls, std::size_t i) const {
    (void)cls;
    (void)i;
  }
  // Closing records of the class.
  virtual void closing(int cls) const = 0;
  // False when the block ends with its last text record.
  virtual bool blankEnd() const { return true; }

 protected:
  std::string keyWord_;                       // trimmed, for the sentences
  const std::vector<std::string>& keyValue_;  // the values, for the value lines
};

// Runs the steps of a value-checking call.
void run(t_call& call, t_member_values& values);

// The same, with the common optional arguments taken from a member's options.
template <class Opt>
void runMember(const t_member& m, int mode, std::string_view keyWord,
               const std::vector<std::string>& keyValue, std::string_view routineName,
               std::string_view descr, int irc, int& errCount, const Opt& opt,
               t_member_values& values) {
  t_call call{m,         mode,       keyWord,  keyValue,   routineName,
              descr,     irc,        errCount, opt.column, opt.lineNum,
              opt.entry, opt.maxVal, opt.nBad, opt.nGood,  opt.numVal};
  run(call, values);
}

// The value line: `text` cut or blank-filled to width, with the position text
// written over it from column base + 20 on when there is one (nothing is
// written outside the line).
std::string overPosition(std::string_view text, std::size_t width, std::size_t base,
                         std::string_view position);

// Results of one type for the members whose values convert one by one:
// presets, error values and the converted values (a value may have none, and
// then leaves the result it would go to as it was).
template <class T>
class t_typed_values : public t_member_values {
 public:
  t_typed_values(std::string_view keyWord, const std::vector<std::string>& keyValue,
                 std::optional<T> init, std::optional<T> error, T* result1,
                 std::optional<std::span<T>> result2)
      : t_member_values(keyWord, keyValue),
        init_(std::move(init)),
        error_(std::move(error)),
        result1_(result1),
        result2_(result2) {}

  std::optional<std::size_t> result2Size() const override {
    if (!result2_) return std::nullopt;
    return result2_->size();
  }
  void presetInit() override { putAll(init_); }
  void storeErrorAll() override { putAll(error_); }
  bool hasError() const override { return error_.has_value(); }
  void storeConverted1(std::size_t i) override {
    if (result1_ && has_[i]) put(*result1_, conv_[i]);
  }
  void storeError1() override {
    if (result1_ && error_) put(*result1_, *error_);
  }
  void storeConverted2(std::size_t i) override {
    if (result2_ && has_[i]) put((*result2_)[i], conv_[i]);
  }
  void storeError2(std::size_t i) override {
    if (result2_ && error_) put((*result2_)[i], *error_);
  }
  void allocate(std::size_t n) override {
    conv_.assign(n, T{});
    has_.assign(n, 0);
  }

 protected:
  // Assignment to a result (texts keep the result's length).
  virtual void put(T& target, const T& v) const { target = v; }
  void setConverted(std::size_t i, T v) {
    conv_[i] = std::move(v);
    has_[i] = 1;
  }
  const T& converted(std::size_t i) const { return conv_[i]; }

  std::optional<T> init_;
  std::optional<T> error_;
  T* result1_;
  std::optional<std::span<T>> result2_;

 private:
  void putAll(const std::optional<T>& v) {
    if (!v) return;
    if (result1_) put(*result1_, *v);
    if (result2_)
      for (T& r : *result2_) put(r, *v);
  }
  std::vector<T> conv_;
  std::vector<char> has_;
};

// The numeric members (integers, reals): a blank value gives `empty` or is
// of class 1, any other value is read in free form as one number (its first
// item; class 2 when the reading fails) and then checked against the
// member's bounds (class 3). The member adds its bounds, the text of a
// number and the range record.
// How a number value reads: class 1 blank, class 2 not a number, class 0
// otherwise, with the number read (none when nothing is assigned, as by a
// lone slash).
template <class T>
struct t_numberRead {
  int cls = 0;
  std::optional<T> number{};
};

template <class T>
t_numberRead<T> readNumber(const std::string& value) {
  if (rt::isBlank(value)) return {1, std::nullopt};
  T number{};
  const rt::FreeRead read = rt::readFree(value, {rt::FreeTarget(number)});
  if (!read.ok()) return {2, std::nullopt};
  if (read.set.empty() || !read.set[0]) return {0, std::nullopt};  // nothing assigned
  return {0, number};
}

template <class T>
class t_number_values : public t_typed_values<T> {
 public:
  // `expected`: the sentence of classes 1 and 2 before the keyword;
  // `notConverted`: the closing text of class 2.
  template <class Opt>
  t_number_values(std::string_view keyWord, const std::vector<std::string>& keyValue,
                  const Opt& opt, std::string_view expected, std::string_view notConverted)
      : t_typed_values<T>(keyWord, keyValue, opt.init, opt.error, opt.result1, opt.result2),
        empty_(opt.empty),
        expected_(expected),
        notConverted_(notConverted) {}

  int classify(std::size_t i, const std::string& value) override {
    if (rt::isBlank(value) && empty_) {
      this->setConverted(i, *empty_);  // good, whatever the bounds
      return 0;
    }
    const t_numberRead<T> read = readNumber<T>(value);
    if (read.cls != 0 || !read.number) return read.cls;
    this->setConverted(i, *read.number);
    return outOfRange(i, *read.number) ? 3 : 0;
  }

  std::string sentence(int cls) const override {
    if (cls == 3) return "The value for keyword \"" + this->keyWord_ + "\" exceeds the range.";
    return std::string(expected_) + " \"" + this->keyWord_ + "\"";
  }
  std::string valueText(int cls, std::size_t i) const override {
    if (cls == 3) return "Bad value:   " + numberText(this->converted(i));
    return quotedValue(this->keyValue_[i]);
  }
  void closing(int cls) const override {
    if (cls == 1)
      writeClosing("An empty string is not allowed here!");
    else if (cls == 2)
      writeClosing(notConverted_);
    else
      rangeRecord();
  }

 protected:
  // True when the number read for value i lies outside the bounds.
  virtual bool outOfRange(std::size_t i, T number) = 0;
  // The text of a number in the value line and the range record.
  virtual std::string numberText(T number) const = 0;
  // The closing record of class 3.
  virtual void rangeRecord() const = 0;

 private:
  std::optional<T> empty_;
  std::string_view expected_;
  std::string_view notConverted_;
};

}  // namespace ckopt_frame
