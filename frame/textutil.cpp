// Text and file-name utilities.
#include "frame/textutil.h"

#include <string>

#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/opnfil.h"
#include "frame/readkeys.h"
#include "frame/widths.h"
#include "runtime/format.h"
#include "runtime/text.h"
#include "runtime/units.h"

int LENTR1(std::string_view string) {
  const int len = static_cast<int>(rt::trimLen(string));
  return (len == 0) ? 1 : len;
}

int LENTRM(std::string_view string) { return static_cast<int>(rt::trimLen(string)); }

namespace {

// Stores a part into an out-text: cut or blank-filled to the text's length;
// an empty out-text receives the part as it is.
void setPart(std::string& target, std::string_view part) {
  target = target.empty() ? std::string(part) : rt::fit(part, target.size());
}

void blankOut(std::string& target) { target.assign(target.size(), ' '); }

}  // namespace

void FNSPLT(int mode, std::string& filePath, std::string& node, std::string& device,
            std::string& dir, std::string& name, std::string& ext, std::string& ver, int& irc) {
  for (std::string* part : {&node, &device, &dir, &name, &ext, &ver}) blankOut(*part);

  if (LENTRM(filePath) == 0) {
    irc = 1;
    return;
  }
  filePath = rt::leftAdjust(filePath);
  const int t = LENTRM(filePath);

  // Last colon, last backslash and the last dot behind the last backslash.
  int d = 0;
  int p = 0;
  int e = 0;
  for (int i = t; i >= 1; --i) {
    const char c = filePath[static_cast<std::size_t>(i - 1)];
    if (c == ':' && d == 0) {
      d = i;
    } else if (c == '\\' && p == 0) {
      p = i;
    } else if (c == '.' && p == 0 && e == 0) {
      e = i;
    }
  }

  if (d != 0 && ((p != 0 && d > p) || (e != 0 && d > e))) {
    irc = 2;
    return;
  }

  const bool keep = (mode == 1);
  const int dirEnd = (p != 0) ? p : d;  // an unset backslash counts as the colon
  if (d != 0) setPart(device, rt::columnRange(filePath, 1, keep ? d : d - 1));
  if (p != 0) setPart(dir, rt::columnRange(filePath, d + 1, keep ? p : p - 1));
  std::string namePart;
  if (e != 0) {
    namePart = rt::columnRange(filePath, dirEnd + 1, keep ? e : e - 1);
    setPart(ext, rt::columnRange(filePath, e + 1, t));
  } else {
    namePart = rt::columnRange(filePath, dirEnd + 1, t);
  }
  setPart(name, namePart);

  if (keep) {
    irc = (rt::trimRight(namePart) == ".") ? 2 : 0;
  } else {
    irc = rt::isBlank(namePart) ? 2 : 0;
  }
}

int LINCOUNT(std::string_view filKey, int nSkip, int* nRest) {
  if (nRest != nullptr) *nRest = 0;

  std::string fileName(kLineLen, ' ');
  int irc = 0;
  GTFLNA(0, filKey, fileName, irc, kLineLen);
  if (irc != 0 || rt::isBlank(fileName)) {
    bool exist = false;
    INQUIRE({.file = rt::trimRight(filKey), .exist = &exist});
    if (!exist) return 0;
    fileName = rt::fit(filKey, kLineLen);
  }

  int iostat = 0;
  OPNFIL(LFNRD, fileName, "OLD", "FORMATTED", "READONLY", "", iostat);
  OPNERR(LFNMSG, LFNRD, iostat, fileName, "linCount");

  // The lines as the unit holds them (at most kLineLen characters each): a line
  // is blank when all of them are.
  std::string_view line;
  for (int i = 0; i < nSkip; ++i) {
    if (rt::readRecordView(LFNRD, line) != 0) {
      rt::closeUnit(LFNRD);
      return 0;
    }
  }

  int count = 0;
  bool blankSeen = false;
  while (rt::readRecordView(LFNRD, line) == 0) {
    if (!blankSeen && !rt::isBlank(line)) {
      ++count;
      continue;
    }
    blankSeen = true;
    if (nRest == nullptr) break;
    ++*nRest;
  }
  rt::closeUnit(LFNRD);
  return count;
}
