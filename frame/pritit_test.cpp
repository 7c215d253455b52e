// Tests of the run banner and the run identity.
#include "frame/pritit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "frame/constants.h"
#include "frame/m_vand.h"
#include "frame/runid.h"
#include "frame/sysfiles_fixture.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

using namespace sysfiles_test;

std::string rule(char c, int n) { return " " + std::string(n, c); }

const char* const kTitle = "Test network of the campaign EXAMPLE, first solution against second one";

class PrititTest : public SysFilesTest {
 protected:
  static Keys fullKeys() {
    return {{"TITLE", {kTitle}},
            {"CAMPAIGN", {"EXAMPLE"}},
            {"SES_INFO", {"0010"}},
            {"YR4_INFO", {"2001"}},
            {"ENVIRONMENT", {"X /tmp", "USER alice"}}};
  }

  // The banner line that starts with `label`, or "" when there is none.
  std::string lineWith(const std::string& label) const {
    for (const std::string& l : linesOf(console_.str())) {
      if (l.rfind(label, 0) == 0) return l;
    }
    return "";
  }
};

TEST_F(PrititTest, BannerAtWidths) {
  struct Case {
    std::optional<int> width;
    std::vector<std::string> banner;
  };
  const std::vector<Case> cases = {
      {std::nullopt,
       {"", rule('=', 79), " Vandrel GNSS Software, Version 5.2", rule('-', 79),
        " Program        : XFORM1", " Purpose        : Estimates the Helmert transformation",
        rule('-', 79), " Campaign       : EXAMPLE", " Default session: 0010 year 2001",
        " Date           : 05-Mar-2001 14:05:09", " User name      : alice", rule('=', 79), "", "",
        std::string(" ") + kTitle, rule('-', 79), "", ""}},
      {40,
       {"", rule('=', 40), " Vandrel GNSS Software, Version 5.2", rule('-', 40),
        " Program        : XFORM1", " Purpose        : Estimates the Helmert t", rule('-', 40),
        " Campaign       : EXAMPLE", " Default session: 0010 year 2001",
        " Date           : 05-Mar-2001 14:05:09", " User name      : alice", rule('=', 40), "", "",
        " Test network of the campaign EXAMPLE, fi", rule('-', 40), "", ""}},
      {0, {"", " ", " ", " ", " ", " ", " ", " ", "", "", " ", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width ? std::to_string(*c.width) : "absent");
    freshRun();
    setKeys(fullKeys());
    PRITIT("XFORM1", "Estimates the Helmert transformation", c.width);
    EXPECT_EQ(linesOf(console_.str()), c.banner);
    EXPECT_EQ(programName, "XFORM1  ");
    EXPECT_EQ(programPurpose, rt::fit("Estimates the Helmert transformation", 80));
    EXPECT_EQ(runTitle, std::string(kTitle).substr(0, 64) + " 05-MAR-01 14:05");
  }
}

TEST_F(PrititTest, SessionAndUserLines) {
  struct Case {
    const char* what;
    Keys keys;
    const char* session;
    const char* user;
  };
  const std::vector<Case> cases = {
      {"session without year", {{"SES_INFO", {"0010"}}, {"YR4_INFO", {""}}}, "unknown", "${USER}"},
      {"year without session", {{"YR4_INFO", {"2001"}}}, "unknown", "${USER}"},
      {"session and year", {{"YR4_INFO", {"2001"}}, {"SES_INFO", {"0010"}}}, "0010 year 2001",
       "${USER}"},
      {"user with a value", {{"ENVIRONMENT", {"USER alice"}}}, "unknown", "alice"},
      {"user with an empty value", {{"ENVIRONMENT", {"USER"}}}, "unknown", "none"},
      {"environment without user", {{"ENVIRONMENT", {"HOME /home/alice"}}}, "unknown", "${USER}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    console_.str("");
    setKeys(c.keys);
    PRITIT("XFORM1", "Helmert Transformation");
    EXPECT_EQ(lineWith(" Default session:"), std::string(" Default session: ") + c.session);
    EXPECT_EQ(lineWith(" User name      :"), std::string(" User name      : ") + c.user);
    EXPECT_EQ(lineWith(" Campaign"), " Campaign       :");
  }
}

TEST_F(PrititTest, MissingTitleAndDescriptionWarnOnMessageUnit) {
  // Program output in a file, messages on the console.
  const fs::path out = dir_ / "XFORM1.OUT";
  ASSERT_EQ(rt::openUnit(998, out.string()), 0);
  LFNOUT = 998;
  setKeys({{"CAMPAIGN", {"EXAMPLE"}}});

  PRITIT("XFORM1", "   ");

  const std::vector<std::string> messages = {
      "",
      " ### SR PRITIT: Please enter a title to characterize the program run.",
      "",
      "",
      " ### SR PRITIT: There should be a short description of the program.",
      "",
  };
  EXPECT_EQ(linesOf(console_.str()), messages);
  rt::closeUnit(998);
  const std::vector<std::string> banner = {
      "", rule('=', 79), " Vandrel GNSS Software, Version 5.2", rule('-', 79),
      " Program        : XFORM1", rule('-', 79), " Campaign       : EXAMPLE",
      " Default session: unknown", " Date           : 05-Mar-2001 14:05:09",
      " User name      : ${USER}", rule('=', 79), "", ""};
  EXPECT_EQ(linesOf(fileContent(out)), banner);
  EXPECT_EQ(runTitle, std::string(64, ' ') + " 05-MAR-01 14:05");
  EXPECT_EQ(programPurpose, std::string(80, ' '));
}

TEST_F(PrititTest, LongTitleAndLongProgramName) {
  const std::string title = "T" + std::string(98, 'x') + "E";  // 100 characters
  setKeys({{"TITLE", {title}}});
  PRITIT("HELMERTXF9", "Helmert Transformation");
  EXPECT_EQ(runTitle, title.substr(0, 64) + " 05-MAR-01 14:05");
  EXPECT_EQ(lineWith(" Tx"), " " + title.substr(0, 79));
  EXPECT_EQ(programName, "HELMERTX");
  EXPECT_EQ(lineWith(" Program"), " Program        : HELMERTXF9");
}

TEST_F(PrititTest, RunDateFromConstantsIsKept) {
  setKeys({{"TITLE", {"Run"}}});
  runDate = "01-JAN-99";
  runTime = "00:00";
  constantsRead = 1;
  PRITIT("XFORM1", "Helmert Transformation");
  EXPECT_EQ(runDate, "01-JAN-99");
  EXPECT_EQ(runTime, "00:00");
  EXPECT_EQ(runTitle, rt::fit("Run", 64) + " 01-JAN-99 00:00");

  constantsRead = 0;
  PRITIT("XFORM1", "Helmert Transformation");
  EXPECT_EQ(runDate, "05-MAR-01");
  EXPECT_EQ(runTime, "14:05");
  EXPECT_EQ(runTitle, rt::fit("Run", 64) + " 05-MAR-01 14:05");
}

TEST_F(PrititTest, BannerYearThroughCenturyWindow) {
  rt::setClockOverride(rt::ClockValues{2060, 12, 31, 0, 23, 59, 58, 999});
  setKeys({{"TITLE", {"Run"}}});
  PRITIT("XFORM1", "Helmert Transformation");
  EXPECT_EQ(lineWith(" Date"), " Date           : 31-Dec-1960 23:59:58");
}

TEST_F(PrititTest, KeywordListNotReadGivesDefaults) {
  PRITIT("XFORM1", "Helmert Transformation");
  EXPECT_EQ(lineWith(" ### SR PRITIT"),
            " ### SR PRITIT: Please enter a title to characterize the program run.");
  EXPECT_EQ(lineWith(" Default session:"), " Default session: unknown");
  EXPECT_EQ(lineWith(" User name      :"), " User name      : ${USER}");
  EXPECT_EQ(runTitle, std::string(64, ' ') + " 05-MAR-01 14:05");
}

}  // namespace
