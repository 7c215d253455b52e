// Station velocities and epoch propagation.
#include "stations/gtvelo.h"

#include <algorithm>
#include <cmath>

#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/readkeys.h"
#include "frame/widths.h"
#include "runtime/format.h"
#include "runtime/text.h"
#include "runtime/textindex.h"
#include "stations/getco3.h"
#include "stations/pltmov.h"

namespace {

constexpr double kVelocityLimit = 10.0;  // m/year
constexpr double kDaysPerYear = 365.25;

void fromVelocityFile(const std::string& velFile, int nFlag, const std::vector<std::string>& flags,
                      int nStat, const std::vector<t_staName>& stname,
                      std::vector<std::array<double, 3>>& XVEL, std::vector<char>& VELFLG,
                      std::vector<bool>& VFOUND) {
  int nVel = 0;
  std::vector<t_staName> velName;
  std::vector<int> velNum;
  std::vector<std::array<double, 3>> vel;
  std::vector<char> velFlg;
  GETCO3(velFile, 1, {"@"}, nVel, velName, {.stanum = &velNum, .xstat = &vel, .staflg = &velFlg});

  const auto index = nameIndex(velName, nVel);
  for (int i = 0; i < nStat; ++i) {
    const std::ptrdiff_t j = index.find(stname[i]);
    if (j < 0) continue;
    if (!flagSelected(nFlag, flags, velFlg[j])) continue;
    for (int k = 0; k < 3; ++k) {
      if (std::fabs(vel[j][k]) > kVelocityLimit) {
        rt::writeFmt(LFNMSG, "(/,A,/,16X,A,A,/)",
                     {" *** SR GTVELO: ERROR: VELOCITY ", "LARGER 10 M (!) FOUND FOR STATION: ",
                      stname[i]});
        EXITRC(2);
      }
      XVEL[i][k] = vel[j][k];
    }
    VELFLG[i] = velFlg[j];
    VFOUND[i] = true;
  }
}

void fromPlateFile(const std::string& plateFile, int iModel, int nStat,
                   const std::vector<std::array<double, 3>>& xstat,
                   const std::vector<t_staName>& stname, std::vector<std::array<double, 3>>& XVEL,
                   std::vector<char>& VELFLG, std::vector<bool>& VFOUND) {
  int nPlt = 0;
  std::vector<t_staName> pltName;
  std::vector<t_plateName> plate;
  GETCO3(plateFile, 1, {"@"}, nPlt, pltName, {.plate = &plate});

  const auto index = nameIndex(pltName, nPlt);
  for (int i = 0; i < nStat; ++i) {
    const std::ptrdiff_t hit = index.find(stname[i]);
    if (hit < 0) continue;
    const t_plateName& code = plate[hit];
    double x1, y1, z1, vx, vy, vz;
    const auto& x = xstat[i];
    if (iModel == 0) {
      PLTMOV(code, 1.0, x[0], x[1], x[2], 2.0, x1, y1, z1, vx, vy, vz);
    } else {
      PLTMV2(code, 1.0, x[0], x[1], x[2], 2.0, x1, y1, z1, vx, vy, vz);
    }
    if (x1 == 0.0 && y1 == 0.0 && z1 == 0.0) {
      rt::writeFmt(LFNMSG, "(/,A,A,/,16X,A,A,/)",
                   {" *** SR GTVELO: PLATENAME ", code, "WAS NOT FOUND FOR STATION: ", stname[i]});
      EXITRC(2);
    }
    XVEL[i] = {vx, vy, vz};
    VELFLG[i] = 'V';
    VFOUND[i] = true;
  }
}

}  // namespace

void GTVELO(std::string_view keyWord, int iModel, int nFlag, const std::vector<std::string>& flags,
            int nStat, const std::vector<std::array<double, 3>>& xstat,
            const std::vector<t_staName>& stname, std::vector<std::array<double, 3>>& XVEL,
            std::vector<char>& VELFLG, std::vector<bool>& VFOUND, int& irc) {
  nStat = std::max(nStat, 0);
  const auto size = static_cast<std::size_t>(nStat);
  // No velocity and nothing found: entries already there are reset, the
  // entries added to a shorter array come with these values.
  for (std::size_t i = 0; i < std::min(size, XVEL.size()); ++i) XVEL[i] = {0.0, 0.0, 0.0};
  for (std::size_t i = 0; i < std::min(size, VFOUND.size()); ++i) VFOUND[i] = false;
  if (XVEL.size() < size) XVEL.resize(size, {0.0, 0.0, 0.0});
  if (VELFLG.size() < size) VELFLG.resize(size, ' ');
  if (VFOUND.size() < size) VFOUND.resize(size, false);

  irc = 1;

  std::string velFile(kLineLen, ' ');
  std::string plateFile(kLineLen, ' ');
  int ircVel = 1;
  int ircPlt = 1;
  if (!rt::isBlank(keyWord)) {
    GTFLNA(0, keyWord, velFile, ircVel, kLineLen);
  } else {
    GTFLNA(0, "FIXVEL", velFile, ircVel, kLineLen);
    GTFLNA(0, "VELTRN", plateFile, ircPlt, kLineLen);
  }
  if (ircVel != 0 && ircPlt != 0) return;
  irc = 0;

  if (ircVel == 0) {
    fromVelocityFile(velFile, nFlag, flags, nStat, stname, XVEL, VELFLG, VFOUND);
  } else {
    fromPlateFile(plateFile, iModel, nStat, xstat, stname, XVEL, VELFLG, VFOUND);
  }
}

void CRDVEL(int nStat, std::vector<std::array<double, 3>>& xstat,
            const std::vector<std::array<double, 3>>& XVEL, const std::vector<bool>& VFOUND,
            double epochIn, double epochRef) {
  if (epochRef == 0.0 && epochIn == 0.0) {
    rt::writeFmt(LFNMSG, "(/,A,2(/,16X,A),/)",
                 {" *** SR CRDVEL: WARNING: REFERENCE EPOCH AND", "INPUT EPOCH IS ZERO",
                  "VELOCIITIES ARE NOT APPLIED"});
    return;
  }
  if (epochRef == 0.0) {
    rt::writeFmt(LFNMSG, "(/,A,/)", {" *** SR CRDVEL: REFERENCE EPOCH IS ZERO"});
    EXITRC(2);
  }
  if (epochIn == 0.0) {
    rt::writeFmt(LFNMSG, "(/,A,/)", {" *** SR CRDVEL: INPUT EPOCH IS ZERO"});
    EXITRC(2);
  }
  const double dt = epochIn - epochRef;
  for (int i = 0; i < nStat; ++i) {
    if (!VFOUND[i]) continue;
    for (int k = 0; k < 3; ++k) xstat[i][k] = xstat[i][k] + XVEL[i][k] * dt * (1.0 / kDaysPerYear);
  }
}
