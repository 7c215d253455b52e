#include "stations/ellips.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <sstream>

#include "frame/reset.h"
#include "runtime/units.h"
#include "stations/algebra.h"

namespace {

using Vec = std::array<double, 3>;
using Mat = std::array<double, 9>;

constexpr double kA = 6378137.0;
constexpr double kB = 6356752.3141;
const double kPi = 4.0 * std::atan(1.0);
const Vec kNoShift = {0.0, 0.0, 0.0};
const Vec kNoRot = {0.0, 0.0, 0.0};

// Geocentric coordinates of an ellipsoidal position (datum without shift).
Vec toCartesian(double lat, double lon, double hgt) {
  const double e2 = (kA * kA - kB * kB) / (kA * kA);
  const double n = kA / std::sqrt(1.0 - e2 * std::sin(lat) * std::sin(lat));
  return {(n + hgt) * std::cos(lat) * std::cos(lon), (n + hgt) * std::cos(lat) * std::sin(lon),
          (n * (1.0 - e2) + hgt) * std::sin(lat)};
}

Vec unitNorth(double lat, double lon) {
  return {-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat)};
}
Vec unitEast(double, double lon) { return {-std::sin(lon), std::cos(lon), 0.0}; }
Vec unitUp(double lat, double lon) {
  return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
}

class EllipsoidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    rt::setConsoleOutput(&console_);
  }
  void TearDown() override { resetRunState(); }
  std::ostringstream console_;
};

TEST_F(EllipsoidTest, PointsOnTheAxes) {
  struct Case {
    Vec xyz;
    Vec ell;
  };
  const Case cases[] = {
      {{kA, 0, 0}, {0, 0, 0}},
      {{0, kA, 0}, {0, kPi / 2, 0}},
      {{-kA, 0, 0}, {0, kPi, 0}},
      {{0, 0, kB}, {kPi / 2, 0, 0}},
      {{0, 0, -kB - 100.0}, {-kPi / 2, 0, 100.0}},
  };
  for (const auto& c : cases) {
    Vec ell{};
    XYZELL(kA, kB, kNoShift.data(), kNoRot.data(), 1.0, c.xyz.data(), ell.data());
    EXPECT_NEAR(ell[0], c.ell[0], 1e-15);
    EXPECT_NEAR(ell[1], c.ell[1], 1e-15);
    EXPECT_NEAR(ell[2], c.ell[2], 1e-6);
  }
  EXPECT_EQ(console_.str(), "");
}

TEST_F(EllipsoidTest, RoundTripAtMidLatitudes) {
  // 1e-11 rad is less than 0.1 mm on the ellipsoid.
  const Vec positions[] = {{0.82, 0.13, 512.3},
                           {-0.6, 2.9, -30.0},
                           {1.2, -1.7, 4200.0},
                           {0.35, -3.0, 0.0},
                           {-1.05, 0.7, 12.5}};
  for (const auto& pos : positions) {
    const Vec xyz = toCartesian(pos[0], pos[1], pos[2]);
    Vec ell{};
    XYZELL(kA, kB, kNoShift.data(), kNoRot.data(), 1.0, xyz.data(), ell.data());
    EXPECT_NEAR(ell[0], pos[0], 1e-11);
    EXPECT_NEAR(ell[1], pos[1], 1e-11);
    EXPECT_NEAR(ell[2], pos[2], 1e-4);
  }
}

TEST_F(EllipsoidTest, DatumShiftRotationAndScaleAreRemoved) {
  const Vec shift = {-87.0, -98.0, -121.0};
  const Vec rot = {2.0e-6, -1.5e-6, 4.0e-6};
  const double scale = 1.0 + 3.2e-6;
  const Vec pos = {0.81, 0.12, 650.0};
  // X = shift + scale * R3 R2 R1 x
  const Vec local = toCartesian(pos[0], pos[1], pos[2]);
  Mat r1{}, r2{}, r3{}, d{};
  ROTAXM(1, rot[0], r1.data());
  ROTAXM(2, rot[1], r2.data());
  ROTAXM(3, rot[2], r3.data());
  MMUL33(r2.data(), r1.data(), d.data());
  MMUL33(r3.data(), d.data(), d.data());
  Vec xyz{};
  MVEC33(local.data(), d.data(), xyz.data());
  for (int k = 0; k < 3; ++k) xyz[k] = shift[k] + scale * xyz[k];

  Vec ell{};
  XYZELL(kA, kB, shift.data(), rot.data(), scale, xyz.data(), ell.data());
  EXPECT_NEAR(ell[0], pos[0], 1e-11);
  EXPECT_NEAR(ell[1], pos[1], 1e-11);
  EXPECT_NEAR(ell[2], pos[2], 1e-4);
}

TEST_F(EllipsoidTest, AtTheGeocentreWithoutWarning) {
  const Vec point = {3000.5, -200.25, 5000.0};
  Vec ell{};
  XYZELL(kA, kB, point.data(), kNoRot.data(), 1.0, point.data(), ell.data());
  EXPECT_EQ(ell[0], 0.0);
  EXPECT_EQ(ell[1], 0.0);
  EXPECT_EQ(ell[2], -kA);
  EXPECT_EQ(console_.str(), "");
}

TEST_F(EllipsoidTest, NearTheGeocentreWarnsAndApproximates) {
  const Vec point = {600.0, 0.0, 800.0};
  Vec ell{};
  XYZELL(kA, kB, kNoShift.data(), kNoRot.data(), 1.0, point.data(), ell.data());
  EXPECT_EQ(console_.str(),
            "\n"
            " ### SR XYZELL: HOW DID YOU GET THE SIGNAL?\n"
            "                Coordinate is in the near of geocenter!\n"
            "                Approximation algorithm used.\n"
            "\n");
  EXPECT_NEAR(ell[2], 1000.0 - kA, 1e-9);
  EXPECT_EQ(ell[1], 0.0);
  // tan(lat) = 800 / (600 * (a*e2/1000 - 1)): the latitude of a normal of
  // the ellipsoid through the point, on the side of z.
  const double e2 = (kA * kA - kB * kB) / (kA * kA);
  EXPECT_NEAR(ell[0], std::atan(800.0 / (600.0 * (kA * e2 / 1000.0 - 1.0))), 1e-15);
}

// Within about 43 km of the geocentre (a balanced global network's
// barycentre lies there) the latitude stays within +-90 degrees, with the
// sign of z; the height is the distance from the geocentre minus a.
TEST_F(EllipsoidTest, NearTheGeocentreTheLatitudeStaysInRange) {
  const Vec points[] = {
      {1000.0, 0.0, 10.0},      {1000.0, 0.0, -10.0},    {1000.0, 0.0, 0.0},
      {-1000.0, 0.0, -1e-9},    {0.0, 0.0, 30000.0},     {0.0, 0.0, -30000.0},
      {20.0, -35.0, 0.004},     {-3.0, 4.0, -12.0},      {30000.0, 5000.0, -1.0},
      {-250.0, -40000.0, 900.0}, {0.001, 0.002, 0.0025},  {0.0, 0.0, 0.0},
  };
  for (const Vec& p : points) {
    SCOPED_TRACE(::testing::Message() << p[0] << " " << p[1] << " " << p[2]);
    Vec ell{};
    XYZELL(kA, kB, kNoShift.data(), kNoRot.data(), 1.0, p.data(), ell.data());
    EXPECT_LE(std::fabs(ell[0]), kPi / 2);
    EXPECT_EQ(std::signbit(ell[0]), std::signbit(p[2]));
    const double rho = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    EXPECT_NEAR(ell[2], rho - kA, 1e-8);
    if (p[0] != 0.0 || p[1] != 0.0) {
      EXPECT_NEAR(ell[1], std::atan2(p[1], p[0]), 1e-15);
    }
  }
  // On the axis: the pole of the side of z; in the equator plane: latitude 0.
  Vec ell{};
  XYZELL(kA, kB, kNoShift.data(), kNoRot.data(), 1.0, points[4].data(), ell.data());
  EXPECT_EQ(ell[0], kPi / 2);
  XYZELL(kA, kB, kNoShift.data(), kNoRot.data(), 1.0, points[2].data(), ell.data());
  EXPECT_EQ(ell[0], 0.0);
  // The same through a datum whose shift puts the geocentre beside the point.
  const Vec shift = {-1000.0, 0.0, -10.0};
  XYZELL(kA, kB, shift.data(), kNoRot.data(), 1.0, kNoShift.data(), ell.data());
  EXPECT_GT(ell[0], 0.0);
  EXPECT_LT(ell[0], 1e-3);
}

// Wherever the conversion was sound it gives the same values, bit for bit:
// stations on the ellipsoid, points just outside the 43 km region and points
// near the axis where the approximation's factor is positive.
TEST_F(EllipsoidTest, SoundResultsUnchanged) {
  struct Case {
    Vec xyz;
    Vec ell;
  };
  const Case cases[] = {
      {{4027894.006, 307045.600, 4919474.910},
       {0x1.c5ef0295c03d3p-1, 0x1.37a27579df18cp-4, 0x1.2b553c1d19bfdp+7}},
      {{-2430601.828, -4702442.703, 3546587.358},
       {0x1.2fd3b10fdbce6p-1, -0x1.06202e857e3afp+1, 0x1.f7676a597466ap+7}},
      {{44000.0, 0.0, 1.0}, {0x1.9292eb4050e44p-11, 0x0p+0, -0x1.829ae3ff9b5b2p+22}},
      {{-45000.0, 3000.0, -2000.0},
       {-0x1.76f46bdb9d1b2p-2, 0x1.899a67091335fp+1, -0x1.828276150da18p+22}},
      {{1000.0, 0.0, 42750.0}, {0x1.921d69b47b78p+0, 0x0p+0, -0x1.82ae3d39079a2p+22}},
      {{-500.0, 300.0, -42790.0},
       {-0x1.921db2cc208dep+0, 0x1.4cf33dec5e9ep+1, -0x1.82adbc1bf2d77p+22}},
  };
  // Within 1e-12 rad (6 micrometres on the ground) and 1e-6 m: a build
  // that fuses multiply-adds (-march=native) rounds the last bits
  // differently.
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.xyz));
    Vec ell{};
    XYZELL(kA, kB, kNoShift.data(), kNoRot.data(), 1.0, c.xyz.data(), ell.data());
    EXPECT_NEAR(ell[0], c.ell[0], 1e-12);
    EXPECT_NEAR(ell[1], c.ell[1], 1e-12);
    EXPECT_NEAR(ell[2], c.ell[2], 1e-6);
  }
}

TEST_F(EllipsoidTest, LocalMatrixRowsAreNorthEastUp) {
  const Vec positions[] = {{0.82, 0.13, 512.3}, {-0.6, 2.9, -30.0}, {1.45, -1.7, 4200.0}};
  for (const auto& pos : positions) {
    const double lat = pos[0], lon = pos[1];
    const Vec axes[3] = {unitNorth(lat, lon), unitEast(lat, lon), unitUp(lat, lon)};
    Vec xyz{}, neu{};
    Mat toNeu{}, toXyz{};
    NEUCART(lat, lon, pos[2], kA, kB, -1, xyz.data(), neu.data(), toNeu.data());
    NEUCART(lat, lon, pos[2], kA, kB, 1, xyz.data(), neu.data(), toXyz.data());
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        EXPECT_NEAR(toNeu[3 * j + i], axes[i][j], 1e-15);
        EXPECT_NEAR(toXyz[3 * i + j], axes[i][j], 1e-15);
      }
    }
  }
}

TEST_F(EllipsoidTest, UpVectorAndRoundTrip) {
  const double lat = 0.82, lon = 0.13, hgt = 512.3;
  Vec up = unitUp(lat, lon);
  Vec neu{};
  Mat m{};
  NEUCART(lat, lon, hgt, kA, kB, -1, up.data(), neu.data(), m.data());
  EXPECT_NEAR(neu[0], 0.0, 1e-15);
  EXPECT_NEAR(neu[1], 0.0, 1e-15);
  EXPECT_NEAR(neu[2], 1.0, 1e-15);

  Vec back{};
  Vec unitU = {0.0, 0.0, 1.0};
  NEUCART(lat, lon, hgt, kA, kB, 1, back.data(), unitU.data(), m.data());
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(back[k], up[k], 1e-15);

  Vec v = {0.012, -0.347, 1.25}, local{}, again{};
  NEUCART(lat, lon, hgt, kA, kB, -1, v.data(), local.data(), m.data());
  NEUCART(lat, lon, hgt, kA, kB, 1, again.data(), local.data(), m.data());
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(again[k], v[k], 1e-15);
}

TEST_F(EllipsoidTest, SingularJacobianFallsBackToTheUnitVectors) {
  // A height that puts the point at the centre of the prime-vertical
  // curvature makes the Jacobian exactly singular.
  const double lat = 0.7, lon = -0.4;
  const double e2 = (kA * kA - kB * kB) / (kA * kA);
  const double hgt = -(kA / std::sqrt(1.0 - e2 * (std::sin(lat) * std::sin(lat))));
  Vec v = {1.0, 2.0, 3.0}, neu{};
  Mat m{};
  NEUCART(lat, lon, hgt, kA, kB, -1, v.data(), neu.data(), m.data());
  const Vec axes[3] = {unitNorth(lat, lon), unitEast(lat, lon), unitUp(lat, lon)};
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(neu[i], axes[i][0] * 1.0 + axes[i][1] * 2.0 + axes[i][2] * 3.0, 1e-15);
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(m[3 * j + i], axes[i][j], 1e-15);
  }
}

TEST_F(EllipsoidTest, ProjectionOnTwoDirectionsAndTheirCrossProduct) {
  Vec vec = {1.0, 2.0, 3.0};
  const Vec u = {2.0, 0.0, 0.0}, v = {0.0, 0.0, 5.0};
  Vec comp{};
  PROJDIR(vec.data(), u.data(), v.data(), comp.data());
  EXPECT_EQ(comp, (Vec{1.0, 3.0, -2.0}));
  PROJDIR(vec.data(), u.data(), v.data(), vec.data());
  EXPECT_EQ(vec, (Vec{1.0, 3.0, -2.0}));

  // A direction of norm zero gives a zero component, not a division by zero.
  Vec w = {1.0, 2.0, 3.0};
  const Vec zero = {0.0, 0.0, 0.0};
  PROJDIR(w.data(), u.data(), zero.data(), comp.data());
  EXPECT_EQ(comp, (Vec{1.0, 0.0, 0.0}));
}

}  // namespace
