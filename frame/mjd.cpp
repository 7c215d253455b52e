// Modified Julian Date, calendar and clock.
#include "frame/mjd.h"

#include <cmath>

#include "runtime/format.h"
#include "runtime/process.h"

double CALMJD(int year, int month, double day) {
  int y = year;
  int m = month;
  if (m <= 2) {
    y = y - 1;
    m = m + 12;
  }
  const int a = y / 100;
  const int b = 2 - a + a / 4;  // Gregorian correction
  const double days = (std::trunc(365.25 * y) - 679006.0) + std::trunc(30.6001 * (m + 1));
  return days + (b + day);
}

void MJDCAL(double mjd, int& year, int& month, double& day) {
  const double f = REMAIND(mjd, 1.0);
  const double z = mjd + 1.0 - f + 2400000.0;
  const double alpha = std::trunc((z - 1867216.25) * 2.7379070069885075e-05);
  const double b = z + 1.0 + alpha - std::trunc(alpha / 4.0) - 1720995.0;
  const double c = std::trunc((b - 122.1) / 365.25);
  const double d = std::trunc(365.25 * c);
  const double e = std::trunc((b - d) / 30.6001);
  day = std::round(b - d - std::trunc(30.6001 * e)) + f;
  month = static_cast<int>(e > 13.0 ? e - 13.0 : e - 1.0);
  year = static_cast<int>(month <= 2 ? c + 1.0 : c);
}

int FULLYR(int year) {
  int full = year;
  if (full < 60) full += 2000;
  if (full < 100) full += 1900;
  return full;
}

double REMAIND(double x, double y) { return x - std::trunc(x / y) * y; }

void DATVAL(std::array<int, 8>& values) { values = rt::localClock(); }

void DATTIM(std::string& date, std::string& time) {
  static const char* const monthNames[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                             "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  std::array<int, 8> v{};
  DATVAL(v);
  const int month = v[1];
  const std::string name = (month >= 1 && month <= 12) ? monthNames[month - 1] : "   ";
  date = rt::formatText("(I2.2,'-',A3,'-',I2.2)", {v[2], name, v[0] % 100}, 9);
  time = rt::formatText("(I2.2,':',I2.2)", {v[4], v[5]}, 5);
}
