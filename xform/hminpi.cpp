// Option reader of the Helmert transformation program.
#include "xform/hminpi.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "frame/exitrc.h"
#include "frame/readkeys.h"
#include "frame/widths.h"
#include "optcheck/ckopt.h"
#include "runtime/text.h"
#include "runtime/textindex.h"
#include "stations/stalist.h"
#include "xform/helmcodes.h"

namespace {

constexpr std::string_view kRoutine = "hminpi";

// Selection by a station file: listed stations are used, the others are
// marked or excluded as OTHSTA says. No file, or an empty one: all used.
void selectByFile(int nStat, std::span<const t_staName> STNAME, std::span<int> ITYP,
                  int& errCount) {
  t_stalist staList;
  STALINIT(staList);
  staList.nSta = 0;
  std::string staFile(kLineLen, ' ');
  int irc = 0;
  GTFLNA(0, "USESTA", staFile, irc, kLineLen);
  if (irc == 0) {
    int nSig = 0;
    READSTSG(staFile, nSig, staList);
  }

  if (staList.nSta == 0) {
    std::fill(ITYP.begin(), ITYP.begin() + nStat, helm::kUsed);
    return;
  }

  std::vector<std::string> keyValue;
  READKEYS("OTHSTA", keyValue, irc);
  const std::vector<int> codes = {helm::kMarked, helm::kExcluded};
  int others = helm::kExcluded;
  CKOPTC(1, "OTHSTA", keyValue, {"MARK", "EXCLUDE"}, kRoutine,
         "Handling of stations not in file list", irc, errCount,
         {.maxVal = 1, .valueList = std::span<const int>(codes), .error = 2, .result1 = &others});
  std::fill(ITYP.begin(), ITYP.begin() + nStat, others);

  const rt::FirstIndex<kStationNameLen> listed = nameIndex(staList.staNam, staList.nSta);
  for (int i = 0; i < nStat; ++i)
    if (listed.find(STNAME[i]) >= 0) ITYP[i] = helm::kUsed;
}

// Selection by the manual table STASELECT: one line per station with the
// station name in column 1 and the flag in column 4. A station on no line
// is excluded; of several lines for one station the last decides.
void selectByTable(int nStat, std::span<const t_staName> STNAME, std::span<int> ITYP,
                   int& errCount) {
  std::vector<std::string> keyValue;
  int irc = 0;
  READKEYS("STASELECT", keyValue, irc);
  const std::size_t n = keyValue.size();
  const long long extent = static_cast<long long>(n);

  // The four columns of every line.
  t_colTexts hlpStr;
  allocChecked(hlpStr, 4, std::vector<std::string>(), "hlpStr", {4, extent}, kRoutine);
  for (std::vector<std::string>& column : hlpStr)
    allocChecked(column, extent, std::string(kLineLen, ' '), "hlpStr", {4, extent}, kRoutine);
  const int before = errCount;
  CKOPTU(1, "STASELECT", keyValue, kRoutine, "Manual station selection", irc, errCount, 4,
         {.result2 = &hlpStr});
  // A table that could not be split counts as a failed lookup for its columns.
  const int ircColumns = errCount - before;

  std::vector<std::string> names;
  allocChecked(names, extent, std::string(kStationNameLen, ' '), "staList%staNam", {extent}, kRoutine);
  CKOPTL(1, "STASELECT", hlpStr[0], kRoutine, "Manual station selection", ircColumns, errCount,
         {.column = "Station name",
          .init = "XXERR",
          .error = "XXERR",
          .result2 = std::span<std::string>(names)});

  std::vector<int> whatToDo;
  allocChecked(whatToDo, extent, 0, "whatToDo", {extent}, kRoutine);
  const std::vector<int> codes = {helm::kMarked, helm::kMarked, helm::kExcluded, helm::kExcluded,
                                  helm::kUsed};
  CKOPTC(1, "STASELECT", hlpStr[3], {"M", "m", "E", "e", " "}, kRoutine,
         "Manual station selection", ircColumns, errCount,
         {.column = "Station selection",
          .valueList = std::span<const int>(codes),
          .result2 = std::span<int>(whatToDo)});

  // The last line that names a station decides its code.
  std::unordered_map<t_staName, int> lastCode;
  for (std::size_t j = 0; j < n; ++j) lastCode[t_staName(names[j])] = whatToDo[j];
  for (int i = 0; i < nStat; ++i) {
    const auto it = lastCode.find(STNAME[i]);
    ITYP[i] = it == lastCode.end() ? helm::kExcluded : it->second;
  }
}

// One residual limit in millimetres; blank or 0 means no limit.
double readLimit(std::string_view keyWord, std::string_view descr, int& errCount) {
  std::vector<std::string> keyValue;
  int irc = 0;
  READKEYS(keyWord, keyValue, irc);
  double limit = 0.0;
  CKOPTR(1, keyWord, keyValue, kRoutine, descr, irc, errCount,
         {.empty = 9.0e9, .ge = 0.0, .maxVal = 1, .result1 = &limit});
  if (limit == 0.0) limit = 9.0e9;
  return limit;
}

}  // namespace

std::optional<helm::ResidualSystem> chosenResidualSystem() {
  if (!KEYEXI("RESIDTYPE")) return std::nullopt;
  std::vector<std::string> values;
  int irc = 0;
  READKEYS("RESIDTYPE", values, irc);
  if (irc != 0 || values.size() != 1) return std::nullopt;
  if (rt::eqPadded(values[0], "NEU")) return helm::ResidualSystem::Local;
  if (rt::eqPadded(values[0], "XYZ")) return helm::ResidualSystem::Equatorial;
  return std::nullopt;
}

std::array<int, 7> chosenParameters() {
  std::array<int, 7> iPar{};
  for (std::size_t k = 0; k < iPar.size(); ++k)
    iPar[k] = CKOPTB_ITEM({"HLM_" + std::to_string(k + 1)}) == 1 ? 1 : 0;
  return iPar;
}

void HMINPI(int nStat, std::span<const t_staName> STNAME, std::span<const int> STANUM,
            std::span<const char> STAFLG, std::span<int> ITYP, int& resTyp, std::span<int> iPar,
            int& resUnt, int& iRej, std::span<double> rLimit, int& errCount) {
  (void)STANUM;
  (void)STAFLG;
  nStat = std::max(nStat, 0);
  errCount = 0;

  // Type of station selection: 1 by file, 2 by table (an invalid set is
  // taken as selection by file).
  int selection = 1;
  CKOPTB(1, {"RADIO_1", "RADIO_2"}, kRoutine, "Type of station selection", errCount,
         {.error = 1, .result1 = &selection});
  if (selection == 2)
    selectByTable(nStat, STNAME, ITYP, errCount);
  else
    selectByFile(nStat, STNAME, ITYP, errCount);

  std::vector<std::string> keyValue;
  int irc = 0;
  // The check reports a bad residual system; the choice itself is the one
  // that the file-name check of the run makes.
  READKEYS("RESIDTYPE", keyValue, irc);
  CKOPTC(1, "RESIDTYPE", keyValue, {"NEU", "XYZ"}, kRoutine, "Type of residuals", irc, errCount,
         {.maxVal = 1});
  if (const std::optional<helm::ResidualSystem> system = chosenResidualSystem())
    resTyp = static_cast<int>(*system);
  READKEYS("RESIDUNIT", keyValue, irc);
  const std::vector<int> units = {static_cast<int>(helm::ResidualUnit::Metres),
                                  static_cast<int>(helm::ResidualUnit::Millimetres)};
  CKOPTC(1, "RESIDUNIT", keyValue, {"M", "MM"}, kRoutine, "Unit of residuals", irc, errCount,
         {.maxVal = 1, .valueList = std::span<const int>(units), .result1 = &resUnt});

  static const std::array<std::string_view, 7> labels = {
      "shift in X",   "shift in Y",   "shift in Z", "rot around X",
      "rot around Y", "rot around Z", "scale"};
  for (std::size_t k = 0; k < labels.size(); ++k) {
    const std::string key = "HLM_" + std::to_string(k + 1);
    const std::string descr = "Parameter to be compute (" + std::string(labels[k]) + ")";
    iPar[k] = 0;
    CKOPTB(1, {key}, kRoutine, descr, errCount, {.error = 0, .result1 = &iPar[k]});
  }
  iRej = 0;
  CKOPTB(1, {"REJECT"}, kRoutine, "Outlier rejection", errCount, {.error = 0, .result1 = &iRej});

  rLimit[0] = readLimit("NLIMIT", "Maximum residuum in N", errCount);
  rLimit[1] = readLimit("ELIMIT", "Maximum residuum in E", errCount);
  rLimit[2] = readLimit("ULIMIT", "Maximum residuum in U", errCount);
  for (int k = 0; k < 3; ++k) rLimit[k] *= 0.001;

  if (errCount != 0) EXITRC(2);
}
