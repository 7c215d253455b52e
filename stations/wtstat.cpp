// Station coordinate file writer with merge.
#include "stations/wtstat.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>

#include "frame/constants.h"
#include "frame/epoch.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/opnfil.h"
#include "frame/readkeys.h"
#include "frame/runid.h"
#include "runtime/filelock.h"
#include "runtime/format.h"
#include "runtime/text.h"
#include "runtime/units.h"
#include "stations/getco3.h"

namespace {

constexpr std::string_view kRoutine = "wtstat";
constexpr std::size_t kNameLen = 255;

enum class FileForm { Coordinates, Velocities, PlatesOnly };

// The merged list of stations.
struct MergedList {
  std::vector<int> staNum;
  std::vector<std::string> stName;
  std::vector<std::array<double, 3>> xStat;
  std::vector<std::string> staFlg;
  std::vector<std::string> plate;
  std::vector<std::size_t> staIdx;
};

// The stations of an existing file.
struct ExistingFile {
  bool read = false;
  int nStat = 0;
  std::vector<std::string> name;
  std::string datum;
  std::vector<int> number;
  std::vector<std::array<double, 3>> x;
  std::vector<std::string> plate;
  std::vector<std::string> footer;
};

// Locks the existing file against other runs that merge into it, from its
// reading to the replacement of the output (a run that merged into it
// meanwhile has then put its own stations there). The name is taken as the
// file opening takes it.
void lockExisting(const std::string& oldName, rt::FileLock& lock) {
  std::string name = rt::fit(oldName, kNameLen);
  RPLENVAR(2, name);
  if (lock.lock(rt::trimRight(rt::leftAdjust(name))) != 0) {
    // No lock to be had (a file system without locks): merged unlocked.
  }
}

ExistingFile readExisting(std::string_view keyWord, rt::FileLock& lock) {
  ExistingFile old;
  std::string oldName(kNameLen, ' ');
  int irc = 0;
  GTFLNA(0, keyWord, oldName, irc, kNameLen);
  if (irc != 0) return old;
  bool exist = false;
  INQUIRE({.file = rt::trimRight(oldName), .exist = &exist});
  if (!exist) return old;
  lockExisting(oldName, lock);
  GETCO3(oldName, 1, {"@"}, old.nStat, old.name,
         {.datumName = &old.datum, .stanum = &old.number, .xstat = &old.x, .plate = &old.plate,
          .footer = &old.footer, .footerLen = kNameLen});
  old.read = true;
  return old;
}

void writeLine(const std::string& line) { rt::writeFmt(LFNRD, "(A)", {rt::trimRight(line)}); }

}  // namespace

void WTSTAT(int iWrite, std::string& filePath, std::string_view fileTitle,
            std::string_view datumName, int nStat, const std::vector<std::string>& stname,
            const std::vector<std::array<double, 3>>& xstat, const std::vector<std::string>& staflg,
            const t_wtstatOpt& opt) {
  const FileForm form = opt.timCrd ? FileForm::Coordinates
                        : opt.pltOnly ? FileForm::PlatesOnly
                                      : FileForm::Velocities;
  const std::string_view outKey = opt.timCrd ? "COORDRS" : "VELORS";
  const std::string_view oldKey = opt.timCrd ? "COORD" : "VELAPR";
  nStat = std::max(nStat, 0);

  // Output name.
  if (rt::isBlank(filePath)) {
    std::string name(kNameLen, ' ');
    int irc = 0;
    GTFLNA(0, outKey, name, irc, kNameLen);
    if (irc != 0) return;
    filePath = name;
  }
  if (rt::isBlank(filePath)) return;

  // Datum and the existing file.
  std::string datum = rt::fit(datumName, 16);
  ExistingFile old;
  rt::FileLock mergeLock;  // held until the output is in place
  if (iWrite != 0) old = readExisting(oldKey, mergeLock);

  std::vector<int> match(static_cast<std::size_t>(nStat), -1);
  int found = 0;
  if (old.read) {
    datum = rt::fit(old.datum, 16);
    std::unordered_map<std::string, int> index;
    index.reserve(static_cast<std::size_t>(old.nStat));
    for (int i = 0; i < old.nStat; ++i) index.emplace(old.name[i], i);
    for (int j = 0; j < nStat; ++j) {
      const auto hit = index.find(rt::fit(stname[j], 16));
      if (hit != index.end()) {
        match[j] = hit->second;
        ++found;
      }
    }
  }

  // The merged list: the existing stations first, in file order.
  const std::size_t n = static_cast<std::size_t>(nStat + old.nStat - found);
  const long long nn = static_cast<long long>(n);
  const std::array<double, 3> zero{0.0, 0.0, 0.0};
  MergedList list;
  allocChecked(list.staNum, nn, 0, "staNumNw", {nn}, kRoutine);
  allocChecked(list.stName, nn, std::string(16, ' '), "stNameNw", {nn}, kRoutine);
  allocChecked(list.xStat, nn, zero, "xStatNw", {3, nn}, kRoutine);
  allocChecked(list.staFlg, nn, std::string(5, ' '), "staFlgNw", {nn}, kRoutine);
  allocChecked(list.plate, nn, std::string(4, ' '), "plateNw", {nn}, kRoutine);
  allocChecked(list.staIdx, nn, std::size_t{0}, "staIdxNw", {nn}, kRoutine);
  std::iota(list.staIdx.begin(), list.staIdx.end(), std::size_t{0});
  for (int i = 0; i < old.nStat; ++i) {
    list.staNum[i] = old.number[i];
    list.stName[i] = old.name[i];
    list.xStat[i] = old.x[i];
    list.plate[i] = old.plate[i];
  }

  // The caller's stations: appended, kept or replaced.
  std::size_t next = static_cast<std::size_t>(old.nStat);
  for (int j = 0; j < nStat; ++j) {
    std::size_t e;
    if (match[j] < 0) {
      e = next++;
      if (opt.stanum) list.staNum[e] = (*opt.stanum)[j];
      list.stName[e] = rt::fit(stname[j], 16);
    } else if (iWrite == 2) {
      continue;
    } else {
      e = static_cast<std::size_t>(match[j]);
    }
    list.xStat[e] = xstat[j];
    list.staFlg[e] = rt::fit(rt::leftAdjust(staflg[j]), 5);
    if (opt.plate) list.plate[e] = rt::fit((*opt.plate)[j], 4);
  }

  // Sort by name (equal names keep their merged order) and number.
  std::stable_sort(list.staIdx.begin(), list.staIdx.end(), [&](std::size_t a, std::size_t b) {
    return list.stName[a] < list.stName[b];
  });
  if (!opt.stanum) {
    for (std::size_t k = 0; k < n; ++k) list.staNum[list.staIdx[k]] = static_cast<int>(k + 1);
  }

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
      rt::writeFmt(LFNRD, "(A)", {rt::fit(fileTitle, 80)});
    }
    rt::writeFmt(LFNRD, "(A)", {std::string(80, '-')});

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

    // Station lines in name order.
    for (const std::size_t e : list.staIdx) {
      const int num = list.staNum[e] % 1000;
      const auto& x = list.xStat[e];
      switch (form) {
        case FileForm::Coordinates:
          writeLine(rt::formatLine("(I3,2X,A16,3F15.5,4X,A5)",
                                   {num, list.stName[e], x[0], x[1], x[2], list.staFlg[e]}));
          break;
        case FileForm::PlatesOnly:
          writeLine(rt::formatLine("(I3,2X,A16,54X,A4)", {num, list.stName[e], list.plate[e]}));
          break;
        case FileForm::Velocities:
          writeLine(rt::formatLine("(I3,2X,A16,3F15.5,4X,A4,1X,A4)",
                                   {num, list.stName[e], x[0], x[1], x[2],
                                    list.staFlg[e].substr(0, 4), list.plate[e]}));
          break;
      }
    }

    // End of the station block and footer.
    if (opt.footer) {
      if (opt.footer->empty()) rt::writeFmt(LFNRD, "(A)", {" "});
      for (const std::string& line : *opt.footer) writeLine(line);
    } else if (old.read) {
      for (const std::string& line : old.footer) writeLine(line);
    } else {
      rt::writeFmt(LFNRD, "(A)", {" "});
    }
  } catch (...) {
    rt::closeUnitIostat(LFNRD, rt::Disp::Discard);
    throw;
  }
  rt::closeUnit(LFNRD);
}
