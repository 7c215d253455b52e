// The steps of an option check that all members share: description check,
// presets, failed lookup, mode check, largest number of values, count check,
// the values, the results and one diagnostic block per class.
#include "optcheck/ckopt.h"

#include <algorithm>
#include <climits>

#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/readkeys.h"
#include "runtime/freeform.h"
#include "runtime/text.h"

namespace ckopt_frame {

namespace {

// " ### SR CKOPTI: " (mode 0) or " *** SR CKOPTI: " (any other mode).
std::string prefix(const t_member& m, int mode) {
  return std::string(mode == 0 ? " ### SR " : " *** SR ") + std::string(m.name) + ": ";
}

// Trimmed name of the keyword input file (blank before the list is read).
std::string inputFileName() {
  std::vector<std::string> value;
  int irc = 0;
  READKEYS(" ", value, irc);
  if (irc != 0 || value.empty()) return {};
  return rt::trimRight(value[0]);
}

// Trimmed description for the "Option:" record: the option's own
// description (at most 45 characters) or, when it has none, descr cut to 45.
std::string optionText(std::string_view keyWord, std::string_view descr) {
  std::string text;
  DESCRP(keyWord, 45, text, 45);
  if (rt::isBlank(text)) text = rt::fit(descr, 45);
  return rt::trimRight(text);
}

// Position text of value i (from 0) of several: "in line" and the position in
// free form, trimmed on the right (twenty characters).
std::string positionText(std::size_t i) {
  return "in line" + freeInt(static_cast<long long>(i + 1));
}

}  // namespace

std::string freeInt(long long v) { return rt::trimRight(rt::freeText({rt::FItem(v)})); }

std::pair<std::string, std::string> alignedPair(long long a, long long b) {
  std::string ta = freeInt(a);
  std::string tb = freeInt(b);
  std::size_t width = std::max<std::size_t>({ta.size(), tb.size(), 5});
  ta.insert(0, width - ta.size(), ' ');
  tb.insert(0, width - tb.size(), ' ');
  return {ta, tb};
}

void descrCheck(const t_member& m, std::string_view descr, std::string_view keyLabel,
                std::string_view keyWord) {
  std::size_t len = rt::trimLen(descr);
  if (len <= 45) return;
  rt::writeFmt(
      LFNMSG, "(/,A,2(/,16X,A),/,16X,A,I4,A,/,16X,A,/)",
      {" ### SR " + std::string(m.name) + ": Dear programmer, please give a shorter description",
       "for this option - not more than 45 chr. are possible", "to get a \"nice\" error message.",
       "You have a description with", static_cast<long long>(len), " characters.",
       std::string(keyLabel) + rt::trimRight(keyWord)});
}

std::string fatalText(const t_member& m) {
  return " *** SR " + std::string(m.name) + ": Dear programmer, you did a FATAL ERROR!!!";
}

void fatal(std::string_view fmt, const rt::FItems& items) {
  rt::writeFmt(LFNMSG, fmt, items);
  EXITRC(2);
}

void fatalMode(const t_member& m, std::optional<std::string_view> keyWord) {
  if (keyWord)
    fatal("(/,A,2(/,16X,A),/)", {fatalText(m), "The first parameter has to be \"0\" or \"1\".",
                                 "Keyword:  " + rt::trimRight(*keyWord)});
  fatal("(/,A,/,16X,A,/)", {fatalText(m), "The first parameter has to be \"0\" or \"1\"."});
}

void writeHead(const t_member& m, int mode, std::string_view sentence, std::string_view keyWord,
               std::string_view descr, std::string_view routineName) {
  rt::writeFmt(LFNMSG, "(/,A)", {prefix(m, mode) + std::string(sentence)});
  rt::writeFmt(LFNMSG, "(16X,A,A)", {"Input file:  ", inputFileName()});
  rt::writeFmt(LFNMSG, "(16X,A,A)", {"Called by:   ", rt::trimRight(routineName)});
  rt::writeFmt(LFNMSG, "(16X,A)", {"Option:      " + optionText(keyWord, descr)});
}

void writeDetails(std::optional<std::string_view> column, std::optional<std::string_view> entry,
                  std::optional<int> lineNum) {
  if (column) rt::writeFmt(LFNMSG, "(16X,A,A)", {"Column:      ", rt::trimRight(*column)});
  if (entry) rt::writeFmt(LFNMSG, "(16X,A,A)", {"Entry for:   ", rt::trimRight(*entry)});
  if (lineNum) rt::writeFmt(LFNMSG, "(16X,A,I5)", {"Line number: ", *lineNum});
}

void writeBlankRecord() { rt::writeFree(LFNMSG, {}); }

std::string quotedValue(std::string_view value) {
  return "Bad value:   \" " + rt::trimRight(value) + " \"";
}

void writeClosing(std::string_view text) {
  rt::writeFmt(LFNMSG, "(16X,A,A)", {std::string(13, ' '), std::string(text)});
}

t_member_values::t_member_values(std::string_view keyWord,
                                 const std::vector<std::string>& keyValue)
    : keyWord_(rt::trimRight(keyWord)), keyValue_(keyValue) {}

std::string overPosition(std::string_view text, std::size_t width, std::size_t base,
                         std::string_view position) {
  std::string line = rt::fit(text, width);
  std::size_t from = base + 19;  // column base + 20, counted from 1
  for (std::size_t k = 0; k < position.size() && from + k < width; ++k)
    line[from + k] = position[k];
  return line;
}

void t_member_values::storeResult1(const std::vector<int>& status, int mode) {
  for (std::size_t i = 0; i < status.size(); ++i) {
    if (status[i] == 0) {
      storeConverted1(i);
      return;
    }
  }
  if (mode == 1 && hasError()) {
    storeError1();
    return;
  }
  if (!status.empty()) storeConverted1(0);
}

namespace {

void writeBlock(const t_call& c, const t_member_values& v, int cls, const std::vector<int>& status,
                std::size_t longest) {
  const std::size_t n = c.keyValue.size();
  writeHead(c.member, c.mode, v.sentence(cls), c.keyWord, c.descr, c.routineName);
  // "Entry for:" and "Line number:" only for a keyword of one value.
  if (n == 1)
    writeDetails(c.column, c.entry, c.lineNum);
  else
    writeDetails(c.column, std::nullopt, std::nullopt);
  const std::size_t width = v.lineWidth();
  for (std::size_t i = 0; i < n; ++i) {
    if (status[i] != cls) continue;
    std::string position = n > 1 ? positionText(i) : std::string();
    if (v.blankLine(cls)) {
      rt::writeFmt(LFNMSG, "(16X,A)",
                   {rt::fit("Bad value:   \" \"  " + rt::trimRight(position), width)});
    } else {
      std::string line =
          n > 1 ? overPosition(v.valueText(cls, i), width, v.positionBase(cls, longest), position)
                : rt::fit(v.valueText(cls, i), width);
      rt::writeFmt(LFNMSG, "(16X,A)", {rt::trimRight(line)});
    }
    v.afterValueLine(cls, i);
  }
  v.closing(cls);
  if (v.blankEnd()) writeBlankRecord();
}

}  // namespace

void run(t_call& c, t_member_values& v) {
  const t_member& m = c.member;
  descrCheck(m, c.descr, "Keyword:  ", c.keyWord);
  v.earlyChecks();

  if (c.numVal) *c.numVal = 0;
  v.presetInit();

  if (c.irc != 0) {
    c.errCount += 1;
    if (c.nGood) *c.nGood = 0;
    if (c.nBad) *c.nBad = 99;
    v.storeErrorAll();
    return;
  }

  if (c.mode != 0 && c.mode != 1) fatalMode(m, c.keyWord);
  v.ownChecks();

  const std::size_t n = c.keyValue.size();
  const std::optional<std::size_t> size2 = v.result2Size();
  long long maxNum = static_cast<long long>(size2 ? *size2 : n);
  if (c.maxVal) {
    if (size2 && static_cast<long long>(*size2) < *c.maxVal)
      fatal("(/,A,3(/,16X,A),/)",
            {fatalText(m),
             "The optional parameter \"maxVal\" is bigger " + std::string(m.p2Word) + " the",
             "size of the \"result\" array.", "Keyword:  " + rt::trimRight(c.keyWord)});
    maxNum = std::min<long long>(maxNum, *c.maxVal);
  }
  maxNum = std::clamp<long long>(maxNum, INT_MIN, INT_MAX);

  const int before = c.errCount;
  int count = 0;
  CKOPTN(1, c.keyWord, c.keyValue, count, c.routineName, c.descr, c.errCount,
         static_cast<int>(maxNum));
  if (c.errCount != before) {
    if (c.nBad) *c.nBad = static_cast<int>(maxNum);
    if (c.nGood) *c.nGood = 0;
    v.storeErrorAll();
    return;
  }

  std::vector<int> status;
  if (!allocates([&] { v.allocate(n); })) {
    const long long extent = static_cast<long long>(n);
    if (const std::optional<long long> first = v.firstExtent())
      ALCERR(1, "result", {*first, extent}, m.lower);
    else
      ALCERR(1, "result", {extent}, m.lower);
    return;
  }
  allocOrStop([&] { status.assign(n, 0); }, v.statusArrayName(), {static_cast<long long>(n)},
              m.lower);
  if (c.nBad) *c.nBad = 0;
  if (c.nGood) *c.nGood = 0;
  int counts[4] = {0, 0, 0, 0};

  std::size_t longest = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::string& value = c.keyValue[i];
    longest = std::max(longest, rt::trimLen(value));
    const int s = v.classify(i, value);
    status[i] = s;
    ++counts[s];
    if (s != 0) {
      c.errCount += c.mode;
      if (c.nBad) ++*c.nBad;
    } else if (c.nGood) {
      ++*c.nGood;
    }
    if (s == 0 || c.mode == 0)
      v.storeConverted2(i);
    else
      v.storeError2(i);
  }
  if (c.numVal) *c.numVal = static_cast<int>(n);
  v.storeResult1(status, c.mode);

  for (int cls = 1; cls <= 3; ++cls)
    if (counts[cls] != 0) writeBlock(c, v, cls, status, longest);
}

}  // namespace ckopt_frame
