// Ellipsoidal and local coordinates.
#include "stations/ellips.h"

#include <cmath>

#include "frame/m_vand.h"
#include "runtime/format.h"
#include "stations/algebra.h"
#include "stations/gjinv.h"

namespace {

// Rows north, east, up (iSig < 0) or their transpose (iSig >= 0), for the
// case where the Jacobian or the scale matrix cannot be inverted.
void unitVectorMatrix(double lat, double lon, bool toNeu, double* m) {
  const double sp = std::sin(lat), cp = std::cos(lat);
  const double sl = std::sin(lon), cl = std::cos(lon);
  const double rows[3][3] = {{-sp * cl, -sp * sl, cp}, {-sl, cl, 0.0}, {cp * cl, cp * sl, sp}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[3 * j + i] = toNeu ? rows[i][j] : rows[j][i];
}

}  // namespace

void XYZELL(double aEll, double bEll, const double* dxEll, const double* drEll, double scEll,
            const double* xyz, double* ell) {
  // Remove the datum's shift, scale and rotation.
  double x[3];
  for (int k = 0; k < 3; ++k) x[k] = (xyz[k] - dxEll[k]) / scEll;
  const double c1 = std::cos(drEll[0]), s1 = std::sin(drEll[0]);
  const double c2 = std::cos(drEll[1]), s2 = std::sin(drEll[1]);
  const double c3 = std::cos(drEll[2]), s3 = std::sin(drEll[2]);
  double d[9];
  // Column by column: rows (c2c3, c3s1s2 + s3c1, s1s3 - c1c3s2),
  // (-c2s3, c1c3 - s1s2s3, c1s2s3 + c3s1), (s2, -s1c2, c1c2).
  d[0] = c2 * c3;
  d[1] = -c2 * s3;
  d[2] = s2;
  d[3] = c3 * s1 * s2 + s3 * c1;
  d[4] = c1 * c3 - s1 * s2 * s3;
  d[5] = -s1 * c2;
  d[6] = s1 * s3 - c1 * c3 * s2;
  d[7] = c1 * s2 * s3 + c3 * s1;
  d[8] = c1 * c2;
  MTVEC3(x, d, x);
  const double xx = x[0], yy = x[1], zz = x[2];

  const double a = aEll;
  const double e2 = (a * a - bEll * bEll) / (a * a);
  const double bigP = std::sqrt(yy * yy + xx * xx);
  const double lon = (bigP != 0.0) ? std::atan2(yy, xx) : 0.0;

  const double p = (yy * yy + xx * xx) / (a * a);
  const double q = (1.0 - e2) / (a * a) * (zz * zz);
  const double e4 = e2 * e2;
  const double r = (q + p - e4) * (1.0 / 6.0);

  double lat;
  double hgt;
  if (r > 0.0 || std::isnan(r)) {
    const double s = e4 * p * q / (4.0 * r * r * r);
    const double t = std::pow(std::sqrt((s + 2.0) * s) + (s + 1.0), 1.0 / 3.0);
    const double u = (1.0 / t + (t + 1.0)) * r;
    const double v = std::sqrt(e4 * q + u * u);
    const double w = ((u + v) - q) * e2 / (2.0 * v);
    const double k = std::sqrt((u + v) + w * w) - w;
    const double dh = bigP * k / (e2 + k);
    lat = std::atan2(zz, dh);
    hgt = std::sqrt(zz * zz + dh * dh) * ((k + e2) - 1.0) / k;
  } else {
    if (zz * zz + bigP * bigP >= 1.0e-4) {
      rt::writeFmt(LFNMSG, "(/,A,/,16X,A,/,16X,A,/)",
                   {" ### SR XYZELL: HOW DID YOU GET THE SIGNAL?",
                    "Coordinate is in the near of geocenter!", "Approximation algorithm used."});
    }
    // Within a*e2 (about 43 km) of the geocentre the factor 1 - a*e2/rho is
    // negative; only its size is taken, so that the latitude stays within
    // +-90 degrees with the sign of z (the tangent's size is the same).
    const double rho = std::sqrt(xx * xx + yy * yy + zz * zz);
    hgt = rho - a;
    lat = (rho == 0.0) ? 0.0 : std::atan2(zz, std::fabs(1.0 - a * e2 / rho) * bigP);
  }
  ell[0] = lat;
  ell[1] = lon;
  ell[2] = hgt;
}

void NEUCART(double lat, double lon, double hgt, double aEll, double bEll, int iSig, double* xyz,
             double* neu, double* rotMat) {
  double jac[9];
  double scl[9];
  double help[3];
  int rowPiv[3];
  int colPiv[3];
  double regFlag = 1.0;

  const double e2 = (aEll * aEll - bEll * bEll) / (aEll * aEll);
  const double sp = std::sin(lat), cp = std::cos(lat);
  const double sl = std::sin(lon), cl = std::cos(lon);
  const double w = std::sqrt(1.0 - e2 * (sp * sp));
  const double mh = (1.0 - e2) * aEll / (w * w * w) + hgt;
  const double nh = (aEll / w + hgt) * cp;

  // Jacobian of X/Y/Z with respect to (lat, lon, hgt), column by column.
  jac[0] = -mh * sp * cl;
  jac[1] = -mh * sp * sl;
  jac[2] = mh * cp;
  jac[3] = -nh * sl;
  jac[4] = nh * cl;
  jac[5] = 0.0;
  jac[6] = cp * cl;
  jac[7] = cp * sl;
  jac[8] = sp;
  for (double& v : scl) v = 0.0;
  scl[0] = mh;
  scl[4] = nh;
  scl[8] = 1.0;

  if (iSig < 0) {
    GJINV(jac, 3, regFlag, rowPiv, colPiv);
    if (regFlag == 0.0) {
      unitVectorMatrix(lat, lon, true, rotMat);
    } else {
      MMUL33(scl, jac, rotMat);
    }
    MVEC33(xyz, rotMat, neu);
  } else {
    GJINV(scl, 3, regFlag, rowPiv, colPiv);
    if (regFlag == 0.0) {
      unitVectorMatrix(lat, lon, false, rotMat);
      MVEC33(neu, rotMat, xyz);
    } else {
      MVEC33(neu, scl, help);
      MVEC33(help, jac, xyz);
      MMUL33(jac, scl, rotMat);
    }
  }
}

void PROJDIR(const double* vec, const double* dirU, const double* dirV, double* comp) {
  double dirW[3];
  CROSS3(dirU, dirV, dirW);
  double dotU, dotV, dotW, normU, normV, normW, normVec;
  DOTNRM(vec, dirU, dotU, normVec, normU);
  DOTNRM(vec, dirV, dotV, normVec, normV);
  DOTNRM(vec, dirW, dotW, normVec, normW);
  comp[0] = (normU != 0.0) ? dotU / normU : 0.0;
  comp[1] = (normV != 0.0) ? dotV / normV : 0.0;
  comp[2] = (normW != 0.0) ? dotW / normW : 0.0;
}
