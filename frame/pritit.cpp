// Run banner and run identity.
#include "frame/pritit.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "frame/constants.h"
#include "frame/m_vand.h"
#include "frame/mjd.h"
#include "frame/opnfil.h"
#include "frame/readkeys.h"
#include "frame/runid.h"
#include "frame/widths.h"
#include "runtime/format.h"
#include "runtime/text.h"

namespace {

// Local clock as "05-Mar-2001 14:05:09"; the year is the clock's two-digit
// year completed through the century window.
std::string bannerDate() {
  static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<int, 8> v{};
  DATVAL(v);
  const int month = std::clamp(v[1], 1, 12);
  return rt::formatLine("(I2.2,'-',A3,'-',I4,1X,I2.2,':',I2.2,':',I2.2)",
                        {v[2], kMonths[month - 1], FULLYR(v[0] % 100), v[4], v[5], v[6]});
}

}  // namespace

std::string datedTitle(std::string_view title, std::string_view date, std::string_view time) {
  const std::string stamp = ' ' + rt::fit(date, 9) + ' ' + rt::fit(time, 5);
  std::string dated = rt::fit(title, kTitleLen);
  dated.replace(kTitleLen - stamp.size(), stamp.size(), stamp);
  return dated;
}

void PRITIT(std::string_view progName, std::string_view descr, std::optional<int> width) {
  programName = rt::fit(progName, 8);
  programPurpose = rt::fit(descr, kTitleLen);

  const int w = width.value_or(79);
  const std::size_t cut = w > 0 ? static_cast<std::size_t>(w) : 0;
  const std::size_t ruleLen = std::min<std::size_t>(cut, kLineLen);
  const std::string eqRule(ruleLen, '=');
  const std::string dashRule(ruleLen, '-');

  std::string title(kLineLen, ' ');
  std::string campaign(kTitleLen, ' ');
  std::string session = rt::fit("unknown", kTitleLen);
  std::string sesText(kTitleLen, ' ');
  std::string year(kTitleLen, ' ');

  std::vector<std::string> names;
  int irc = 0;
  READKEYS("*", names, irc);
  if (irc == 0) {
    for (const std::string& name : names) {
      std::string* target = nullptr;
      std::size_t len = kTitleLen;
      if (rt::eqPadded(name, "TITLE")) {
        target = &title;
        len = kLineLen;
      } else if (rt::eqPadded(name, "CAMPAIGN")) {
        target = &campaign;
      } else if (rt::eqPadded(name, "YR4_INFO")) {
        target = &year;
      } else if (rt::eqPadded(name, "SES_INFO")) {
        target = &sesText;
      }
      if (target == nullptr) continue;
      std::vector<std::string> values;
      int ircVal = 1;
      READKEYS(rt::trimRight(name), values, ircVal);
      if (ircVal == 0 && !values.empty()) *target = rt::fit(values[0], len);
    }
  }
  if (!rt::isBlank(sesText) && !rt::isBlank(year)) {
    session = rt::fit(rt::trimRight(sesText) + " year " + rt::trimRight(year), kTitleLen);
  }

  std::string user = rt::fit("${USER}", kLineLen);
  RPLENVAR(0, user);
  if (rt::isBlank(user)) user = "none";

  if (rt::isBlank(title)) {
    rt::writeFmt(LFNMSG, "(/,A,/)",
                 {" ### SR PRITIT: Please enter a title to characterize the program run."});
  }

  if (constantsRead != 1) DATTIM(runDate, runTime);

  runTitle = datedTitle(title, runDate, runTime);

  if (rt::isBlank(descr)) {
    rt::writeFmt(LFNMSG, "(/,A,/)",
                 {" ### SR PRITIT: There should be a short description of the program."});
  }

  const std::string date = bannerDate();

  // A box line that is all blank is left out; any other is cut to the
  // width and written without trailing blanks.
  auto boxLine = [&](std::string_view text) {
    if (rt::isBlank(text)) return;
    rt::writeFmt(LFNOUT, "(1X,A)", {rt::trimRight(text.substr(0, std::min(cut, text.size())))});
  };

  rt::writeFmt(LFNOUT, "(A)", {""});
  boxLine(eqRule);
  boxLine("Vandrel GNSS Software, Version 5.2");
  boxLine(dashRule);
  boxLine("Program        : " + rt::trimRight(progName));
  if (!rt::isBlank(descr)) boxLine("Purpose        : " + rt::trimRight(descr));
  boxLine(dashRule);
  boxLine("Campaign       : " + rt::trimRight(campaign));
  boxLine("Default session: " + rt::trimRight(session));
  boxLine("Date           : " + date);
  boxLine("User name      : " + rt::trimRight(user));
  boxLine(eqRule);
  if (!rt::isBlank(title)) {
    rt::writeFmt(LFNOUT, "(/)");
    boxLine(title);
    boxLine(dashRule);
  }
  rt::writeFmt(LFNOUT, "(/)");
}
