// Tests of the constants and the constants file.
#include "frame/defcon.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "frame/constants.h"
#include "frame/d_inpkey.h"
#include "frame/m_vand.h"
#include "frame/reset.h"
#include "frame/runid.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace fs = std::filesystem;

namespace {

// Status of the ProgramExit that `body` ends with; -1 when it returns.
int exitStatusOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const rt::ProgramExit& e) {
    return e.status;
  }
  return -1;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

class DefconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    rt::setClockOverride(rt::ClockValues{2001, 3, 5, 60, 14, 5, 9, 250});
    rt::setConsoleOutput(&console_);
    // A directory whose path is well over 32 characters long.
    dir_ = fs::temp_directory_path() /
           ("sysfiles_defcon_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name()) /
           "a_directory_with_a_rather_long_name_for_the_constants";
    fs::remove_all(dir_.parent_path());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    resetRunState();
    rt::setClockOverride(std::nullopt);
    fs::remove_all(dir_.parent_path());
  }

  // The keyword list holds CONST naming `path`.
  void useConstantsFile(const std::string& path) {
    INPKINIT(inpKey);
    inpKey.fileName = rt::fit(dir_.string() + "/DEFCON.INP", 255);
    t_key key;
    key.keyName = rt::fit("CONST", 32);
    key.value = {rt::fit(path, 255)};
    inpKey.keys.push_back(key);
    inpKey.keyCount = 1;
    inpKey.readState = 2;
  }

  std::string writeFile(const std::string& name, const std::string& text) {
    std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }

  std::string copyFixture(const std::string& name) {
    std::string path = (dir_ / name).string();
    fs::copy_file(fs::path(XF_SOURCE_DIR) / "frame" / "testdata" / name, path);
    return path;
  }

  std::ostringstream console_;
  fs::path dir_;
};

// Every key variable, in the order of the keys of the constants file.
std::vector<std::pair<std::string, double*>> keyVariables() {
  return {{"C", &C},           {"FREQ1", &FREQ[0]},   {"FREQ2", &FREQ[1]},  {"FREQ5", &FREQ[2]},
          {"FREQP", &FREQP},   {"FREQG1", &FREQG1},   {"FREQG2", &FREQG2},  {"DFRQG1", &DFRQG1},
          {"DFRQG2", &DFRQG2}, {"FREQGP", &FREQGP},   {"FRQE1", &FRQE[0]},  {"FRQE5", &FRQE[1]},
          {"FRQE5a", &FRQE[2]}, {"FRQE5b", &FRQE[3]}, {"FRQE6", &FRQE[4]},  {"FRQS1", &FRQS[0]},
          {"FRQS5", &FRQS[1]}, {"FRQC1", &FRQC[0]},   {"FRQC2", &FRQC[1]},  {"FRQC5b", &FRQC[2]},
          {"FRQC6", &FRQC[3]}, {"FRQJ1", &FRQJ[0]},   {"FRQJ2", &FRQJ[1]},  {"FRQJ5", &FRQJ[2]},
          {"FRQJ6", &FRQJ[3]}, {"GM", &GM},           {"GMS", &GMS},        {"GMM", &GMM},
          {"AU", &AU},         {"AE", &AE},           {"J2", &J2},          {"CONRE", &CONRE},
          {"FACTEC", &FACTEC}, {"P0", &P0},           {"OMEGA", &OMEGA},    {"ET-UTC", &ETUTC},
          {"WGTPHA", &WGTPHA}, {"WGTCOD", &WGTCOD},   {"HREF", &HREF},      {"PREF", &PREF},
          {"TREF", &TREF},     {"HUMREF", &HUMREF}};
}

TEST_F(DefconTest, WithoutReadingSetsAngleFactorsAndClockOnly) {
  DEFCON(0);
  EXPECT_DOUBLE_EQ(pi, 4.0 * std::atan(1.0));
  EXPECT_NEAR(degPerRad, 57.29577951308232, 1e-12);
  EXPECT_NEAR(arcsecPerRad, 206264.80624709636, 1e-8);
  EXPECT_EQ(runDate, "05-MAR-01");
  EXPECT_EQ(runTime, "14:05");
  EXPECT_EQ(constantsRead, 0);
  EXPECT_FALSE(rt::unitOpened(LFNRD));
  EXPECT_EQ(console_.str(), "");
}

TEST_F(DefconTest, ReadsKeysOfTheSmallFile) {
  // Each key variable holds a stale value that the reading must clear.
  for (auto& [name, var] : keyVariables()) *var = 99.0;
  const std::string path = copyFixture("defcon_small.CON");
  ASSERT_GT(path.size(), 32u);  // the name is not cut at 32 characters
  useConstantsFile(path);

  DEFCON(1);

  // "c" in lower case and "FRQE5A" are no keys; the later GM wins; P0's
  // value starts in column 9 and loses its first character; HREF's value
  // is read from columns 10-25 only.
  const std::vector<std::pair<std::string, double>> expected = {
      {"C", 3.0},    {"GM", 3986004.418e8},         {"P0", 2.5}, {"FRQE5a", 1.5e9},
      {"FREQ1", 10.0}, {"FREQ2", 15.0}, {"HREF", 1.23456789012345}};
  for (auto& [name, var] : keyVariables()) {
    double want = 0.0;
    for (auto& [k, v] : expected) {
      if (k == name) want = v;
    }
    EXPECT_NEAR(*var, want, std::abs(want) * 1e-15) << "key " << name;
  }
  EXPECT_EQ(constantsRead, 1);
  EXPECT_EQ(runDate, "05-MAR-01");
  EXPECT_EQ(runTime, "14:05");
  EXPECT_FALSE(rt::unitOpened(LFNRD));
  EXPECT_EQ(console_.str(), "");

  // wl1 = 0.3, wl2 = 0.2.
  const double wl[5] = {0.3, 0.2, 0.12, 0.1, -0.6};
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(refWavelength[i], wl[i], 1e-15) << i;
  for (int k : {0, 57, kSatSlotsFilled - 1}) {
    EXPECT_EQ(satFrequency[k][0], 10.0);
    EXPECT_EQ(satFrequency[k][1], 15.0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(satWavelength[k][i], refWavelength[i]);
  }
  for (int k : {kSatSlotsFilled, kSatSlots - 1}) {
    EXPECT_EQ(satFrequency[k][0], 0.0);
    EXPECT_EQ(satFrequency[k][1], 0.0);
    EXPECT_EQ(satWavelength[k][0], 0.0);
  }
}

TEST_F(DefconTest, ReadsTheExampleConstantsFile) {
  useConstantsFile(std::string(XF_SOURCE_DIR) + "/examples/CONST.");
  DEFCON(1);
  EXPECT_EQ(constantsRead, 1);
  for (auto& [name, var] : keyVariables()) {
    if (name != "HREF") {
      EXPECT_NE(*var, 0.0) << "key " << name;
    }
  }
  EXPECT_EQ(C, 299792458.0);
  EXPECT_NEAR(GM, 3.986004418e14, 1.0);
  EXPECT_EQ(FRQE[2], 1176450000.0);  // FRQE5a
  EXPECT_EQ(ETUTC, 69.184);
  // GPS L1 and L2 wavelengths and their combinations, in metres.
  EXPECT_NEAR(refWavelength[0], 0.19029367279836, 1e-13);
  EXPECT_NEAR(refWavelength[1], 0.24421021342457, 1e-13);
  EXPECT_NEAR(refWavelength[2], 0.10695337814215, 1e-13);
  EXPECT_NEAR(refWavelength[3], -0.05391654062620, 1e-13);
  EXPECT_NEAR(refWavelength[4], 0.86191840032201, 1e-13);
  EXPECT_FALSE(rt::unitOpened(LFNRD));
}

TEST_F(DefconTest, SecondReadingClearsKeysTheNewFileLacks) {
  useConstantsFile(writeFile("FIRST.CON", "TITLE\nGM       1.5\nAU       2.5\n"));
  DEFCON(1);
  EXPECT_EQ(GM, 1.5);
  EXPECT_EQ(AU, 2.5);

  useConstantsFile(writeFile("SECOND.CON", "TITLE\nAU       4.0\n"));
  DEFCON(1);
  EXPECT_EQ(GM, 0.0);
  EXPECT_EQ(AU, 4.0);
  EXPECT_EQ(constantsRead, 1);
}

TEST_F(DefconTest, UndecodableValueWritesBlockAndStops) {
  useConstantsFile(writeFile("BAD.CON", "TITLE\nC        3.0\nFREQ1    ABC\nGM       1.0\n"));
  EXPECT_EQ(exitStatusOf([] { DEFCON(1); }), 1);
  const std::vector<std::string> want = {
      "",
      " *** SR DEFCON: ERROR DECODING DATA ON THE FOLLOWING LINE:",
      " FREQ1    ABC             ",
      "",
  };
  EXPECT_EQ(lines(console_.str()), want);
  EXPECT_EQ(constantsRead, 0);
}

TEST_F(DefconTest, MissingFileStopsWithOpenFailure) {
  const std::string path = (dir_ / "NONE.CON").string();
  useConstantsFile(path);
  EXPECT_EQ(exitStatusOf([] { DEFCON(1); }), 1);
  const std::vector<std::string> want = {
      "",
      " *** SR OPNERR: OPEN FAILED",
      "                FILE NAME : " + path,
      "                PGM./SUBR.:     DEFCON",
      "                IOSTAT    :      2",
      "                FILE UNIT :    999",
      "",
  };
  EXPECT_EQ(lines(console_.str()), want);
}

TEST_F(DefconTest, MissingConstKeywordStops) {
  INPKINIT(inpKey);
  inpKey.readState = 2;
  EXPECT_EQ(exitStatusOf([] { DEFCON(1); }), 1);
  EXPECT_NE(console_.str().find(" *** SR GTFLNA: File name not found or blank"), std::string::npos)
      << console_.str();
}

TEST_F(DefconTest, KnownKeyWithBlankValueIsAnUncheckedFailure) {
  useConstantsFile(writeFile("BLANK.CON", "GM\n"));
  EXPECT_THROW(DEFCON(1), rt::IoFailure);
  EXPECT_EQ(constantsRead, 0);
}

}  // namespace
