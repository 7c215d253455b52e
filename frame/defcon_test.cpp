// Tests of the constants and the constants file.
#include "frame/defcon.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame/constants.h"
#include "frame/m_vand.h"
#include "frame/runid.h"
#include "frame/sysfiles_fixture.h"
#include "runtime/units.h"

namespace {

using namespace sysfiles_test;

class DefconTest : public SysFilesTest {
 protected:
  void SetUp() override {
    SysFilesTest::SetUp();
    // A directory whose name is well over 32 characters long, named
    // relative to the temporary directory, the working directory of the
    // test: the names stay within a keyword value whatever the length of
    // the temporary directory's path.
    longDir_ = "a_directory_with_a_rather_long_name_for_the_constants";
    fs::create_directories(dir_ / longDir_);
    here_.emplace(dir_);
  }
  void TearDown() override {
    here_.reset();
    SysFilesTest::TearDown();
  }

  // The keyword list holds CONST naming `path`.
  void useConstantsFile(const std::string& path) const { setKeys({{"CONST", {path}}}); }

  // Writes a file of the long directory; returns its name.
  std::string writeFile(const std::string& name, const std::string& text) const {
    FrameTest::writeFile((longDir_ / name).string(), text);
    return (longDir_ / name).string();
  }

  std::string copyFixture(const std::string& name) const {
    const std::string path = (longDir_ / name).string();
    fs::copy_file(fs::path(XF_SOURCE_DIR) / "frame" / "testdata" / name, dir_ / path);
    return path;
  }

  fs::path longDir_;
  std::optional<rttest::WorkingDirectory> here_;
};

// Every key of the constants file, its variable and its value in the
// example constants file.
struct KeyVariable {
  const char* key;
  double* var;
  double example;
};
std::vector<KeyVariable> keyVariables() {
  return {{"C", &C, 299792458.0},
          {"FREQ1", &FREQ[0], 1575420000.0},
          {"FREQ2", &FREQ[1], 1227600000.0},
          {"FREQ5", &FREQ[2], 1176450000.0},
          {"FREQP", &FREQP, 10230000.0},
          {"FREQG1", &FREQG1, 1602000000.0},
          {"FREQG2", &FREQG2, 1246000000.0},
          {"DFRQG1", &DFRQG1, 562500.0},
          {"DFRQG2", &DFRQG2, 437500.0},
          {"FREQGP", &FREQGP, 5110000.0},
          {"FRQE1", &FRQE[0], 1575420000.0},
          {"FRQE5", &FRQE[1], 1191795000.0},
          {"FRQE5a", &FRQE[2], 1176450000.0},
          {"FRQE5b", &FRQE[3], 1207140000.0},
          {"FRQE6", &FRQE[4], 1278750000.0},
          {"FRQS1", &FRQS[0], 1575420000.0},
          {"FRQS5", &FRQS[1], 1176450000.0},
          {"FRQC1", &FRQC[0], 1575420000.0},
          {"FRQC2", &FRQC[1], 1561098000.0},
          {"FRQC5b", &FRQC[2], 1207140000.0},
          {"FRQC6", &FRQC[3], 1268520000.0},
          {"FRQJ1", &FRQJ[0], 1575420000.0},
          {"FRQJ2", &FRQJ[1], 1227600000.0},
          {"FRQJ5", &FRQJ[2], 1176450000.0},
          {"FRQJ6", &FRQJ[3], 1278750000.0},
          {"GM", &GM, 398.6004418e12},
          {"GMS", &GMS, 1.32712440018e20},
          {"GMM", &GMM, 4.9028000e12},
          {"AU", &AU, 1.49597870700e11},
          {"AE", &AE, 6378137.0},
          {"J2", &J2, 1.0826359e-3},
          {"CONRE", &CONRE, 6371000.0},
          {"FACTEC", &FACTEC, 4.0309e17},
          {"P0", &P0, 4.5604e-6},
          {"OMEGA", &OMEGA, 7.292115e-5},
          {"ET-UTC", &ETUTC, 69.184},
          {"WGTPHA", &WGTPHA, 1.0},
          {"WGTCOD", &WGTCOD, 1.0e-4},
          {"HREF", &HREF, 0.0},
          {"PREF", &PREF, 1013.25},
          {"TREF", &TREF, 18.0},
          {"HUMREF", &HUMREF, 50.0}};
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
  for (const KeyVariable& k : keyVariables()) *k.var = 99.0;
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
  for (const KeyVariable& k : keyVariables()) {
    double want = 0.0;
    for (const auto& [key, v] : expected) {
      if (key == k.key) want = v;
    }
    EXPECT_NEAR(*k.var, want, std::abs(want) * 1e-15) << "key " << k.key;
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
  for (const KeyVariable& k : keyVariables()) {
    EXPECT_DOUBLE_EQ(*k.var, k.example) << "key " << k.key;
  }
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
  EXPECT_EQ(linesOf(console_.str()), want);
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
  EXPECT_EQ(linesOf(console_.str()), want);
}

TEST_F(DefconTest, MissingConstKeywordStops) {
  setKeys({});
  EXPECT_EQ(exitStatusOf([] { DEFCON(1); }), 1);
  const std::vector<std::string> want = {
      "",
      " *** SR READKEYS: Keyword \"CONST\" not found.",
      "                  Input file name:  " + (dir_ / "XFORM1.INP").string(),
      "",
      "",
      " *** SR GTFLNA: File name not found or blank",
      "                Keyword:  CONST",
      "",
  };
  EXPECT_EQ(linesOf(console_.str()), want);
}

TEST_F(DefconTest, KnownKeyWithBlankValueIsAnUncheckedFailure) {
  useConstantsFile(writeFile("BLANK.CON", "GM\n"));
  EXPECT_THROW(DEFCON(1), rt::IoFailure);
  EXPECT_EQ(constantsRead, 0);
}

}  // namespace
