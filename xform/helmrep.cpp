// The Helmert transformation report and the list of rejected stations.
#include "xform/helmrep.h"

#include <cmath>
#include <limits>

#include "frame/constants.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/opnfil.h"
#include "frame/radgms.h"
#include "frame/readkeys.h"
#include "frame/runid.h"
#include "frame/widths.h"
#include "runtime/format.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

// A value that cannot be printed as a number (an overflow) fills its field
// with asterisks, like a number too wide for it.
double shown(double x) {
  return std::isfinite(x) ? x : std::copysign(std::numeric_limits<double>::max(), x);
}

std::string oneChar(char c) { return std::string(1, c); }

// The numbers of accepted and rejected stations under the head `headFmt`,
// then one line per rejected station with its residual in millimetres: on
// the report and on the list file alike.
void writeRejectedStations(int unit, std::string_view headFmt, const HelmRejections& r) {
  rt::writeFmt(unit, headFmt, {r.accepted, r.rejected});
  for (std::size_t i = 0; i < r.names.size(); ++i) {
    const double* v = &r.residuals[3 * i];
    rt::writeFmt(unit, "(1X,A16,4X,4X,3(F10.2))",
                 {rt::fit(r.names[i], kStationNameLen), shown(v[0] * 1000.0),
                  shown(v[1] * 1000.0), shown(v[2] * 1000.0)});
  }
}

// The list file's name, the whole value: a path cut to fewer characters
// would name, and could delete, another file. False: no name given.
bool rejectedListName(std::string& name) {
  int irc = 0;
  GTFLNA(0, "LISTFIL", name, irc, kLineLen);
  return irc == 0;
}

}  // namespace

bool openRejectedList() {
  std::string listFile;
  if (!rejectedListName(listFile)) return false;
  // A result file: it replaces the old list once written and closed.
  int iostat = 0;
  OPNFIL(LFNRD, listFile, "UNKNOWN", "FORMATTED", " ", " ", iostat, rt::FileRole::Result);
  OPNERR(LFNMSG, LFNRD, iostat, listFile, "HELMTR");
  return true;
}

void writeRejectedList(const HelmRejections& rejections, const double* rmsCmp) {
  rt::writeFmt(LFNRD, "(A,/,80('-'))", {rt::fit(runTitle, kTitleLen)});
  writeRejectedStations(LFNRD,
                        "(/,' Number of accepted stations :',I8,/,' Number of rejected stations "
                        ":',I8,/,/,/,' List of rejected stations',/,' "
                        "-------------------------',/,/,' Station',24X,'Residuals "
                        "(millimeters)',/,'        ',24X,' N         E         U',/,' ')",
                        rejections);
  rt::writeFmt(LFNRD, "(/,' RMS of accepted stations',3F10.2,/,1X)",
               {shown(rmsCmp[0] * 1000.0), shown(rmsCmp[1] * 1000.0), shown(rmsCmp[2] * 1000.0)});
  rt::closeUnit(LFNRD, rt::Disp::Keep);
}

void removeRejectedList() {
  std::string listFile;
  if (!rejectedListName(listFile)) return;
  // Remove a list left by an earlier run. That needs no new file beside
  // it: the list is opened where it stands.
  int iostat = 0;
  OPNFIL(LFNRD, listFile, "UNKNOWN", "FORMATTED", " ", " ", iostat);
  OPNERR(LFNMSG, LFNRD, iostat, listFile, "HELMTR");
  rt::closeUnit(LFNRD, rt::Disp::Delete);
}

HelmReport::HelmReport(int printUnit, int iPrt, helm::ResidualSystem system,
                       helm::ResidualUnit unit)
    : unit_(printUnit),
      iPrt_(iPrt),
      system_(system),
      unitOf_(unit),
      factor_(unit == helm::ResidualUnit::Millimetres ? 1000.0 : 1.0),
      unitText_(unit == helm::ResidualUnit::Millimetres ? "MM " : "M  ") {}

void HelmReport::tooManyParameters(int nPar, int nUsed) const {
  rt::writeFmt(unit_,
               "(/,' *** SR HELMTR: TOO MANY PARAMETERS TO ESTIMATE',/,16X,'NUMBER OF "
               "PARAMETERS:',I7,/,16X,'NUMBER OF STATIONS  :',I7,/)",
               {nPar, nUsed});
}

void HelmReport::head(std::string_view title1, std::string_view title2,
                      std::string_view datumName) const {
  if (iPrt_ >= 1) {
    rt::writeFmt(unit_, "(' FILE 1: ',A71,/,' FILE 2: ',A71,/)",
                 {rt::fit(title1, 71), rt::fit(title2, 71)});
  }
  if (iPrt_ < 2) return;
  if (system_ == helm::ResidualSystem::Local) {
    rt::writeFmt(unit_,
                 "(' LOCAL GEODETIC DATUM: ',A16,/,' RESIDUALS IN LOCAL SYSTEM (NORTH, EAST, "
                 "UP)',/)",
                 {rt::fit(datumName, kDatumNameLen)});
  } else if (system_ == helm::ResidualSystem::Equatorial) {
    rt::writeFmt(unit_,
                 "(' TRANSFORMATION IN EQUATORIAL SYSTEM (X, Y, Z): ',/,' RESIDUALS IN LOCAL "
                 "SYSTEM (NORTH, EAST, UP)',/)");
  }
  if (millimetres()) {
    rt::writeFmt(unit_,
                 "(/,/,1X,69('-'),/,' | NUM |      NAME        | FLG |     ','RESIDUALS IN "
                 "MILLIMETERS','   |   |',/,1X,69('-'))");
  } else {
    rt::writeFmt(unit_,
                 "(/,/,1X,69('-'),/,' | NUM |      NAME        | FLG |       ','RESIDUALS IN "
                 "METERS ','     |   |',/,1X,69('-'))");
  }
  rt::writeFmt(unit_, "(1X,'|',5X,'|',18X,'|',5X,'|',32X,'|','   |')");
}

void HelmReport::stationRow(std::string& rows, int number, const t_staName& name, char flag1,
                            char flag2, const double* v, helm::Handling code) const {
  if (iPrt_ < 2) return;
  // One row per station: the items go straight to the writer, nothing is
  // allocated once `rows` has grown.
  const char* marker = code == helm::kUsed ? " " : (code == helm::kRejected ? "*" : "M");
  const std::string_view flg1(&flag1, 1);
  const std::string_view flg2(&flag2, 1);
  const std::string_view fmt =
      millimetres() ? "(' | ',I3,' | ',A16,' | ',A1,1X,A1,' | ',3F10.2,' | ',A1,' |')"
                    : "(' | ',I3,' | ',A16,' | ',A1,1X,A1,' | ',3F10.4,' | ',A1,' |')";
  rt::appendRecords(rows, fmt,
                    {number, name, flg1, flg2, shown(v[0] * factor_), shown(v[1] * factor_),
                     shown(v[2] * factor_), marker});
}

void HelmReport::writeRows(std::string_view rows) const {
  if (iPrt_ < 2) return;
  rt::writeRecords(unit_, rows);
}

void HelmReport::tableFoot() const {
  if (iPrt_ < 2) return;
  rt::writeFmt(unit_, "(1X,'|',5X,'|',18X,'|',5X,'|',32X,'|','   |')");
  rt::writeFmt(unit_, "(1X,69('-'))");
}

void HelmReport::statistics(const double* rms, const double* mean, const double* minimum,
                            const double* maximum) const {
  if (iPrt_ < 1) return;
  const char* labels[4] = {"RMS / COMPONENT ", "MEAN            ", "MIN             ",
                           "MAX             "};
  const double* values[4] = {rms, mean, minimum, maximum};
  for (int row = 0; row < 4; ++row) {
    const rt::FItems items = {labels[row], shown(values[row][0] * factor_),
                              shown(values[row][1] * factor_), shown(values[row][2] * factor_)};
    if (millimetres()) {
      rt::writeFmt(unit_, "(' | ',3X,' | ',A16,' | ',3X,' | ',3F10.2,' | ',1X,' |')", items);
    } else {
      rt::writeFmt(unit_, "(' | ',3X,' | ',A16,' | ',3X,' | ',3F10.4,' | ',1X,' |')", items);
    }
  }
  rt::writeFmt(unit_, "(1X,69('-'))");
}

void HelmReport::counts(int nParam, int nCoord, double sigma0) const {
  if (iPrt_ < 1) return;
  const rt::FItems items = {nParam, nCoord, shown(sigma0 * factor_), unitText_};
  if (millimetres()) {
    rt::writeFmt(unit_,
                 "(/,/,' NUMBER OF PARAMETERS  :',I6,/,' NUMBER OF COORDINATES :',I6,/,' RMS OF "
                 "TRANSFORMATION :',F8.2,1X,A)",
                 items);
  } else {
    rt::writeFmt(unit_,
                 "(/,/,' NUMBER OF PARAMETERS  :',I6,/,' NUMBER OF COORDINATES :',I6,/,' RMS OF "
                 "TRANSFORMATION :',F11.4,1X,A)",
                 items);
  }
}

void HelmReport::barycentre(double lat, double lon, double hgt) const {
  if (iPrt_ < 1) return;
  char latSign = ' ', lonSign = ' ';
  int latDeg = 0, latMin = 0, lonDeg = 0, lonMin = 0;
  double latSec = 0.0, lonSec = 0.0;
  RADGMS(1, lat, latSign, latDeg, latMin, latSec);
  RADGMS(1, lon, lonSign, lonDeg, lonMin, lonSec);
  rt::writeFmt(unit_,
               "(/,' BARYCENTER COORDINATES:',/,/,' LATITUDE              :  ',A1,2I3,F6.2,/,' "
               "LONGITUDE             :  ',A1,2I3,F6.2,/,' HEIGHT                :  ',F14.3,' "
               "KM')",
               {oneChar(latSign), latDeg, latMin, shown(latSec), oneChar(lonSign), lonDeg, lonMin,
                shown(lonSec), shown(hgt * 0.001)});
}

void HelmReport::parameterHead() const {
  if (iPrt_ < 1) return;
  rt::writeFmt(unit_, "(/,/,' PARAMETERS:',/)");
}

void HelmReport::parameterLine(int k, double value, double error) const {
  if (iPrt_ < 1) return;
  const char* axes = system_ == helm::ResidualSystem::Local ? "NEU" : "XYZ";
  if (k < 3) {
    const rt::FItems items = {oneChar(axes[k]), shown(value * factor_), shown(error * factor_),
                              unitText_};
    if (millimetres()) {
      rt::writeFmt(unit_, "(' TRANSLATION IN  ',A1,'     :',F15.2,'     +-',F6.2,4X,A)", items);
    } else {
      rt::writeFmt(unit_, "(' TRANSLATION IN  ',A1,'     :',F17.4,'   +-',F8.4,2X,A)", items);
    }
  } else if (k < 6) {
    char sign = ' ';
    int deg = 0, min = 0;
    double sec = 0.0;
    RADGMS(1, value, sign, deg, min, sec);
    rt::writeFmt(unit_, R"((' ROTATION AROUND ',A1,'-AXIS:',2X,A1,2I3,F10.6,' +-',F10.6,' "'))",
                 {oneChar(axes[k - 3]), oneChar(sign), deg, min, shown(sec),
                  shown(error * arcsecPerRad)});
  } else {
    rt::writeFmt(unit_, "(' SCALE FACTOR',10X,':',F18.5,'  +-',F9.5,' MM/KM')",
                 {shown((value - 1.0) * 1.0e6), shown(error * 1.0e6)});
  }
}

void HelmReport::iterations(int count) const {
  if (iPrt_ < 1) return;
  rt::writeFmt(unit_, "(/,/,' NUMBER OF ITERATIONS  :',I6,/)", {count});
}

void HelmReport::rejection(const HelmRejections& rejections) const {
  if (rejections.rejected == 0) {
    rt::writeFmt(unit_, "(//,' NO OUTLIER DETECTED',/)");
    return;
  }
  writeRejectedStations(unit_,
                        "(/,' ACCEPTED STATIONS     :',I6,/,' REJECTED STATIONS     :',I6,/,/,/,"
                        "' LIST OF REJECTED STATIONS',/,' -------------------------',/,/,' "
                        "STATION',24X,'RESIDUALS (MILLIMETERS)',/,'        ',24X,' N         E "
                        "        U',/,' ')",
                        rejections);
  rt::writeFmt(unit_, "(1X)");
}
