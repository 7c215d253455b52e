#include "stations/gtvelo.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "stations/pltmov.h"
#include "stations/testsupport.h"

namespace {

using stationtest::fixture;
using stationtest::exitStatusOf;
using stationtest::joinLines;
using Vec = std::array<double, 3>;

// Header of a velocity or plate file.
std::vector<std::string> velocityHeader() {
  return {"VELOCITIES", std::string(80, '-'), "LOCAL GEODETIC DATUM: IGS14", "",
          "NUM  STATION NAME           VX (M/Y)       VY (M/Y)       VZ (M/Y)  FLAG   PLATE", ""};
}

std::string velocityLine(int num, const char* name, Vec v, const char* flag, const char* plate) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%3d  %-16s%15.5f%15.5f%15.5f    %-4s %-4s", num, name, v[0],
                v[1], v[2], flag, plate);
  return rt::trimRight(buf);
}

std::string plateLine(int num, const char* name, const char* plate) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%3d  %-16s%54s%-4s", num, name, "", plate);
  return rt::trimRight(buf);
}

void expectNear(const Vec& a, const Vec& b) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-12) << "component " << k;
}

class GtveloTest : public stationtest::StationEnv {
 protected:
  // Calls GTVELO with output arrays preset to values it must overwrite or keep.
  void run(std::string_view keyWord, int iModel, std::vector<std::string> flags,
           const std::vector<std::string>& names, const std::vector<Vec>& x = {}) {
    const int n = static_cast<int>(names.size());
    xstat = x;
    xstat.resize(names.size(), Vec{0.0, 0.0, 0.0});
    vel.assign(names.size(), Vec{9.0, 9.0, 9.0});
    velFlg.assign(names.size(), '?');
    found.assign(names.size(), true);
    irc = -1;
    GTVELO(keyWord, iModel, static_cast<int>(flags.size()), flags, n, xstat,
           stationtest::staNames(names), vel, velFlg,
           found, irc);
  }

  std::vector<Vec> xstat, vel;
  std::vector<char> velFlg;
  std::vector<bool> found;
  int irc = -1;
};

TEST_F(GtveloTest, VelocityFileMatchedByName) {
  setKey("VELAPR", {fixture("gtvelo_velocities.vel")});
  run("VELAPR", 0, {"@"}, {"ALPHA", "BRAVO", "CHARLIE", "ECHO"});
  EXPECT_EQ(irc, 0);
  expectNear(vel[0], Vec{0.01, -5.0, 0.02});
  EXPECT_EQ(vel[1], (Vec{0.0, 0.0, 0.0}));     // not in the file
  expectNear(vel[2], Vec{10.0, -10.0, 0.0});  // exactly 10 m/year in size passes
  expectNear(vel[3], Vec{0.5, 0.6, 0.7});
  EXPECT_EQ(found, (std::vector<bool>{true, false, true, true}));
  EXPECT_EQ(velFlg, (std::vector<char>{'A', '?', 'B', ' '}));
  EXPECT_EQ(console(), "");
}

TEST_F(GtveloTest, EntryFlagSelection) {
  setKey("VELAPR", {fixture("gtvelo_velocities.vel")});
  // A blank-flagged entry gives "#" no velocity although the station is listed.
  run("VELAPR", 0, {"#"}, {"ALPHA", "ECHO"});
  EXPECT_EQ(found, (std::vector<bool>{true, false}));
  EXPECT_EQ(vel[1], (Vec{0.0, 0.0, 0.0}));
  run("VELAPR", 0, {"F", "B"}, {"ALPHA", "CHARLIE", "FOXTROT"});
  EXPECT_EQ(found, (std::vector<bool>{false, true, true}));
  run("VELAPR", 0, {}, {"ALPHA"});
  EXPECT_EQ(found, (std::vector<bool>{false}));
  EXPECT_EQ(irc, 0);
}

TEST_F(GtveloTest, ComponentAboveTenMetresPerYearInSizeStops) {
  const Vec cases[] = {{10.5, 0.0, 0.0}, {0.0, -10.5, 0.0}, {0.0, 0.0, -15.0}, {0.01, 10.00001, 0.0}};
  for (const Vec& v : cases) {
    SCOPED_TRACE(testing::PrintToString(v));
    restart();
    auto lines = velocityHeader();
    lines.push_back(velocityLine(1, "ALPHA", {0.0, 0.0, 0.0}, "A", "EURA"));
    lines.push_back(velocityLine(2, "BRAVO STATION", v, "A", "EURA"));
    lines.push_back(" ");
    setKey("VELAPR", {writeLines("limit.vel", lines)});
    EXPECT_EQ(exitStatusOf([&] { run("VELAPR", 0, {"@"}, {"ALPHA", "BRAVO STATION"}); }), 1);
    EXPECT_EQ(console(), joinLines({"", " *** SR GTVELO: ERROR: VELOCITY ",
                                    "                LARGER 10 M (!) FOUND FOR STATION: "
                                    "BRAVO STATION   ",
                                    ""}));
  }
}

TEST_F(GtveloTest, VelocityFileWhoseLineSevenCarriesNoValuesStopsTheRun) {
  // A velocity file whose first station line carries no values would give
  // every station a velocity of zero: a plate-only file, the velocity file
  // with its line 7 one column to the left or with a tab in it.
  const std::string velocities = stationtest::fileContent(fixture("gtvelo_velocities.vel"));
  const std::size_t at = velocities.find("  1  ALPHA");
  const std::string shifted = std::string(velocities).erase(at, 1);
  const std::string tabbed = std::string(velocities).replace(at + 10, 14, "\t");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plate-only file", stationtest::fileContent(fixture("getco3_plates.crd"))},
      {"line 7 shifted by a column", shifted},
      {"line 7 with a tab", tabbed},
  };
  int serial = 0;
  for (const auto& [what, text] : cases) {
    SCOPED_TRACE(what);
    restart();
    const std::string file = writeFile("novalues" + std::to_string(serial++) + ".vel", text);
    setKey("VELAPR", {file});
    EXPECT_EQ(exitStatusOf([&] { run("VELAPR", 0, {"@"}, {"BRAVO", "ALPHA", "ZULU"}); }), 1);
    EXPECT_EQ(console(), stationtest::joinLines(
                             {"", " *** SR GETCO3: Error reading data lines for coordinate file",
                              "                File name:   " + file,
                              "                Line number:      1", ""}));
  }
}

TEST_F(GtveloTest, NoFileNamedGivesReturnCodeOne) {
  setKey("VELAPR", {""});
  for (const char* key : {"VELAPR", "NOSUCHKEY"}) {
    SCOPED_TRACE(key);
    run(key, 0, {"@"}, {"ALPHA", "BRAVO"});
    EXPECT_EQ(irc, 1);
    EXPECT_EQ(vel, (std::vector<Vec>{{0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}}));
    EXPECT_EQ(found, (std::vector<bool>{false, false}));
    EXPECT_EQ(velFlg, (std::vector<char>{'?', '?'}));
  }
  // Blank keyword and neither FIXVEL nor VELTRN.
  run("", 0, {"@"}, {"ALPHA"});
  EXPECT_EQ(irc, 1);
  EXPECT_EQ(console(), "");
}

TEST_F(GtveloTest, VelocityFileTakesPrecedenceOverPlateFile) {
  setKey("FIXVEL", {fixture("gtvelo_velocities.vel")});
  setKey("VELTRN", {path("absent.plt")});  // would stop the run if it were opened
  run("", 0, {"@"}, {"FOXTROT"}, {{4.0E6, 1.0E6, 5.0E6}});
  EXPECT_EQ(irc, 0);
  expectNear(vel[0], Vec{1.0, 2.0, 3.0});
  EXPECT_EQ(velFlg[0], 'F');
}

TEST_F(GtveloTest, PlateModelForStationsOfThePlateFile) {
  setKey("VELTRN", {fixture("getco3_plates.crd")});
  const Vec xa = {4.0E6, 1.0E6, 5.0E6};
  const Vec xc = {-2.7E6, -4.3E6, 3.8E6};
  for (int iModel : {0, 1}) {
    SCOPED_TRACE(iModel);
    run("", iModel, {"#"}, {"ALPHA", "DELTA", "CHARLIE"}, {xa, {1.0E6, 1.0E6, 1.0E6}, xc});
    EXPECT_EQ(irc, 0);
    EXPECT_EQ(found, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(velFlg, (std::vector<char>{'V', '?', 'V'}));
    EXPECT_EQ(vel[1], (Vec{0.0, 0.0, 0.0}));
    for (const auto& [i, code, x] : {std::tuple{0, "EURA", xa}, std::tuple{2, "PCFC", xc}}) {
      double x1, y1, z1, vx, vy, vz;
      (iModel == 0 ? PLTMOV : PLTMV2)(code, 1.0, x[0], x[1], x[2], 2.0, x1, y1, z1, vx, vy, vz);
      EXPECT_NEAR(vel[i][0], vx, 1e-15);
      EXPECT_NEAR(vel[i][1], vy, 1e-15);
      EXPECT_NEAR(vel[i][2], vz, 1e-15);
      EXPECT_GT(std::abs(vx) + std::abs(vy) + std::abs(vz), 1e-3);
    }
  }
}

TEST_F(GtveloTest, PlateCodeNotInTheTableStops) {
  auto lines = velocityHeader();
  lines.push_back(plateLine(1, "ALPHA", "EURA"));
  lines.push_back(plateLine(2, "BRAVO", "eura"));
  lines.push_back(" ");
  setKey("VELTRN", {writeLines("bad.plt", lines)});
  EXPECT_EQ(exitStatusOf([&] {
              run("", 0, {"@"}, {"ALPHA", "BRAVO"}, {{4.0E6, 1.0E6, 5.0E6}, {4.0E6, 1.0E6, 5.0E6}});
            }),
            1);
  EXPECT_EQ(console(), joinLines({"", " *** SR GTVELO: PLATENAME eura",
                                  "                WAS NOT FOUND FOR STATION: BRAVO           ",
                                  ""}));
}

TEST_F(GtveloTest, LongVelocityFileNameIsNotCut) {
  // The name relative to the test's directory, the working directory of the
  // call: the file that the name cut at 32 characters leads to lies there
  // too, however long the path of the directory.
  const std::string name = std::string(100, 'v') + "/" + std::string(100, 'w') + ".vel";
  writeFile(name, stationtest::fileContent(fixture("gtvelo_velocities.vel")));
  // A file cut at 32 characters must not be the one that is read.
  writeFile(name.substr(0, 32), "");
  setKey("VELAPR", {name});
  const rttest::WorkingDirectory here(dir_);
  run("VELAPR", 0, {"@"}, {"FOXTROT"});
  expectNear(vel[0], Vec{1.0, 2.0, 3.0});
}

class CrdvelTest : public stationtest::StationEnv {};

TEST_F(CrdvelTest, MovesStationsWithVelocityOnly) {
  const std::vector<Vec> v = {{0.01, 0.0, -0.02}, {0.5, 0.5, 0.5}};
  const std::vector<bool> found = {true, false};
  const double ref = 55197.0;
  struct Case {
    double epochIn;
    Vec moved;
  };
  for (const Case& c : {Case{ref + 730.5, {1.02, 2.0, 2.96}}, Case{ref - 365.25, {0.99, 2.0, 3.02}}}) {
    std::vector<Vec> x = {{1.0, 2.0, 3.0}, {4.0, 5.0, 6.0}};
    CRDVEL(2, x, v, found, c.epochIn, ref);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(x[0][k], c.moved[k], 1e-12);
    EXPECT_EQ(x[1], (Vec{4.0, 5.0, 6.0}));
  }
  EXPECT_EQ(console(), "");
}

TEST_F(CrdvelTest, ZeroEpochs) {
  const std::vector<Vec> v = {{0.01, 0.0, -0.02}};
  const std::vector<bool> found = {true};
  std::vector<Vec> x = {{1.0, 2.0, 3.0}};

  CRDVEL(1, x, v, found, 0.0, 0.0);
  EXPECT_EQ(x[0], (Vec{1.0, 2.0, 3.0}));
  EXPECT_EQ(console(), joinLines({"", " *** SR CRDVEL: WARNING: REFERENCE EPOCH AND",
                                  "                INPUT EPOCH IS ZERO",
                                  "                VELOCIITIES ARE NOT APPLIED", ""}));

  struct Case {
    double epochIn, epochRef;
    const char* text;
  };
  for (const Case& c : {Case{55197.0, 0.0, " *** SR CRDVEL: REFERENCE EPOCH IS ZERO"},
                        Case{0.0, 55197.0, " *** SR CRDVEL: INPUT EPOCH IS ZERO"}}) {
    SCOPED_TRACE(c.text);
    restart();
    EXPECT_EQ(exitStatusOf([&] { CRDVEL(1, x, v, found, c.epochIn, c.epochRef); }), 1);
    EXPECT_EQ(console(), joinLines({"", c.text, ""}));
    EXPECT_EQ(x[0], (Vec{1.0, 2.0, 3.0}));
  }
}

}  // namespace
