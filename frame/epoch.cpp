// Epoch text forms: reading and writing epochs (Modified Julian Dates) as text.
#include "frame/epoch.h"

#include <cmath>
#include <string>

#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "frame/mjd.h"
#include "frame/radgms.h"
#include "runtime/format.h"
#include "runtime/freeform.h"
#include "runtime/text.h"

namespace {

constexpr double noEpoch = 0.0;
constexpr double unsetEpoch = 1.0e20;
constexpr double perMinuteOfDay = 1.0 / 1440.0;
constexpr double perSecondOfDay = 1.0 / 86400.0;
constexpr double perHourOfDay = 1.0 / 24.0;

const char* const unknownFormFmt = "(/,A,A,I4,/,16X,A,/)";
const char* const unknownFormHint = "(only values between 1 and 3 are supported)";
const char* const tooShortFmt = "(/,A,A,2(/,16X,A,I4),/)";

[[noreturn]] void unknownForm(const char* head, int iForm) {
  rt::writeFmt(LFNMSG, unknownFormFmt,
               {head, "Unknown format identified: ", iForm, unknownFormHint});
  EXITRC(2);
}

[[noreturn]] void tooShort(const char* head, const char* what, std::size_t current,
                           int required) {
  rt::writeFmt(LFNMSG, tooShortFmt,
               {head, what, "Current  length of the string: ", static_cast<long long>(current),
                "Required length of the string: ", required});
  EXITRC(2);
}

[[noreturn]] void noFractionals(const char* fmt) {
  rt::writeFmt(LFNMSG, fmt,
               {" *** SR TIMST2: ", "The number of fractionals for the seconds",
                "in the resulting string is not specified.",
                "(required optional argument for format type 3)"});
  EXITRC(2);
}

[[noreturn]] void cannotExtract(std::string_view string) {
  rt::writeFmt(LFNMSG, "(/,A,/,16X,A,/)",
               {" *** SR ST2TIM: Cannot extract the datum/time.",
                "String: \"" + rt::trimRight(string) + "\""});
  EXITRC(2);
}

// Whether the fields are a date of the Gregorian calendar (leap years
// counted) and a time of day: month 1 to 12, a day of that month, hours 0
// to 23, minutes 0 to 59, seconds from 0 to below 60. The year is free.
bool isDateAndTime(int year, int month, int day, int hours, int minutes, double seconds) {
  if (month < 1 || month > 12) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int days = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day >= 1 && day <= days && hours >= 0 && hours <= 23 && minutes >= 0 && minutes <= 59 &&
         seconds >= 0.0 && seconds < 60.0;
}

// One epoch from its text: a text that is no date and time of day (a
// decimal year, say, whose month field reads 0) is refused like one that
// cannot be read.
void readOne(int iForm, std::string_view string, double& epoch, std::optional<int> nDec) {
  epoch = 0.0;
  if (rt::isBlank(string)) return;

  const char* head = " *** SR ST2TIM: ";
  const char* what = "The input string is too short.";
  if (iForm == 1 || iForm == 2) {
    if (string.size() < 19) tooShort(head, what, string.size(), 19);
  } else if (iForm == 3) {
    if (nDec && string.size() < static_cast<std::size_t>(*nDec + 20))
      tooShort(head, what, string.size(), *nDec + 20);
  } else {
    unknownForm(head, iForm);
  }

  int year = 0, month = 0, day = 0, hours = 0, minutes = 0;
  double seconds = 0.0;
  int status = 0;
  if (iForm != 3) {
    int wholeSeconds = 0;
    status = rt::readFmtText(string, "(I4,1X,I2,1X,I2,1X,I2,1X,I2,1X,I2)",
                             {year, month, day, hours, minutes, wholeSeconds});
    seconds = wholeSeconds;
  } else if (nDec) {
    const std::string fmt = "(I4,1X,I2,1X,I2,1X,I2,1X,I2,F" + std::to_string(*nDec + 4) + "." +
                            std::to_string(*nDec) + ")";
    status = rt::readFmtText(string, fmt, {year, month, day, hours, minutes, seconds});
  } else {
    status = rt::readFmtText(rt::columnRange(string, 1, 16), "(I4,1X,I2,1X,I2,1X,I2,1X,I2)",
                             {year, month, day, hours, minutes});
    if (status == 0) {
      const std::string_view rest = (string.size() > 16) ? string.substr(16) : std::string_view{};
      status = rt::readFree(rest, {seconds}).iostat;
    }
  }
  if (status != 0 || !isDateAndTime(year, month, day, hours, minutes, seconds))
    cannotExtract(string);

  const double d =
      ((minutes * perMinuteOfDay + seconds * perSecondOfDay) + hours * perHourOfDay) + day;
  epoch = CALMJD(year, month, d);
}

// Date and time of day of an epoch, with the seconds carried into the
// minutes, hours and date when they round up to a full minute.
struct Split {
  int year = 0;
  int month = 0;
  int day = 0;
  int hours = 0;
  int minutes = 0;
  double seconds = 0.0;
};

Split splitEpoch(double epoch, std::optional<int> nDec) {
  const double t = nDec ? epoch + std::pow(10.0, -(*nDec + 7)) : epoch + 1.0e-7;
  Split s;
  double dayOfMonth = 0.0;
  MJDCAL(t, s.year, s.month, dayOfMonth);
  char sign = ' ';
  RADGMS(3, dayOfMonth, sign, s.hours, s.minutes, s.seconds);
  s.day = static_cast<int>(std::trunc(dayOfMonth));
  return s;
}

void carryFullMinute(Split& s) {
  s.seconds = 0.0;
  if (++s.minutes < 60) return;
  s.minutes = 0;
  if (++s.hours < 24) return;
  s.hours = 0;
  const double nextDay = CALMJD(s.year, s.month, static_cast<double>(s.day)) + 1.0;
  double dayOfMonth = 0.0;
  MJDCAL(nextDay + 0.5, s.year, s.month, dayOfMonth);
  s.day = static_cast<int>(std::trunc(dayOfMonth));
}

// One epoch into its text; the text keeps its length.
void writeOne(int iForm, double epoch, std::string& string, std::optional<int> nDec) {
  string.assign(string.size(), ' ');
  if (epoch == noEpoch || epoch == unsetEpoch) return;

  const char* head = " *** SR TIMST2: ";
  const char* what = "The result string is too short.";
  if (iForm == 1 || iForm == 2) {
    if (string.size() < 19) tooShort(head, what, string.size(), 19);
  } else if (iForm == 3) {
    if (!nDec) noFractionals("(/,A,A,2(/,16X,A),/)");
    if (string.size() < static_cast<std::size_t>(*nDec + 20))
      tooShort(head, what, string.size(), *nDec + 20);
  } else {
    unknownForm(head, iForm);
  }

  Split s = splitEpoch(epoch, nDec);
  if (iForm == 1 || iForm == 2) {
    long long wholeSeconds = std::llround(s.seconds);
    if (wholeSeconds >= 60) {
      carryFullMinute(s);
      wholeSeconds = 0;
    }
    const char* fmt = (iForm == 1) ? "(I4.4,2('-',I2.2),I3.2,2(':',I2.2))"
                                   : "(I4.4,2(' ',I2.2),I3.2,2(' ',I2.2))";
    string = rt::formatText(fmt, {s.year, s.month, s.day, s.hours, s.minutes, wholeSeconds},
                            string.size());
    return;
  }

  const std::string secDescriptor =
      rt::formatText("('F',I2.2,'.',I2.2)", {*nDec + 4, *nDec}, 6);
  // Seconds that the field would show as 60 go into the minutes instead.
  const std::string secField = rt::formatField(secDescriptor, s.seconds);
  if (rt::leftAdjust(secField).rfind("60", 0) == 0) carryFullMinute(s);
  const std::string fmt = "(I4.4,2(' ',I2.2),2(' ',I2.2)," + secDescriptor + ")";
  string = rt::formatText(fmt, {s.year, s.month, s.day, s.hours, s.minutes, s.seconds},
                          string.size());
}

}  // namespace

void ST2TIM(int iForm, int nEpo, std::string_view string, double* epoch, std::optional<int> nDec) {
  if (nEpo != 2) {
    readOne(iForm, string, epoch[0], nDec);
    return;
  }

  epoch[0] = noEpoch;
  epoch[1] = unsetEpoch;
  if (rt::isBlank(string)) return;

  const char* head = " *** SR ST2TIM: ";
  const long len = static_cast<long>(string.size());
  long first1 = 1, last1 = 0, first2 = 1, last2 = 0;
  if (iForm == 1 || iForm == 2) {
    if (len < 40) tooShort(head, "The input string is too short.", string.size(), 40);
    last1 = 19;
    first2 = 22;
    last2 = 40;
  } else if (iForm == 3 && nDec) {
    if (len < 2 * *nDec + 42)
      tooShort(head, "The input string is too short:", string.size(), 2 * *nDec + 42);
    last1 = *nDec + 20;
    first2 = *nDec + 23;
    last2 = 2 * *nDec + 42;
  } else if (iForm == 3) {
    const long h = len / 2 - 1;
    last1 = h;
    first2 = h + 2;
    last2 = 2 * h + 2;
  } else {
    unknownForm(head, iForm);
  }

  const std::string_view part1 = rt::columnRange(string, first1, last1);
  const std::string_view part2 = rt::columnRange(string, first2, last2);
  if (!rt::isBlank(part1)) readOne(iForm, part1, epoch[0], nDec);
  if (!rt::isBlank(part2)) readOne(iForm, part2, epoch[1], nDec);

  if (epoch[0] >= epoch[1]) {
    rt::writeFmt(LFNMSG, "(/,A,/,16X,A,/)",
                 {" ### SR ST2TIM: Illegal time interval:", std::string(string)});
  }
}

void TIMST2(int iForm, int nEpo, const double* epoch, std::string& string,
            std::optional<int> nDec) {
  if (nEpo != 2) {
    writeOne(iForm, epoch[0], string, nDec);
    return;
  }

  string.assign(string.size(), ' ');
  if (epoch[0] == noEpoch && epoch[1] == unsetEpoch) return;

  const char* head = " *** SR TIMST2: ";
  std::size_t width = 0;
  std::size_t second = 0;
  if (iForm == 1 || iForm == 2) {
    if (string.size() < 40) tooShort(head, "The result string is too short.", string.size(), 40);
    width = 19;
    second = 21;
    nDec.reset();
  } else if (iForm == 3) {
    if (!nDec) noFractionals("(/,A,A,2(/,8X,A),/)");
    if (string.size() < static_cast<std::size_t>(2 * *nDec + 42))
      tooShort(head, "The result string is too short:", string.size(), 2 * *nDec + 42);
    width = static_cast<std::size_t>(*nDec + 20);
    second = static_cast<std::size_t>(*nDec + 22);
  } else {
    unknownForm(head, iForm);
  }

  std::string part(width, ' ');
  writeOne(iForm, epoch[0], part, nDec);
  string.replace(0, width, part);
  writeOne(iForm, epoch[1], part, nDec);
  string.replace(second, width, part);
}
