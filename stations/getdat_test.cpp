#include "stations/getdat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "frame/constants.h"
#include "stations/testsupport.h"

namespace {

using stationtest::fixture;
using stationtest::exitStatusOf;
using stationtest::joinLines;
using Vec = std::array<double, 3>;

struct Datum {
  double a = -1, b = -1, sc = -1;
  Vec dx{-1, -1, -1}, dr{-1, -1, -1};
};

class GetdatTest : public stationtest::StationEnv {
 protected:
  void SetUp() override {
    StationEnv::SetUp();
    arcsecPerRad = 3600.0 * 180.0 / (4.0 * std::atan(1.0));
  }
  Datum lookup(std::string_view name, std::string* frmTyp = nullptr) {
    Datum d;
    GETDAT(name, d.a, d.b, d.dx, d.dr, d.sc, frmTyp);
    return d;
  }
  std::string notFound(const std::string& name) const {
    return joinLines({"", " *** SR GETDAT: LOCAL GEODETIC DATUM NOT FOUND",
                      "                DATUM: " + rt::fit(name, 16), ""});
  }
};

TEST_F(GetdatTest, FirstEntryOfTheNameWithConvertedValues) {
  setKey("DATUM", {fixture("getdat_datums.dat")});
  std::string frame = "?";
  const Datum d = lookup("WGS 84", &frame);
  EXPECT_NEAR(d.a, 6378137.0, 1e-9);
  EXPECT_NEAR(d.b, (1.0 - 1.0 / 298.2572236) * 6378137.0, 1e-6);
  EXPECT_NEAR(d.dx[0], 0.1, 1e-12);
  EXPECT_NEAR(d.dx[1], -0.2, 1e-12);
  EXPECT_NEAR(d.dx[2], 0.3, 1e-12);
  EXPECT_NEAR(d.dr[0], 1.0 / arcsecPerRad, 1e-18);
  EXPECT_NEAR(d.dr[0], 4.84813681e-6, 1e-14);
  EXPECT_NEAR(d.dr[1], -2.0 / arcsecPerRad, 1e-18);
  EXPECT_NEAR(d.dr[2], 0.5 / arcsecPerRad, 1e-18);
  EXPECT_NEAR(d.sc, 1.0 + 1.5e-6, 1e-15);
  EXPECT_EQ(frame, "GLOBAL          ");
  EXPECT_EQ(console(), "");
}

TEST_F(GetdatTest, LookupIndependentOfEntryOrder) {
  setKey("DATUM", {fixture("getdat_datums.dat")});
  const Datum ch = lookup("CH1903");
  EXPECT_NEAR(ch.a, 6377397.155, 1e-9);
  EXPECT_NEAR(ch.dx[2], 405.346, 1e-9);
  EXPECT_EQ(ch.sc, 1.0);
  std::string frame;
  lookup("ETRS89", &frame);
  EXPECT_EQ(frame, "REGIONAL        ");  // left-adjusted
}

TEST_F(GetdatTest, BlankFieldsGiveZerosAndUnitScale) {
  setKey("DATUM", {fixture("getdat_datums.dat")});
  const Datum d = lookup("BLANKS");
  EXPECT_EQ(d.dx, (Vec{0.0, 0.0, 0.0}));
  EXPECT_EQ(d.dr, (Vec{0.0, 0.0, 0.0}));
  EXPECT_EQ(d.sc, 1.0);
  EXPECT_NEAR(d.b, (1.0 - 1.0 / 298.2572236) * 6378137.0, 1e-6);
}

TEST_F(GetdatTest, BlankFrameTypeStopsWhenAskedFor) {
  // The file name fills a field of 32 columns, and is written whole when
  // it is longer: a name relative to the test's directory, and the
  // fixture's whole path.
  const std::string longName = fixture("getdat_datums.dat");
  ASSERT_GT(longName.size(), 32u);
  const std::string shortName = "d";
  writeFile(shortName, stationtest::fileContent(longName));
  const rttest::WorkingDirectory here(dir_);
  for (const std::string& file : {shortName, longName}) {
    SCOPED_TRACE(file);
    const std::string field = rt::fit(file, std::max<std::size_t>(32, file.size()));
    restart();
    setKey("DATUM", {file});
    std::string frame;
    EXPECT_EQ(exitStatusOf([&] { lookup("BLANKS", &frame); }), 1);
    EXPECT_EQ(console(), joinLines({"", " *** SR GETDAT: FRAME TYPE (GLOBAL/REGIONAL/LOCAL)",
                                    "                HAS TO BE SPECIFIED",
                                    "                FILE  : " + field,
                                    "                DATUM : BLANKS", ""}));
  }
}

TEST_F(GetdatTest, NamesCompareExactlyOverSixteenColumns) {
  for (const char* name : {"wgs 84", "ITRF2014", "WGS84", "CH1903 X"}) {
    SCOPED_TRACE(name);
    restart();
    arcsecPerRad = 206264.8;
    setKey("DATUM", {fixture("getdat_datums.dat")});
    EXPECT_EQ(exitStatusOf([&] { lookup(name); }), 1);
    EXPECT_EQ(console(), notFound(name));
  }
}

TEST_F(GetdatTest, LastEntryCutOff) {
  const std::string head = stationtest::fileContent(fixture("getdat_datums.dat"));
  const std::vector<std::string> target = {
      "TARGET                  6378137.000             1.0000           0.0000",
      "GLOBAL                  298.2572236             2.0000           0.0000",
      "                         0.0000D+00             3.0000           0.0000", ""};
  for (std::size_t kept = 1; kept <= 4; ++kept) {
    SCOPED_TRACE(kept);
    restart();
    arcsecPerRad = 206264.8;
    const std::vector<std::string> part(target.begin(), target.begin() + kept);
    setKey("DATUM", {writeFile("cut.dat", head + joinLines(part))});
    if (kept < 4) {
      EXPECT_EQ(exitStatusOf([&] { lookup("TARGET"); }), 1);
      EXPECT_EQ(console(), notFound("TARGET"));
    } else {
      const Datum d = lookup("TARGET");
      EXPECT_NEAR(d.dx[2], 3.0, 1e-12);
    }
  }
}

TEST_F(GetdatTest, LongFileNameIsNotCut) {
  // Relative to the test's directory, whatever the length of its path.
  const std::string file = std::string(90, 'p') + "/" + std::string(90, 'q') + ".dat";
  writeFile(file, stationtest::fileContent(fixture("getdat_datums.dat")));
  const rttest::WorkingDirectory here(dir_);
  setKey("DATUM", {file});
  EXPECT_NEAR(lookup("CH1903").a, 6377397.155, 1e-9);
}

TEST_F(GetdatTest, MissingOrBrokenFile) {
  // No DATUM name: the file-name lookup stops the run.
  setKey("DATUM", {""});
  EXPECT_EQ(exitStatusOf([&] { lookup("WGS 84"); }), 1);
  EXPECT_NE(console().find("DATUM"), std::string::npos);

  // Fewer than four header lines, or an unreadable field, are unchecked
  // input/output failures.
  restart();
  setKey("DATUM", {writeFile("short.dat", "ONE\nTWO\n")});
  EXPECT_THROW(lookup("WGS 84"), rt::IoFailure);

  restart();
  setKey("DATUM", {writeFile("bad.dat", joinLines({"H", "H", "H", "H",
      "OTHER                   6378137.000             1.0000           0.0000",
      "GLOBAL                  298.25x2236             2.0000           0.0000",
      "                         0.0000D+00             3.0000           0.0000", ""}))});
  EXPECT_THROW(lookup("WGS 84"), rt::IoFailure);
}

}  // namespace
