// Keyword input file: reading it into the keyword list.
#include "frame/readinpf.h"

#include <new>
#include <string>
#include <vector>

#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/opnfil.h"
#include "frame/widths.h"
#include "runtime/format.h"
#include "runtime/freeform.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

constexpr int kBlankLimit = 1000;

// Name and value count of a keyword line; false when either cannot be read.
bool readKeywordLine(const std::string& line, std::string& name, int& count) {
  const rt::FreeRead read =
      rt::readFree(line, {rt::FreeTarget(name, kKeywordLen), rt::FreeTarget(count)});
  return read.ok() && read.set.size() == 2 && read.set[0] && read.set[1];
}

// The block of a keyword line that cannot be decoded: the line is shown
// up to its first NUL byte, if any.
[[noreturn]] void decodingError(const t_inpkey& list, const std::string& line) {
  rt::writeFmt(LFNMSG, "(/,A,/,A,A,/,A,A,/)",
               {"*** SR READKEYS: Error decoding keyword line",
                "                 panel: ", rt::trimRight(list.fileName),
                "                 line : ", rt::trimRight(line.substr(0, line.find('\0')))});
  EXITRC(2);
}

// An input failure that no routine checks: the keyword input file and the
// line at which reading it failed.
[[noreturn]] void readFailure(const t_inpkey& list, const char* what, const std::string& line) {
  throw rt::IoFailure(rt::trimRight(list.fileName), "read",
                      std::string(what) + " line: " + rt::trimRight(line));
}

// Clean-up of a value: enclosing hashes, then hashes inside double quotes.
void cleanValue(std::string& value) {
  std::size_t last = rt::trimLen(value);  // L, counted from 1
  if (last >= 2 && value[0] == '#' && value[last - 1] == '#') {
    value = rt::fit(value.substr(1, last - 2), kLineLen);
    last = rt::trimLen(value);
  }
  // i and j are positions counted from 1, as the characters at i-1 and j-1.
  std::size_t i = 1;
  while (last >= 3 && i <= last - 3) {
    std::size_t next = i + 1;
    if (value[i - 1] == '"' && value[i] == '#') {
      std::size_t j = 0;
      for (std::size_t k = i + 2; k <= last - 1; ++k) {
        if (value[k - 1] == '"') break;
        if (value[k - 1] == '#' && value[k] == '"') {
          j = k;
          break;
        }
      }
      if (j != 0) {
        value.erase(j - 1, 1);
        value.erase(i, 1);
        value = rt::fit(value, kLineLen);
        last = rt::trimLen(value);
        next = j - 1;
      }
    }
    i = next;
  }
}

// The value of one value line: the whole line when it holds more than two
// double quotes, otherwise its first free-form item.
std::string valueOfLine(const t_inpkey& list, const std::string& line) {
  if (NUMCHR(line, '"') > 2) return line;
  std::string value(kLineLen, ' ');
  if (!rt::readFree(line, {rt::FreeTarget(value, kLineLen)}).ok()) {
    readFailure(list, "cannot decode value", line);
  }
  return value;
}

}  // namespace

int NUMCHR(std::string_view string, char chr, int* iPos) {
  int count = 0;
  if (iPos != nullptr) *iPos = 0;
  for (std::size_t p = string.find(chr); p != std::string_view::npos;
       p = string.find(chr, p + 1)) {
    if (count == 0 && iPos != nullptr) *iPos = static_cast<int>(p) + 1;
    ++count;
  }
  return count;
}

void GETCMD(std::string& command) {
  const std::size_t len = command.size();
  std::string line(len, ' ');
  for (int i = 1; i <= rt::argCount(); ++i) {
    const std::string arg = rt::fit(rt::argument(i), kLineLen);
    line = rt::fit(rt::trimRight(line) + " " + rt::trimRight(arg), len);
  }
  command = rt::leftAdjust(line);
}

void NEXTLINE(int lfn, int leftJust, std::string& line, int& irc) {
  int nBlank = 0;
  for (;;) {
    if (nBlank > kBlankLimit) {
      line.assign(kLineLen, ' ');
      irc = 1;
      return;
    }
    std::string record;
    if (rt::readRecord(lfn, record) != 0) {
      line.assign(kLineLen, ' ');
      irc = -1;
      return;
    }
    record = rt::fit(record, kLineLen);
    if (leftJust == 1) record = rt::leftAdjust(record);
    if (rt::isBlank(record)) {
      ++nBlank;
      continue;
    }
    if (record[0] == '#' || record[0] == '!' || record[0] == '*') continue;
    line = record;
    irc = 0;
    return;
  }
}

void READINPF(std::string_view inpFileName, t_inpkey& list) {
  if (list.readState > 0 && rt::trimLen(inpFileName) > 0 &&
      rt::eqPadded(list.fileName, inpFileName)) {
    return;
  }

  INPKINIT(list);
  list.readState = 1;

  if (!rt::isBlank(inpFileName)) {
    list.fileName = rt::fit(inpFileName, kLineLen);
  } else {
    std::string command(kLineLen, ' ');
    GETCMD(command);
    list.fileName = command;
  }

  int iostat = 0;
  OPNFIL(LFNRD, list.fileName, "OLD", "FORMATTED", "READONLY", "", iostat);
  OPNERR(LFNMSG, LFNRD, iostat, list.fileName, "readInpf");

  // First pass: count the keyword lines.
  std::string line;
  int irc = 0;
  long long nKeys = 0;
  for (;;) {
    NEXTLINE(LFNRD, 1, line, irc);
    if (irc != 0) break;
    ++nKeys;
    // Every keyword line and value line is a text of the run: one that
    // holds a NUL byte is a keyword that cannot be decoded, shown by its
    // keyword line.
    if (rt::hasNul(line)) decodingError(list, line);
    std::string name(kKeywordLen, ' ');
    int count = 0;
    if (!readKeywordLine(line, name, count)) decodingError(list, line);
    // The value lines; only the physical end of the file stops the skipping.
    if (count >= 2) {
      for (int i = 0; i < count; ++i) {
        std::string skipped;
        int ircSkip = 0;
        NEXTLINE(LFNRD, 1, skipped, ircSkip);
        if (ircSkip < 0) break;
        if (rt::hasNul(skipped)) decodingError(list, line);
      }
    }
  }

  allocOrStop([&] { list.keys.resize(static_cast<std::size_t>(nKeys)); }, "inpKey%keys", {nKeys},
              "readInpf");
  list.keyCount = static_cast<int>(nKeys);
  for (t_key& key : list.keys) KEYINIT(key);
  rt::rewindUnit(LFNRD);

  // Second pass: fill the entries.
  NEXTLINE(LFNRD, 1, line, irc);
  for (std::size_t iKey = 0; iKey < list.keys.size() && irc == 0; ++iKey) {
    t_key& key = list.keys[iKey];
    std::string name(kKeywordLen, ' ');
    int count = 0;
    if (!readKeywordLine(line, name, count)) readFailure(list, "cannot decode keyword", line);
    key.keyName = name;
    // A negative count announces no value line and stands for no value at
    // all: it is taken as count 0, one blank value, so that every option
    // check sees the keyword as given without a value.
    if (count < 0) count = 0;

    // The values are collected as they are read, so that a count larger than
    // the file fails at its end instead of reserving memory first.
    const auto readValues = [&] {
      if (count == 0) {
        key.value.assign(1, std::string(kLineLen, ' '));
      } else if (count == 1) {
        int firstQuote = 0;
        if (NUMCHR(line, '"', &firstQuote) > 2) {
          key.value.push_back(rt::fit(line.substr(static_cast<std::size_t>(firstQuote - 1)),
                                      kLineLen));
        } else {
          std::string lineName(kKeywordLen, ' ');
          int lineCount = 0;
          std::string value(kLineLen, ' ');
          if (!rt::readFree(line, {rt::FreeTarget(lineName, kKeywordLen), rt::FreeTarget(lineCount),
                                   rt::FreeTarget(value, kLineLen)})
                   .ok()) {
            readFailure(list, "no value on keyword", line);
          }
          key.value.push_back(value);
        }
      } else {
        for (int i = 0; i < count; ++i) {
          std::string valueLine;
          int ircValue = 0;
          NEXTLINE(LFNRD, 1, valueLine, ircValue);
          if (ircValue != 0) readFailure(list, "value lines missing after keyword", line);
          key.value.push_back(valueOfLine(list, valueLine));
        }
      }
    };
    allocOrStop(readValues, "inpKey%keys(ikey)%value", {std::max(count, 1)}, "readkeys");

    if (count >= 1)
      for (std::string& value : key.value) cleanValue(value);

    if (rt::eqPadded(key.keyName, "DELETE_FILES")) {
      allocOrStop(
          [&] {
            std::vector<std::string> delFil(key.value.begin(), key.value.begin() + count);
            list.delFil.swap(delFil);
          },
          "inpKey%delFil", {count}, "readInpf");
      list.delCount = count;
    }

    NEXTLINE(LFNRD, 1, line, irc);
  }

  rt::closeUnit(LFNRD);

  // Each entry of the delete list that names a keyword becomes that
  // keyword's first value; a keyword without values names no file.
  for (std::string& entry : list.delFil) {
    for (const t_key& key : list.keys) {
      if (rt::eqPadded(key.keyName, entry)) {
        entry = key.value.empty() ? std::string(kLineLen, ' ') : key.value[0];
        break;
      }
    }
  }

  list.readState = 2;
}
