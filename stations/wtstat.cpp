// Station coordinate file writer with merge.
#include "stations/wtstat.h"

#include <algorithm>
#include <cstdint>

#include "frame/constants.h"
#include "frame/epoch.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/opnfil.h"
#include "frame/readkeys.h"
#include "frame/runid.h"
#include "frame/widths.h"
#include "runtime/filelock.h"
#include "runtime/format.h"
#include "runtime/text.h"
#include "runtime/textindex.h"
#include "runtime/units.h"
#include "stations/getco3.h"

namespace {

constexpr std::string_view kRoutine = "wtstat";

enum class FileForm { Coordinates, Velocities, PlatesOnly };

// The stations of an existing file.
struct ExistingFile {
  bool read = false;
  int nStat = 0;
  std::vector<t_staName> name;
  std::string datum;
  std::vector<int> number;
  std::vector<std::array<double, 3>> x;
  std::vector<t_plateName> plate;
  std::vector<std::string> footer;
};

// Locks the file to merge with against other runs that merge into it, from
// its reading to the replacement of the output (a run that merged into it
// meanwhile has then put its own stations there). The lock is taken before
// the file is looked for, whether it exists or not, so a run that finds no
// file and one that finds the file the first has made take turns as well.
// The name is taken as the file opening takes it.
void lockMerge(const std::string& oldName, rt::FileLock& lock) {
  if (lock.lock(fileToOpen(oldName)) != 0) {
    // No lock to be had (a directory that may not be read, a file system
    // without locks): merged unlocked.
  }
}

ExistingFile readExisting(std::string_view keyWord, FileForm form, rt::FileLock& lock) {
  ExistingFile old;
  std::string oldName(kLineLen, ' ');
  int irc = 0;
  GTFLNA(0, keyWord, oldName, irc, kLineLen);
  if (irc != 0) return old;
  lockMerge(oldName, lock);
  bool exist = false;
  INQUIRE({.file = rt::trimRight(oldName), .exist = &exist});
  if (!exist) return old;
  // The values of the existing stations are written back, so the file must
  // carry them; a plate-only file has none and needs none.
  GETCO3(oldName, 1, {"@"}, old.nStat, old.name,
         {.datumName = &old.datum,
          .stanum = &old.number,
          .xstat = form == FileForm::PlatesOnly ? nullptr : &old.x,
          .plate = &old.plate,
          .footer = &old.footer,
          .footerLen = kLineLen});
  old.read = true;
  return old;
}

}  // namespace

void WTSTAT(int iWrite, std::string& filePath, std::string_view fileTitle,
            std::string_view datumName, int nStat, std::span<const t_staName> stname,
            std::span<const std::array<double, 3>> xstat, std::span<const char> staflg,
            const t_wtstatOpt& opt) {
  const FileForm form = opt.timCrd ? FileForm::Coordinates
                        : opt.pltOnly ? FileForm::PlatesOnly
                                      : FileForm::Velocities;
  const std::string_view outKey = opt.timCrd ? "COORDRS" : "VELORS";
  const std::string_view oldKey = opt.timCrd ? "COORD" : "VELAPR";
  nStat = std::max(nStat, 0);

  // Output name.
  if (rt::isBlank(filePath)) {
    std::string name(kLineLen, ' ');
    int irc = 0;
    GTFLNA(0, outKey, name, irc, kLineLen);
    if (irc != 0) return;
    filePath = name;
  }
  if (rt::isBlank(filePath)) return;

  // Datum and the existing file.
  std::string datum = rt::fit(datumName, kDatumNameLen);
  ExistingFile old;
  rt::FileLock mergeLock;  // held until the output is in place
  if (iWrite != 0) old = readExisting(oldKey, form, mergeLock);

  // The merged list: the existing stations first, in file order, then the
  // caller's stations that the existing file does not hold. Its entries are
  // not copied: entry e stands for station e of the existing file (e below
  // nOld) and takes the values of the caller's station source[e] when that
  // is not -1 (an appended or a replaced station).
  const std::size_t nOld = static_cast<std::size_t>(old.nStat);
  const std::size_t nNew = static_cast<std::size_t>(nStat);
  std::vector<int> source;
  std::size_t n = nOld;
  if (old.read) {
    datum = rt::fit(old.datum, kDatumNameLen);
    const rt::FirstIndex<kStationNameLen> index = nameIndex(old.name, static_cast<long long>(nOld));
    std::vector<int> match(nNew);
    index.findEach(stname.first(nNew), [&](std::size_t j, std::ptrdiff_t found) {
      match[j] = static_cast<int>(found);
      if (found < 0) ++n;
    });
    const long long nn = static_cast<long long>(n);
    allocChecked(source, nn, -1, "staSrcNw", {nn}, kRoutine);
    std::size_t next = nOld;
    for (std::size_t j = 0; j < nNew; ++j) {
      if (match[j] < 0) {
        source[next++] = static_cast<int>(j);
      } else if (iWrite != 2) {
        source[static_cast<std::size_t>(match[j])] = static_cast<int>(j);
      }
    }
  } else {
    n = nNew;
    const long long nn = static_cast<long long>(n);
    reserveChecked(source, nn, "staSrcNw", {nn}, kRoutine);
    for (std::size_t j = 0; j < nNew; ++j) source.push_back(static_cast<int>(j));
  }
  const auto nameOf = [&](std::size_t e) -> const t_staName& {
    return e < nOld ? old.name[e] : stname[static_cast<std::size_t>(source[e])];
  };

  // Output order: by name, equal names in their merged order.
  std::vector<std::uint32_t> order;
  const long long nn = static_cast<long long>(n);
  reserveChecked(order, nn, "staIdxNw", {nn}, kRoutine);
  for (std::size_t e = 0; e < n; ++e) order.push_back(static_cast<std::uint32_t>(e));
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return nameOf(a) < nameOf(b); });

  std::string epoch(19, ' ');
  if (opt.timCrd) TIMST2(1, 1, &*opt.timCrd, epoch);

  // The output is a result file: replaced whole once written, or left as
  // it was.
  int iostat = 0;
  OPNFIL(LFNRD, filePath, "UNKNOWN", "FORMATTED", " ", " ", iostat, rt::FileRole::Result);
  OPNERR(LFNMSG, LFNRD, iostat, filePath, kRoutine);

  try {
    // Title and hyphens.
    if (constantsRead == 1) {
      rt::writeFmt(LFNRD, "(A,2X,A,1X,A)",
                   {rt::fit(fileTitle, 63), rt::fit(runDate, 9), rt::fit(runTime, 5)});
    } else {
      rt::writeFmt(LFNRD, "(A)", {rt::fit(fileTitle, kTitleLen)});
    }
    rt::writeFmt(LFNRD, "(A)", {std::string(kTitleLen, '-')});

    // Datum and header lines.
    if (form == FileForm::Coordinates) {
      rt::writeFmt(LFNRD, "(A,A16,2X,A,A19,//,A,11X,A,10X,A,10X,A,5X,A,/)",
                   {"LOCAL GEODETIC DATUM: ", datum, "EPOCH: ", epoch, "NUM  STATION NAME",
                    "X (M)", "Y (M)", "Z (M)", "FLAG"});
    } else {
      rt::writeFmt(LFNRD, "(A,A16,//,A,11X,A,7X,A,7X,A,2X,A,3X,A,/)",
                   {"LOCAL GEODETIC DATUM: ", datum, "NUM  STATION NAME", "VX (M/Y)", "VY (M/Y)",
                    "VZ (M/Y)", "FLAG", "PLATE"});
    }

    // Station lines in name order, without trailing blanks. An entry that
    // is not the caller's is one of the existing file, kept as it was.
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t e = order[k];
      const bool fromCaller = source[e] >= 0;
      const std::size_t j = fromCaller ? static_cast<std::size_t>(source[e]) : 0;
      int number = static_cast<int>(k + 1);
      if (opt.stanum) number = e < nOld ? old.number[e] : (*opt.stanum)[j];
      const int num = number % 1000;
      const t_staName& name = nameOf(e);
      // The values; an existing plate-only file has none (and that form
      // writes none).
      static constexpr std::array<double, 3> kNoValues{};
      const std::array<double, 3>& x = fromCaller         ? xstat[j]
                                       : e < old.x.size() ? old.x[e]
                                                          : kNoValues;
      t_staFlg5 flag;
      if (fromCaller) {
        flag.assign(rt::leftAdjust(std::string_view(staflg.data() + j * opt.flagLen, opt.flagLen)));
      }
      t_plateName plate;
      if (fromCaller && opt.plate) {
        plate = (*opt.plate)[j];
      } else if (e < nOld) {
        plate = old.plate[e];
      }
      switch (form) {
        case FileForm::Coordinates:
          rt::writeFmtTrimmed(LFNRD, "(I3,2X,A16,3F15.5,4X,A5)", {num, name, x[0], x[1], x[2], flag});
          break;
        case FileForm::PlatesOnly:
          rt::writeFmtTrimmed(LFNRD, "(I3,2X,A16,54X,A4)", {num, name, plate});
          break;
        case FileForm::Velocities:
          rt::writeFmtTrimmed(LFNRD, "(I3,2X,A16,3F15.5,4X,A4,1X,A4)",
                              {num, name, x[0], x[1], x[2], flag.view().substr(0, 4), plate});
          break;
      }
    }

    // End of the station block and footer.
    if (opt.footer) {
      if (opt.footer->empty()) rt::writeFmt(LFNRD, "(A)", {" "});
      for (const std::string& line : *opt.footer) rt::writeFmtTrimmed(LFNRD, "(A)", {line});
    } else if (old.read) {
      for (const std::string& line : old.footer) rt::writeFmtTrimmed(LFNRD, "(A)", {line});
    } else {
      rt::writeFmt(LFNRD, "(A)", {" "});
    }
  } catch (...) {
    rt::closeUnitIostat(LFNRD, rt::Disp::Discard);
    throw;
  }
  rt::closeUnit(LFNRD);
}
