// Failure reports and the exit sequence.
#include "frame/exitrc.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "frame/cpu.h"
#include "frame/d_inpkey.h"
#include "frame/m_vand.h"
#include "frame/opnfil.h"
#include "frame/runid.h"
#include "frame/widths.h"
#include "runtime/format.h"
#include "runtime/freeform.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/units.h"

std::string exitInpFile;

namespace {

constexpr int kBlankLimit = 1000;

// Reads one record of unit lfn as a line of kLineLen characters; false at the end of
// the file or after a read failure.
bool readLine(int lfn, std::string& line) {
  std::string record;
  if (rt::readRecord(lfn, record) != 0) return false;
  line = rt::fit(record, kLineLen);
  return true;
}

}  // namespace

void EXITRC(int retCode) {
  if (inpKey.readState == 2 && !inpKey.openBusy) {
    inpKey.readState = 3;
    EXIT_MEN(retCode);
    EXIT_DEL();
  } else if (!rt::eqPadded(programName, "PNLQRY")) {
    const char* note = nullptr;
    if (inpKey.openBusy) {
      note = " ### SR EXITRC: PROGRAM HAS BEEN STOPPED IN OPNFIL";
    } else if (inpKey.readState == 1) {
      note = " ### SR EXITRC: PROGRAM HAS BEEN STOPPED DURING INITIALIZATION";
    } else if (inpKey.readState >= 3) {
      note = " ### SR EXITRC: PROGRAM HAS BEEN STOPPED DURING EXITING";
    }
    if (note != nullptr) rt::writeFmt(LFNMSG, "(/,A,/)", {note});
  }
  inpKey.readState = 3;
  EXIT_PGM(retCode);
}

void EXIT_MEN(int retCode) {
  if (!rt::eqPadded(programName, "TOVRASK")) return;

  int iostat = 0;
  OPNFIL(LFNRD, exitInpFile, "OLD", "FORMATTED", "", "", iostat);
  if (iostat != 0) return;

  // Count the lines up to the last non-blank one before a run of more than
  // 1000 blank lines.
  std::string line;
  long long nLines = 0;
  int nBlank = 0;
  while (readLine(LFNRD, line)) {
    if (rt::isBlank(line)) {
      if (++nBlank > kBlankLimit) {
        nLines -= kBlankLimit;
        break;
      }
    } else {
      nBlank = 0;
    }
    ++nLines;
  }

  std::vector<std::string> buffer;
  if (!allocates([&] { buffer.reserve(static_cast<std::size_t>(nLines)); })) {
    rt::writeFmt(LFNMSG, "(/,A,/)",
                 {" *** SR EXIT_MEN: Variable \"buffer\" could not be allocated"});
    return;
  }

  rt::rewindUnit(LFNRD);
  const std::string ircLine =
      std::string("TOVRASK_IRCODE  1  \"") + (retCode == 0 ? '0' : '2') + '"';
  for (long long i = 0; i < nLines; ++i) {
    // A line that no longer reads (the file changed since it was counted)
    // ends the kept lines there.
    if (!readLine(LFNRD, line)) break;
    if (line.compare(0, 14, "TOVRASK_IRCODE") == 0) line = rt::fit(ircLine, kLineLen);
    buffer.push_back(line);
  }

  rt::closeUnit(LFNRD);
  OPNFIL(LFNRD, exitInpFile, "OLD", "FORMATTED", "", "", iostat);
  if (iostat != 0) return;
  for (const std::string& kept : buffer) rt::writeFmt(LFNRD, "(A)", {rt::trimRight(kept)});
  rt::closeUnit(LFNRD);
}

void EXIT_DEL() {
  if (rt::isBlank(programName)) return;
  const std::size_t count =
      std::min<std::size_t>(static_cast<std::size_t>(std::max(inpKey.delCount, 0)),
                            inpKey.delFil.size());
  for (std::size_t c = 0; c < count; ++c) {
    // Copied: OPNFIL may rewrite entries of the list.
    const std::string entry = inpKey.delFil[c];
    if (entry.find('$') != std::string::npos) continue;  // never expanded
    if (rt::isBlank(entry)) continue;                      // names no file

    const rt::FileInquiry file = rt::inquireFile(rt::trimRight(entry));
    if (!file.exist) continue;
    if (file.opened) {
      rt::closeUnit(file.unit, rt::Disp::Delete);
      // The end-of-run report still needs somewhere to go when the program
      // output or the message file was one of the removed files.
      if (file.unit == LFNOUT) LFNOUT = 6;
      if (file.unit == LFNMSG) LFNMSG = 6;
      continue;
    }
    int iostat = 0;
    OPNFIL(LFNRD, entry, "UNKNOWN", "UNFORMATTED", "", "", iostat);
    if (iostat != 0) OPNFIL(LFNRD, entry, "UNKNOWN", "FORMATTED", "", "", iostat);
    if (iostat == 0) rt::closeUnit(LFNRD, rt::Disp::Delete);
  }
}

void EXIT_PGM(int retCode) {
  const bool success = retCode == 0 || retCode == 1;
  // A unit that does not close is named on the console; once every unit is
  // closed, the run ends as an input/output failure of the first of them.
  std::optional<rt::IoFailure> failure;
  const auto close = [&failure](int lfn, rt::Disp disp) {
    try {
      rt::closeUnit(lfn, disp);
    } catch (const rt::IoFailure& e) {
      rt::writeFree(6, {" *** SR EXIT_PGM: Cannot close LFN", lfn});
      if (!failure) failure = e;
    }
  };
  // The result files are put in place before the end-of-run report, which
  // thus never tells of success when one of them could not be written;
  // after an error they stay as they were.
  for (int lfn = 10; lfn <= LFNRD; ++lfn) {
    if (rt::resultUnit(lfn)) close(lfn, success ? rt::Disp::Keep : rt::Disp::Discard);
  }
  CPUEND(failure ? 2 : retCode);
  for (int lfn = 10; lfn <= LFNRD; ++lfn) {
    if (rt::unitOpened(lfn)) close(lfn, rt::Disp::Keep);
  }
  if (failure) throw *failure;
  throw rt::ProgramExit{success ? 0 : 1};
}

void ALCERR(int irc, std::string_view varName, std::initializer_list<long long> extents,
            std::string_view routineName) {
  if (irc == 0) return;
  if (LFNMSG == 0) LFNMSG = 6;

  // Each extent is appended after the last non-blank character, so the blank
  // after a separating comma gives way to the next extent's field.
  std::string size = "(";
  for (long long extent : extents) {
    size = rt::trimRight(size) + rt::formatLine("(i8,a2)", {extent, ", "});
  }
  size = rt::fit(size, kLineLen);
  const std::size_t lastComma = size.rfind(',');
  if (lastComma != std::string::npos) size[lastComma] = ')';

  rt::writeFmt(LFNMSG, "(/,A,3(/,16X,A),/,16X,A,I6,/)",
               {" *** SR ALCERR: ALLOCATION OF AN ARRAY FAILED",
                "VARIABLE NAME : " + rt::trimRight(varName),
                "SIZE OF ARRAY : " + rt::trimRight(size),
                "PGM./SUBR.    : " + rt::trimRight(routineName), "ERROR STATUS  : ", irc});
  EXITRC(2);
}

void OPNERR(int msgUnit, int lfn, int iostat, std::string_view filePath,
            std::string_view routineName) {
  const int r = iostat % 256;  // truncating: keeps the sign of iostat
  if (r == 0) return;
  rt::writeFmt(msgUnit == 0 ? 6 : msgUnit,
               "(/,A,/,16X,A,A,/,16X,A,A10,/,16X,A,I6,/,16X,A,I6,/)",
               {" *** SR OPNERR: OPEN FAILED", "FILE NAME : ", rt::trimRight(filePath),
                "PGM./SUBR.: ", rt::trimRight(routineName), "IOSTAT    : ", r,
                "FILE UNIT : ", lfn});
  EXITRC(2);
}
