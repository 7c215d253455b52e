// Station velocities and epoch propagation.
#include "stations/gtvelo.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/readkeys.h"
#include "runtime/format.h"
#include "runtime/text.h"
#include "stations/getco3.h"
#include "stations/pltmov.h"

namespace {

constexpr double kVelocityLimit = 10.0;  // m/year
constexpr double kDaysPerYear = 365.25;

// First entry of each name among the first n names.
std::unordered_map<std::string, int> indexByName(const std::vector<std::string>& names, int n) {
  std::unordered_map<std::string, int> index;
  index.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) index.emplace(rt::fit(names[i], 16), i);
  return index;
}

void fromVelocityFile(const std::string& velFile, int nFlag, const std::vector<std::string>& flags,
                      int nStat, const std::vector<std::string>& stname,
                      std::vector<std::array<double, 3>>& XVEL, std::vector<std::string>& VELFLG,
                      std::vector<bool>& VFOUND) {
  int nVel = 0;
  std::vector<std::string> velName;
  std::vector<int> velNum;
  std::vector<std::array<double, 3>> vel;
  std::vector<std::string> velFlg;
  GETCO3(velFile, 1, {"@"}, nVel, velName, {.stanum = &velNum, .xstat = &vel, .staflg = &velFlg});

  const auto index = indexByName(velName, nVel);
  for (int i = 0; i < nStat; ++i) {
    const auto hit = index.find(rt::fit(stname[i], 16));
    if (hit == index.end()) continue;
    const int j = hit->second;
    if (!flagSelected(nFlag, flags, velFlg[j][0])) continue;
    for (int k = 0; k < 3; ++k) {
      if (std::fabs(vel[j][k]) > kVelocityLimit) {
        rt::writeFmt(LFNMSG, "(/,A,/,16X,A,A,/)",
                     {" *** SR GTVELO: ERROR: VELOCITY ", "LARGER 10 M (!) FOUND FOR STATION: ",
                      rt::fit(stname[i], 16)});
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
                   const std::vector<std::string>& stname, std::vector<std::array<double, 3>>& XVEL,
                   std::vector<std::string>& VELFLG, std::vector<bool>& VFOUND) {
  int nPlt = 0;
  std::vector<std::string> pltName;
  std::vector<std::string> plate;
  GETCO3(plateFile, 1, {"@"}, nPlt, pltName, {.plate = &plate});

  const auto index = indexByName(pltName, nPlt);
  for (int i = 0; i < nStat; ++i) {
    const auto hit = index.find(rt::fit(stname[i], 16));
    if (hit == index.end()) continue;
    const std::string& code = plate[hit->second];
    double x1, y1, z1, vx, vy, vz;
    const auto& x = xstat[i];
    if (iModel == 0) {
      PLTMOV(code, 1.0, x[0], x[1], x[2], 2.0, x1, y1, z1, vx, vy, vz);
    } else {
      PLTMV2(code, 1.0, x[0], x[1], x[2], 2.0, x1, y1, z1, vx, vy, vz);
    }
    if (x1 == 0.0 && y1 == 0.0 && z1 == 0.0) {
      rt::writeFmt(LFNMSG, "(/,A,A,/,16X,A,A,/)",
                   {" *** SR GTVELO: PLATENAME ", rt::fit(code, 4), "WAS NOT FOUND FOR STATION: ",
                    rt::fit(stname[i], 16)});
      EXITRC(2);
    }
    XVEL[i] = {vx, vy, vz};
    VELFLG[i].assign(1, 'V');
    VFOUND[i] = true;
  }
}

}  // namespace

void GTVELO(std::string_view keyWord, int iModel, int nFlag, const std::vector<std::string>& flags,
            int nStat, const std::vector<std::array<double, 3>>& xstat,
            const std::vector<std::string>& stname, std::vector<std::array<double, 3>>& XVEL,
            std::vector<std::string>& VELFLG, std::vector<bool>& VFOUND, int& irc) {
  nStat = std::max(nStat, 0);
  const auto size = static_cast<std::size_t>(nStat);
  if (XVEL.size() < size) XVEL.resize(size);
  if (VELFLG.size() < size) VELFLG.resize(size, " ");
  if (VFOUND.size() < size) VFOUND.resize(size);

  irc = 1;
  for (int i = 0; i < nStat; ++i) {
    XVEL[i] = {0.0, 0.0, 0.0};
    VFOUND[i] = false;
  }

  std::string velFile(255, ' ');
  std::string plateFile(255, ' ');
  int ircVel = 1;
  int ircPlt = 1;
  if (!rt::isBlank(keyWord)) {
    GTFLNA(0, keyWord, velFile, ircVel, 255);
  } else {
    GTFLNA(0, "FIXVEL", velFile, ircVel, 255);
    GTFLNA(0, "VELTRN", plateFile, ircPlt, 255);
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
