// Angle and time-of-day splitting.
#include "frame/radgms.h"

#include <algorithm>
#include <cmath>

#include "frame/constants.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/mjd.h"
#include "runtime/format.h"

namespace {

// Integer part of a value, saturated to the integer range.
int wholePart(double x) {
  const double t = std::trunc(x);
  if (!(t > -2147483648.0)) return (t < 0.0) ? -2147483647 - 1 : 0;
  if (t > 2147483647.0) return 2147483647;
  return static_cast<int>(t);
}

}  // namespace

void RADGMS(int mode, double angle, char& signChr, int& iDeg, int& iMin, double& sec) {
  static int kind = 0;
  static double eps = 0.0;
  static double x = 0.0;
  static double u = 0.0;

  if (mode < 10) {
    kind = mode;
    eps = 1.0e-6;
  } else {
    kind = mode % 10;
    eps = 1.0e-14;
  }

  switch (kind) {
    case 0:
      x = std::fabs(angle) * 43200.0 / pi + eps;
      u = 60.0;
      break;
    case 1:
      x = std::fabs(angle) * 648000.0 / pi + eps;
      u = 60.0;
      break;
    case 2:
      x = std::fabs(angle) * 2000000.0 / pi + eps;
      u = 100.0;
      break;
    case 3:
      x = REMAIND(angle, 1.0) * 86400.0 + eps;
      u = 60.0;
      break;
    default:
      rt::writeFmt(LFNMSG,
                   "(/,' *** SR RADGMS: ILLEGAL TRANSFORMATION TYPE',/,16X,'TRANS. TYPE:',I2,/)",
                   {kind});
      EXITRC(2);
  }

  iDeg = wholePart(x / (u * u));
  const double r = x - iDeg * u * u;
  iMin = wholePart(r / u);
  sec = std::max(r - u * iMin - eps, 0.0);

  if (kind != 3) signChr = (0.0 > angle) ? '-' : ' ';
}
