// Run timers and the end-of-run report.
#include "frame/cpu.h"

#include <cmath>
#include <string>

#include "frame/m_vand.h"
#include "frame/mjd.h"
#include "frame/runid.h"
#include "frame/widths.h"
#include "runtime/format.h"
#include "runtime/process.h"
#include "runtime/text.h"

namespace M_CPU {
double cpuStart = 0.0;
double wallStart = 0.0;
double cpuLast = 0.0;
double wallLast = 0.0;
}  // namespace M_CPU

namespace {

constexpr double notStarted = 1.0e20;
constexpr double perMinute = 1.0 / 60.0;
constexpr double perHour = 1.0 / 24.0;
constexpr double perSecondOfDay = 1.0 / 86400.0;

// Local date and time now as a Modified Julian Date (local time, the offset
// from UTC is not applied).
double wallClock() {
  std::array<int, 8> v{};
  DATVAL(v);
  const double day =
      v[2] + (v[4] + (v[5] + (v[6] + v[7] * 0.001) * perMinute) * perMinute) * perHour;
  return CALMJD(v[0], v[1], day);
}

std::string timeText(double days) { return rt::trimRight(CPUFMT(days)); }

}  // namespace

void CPUBEG(int mode) {
  using namespace M_CPU;
  cpuStart = notStarted;
  wallStart = notStarted;
  if ((mode & 1) != 0) {
    cpuStart = rt::cpuSeconds();
    wallStart = wallClock();
    cpuLast = cpuStart;
    wallLast = wallStart;
  }
}

void CPUMARK(std::string_view label) {
  using namespace M_CPU;
  if (cpuStart == notStarted) return;
  const double cpuNow = rt::cpuSeconds();
  const double wallNow = wallClock();
  if (!rt::isBlank(programName)) {
    const std::string line = ">>> CPU/Real time at \"" + rt::trimRight(label) + "\": " +
                             timeText((cpuNow - cpuStart) * perSecondOfDay) + " / " +
                             timeText(wallNow - wallStart) + "  ( " +
                             timeText((cpuNow - cpuLast) * perSecondOfDay) + " / " +
                             timeText(wallNow - wallLast) + " )";
    rt::writeFmt(6, "(/,A,/)", {rt::trimRight(rt::fit(line, kLineLen))});
  }
  cpuLast = cpuNow;
  wallLast = wallNow;
}

void CPUEND(int retCode) {
  using namespace M_CPU;
  if (cpuStart == notStarted) return;
  const double cpuNow = rt::cpuSeconds();
  const double wallNow = wallClock();
  if (rt::isBlank(programName)) return;
  const std::string line = rt::trimRight(rt::fit(
      ">>> CPU/Real time for pgm \"" + rt::trimRight(programName) + "\": " +
          timeText((cpuNow - cpuStart) * perSecondOfDay) + " / " + timeText(wallNow - wallStart),
      kMessageLineLen));
  rt::writeFmt(6, "(/,A,/)", {line});
  rt::writeFmt(LFNOUT, "(//,A)", {std::string(65, '-')});
  rt::writeFmt(LFNOUT, "(A)", {line});
  const char* verdict = (retCode == 0 || retCode == 1) ? ">>> Program finished successfully"
                                                       : ">>> Program ended with an error";
  rt::writeFmt(LFNOUT, "(A,/)", {verdict});
}

std::string CPUFMT(double days) {
  // A negative duration (the local clock set back during the run) shows as 0.
  const double span = (days > 0.0) ? days : 0.0;
  const double s = span * 86400.0 + 0.000001;
  const double h = std::trunc(s / 3600.0);
  const double m = std::trunc((s - 3600.0 * h) / 60.0);
  double sec = s - 3600.0 * h - 60.0 * m - 0.000001;
  if (sec < 0.0) sec = 0.0;

  const char* fmt = nullptr;
  std::size_t secColumn = 0;  // first column of the seconds field, from 0
  if (h < 10.0) {
    fmt = "(I1,\":\",I2.2,\":\",F6.3)";
    secColumn = 5;
  } else if (h < 100.0) {
    fmt = "(I2,\":\",I2.2,\":\",F6.3)";
    secColumn = 6;
  } else {
    fmt = "(I3,\":\",I2.2,\":\",F6.3)";
    secColumn = 7;
  }
  // Hours beyond the integer range cannot fit I3 either; they still show as
  // asterisks.
  const long long hours = (h < 1.0e15) ? static_cast<long long>(h) : 1000000000000000LL;
  std::string text =
      rt::formatText(fmt, {hours, static_cast<long long>(m), sec}, 13);
  if (text[secColumn] == ' ') text[secColumn] = '0';
  return text;
}
