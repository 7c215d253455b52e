// System files: system input, program output and message file.
#include "frame/opnsys.h"

#include <optional>
#include <string>

#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/opnfil.h"
#include "frame/readkeys.h"
#include "optcheck/ckopt.h"
#include "runtime/format.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

constexpr const char* kRoutine = "OPNSYS";

void openChecked(int msgUnit, int lfn, const std::string& name, const char* status,
                 rt::FileRole role = rt::FileRole::Ordinary) {
  int iostat = 0;
  OPNFIL(lfn, name, status, " ", " ", " ", iostat, role);
  OPNERR(msgUnit, lfn, iostat, name, kRoutine);
}

bool fileExists(const std::string& name) {
  bool exist = false;
  INQUIRE({.file = name, .exist = &exist});
  return exist;
}

// True when an old file of that name is removed before the new one is
// opened: a regular file, or none yet. A FIFO or a device is opened once,
// for the output: an opening to remove it would hand its reader an end.
bool removedFirst(const std::string& name) {
  const rt::FileKind kind = rt::fileKindOf(fileToOpen(name));
  return kind == rt::FileKind::None || kind == rt::FileKind::Regular;
}

// Opens `name` on lfn as a new, empty file for the run's output: a file of
// that name is removed first.
void openEmpty(int msgUnit, int lfn, const std::string& name) {
  if (fileExists(name) && removedFirst(name)) {
    openChecked(msgUnit, lfn, name, "UNKNOWN");
    rt::closeUnit(lfn, rt::Disp::Delete);
  }
  openChecked(msgUnit, lfn, name, "NEW", rt::FileRole::Output);
}

// True when `name` is the file that is already open as the program output.
// The message unit then shares the program-output unit: opening the file
// again on the message unit would leave the program output without a file.
bool isProgramOutputFile(const std::string& name) {
  if (LFNOUT != LFNOUF) return false;
  const rt::FileInquiry fi = rt::inquireFile(fileToOpen(name));
  return fi.opened && fi.unit == LFNOUT;
}

// Connects the message file `name` to LFNERF as a new, empty file; open
// failures are reported on the message unit in force before.
void openMessageFile(const std::string& name, bool removeOldFirst) {
  if (isProgramOutputFile(name)) {
    LFNMSG = LFNOUT;
    return;
  }
  const int previous = LFNMSG;
  LFNMSG = LFNERF;
  if (removeOldFirst) {
    openEmpty(previous, LFNMSG, name);
    return;
  }
  if (removedFirst(name)) {
    openChecked(previous, LFNMSG, name, "NEW");
    rt::closeUnit(LFNMSG, rt::Disp::Delete);
  }
  openChecked(previous, LFNMSG, name, "NEW", rt::FileRole::Output);
}

// The decision on the message unit, for OPNSYS and ERRFIL: the name that
// SYSERR gives when it names a message file of its own; none when the
// messages are merged into the program output (`merge`: ERRMRG as checked,
// absent without the keyword), or when the name is blank or "SYSOUT". With
// ERRMRG given, a blank name stops the run when iStop is 1.
std::optional<std::string> ownMessageFile(std::optional<bool> merge, int iStop) {
  if (merge.value_or(false)) return std::nullopt;
  std::string errName;
  int irc = 0;
  GTFLNA(merge ? iStop : 0, "SYSERR", errName, irc);
  if (irc != 0 || rt::eqPadded(errName, "SYSOUT")) return std::nullopt;
  return errName;
}

}  // namespace

void OPNSYS() {
  int errCount = 0;
  int irc = 0;

  // System input.
  std::string inpName;
  GTFLNA(0, "SYSINP", inpName, irc);
  if (irc == 0) openChecked(LFNMSG, LFNINP, inpName, "OLD");

  // Program output: always a new, empty file.
  std::string outName;
  int ircOut = 0;
  GTFLNA(0, "SYSOUT", outName, ircOut);
  if (ircOut == 0) {
    LFNOUT = LFNOUF;
    openEmpty(LFNMSG, LFNOUT, outName);
  }

  // Message unit: the program output unless SYSERR names a file of its own.
  std::optional<bool> merge;
  if (KEYEXI("ERRMRG")) {
    bool set = false;
    CKOPTB(1, {"ERRMRG"}, kRoutine, "Merge program messages into output", errCount,
           {.isSet = &set});
    merge = set;
  }
  const std::optional<std::string> errName = ownMessageFile(merge, 1);
  if (errName) {
    openMessageFile(*errName, merge.has_value());
  } else {
    LFNMSG = LFNOUT;
  }

  // A program-output name that ends in two digits looks like a default name.
  const std::size_t outLen = rt::trimLen(outName);
  if (ircOut == 0 && outLen > 1 && KEYEXI("SYSODEF")) {
    int number = 0;
    const bool numeric =
        rt::readFmtText(outName.substr(outLen - 2, 2), "(I2)", {rt::FTarget(number)}) == 0;
    bool useDefault = false;
    CKOPTB(1, {"SYSODEF"}, kRoutine, "Use default name for program output", errCount,
           {.isSet = &useDefault});
    if (!useDefault && numeric) {
      rt::writeFmt(LFNMSG, "(/,A,/,16X,A,/)",
                   {" ### SR OPNSYS: Special program output requested, but default file name "
                    "found.",
                    "Program output: " + rt::trimRight(outName)});
    }
  }

  if (errCount != 0) EXITRC(2);
}

bool ERRFIL() {
  std::optional<bool> merge;
  if (KEYEXI("ERRMRG")) merge = CKOPTB_ITEM({"ERRMRG"}) == 1;
  return ownMessageFile(merge, 0).has_value();
}
