// Main driver of the Helmert transformation program: reads both coordinate
// sets, checks their datums, applies velocities, pairs the stations, reads
// the options, runs the estimator and writes the result files.
#include "xform/xform1.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "frame/ckflna.h"
#include "frame/constants.h"
#include "frame/cpu.h"
#include "frame/d_inpkey.h"
#include "frame/defcon.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/mjd.h"
#include "frame/opnfil.h"
#include "frame/opnsys.h"
#include "frame/pritit.h"
#include "frame/readinpf.h"
#include "frame/readkeys.h"
#include "frame/runid.h"
#include "frame/textutil.h"
#include "frame/widths.h"
#include "optcheck/ckopt.h"
#include "runtime/format.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/textindex.h"
#include "runtime/units.h"
#include "stations/getco3.h"
#include "stations/getdat.h"
#include "stations/gtvelo.h"
#include "stations/wtstat.h"
#include "xform/helmcodes.h"
#include "xform/helmtr.h"
#include "xform/hminpi.h"
#include "xform/usage.h"

namespace {

constexpr std::string_view kRoutine = "XFORM1";
// Every file name the driver takes from a keyword is held in kLineLen
// characters (frame/widths.h).
// Width of the name field of a rebuilt title.
constexpr std::size_t kTitleNameLen = 32;

using Xyz = std::array<double, 3>;

// One station coordinate file as the driver keeps it.
struct StationSet {
  std::string file = std::string(kLineLen, ' ');
  int nstat = 0;
  std::vector<t_staName> stname;
  std::vector<int> stanum;
  std::vector<Xyz> xstat;
  std::vector<char> staflg;
  std::string title = std::string(kTitleLen, ' ');
  std::string datum = std::string(kDatumNameLen, ' ');
  double epoch = 0.0;
};

// Reads one coordinate file, taking the stations with a non-blank flag.
void readSet(StationSet& set) {
  GETCO3(set.file, 1, {"#"}, set.nstat, set.stname,
         {.fileTitle = &set.title,
          .datumName = &set.datum,
          .timCrd = &set.epoch,
          .stanum = &set.stanum,
          .xstat = &set.xstat,
          .staflg = &set.staflg});
}

// The file's title becomes "NAME.EXT: " followed by the old title, 80
// characters in all; a name that does not split keeps the title as read.
// The file name is left-adjusted in place.
void rebuildTitle(StationSet& set) {
  std::string node, device, dir, name, ext, ver;
  for (std::string* part : {&node, &device, &dir, &name, &ext, &ver})
    part->assign(kLineLen, ' ');
  int irc = 0;
  FNSPLT(0, set.file, node, device, dir, name, ext, ver, irc);
  if (irc != 0) return;
  const std::string field = rt::fit(rt::trimRight(name) + "." + rt::trimRight(ext), kTitleNameLen);
  const std::size_t len = static_cast<std::size_t>(LENTR1(field));
  const std::string oldTitle = set.title;
  set.title = rt::fit(field.substr(0, len) + ": " + oldTitle.substr(0, kTitleLen - 2 - len), kTitleLen);
}

// File name of an optional result file; false when the keyword is missing
// or blank.
bool resultFile(std::string_view keyWord, std::string& name) {
  name.assign(kLineLen, ' ');
  int irc = 0;
  GTFLNA(0, keyWord, name, irc, kLineLen);
  return irc == 0;
}

// Opens a result file of the driver: it replaces the file of that name
// whole when its unit is closed.
void openResultFile(const std::string& name) {
  int iostat = 0;
  OPNFIL(LFNAUX, name, "UNKNOWN", "FORMATTED", "", "", iostat, rt::FileRole::Result);
  OPNERR(LFNMSG, LFNAUX, iostat, name, kRoutine);
}

// A value of the parameter file that did not fit its ten columns: its name
// and unit, and the value.
struct Unfit {
  std::string label;
  std::string_view unit;
  double value;
};

// Names the parameter file and each value that it holds as asterisks; the
// run goes on.
void warnUnfitValues(const std::string& name, const std::vector<Unfit>& unfit) {
  rt::writeFmt(LFNMSG, "(/,A,/,16X,A,A,/,16X,A)",
               {" ### PG XFORM1: VALUES WRITTEN AS ASTERISKS IN THE PARAMETER FILE",
                "FILE NAME : ", rt::trimRight(name), "TOO LARGE FOR TEN COLUMNS (F10.5):"});
  for (std::size_t i = 0; i < unfit.size(); ++i) {
    const Unfit& u = unfit[i];
    rt::writeFmt(LFNMSG, i + 1 < unfit.size() ? "(16X,A,':',F17.5,1X,A)" : "(16X,A,':',F17.5,1X,A,/)",
                 {rt::fit(u.label, 22), u.value, u.unit});
  }
}

// The parameter file: the epoch as a decimal year, translations (cm),
// scale (ppb) and rotations (mas), their rates (zero) and formal errors.
// A value that does not fit its ten columns is written as asterisks, as
// the layout has it, and named in a warning.
void writeParameterFile(const std::string& name, const std::string& crdFile1,
                        const std::string& crdFile2, double epoch2,
                        const std::array<double, 7>& param, const std::array<double, 7>& rmsPar) {
  openResultFile(name);
  int year = 0;
  int month = 0;
  double day = 0.0;
  MJDCAL(epoch2, year, month, day);
  const double january = CALMJD(year, 1, 1.0);
  const double decYear = year + (epoch2 - january + 1.0) * (1.0 / 365.25);

  const auto values = [](const std::array<double, 7>& p, bool errors) {
    const double scale = errors ? p[6] : p[6] - 1.0;
    return rt::FItems{p[0] * 100.0,
                      p[1] * 100.0,
                      p[2] * 100.0,
                      scale * 1.0e9,
                      p[3] * arcsecPerRad * 1000.0,
                      p[4] * arcsecPerRad * 1000.0,
                      p[5] * arcsecPerRad * 1000.0};
  };
  const std::string file1 = rt::fit(crdFile1, kLineLen);
  const std::string file2 = rt::fit(crdFile2, kLineLen);
  rt::writeFmt(LFNAUX, "('APRIO',9X,A6,2X,A3)", {file1.substr(16, 6), file2.substr(16, 3)});
  rt::FItems record2{decYear};
  for (const rt::FItem& v : values(param, false)) record2.push_back(v);
  const rt::FItems record4 = values(rmsPar, true);
  std::vector<std::size_t> overflowed2;
  std::vector<std::size_t> overflowed4;
  rt::writeFmt(LFNAUX, "(8F10.5,'    cm(T_XYZ),ppb(SC),mas(R_XYZ)')", record2, overflowed2);
  rt::writeFmt(LFNAUX, "(10X,7F10.5,'    cm(T_XYZ_rates),ppb(SC_rate),mas/y(R_XYZ_rates)')",
               {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0});
  rt::writeFmt(LFNAUX, "(10X,7F10.5,'    cm(T_XYZ_sig),ppb(SC_sig),mas(R_XYZ_sig)')", record4,
               overflowed4);
  rt::closeUnit(LFNAUX);

  // The seven parameters of records 2 and 4, in their order.
  static constexpr std::array<std::string_view, 7> kLabels = {
      "TRANSLATION X", "TRANSLATION Y", "TRANSLATION Z", "SCALE",
      "ROTATION X",    "ROTATION Y",    "ROTATION Z"};
  static constexpr std::array<std::string_view, 7> kUnits = {"CM",  "CM",  "CM", "PPB",
                                                             "MAS", "MAS", "MAS"};
  std::vector<Unfit> unfit;
  for (std::size_t i : overflowed2) {
    if (i == 0)
      unfit.push_back({"EPOCH", "YEAR", decYear});
    else
      unfit.push_back({std::string(kLabels[i - 1]), kUnits[i - 1], record2[i].realValue()});
  }
  for (std::size_t i : overflowed4)
    unfit.push_back({"SIGMA OF " + std::string(kLabels[i]), kUnits[i], record4[i].realValue()});
  if (!unfit.empty()) warnUnfitValues(name, unfit);
}

// The list of accepted stations, in the new format of a station selection
// file. The unit is closed, and the list put in place, by the exit sequence.
void writeAcceptedStations(const std::string& name, std::span<const t_staName> STNAME,
                           std::span<const int> ITYP) {
  openResultFile(name);
  rt::writeFmt(LFNAUX, "(A80,/,80('-'),/,/,A,/,A)", {runTitle, "Station name", std::string(kStationNameLen, '*')});
  for (std::size_t i = 0; i < STNAME.size(); ++i)
    if (ITYP[i] == helm::kUsed) rt::writeFmt(LFNAUX, "(A16)", {STNAME[i]});
  rt::writeFmt(LFNAUX, "(1X)");
}

// Whether the transformed coordinates are written: only where they are in
// the first set's system, i.e. the transformation estimated in X/Y/Z and
// not between sets reduced to their barycentres (rotations or scale
// without translations), where t + s M X would miss the shift between the
// barycentres.
bool transformedCoordinatesWritten(std::optional<helm::ResidualSystem> system,
                                   std::span<const int> iPar) {
  return system == helm::ResidualSystem::Equatorial && !helm::reducedToBarycentres(iPar);
}

// Refuses, before anything is written, a run that names one file for an
// output and for an input that it still has to read when it first opens
// that output, or for two outputs; that replaces an input by a result of
// another kind; or that names an output it may not write. The files of the
// run by keyword, each with the step at which the run last reads it or
// first opens, empties or removes it, and what it holds; a file that the
// options leave unused (decided as the option reader and the system files
// decide it) is not a file of the run. Every routine that takes these
// names holds them in kLineLen characters.
void checkFileNames() {
  enum Step : int {
    kSystemFiles = 1,  // the program output and the message file are emptied
    kInputs,           // constants, both sets, datum, velocities, station selection
    kRejectedList,     // the estimator writes the list or removes an old one
    kParameterFile,
    kMergeFile,        // the coordinate writer reads the file it merges into ...
    kCoordinateFile,   // ... and then writes the transformed coordinates
    kAcceptedList,
    kWholeRun = std::numeric_limits<int>::max(),  // the system input stays connected
  };
  // What a file holds, where a result may replace an input of its own
  // kind once it has been read: the transformed coordinates a coordinate
  // file, the accepted stations a station selection. Every other file
  // holds a content of its own.
  enum Content : int {
    kOwn = 0,
    kCoordinates,
    kStationList,
  };
  const bool byFile = CKOPTB_ITEM({"RADIO_1", "RADIO_2"}) != 2;
  const bool reject = CKOPTB_ITEM({"REJECT"}) == 1;
  std::string name;
  const bool merged = transformedCoordinatesWritten(chosenResidualSystem(), chosenParameters()) &&
                      resultFile("COORDRS", name);
  // The program output and the message file are removed and made anew.
  constexpr rt::Writing kRenewed = rt::Writing::Renew;

  std::vector<t_fileKey> keys = {
      {.keyWord = "SYSINP", .step = kWholeRun},
      {.keyWord = "SYSOUT", .output = true, .step = kSystemFiles, .share = 1, .writing = kRenewed},
  };
  if (ERRFIL())
    keys.push_back({.keyWord = "SYSERR",
                    .output = true,
                    .step = kSystemFiles,
                    .share = 1,
                    .writing = kRenewed});
  keys.push_back({.keyWord = "CONST", .step = kInputs});
  keys.push_back({.keyWord = "COORD2", .step = kInputs, .content = kCoordinates});
  keys.push_back({.keyWord = "COORD1", .step = kInputs, .content = kCoordinates});
  keys.push_back({.keyWord = "DATUM", .step = kInputs});
  keys.push_back({.keyWord = "VELAPR", .step = kInputs});
  if (byFile) keys.push_back({.keyWord = "USESTA", .step = kInputs, .content = kStationList});
  if (reject) keys.push_back({.keyWord = "LISTFIL", .output = true, .step = kRejectedList});
  keys.push_back({.keyWord = "TRNFIL", .output = true, .step = kParameterFile});
  if (merged) {
    keys.push_back({.keyWord = "COORD", .step = kMergeFile, .content = kCoordinates});
    keys.push_back(
        {.keyWord = "COORDRS", .output = true, .step = kCoordinateFile, .content = kCoordinates});
  }
  keys.push_back(
      {.keyWord = "OKSTA", .output = true, .step = kAcceptedList, .content = kStationList});
  CKFLNA(keys);
}

// Reads the keyword input file that the command line names. A command line
// that names none fails like a name that cannot be opened (the open-failure
// block, exit status 1), and the one-line usage follows on standard error.
void readKeywordFile() {
  try {
    READINPF("", inpKey);
  } catch (const rt::ProgramExit&) {
    if (noKeywordFile()) writeUsageLine();
    throw;
  }
}

}  // namespace

void XFORM1() {
  // -h or --help: the usage alone, exit status 0.
  if (usageAsked()) {
    writeUsage();
    return;
  }
  // Start of the run: timers, keyword list, system files, constants, banner.
  CPUBEG(-1);
  INPKINIT(inpKey);
  readKeywordFile();
  checkFileNames();
  OPNSYS();
  DEFCON(1);
  PRITIT("XFORM1", "Helmert Transformation");

  // The two coordinate sets: the first is the target system, the second is
  // transformed. The second file is read first.
  StationSet set1;
  StationSet set2;
  int irc = 0;
  GTFLNA(1, "COORD1", set1.file, irc, kLineLen);
  GTFLNA(1, "COORD2", set2.file, irc, kLineLen);
  readSet(set2);
  readSet(set1);
  const std::size_t nstat1 = static_cast<std::size_t>(std::max(set1.nstat, 0));
  const std::size_t nstat2 = static_cast<std::size_t>(std::max(set2.nstat, 0));

  if (rt::fit(set1.datum, kDatumNameLen) != rt::fit(set2.datum, kDatumNameLen)) {
    rt::writeFmt(LFNMSG, "(/,A,2(/,16X,A,A),/)",
                 {" ### PG XFORM1: DIFFERENT GEODETIC DATES FOUND", "FIRST  DATUM: ",
                  rt::trimRight(set1.datum), "SECOND DATUM: ", rt::trimRight(set2.datum)});
  }
  double aEll = 0.0;
  double bEll = 0.0;
  double scEll = 0.0;
  std::array<double, 3> dxEll{};
  std::array<double, 3> drEll{};
  GETDAT(set1.datum, aEll, bEll, dxEll, drEll, scEll);

  rebuildTitle(set1);
  rebuildTitle(set2);

  // Velocities of the first set; with a velocity file the first set moves
  // to the epoch of the second. The velocities serve only this move.
  {
    const long long n1 = static_cast<long long>(nstat1);
    std::vector<Xyz> XVEL;
    std::vector<char> VELFLG;
    std::vector<bool> VFOUND;
    // Filled by GTVELO with their presets (no velocity, blank flag, not found).
    reserveChecked(XVEL, n1, "XVEL", {3, n1}, kRoutine);
    reserveChecked(VELFLG, n1, "VELFLG", {n1}, kRoutine);
    reserveChecked(VFOUND, n1, "VFOUND", {n1}, kRoutine);
    GTVELO("VELAPR", 0, 1, {"@"}, set1.nstat, set1.xstat, set1.stname, XVEL, VELFLG, VFOUND, irc);
    if (irc == 0) CRDVEL(set1.nstat, set1.xstat, XVEL, VFOUND, set2.epoch, set1.epoch);
  }

  // Pairing by name, in the first file's order; of several stations of the
  // second file with one name the first is the partner. The paired arrays
  // have room for the larger set and receive the pairs one by one: entries
  // past the last pair are never used.
  const std::size_t maxsta = std::max(nstat1, nstat2);
  const long long nMax = static_cast<long long>(maxsta);
  std::vector<t_staName> STNAME;
  std::vector<int> STANUM;
  std::vector<char> STAFLG;
  std::vector<double> XSTA1;
  std::vector<double> XSTA2;
  std::vector<int> ITYP;
  reserveChecked(STNAME, nMax, "STNAME", {nMax}, kRoutine);
  reserveChecked(STANUM, nMax, "STANUM", {nMax}, kRoutine);
  reserveChecked(STAFLG, 2 * nMax, "STAFLG", {2, nMax}, kRoutine);
  reserveChecked(XSTA1, 3 * nMax, "XSTA1", {3, nMax}, kRoutine);
  reserveChecked(XSTA2, 3 * nMax, "XSTA2", {3, nMax}, kRoutine);
  reserveChecked(ITYP, nMax, "ITYP", {nMax}, kRoutine);
  {
    const std::span<const t_staName> names1(set1.stname.data(), nstat1);
    const std::span<const t_staName> names2(set2.stname.data(), nstat2);
    const rt::FirstIndex<kStationNameLen> partner(names2);
    partner.findEach(names1, [&](std::size_t i, std::ptrdiff_t found) {
      if (found < 0) return;
      const auto j = static_cast<std::size_t>(found);
      STNAME.push_back(set1.stname[i]);
      STANUM.push_back(set1.stanum[i]);
      STAFLG.push_back(set1.staflg[i]);
      STAFLG.push_back(set2.staflg[j]);
      XSTA1.insert(XSTA1.end(), set1.xstat[i].begin(), set1.xstat[i].end());
      XSTA2.insert(XSTA2.end(), set2.xstat[j].begin(), set2.xstat[j].end());
      ITYP.push_back(helm::kUsed);
    });
  }
  const int nPair = static_cast<int>(STNAME.size());
  // The first set's stations live on in the paired arrays only.
  std::vector<t_staName>().swap(set1.stname);
  std::vector<int>().swap(set1.stanum);
  std::vector<Xyz>().swap(set1.xstat);
  std::vector<char>().swap(set1.staflg);

  // The paired entries of the arrays.
  const std::size_t np = static_cast<std::size_t>(nPair);
  const std::span<const t_staName> pairName(STNAME.data(), np);
  const std::span<const int> pairNum(STANUM.data(), np);
  const std::span<const char> pairFlg(STAFLG.data(), 2 * np);
  const std::span<int> pairTyp(ITYP.data(), np);

  // Options and handling codes of the paired stations.
  int resTyp = 0;
  int resUnt = 0;
  int iRej = 0;
  int errCount = 0;
  std::array<int, 7> iPar{};
  std::array<double, 3> rLimit{};
  HMINPI(nPair, pairName, pairNum, pairFlg, pairTyp, resTyp, iPar, resUnt, iRej, rLimit, errCount);

  int nPar = 0;
  for (int flag : iPar)
    if (flag == 1) ++nPar;
  const int nUsed = static_cast<int>(std::count(pairTyp.begin(), pairTyp.end(), helm::kUsed));

  // Estimation with the report on the program output.
  std::array<double, 7> param{};
  std::array<double, 7> rmsPar{};
  std::array<double, 3> rmsCmp{};
  const std::array<double, 3> aux{0.0, 0.0, 0.0};
  double rmsTrn = 0.0;
  int nDof = 0;
  // The second set's coordinates come first, the first set's second.
  HELMTR(set1.title, set2.title, nPair, pairName, pairNum, pairFlg,
         std::span<const double>(XSTA2.data(), 3 * np),
         std::span<const double>(XSTA1.data(), 3 * np), aux, pairTyp, iPar, resTyp, resUnt,
         set1.datum, aEll, bEll, dxEll, drEll, scEll, LFNOUT, 2, iRej, rLimit, param, rmsPar,
         rmsTrn, nDof, rmsCmp);

  // Fewer coordinates than parameters: nothing was estimated, so no result
  // file is written.
  if (3 * nUsed < nPar) {
    rt::writeFmt(LFNMSG,
                 "(/,A,/,16X,A,I7,/,16X,A,I7,/,16X,A,/)",
                 {" *** PGM XFORM1: NO TRANSFORMATION ESTIMATED: TOO FEW COORDINATES",
                  "NUMBER OF PARAMETERS:", nPar, "NUMBER OF STATIONS  :", nUsed,
                  "NO RESULT FILE WRITTEN"});
    EXITRC(2);
  }

  std::string name;
  if (resultFile("TRNFIL", name))
    writeParameterFile(name, set1.file, set2.file, set2.epoch, param, rmsPar);

  // Transformed coordinates that would not be in the first set's system
  // are not written: the file named is neither created nor replaced.
  const helm::ResidualSystem system = helm::residualSystemOf(resTyp);
  if (transformedCoordinatesWritten(system, iPar)) {
    // X' = t + s M X with the rotations to first order. The transformed
    // coordinates take the place of the second set's, which are not needed
    // any more.
    const double s = param[6];
    const double rx = param[3];
    const double ry = param[4];
    const double rz = param[5];
    const double m[3][3] = {{1.0, rz, -ry}, {-rz, 1.0, rx}, {ry, -rx, 1.0}};
    std::vector<Xyz>& XSTNEW = set2.xstat;
    for (std::size_t i = 0; i < nstat2; ++i) {
      const Xyz x = XSTNEW[i];
      for (std::size_t k = 0; k < 3; ++k) {
        double sum = 0.0;
        for (std::size_t j = 0; j < 3; ++j) sum += m[k][j] * x[j];
        XSTNEW[i][k] = s * sum + param[k];
      }
    }
    std::string outFile(kLineLen, ' ');
    WTSTAT(1, outFile, set2.title, set1.datum, set2.nstat, set2.stname, XSTNEW, set2.staflg,
           {.stanum = &set2.stanum, .timCrd = set2.epoch});
  } else if (resultFile("COORDRS", name)) {
    if (system != helm::ResidualSystem::Equatorial) {
      rt::writeFmt(LFNMSG, "(/,A,A,/,16X,A,A,/)",
                   {" ### PG XFORM1: COORDINATE OUTPUT FILE NOT ", "CREATED",
                    "TRANSFORMATION MUST BE DONE IN X/Y/Z, NOT N/E/U ", "SYSTEM"});
    } else {
      rt::writeFmt(LFNMSG, "(/,A,/,16X,A,A,/,16X,A,/,16X,A,/)",
                   {" ### PG XFORM1: COORDINATE OUTPUT FILE NOT CREATED", "FILE NAME : ",
                    rt::trimRight(name), "ROTATIONS OR SCALE ESTIMATED WITHOUT TRANSLATIONS:",
                    "TRANSLATIONS MUST BE ESTIMATED TO TRANSFORM COORDINATES"});
    }
  }

  if (resultFile("OKSTA", name)) {
    if (nDof < 1) {
      rt::writeFmt(LFNMSG, "(/,A,A,/)",
                   {" *** PGM XFORM1: NO REDUNDANCY. ", "NO VERIFICATION OF SITES POSSIBLE"});
      EXITRC(2);
    }
    writeAcceptedStations(name, pairName, pairTyp);
  }

  EXITRC(0);
}
