#include "frame/cpu.h"

#include <gtest/gtest.h>

#include <string>

#include "frame/m_vand.h"
#include "frame/runid.h"
#include "frame/testsupport.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

TEST(Cpufmt, DurationTexts) {
  struct Case {
    double seconds;
    const char* text;
  };
  const Case cases[] = {
      {0.0, "0:00:00.000  "},
      {0.5, "0:00:00.500  "},
      {3723.25, "1:02:03.250  "},
      {3545.5, "0:59:05.500  "},     // seconds always show two integer digits
      {36000.0, "10:00:00.000 "},    // two hour digits
      {90000.0, "25:00:00.000 "},    // days count as hours
      {129600.0, "36:00:00.000 "},
      {360000.0, "100:00:00.000"},   // three hour digits
      {3599999.0, "999:59:59.000"},
      {3600000.0, "***:00:00.000"},  // 1000 hours do not fit
      {35999.9996, "9:59:60.000  "}, // rounds to 60.000 without a carry
      {-3600.0, "0:00:00.000  "},    // clock set back: shown as no time
      {-0.25, "0:00:00.000  "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CPUFMT(c.seconds / 86400.0), c.text) << c.seconds;
  }
}

class CpuTest : public frametest::FrameTest {
 protected:
  static void at(double cpu, const rt::ClockValues& clock) {
    rt::setCpuOverride(cpu);
    rt::setClockOverride(clock);
  }

  // Connects the program output to a file of the temporary directory.
  void outputToFile() {
    ASSERT_EQ(rt::openUnit(LFNOUF, path("run.out")), 0);
    LFNOUT = LFNOUF;
  }

  std::string outputFile() {
    rt::closeUnit(LFNOUF);
    return frametest::fileContent(path("run.out"));
  }
};

const std::string kRule(65, '-');

TEST_F(CpuTest, EndReportOnConsoleAndProgramOutputFile) {
  const std::string timing = ">>> CPU/Real time for pgm \"XFORM1\": 0:00:01.500 / 0:00:01.250";
  struct Case {
    int retCode;
    const char* verdict;
  };
  for (const Case c : {Case{0, ">>> Program finished successfully"},
                       Case{1, ">>> Program finished successfully"},
                       Case{2, ">>> Program ended with an error"}}) {
    SCOPED_TRACE(c.retCode);
    console_.str("");
    outputToFile();
    programName = rt::fit("XFORM1", 8);
    at(2.0, {2001, 3, 5, 60, 14, 5, 9, 0});
    CPUBEG(-1);
    at(3.5, {2001, 3, 5, 60, 14, 5, 10, 250});
    CPUEND(c.retCode);
    EXPECT_EQ(console_.str(), "\n" + timing + "\n\n");
    EXPECT_EQ(outputFile(), "\n\n" + kRule + "\n" + timing + "\n" + c.verdict + "\n\n");
  }
}

TEST_F(CpuTest, ConsoleAsProgramOutputShowsTheTimingLineTwice) {
  programName = rt::fit("XFORM1", 8);
  at(0.0, {2001, 2, 28, 0, 23, 59, 59, 500});
  CPUBEG(1);
  // Across midnight and the end of February.
  at(0.25, {2001, 3, 1, 0, 0, 0, 1, 0});
  CPUEND(0);
  const std::string timing = ">>> CPU/Real time for pgm \"XFORM1\": 0:00:00.250 / 0:00:01.500";
  EXPECT_EQ(console_.str(), "\n" + timing + "\n\n" + "\n\n" + kRule + "\n" + timing + "\n" +
                               ">>> Program finished successfully\n\n");
}

TEST_F(CpuTest, LongRunAndClockSetBack) {
  programName = rt::fit("XFORM1", 8);
  at(10.0, {2020, 6, 1, 120, 12, 0, 0, 0});
  CPUBEG(-1);
  at(7210.0, {2020, 6, 3, 120, 0, 0, 0, 0});
  CPUEND(0);
  const std::string timing = ">>> CPU/Real time for pgm \"XFORM1\": 2:00:00.000 / 36:00:00.000";
  EXPECT_EQ(console_.str(), "\n" + timing + "\n\n" + "\n\n" + kRule + "\n" + timing + "\n" +
                               ">>> Program finished successfully\n\n");

  console_.str("");
  at(1.0, {2020, 10, 25, 60, 2, 30, 0, 0});
  CPUBEG(-1);
  at(1.5, {2020, 10, 25, 0, 2, 0, 0, 0});  // daylight-saving time ended
  CPUEND(0);
  EXPECT_NE(console_.str().find(": 0:00:00.500 / 0:00:00.000\n"), std::string::npos)
      << console_.str();
}

TEST_F(CpuTest, NothingPrintedWithoutNameOrWithoutStart) {
  at(1.0, {2001, 3, 5, 0, 14, 5, 9, 0});
  CPUBEG(-1);
  CPUEND(0);  // programName blank
  CPUMARK("step");
  EXPECT_EQ(console_.str(), "");

  programName = rt::fit("XFORM1", 8);
  CPUBEG(0);
  EXPECT_EQ(M_CPU::cpuStart, 1.0e20);
  EXPECT_EQ(M_CPU::wallStart, 1.0e20);
  CPUMARK("step");
  CPUEND(2);
  EXPECT_EQ(console_.str(), "");
}

TEST_F(CpuTest, MarksShowTimeSinceStartAndSincePreviousMark) {
  programName = rt::fit("XFORM1", 8);
  at(1.0, {2001, 3, 5, 0, 10, 0, 0, 0});
  CPUBEG(-1);
  at(1.25, {2001, 3, 5, 0, 10, 0, 2, 0});
  CPUMARK("step one   ");
  at(2.0, {2001, 3, 5, 0, 10, 1, 0, 0});
  CPUMARK("two");
  EXPECT_EQ(console_.str(),
            "\n>>> CPU/Real time at \"step one\": 0:00:00.250 / 0:00:02.000  "
            "( 0:00:00.250 / 0:00:02.000 )\n\n"
            "\n>>> CPU/Real time at \"two\": 0:00:01.000 / 0:01:00.000  "
            "( 0:00:00.750 / 0:00:58.000 )\n\n");
}

TEST_F(CpuTest, SilentMarkStillMovesTheMark) {
  at(1.0, {2001, 3, 5, 0, 10, 0, 0, 0});
  CPUBEG(-1);
  at(3.0, {2001, 3, 5, 0, 10, 0, 30, 0});
  CPUMARK("quiet");  // programName blank: nothing printed
  EXPECT_EQ(console_.str(), "");
  programName = rt::fit("XFORM1", 8);
  at(4.0, {2001, 3, 5, 0, 10, 1, 0, 0});
  CPUMARK("loud");
  EXPECT_EQ(console_.str(),
            "\n>>> CPU/Real time at \"loud\": 0:00:03.000 / 0:01:00.000  "
            "( 0:00:01.000 / 0:00:30.000 )\n\n");
}

}  // namespace
