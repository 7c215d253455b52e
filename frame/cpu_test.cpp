#include "frame/cpu.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "frame/m_vand.h"
#include "frame/reset.h"
#include "frame/runid.h"
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

class CpuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    rt::setConsoleOutput(&console);
  }
  void TearDown() override {
    rt::setClockOverride(std::nullopt);
    rt::setCpuOverride(std::nullopt);
    resetRunState();
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }

  static void at(double cpu, const rt::ClockValues& clock) {
    rt::setCpuOverride(cpu);
    rt::setClockOverride(clock);
  }

  // Connects the program output to a file in a fresh directory.
  void outputToFile() {
    dir = std::filesystem::temp_directory_path() /
          ("cpu_test_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    outPath = (dir / "run.out").string();
    ASSERT_EQ(rt::openUnit(LFNOUF, outPath), 0);
    LFNOUT = LFNOUF;
  }

  std::string outputFile() {
    rt::closeUnit(LFNOUF);
    std::ifstream in(outPath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  std::ostringstream console;
  std::filesystem::path dir;
  std::string outPath;
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
    console.str("");
    outputToFile();
    programName = rt::fit("XFORM1", 8);
    at(2.0, {2001, 3, 5, 60, 14, 5, 9, 0});
    CPUBEG(-1);
    at(3.5, {2001, 3, 5, 60, 14, 5, 10, 250});
    CPUEND(c.retCode);
    EXPECT_EQ(console.str(), "\n" + timing + "\n\n");
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
  EXPECT_EQ(console.str(), "\n" + timing + "\n\n" + "\n\n" + kRule + "\n" + timing + "\n" +
                               ">>> Program finished successfully\n\n");
}

TEST_F(CpuTest, LongRunAndClockSetBack) {
  programName = rt::fit("XFORM1", 8);
  at(10.0, {2020, 6, 1, 120, 12, 0, 0, 0});
  CPUBEG(-1);
  at(7210.0, {2020, 6, 3, 120, 0, 0, 0, 0});
  CPUEND(0);
  const std::string timing = ">>> CPU/Real time for pgm \"XFORM1\": 2:00:00.000 / 36:00:00.000";
  EXPECT_EQ(console.str(), "\n" + timing + "\n\n" + "\n\n" + kRule + "\n" + timing + "\n" +
                               ">>> Program finished successfully\n\n");

  console.str("");
  at(1.0, {2020, 10, 25, 60, 2, 30, 0, 0});
  CPUBEG(-1);
  at(1.5, {2020, 10, 25, 0, 2, 0, 0, 0});  // daylight-saving time ended
  CPUEND(0);
  EXPECT_NE(console.str().find(": 0:00:00.500 / 0:00:00.000\n"), std::string::npos)
      << console.str();
}

TEST_F(CpuTest, NothingPrintedWithoutNameOrWithoutStart) {
  at(1.0, {2001, 3, 5, 0, 14, 5, 9, 0});
  CPUBEG(-1);
  CPUEND(0);  // programName blank
  CPUMARK("step");
  EXPECT_EQ(console.str(), "");

  programName = rt::fit("XFORM1", 8);
  CPUBEG(0);
  EXPECT_EQ(M_CPU::cpuStart, 1.0e20);
  EXPECT_EQ(M_CPU::wallStart, 1.0e20);
  CPUMARK("step");
  CPUEND(2);
  EXPECT_EQ(console.str(), "");
}

TEST_F(CpuTest, MarksShowTimeSinceStartAndSincePreviousMark) {
  programName = rt::fit("XFORM1", 8);
  at(1.0, {2001, 3, 5, 0, 10, 0, 0, 0});
  CPUBEG(-1);
  at(1.25, {2001, 3, 5, 0, 10, 0, 2, 0});
  CPUMARK("step one   ");
  at(2.0, {2001, 3, 5, 0, 10, 1, 0, 0});
  CPUMARK("two");
  EXPECT_EQ(console.str(),
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
  EXPECT_EQ(console.str(), "");
  programName = rt::fit("XFORM1", 8);
  at(4.0, {2001, 3, 5, 0, 10, 1, 0, 0});
  CPUMARK("loud");
  EXPECT_EQ(console.str(),
            "\n>>> CPU/Real time at \"loud\": 0:00:03.000 / 0:01:00.000  "
            "( 0:00:01.000 / 0:00:30.000 )\n\n");
}

}  // namespace
