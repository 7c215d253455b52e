// Definition of the run's constants and reading of the constants file.
#include "frame/defcon.h"

#include <cmath>
#include <string>
#include <string_view>

#include "frame/constants.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/mjd.h"
#include "frame/opnfil.h"
#include "frame/readkeys.h"
#include "frame/runid.h"
#include "frame/widths.h"
#include "runtime/format.h"
#include "runtime/freeform.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/units.h"

double C = 0.0;
std::array<double, 3> FREQ{};
double FREQP = 0.0;
double FREQG1 = 0.0;
double FREQG2 = 0.0;
double DFRQG1 = 0.0;
double DFRQG2 = 0.0;
double FREQGP = 0.0;
std::array<double, 5> FRQE{};
std::array<double, 2> FRQS{};
std::array<double, 4> FRQC{};
std::array<double, 4> FRQJ{};
double GM = 0.0;
double GMS = 0.0;
double GMM = 0.0;
double AU = 0.0;
double AE = 0.0;
double J2 = 0.0;
double CONRE = 0.0;
double FACTEC = 0.0;
double P0 = 0.0;
double OMEGA = 0.0;
double ETUTC = 0.0;
double WGTPHA = 0.0;
double WGTCOD = 0.0;
double HREF = 0.0;
double PREF = 0.0;
double TREF = 0.0;
double HUMREF = 0.0;

std::array<double, 5> refWavelength{};
std::array<std::array<double, 2>, kSatSlots> satFrequency{};
std::array<std::array<double, 5>, kSatSlots> satWavelength{};

namespace {

struct ConstKey {
  std::string_view key;  // as it stands in columns 1-6 of the file
  double* var;
};

// The keys of the constants file and the variables they fill.
const ConstKey kKeys[] = {
    {"C", &C},           {"FREQ1", &FREQ[0]},  {"FREQ2", &FREQ[1]},   {"FREQ5", &FREQ[2]},
    {"FREQP", &FREQP},   {"FREQG1", &FREQG1},  {"FREQG2", &FREQG2},   {"DFRQG1", &DFRQG1},
    {"DFRQG2", &DFRQG2}, {"FREQGP", &FREQGP},  {"FRQE1", &FRQE[0]},   {"FRQE5", &FRQE[1]},
    {"FRQE5a", &FRQE[2]}, {"FRQE5b", &FRQE[3]}, {"FRQE6", &FRQE[4]},  {"FRQS1", &FRQS[0]},
    {"FRQS5", &FRQS[1]}, {"FRQC1", &FRQC[0]},  {"FRQC2", &FRQC[1]},   {"FRQC5b", &FRQC[2]},
    {"FRQC6", &FRQC[3]}, {"FRQJ1", &FRQJ[0]},  {"FRQJ2", &FRQJ[1]},   {"FRQJ5", &FRQJ[2]},
    {"FRQJ6", &FRQJ[3]}, {"GM", &GM},          {"GMS", &GMS},         {"GMM", &GMM},
    {"AU", &AU},         {"AE", &AE},          {"J2", &J2},           {"CONRE", &CONRE},
    {"FACTEC", &FACTEC}, {"P0", &P0},          {"OMEGA", &OMEGA},     {"ET-UTC", &ETUTC},
    {"WGTPHA", &WGTPHA}, {"WGTCOD", &WGTCOD},  {"HREF", &HREF},       {"PREF", &PREF},
    {"TREF", &TREF},     {"HUMREF", &HUMREF},
};
static_assert(sizeof(kKeys) / sizeof(kKeys[0]) == 42);

double* findKey(std::string_view key6) {
  for (const ConstKey& k : kKeys) {
    if (rt::eqPadded(k.key, key6)) return k.var;
  }
  return nullptr;
}

}  // namespace

void DEFCON(int iRead) {
  pi = 4.0 * std::atan(1.0);
  degPerRad = 180.0 / pi;
  arcsecPerRad = degPerRad * 3600.0;

  DATTIM(runDate, runTime);

  if (iRead != 1) return;

  for (const ConstKey& k : kKeys) *k.var = 0.0;

  std::string fileName;
  int irc = 0;
  GTFLNA(1, "CONST", fileName, irc, kLineLen);

  // Read once: a FIFO serves, a device (/dev/zero) would give no end.
  CHKINPF(fileName, "DEFCON", InputReading::Once);
  int iostat = 0;
  OPNFIL(LFNRD, fileName, "OLD", "FORMATTED", "READONLY", " ", iostat);
  OPNERR(LFNMSG, LFNRD, iostat, fileName, "DEFCON");

  for (;;) {
    std::string key(6, ' ');
    std::string text(16, ' ');
    int ios = rt::readFmtUnit(LFNRD, "(A6,3X,A16)", {rt::FTarget(key, 6), rt::FTarget(text, 16)});
    if (ios == rt::kIoEnd) break;
    if (ios != 0) {
      throw rt::IoFailure(rt::trimRight(fileName), "read", "status " + std::to_string(ios));
    }
    double* var = findKey(key);
    if (var == nullptr) continue;
    rt::FreeRead rd = rt::readFree(text, {rt::FreeTarget(*var)});
    if (rd.iostat == rt::kIoConversion) {
      rt::writeFmt(LFNMSG,
                   "(/,' *** SR DEFCON: ERROR DECODING DATA ON THE ','FOLLOWING LINE:',/,1X,A6,3X,"
                   "A16,/)",
                   {key, text});
      EXITRC(2);
    }
    if (!rd.ok()) {
      // A known key with nothing to read in its value columns.
      throw rt::IoFailure(rt::trimRight(fileName), "read",
                          "no value for key " + rt::trimRight(key));
    }
  }

  // Divisions by a missing (zero) C, FREQ1 or FREQ2 give infinities or NaN
  // as they stand; nothing in the program reads these tables.
  const double wl1 = C / FREQ[0];
  const double wl2 = C / FREQ[1];
  refWavelength[0] = wl1;
  refWavelength[1] = wl2;
  refWavelength[2] = wl1 * wl2 / (wl2 + wl1);
  refWavelength[3] = wl1 - wl2;
  refWavelength[4] = wl1 * wl2 / (wl2 - wl1);
  for (int k = 0; k < kSatSlotsFilled; ++k) {
    satFrequency[k][0] = FREQ[0];
    satFrequency[k][1] = FREQ[1];
    satWavelength[k] = refWavelength;
  }
  constantsRead = 1;
  rt::closeUnit(LFNRD);
}
