#include "stations/pltmov.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

constexpr double kFactor = 1.7453292E-8;
constexpr double kTol = 1e-15;  // m/year, and m for positions near 1e6 scaled below

struct Motion {
  double x1, y1, z1, vx, vy, vz;
};

Motion model1(const std::string& plate, double t0, std::array<double, 3> x, double t1) {
  Motion m{};
  PLTMOV(plate, t0, x[0], x[1], x[2], t1, m.x1, m.y1, m.z1, m.vx, m.vy, m.vz);
  return m;
}

Motion model2(const std::string& plate, double t0, std::array<double, 3> x, double t1) {
  Motion m{};
  PLTMV2(plate, t0, x[0], x[1], x[2], t1, m.x1, m.y1, m.z1, m.vx, m.vy, m.vz);
  return m;
}

TEST(PlateModel, EurasiaVelocityAndMovedPosition) {
  const std::array<double, 3> x = {4.0E6, 0.0, 5.0E6};
  const double vx = kFactor * (-0.1434) * 5.0E6;
  const double vy = kFactor * (0.1887 * 4.0E6 - (-0.0590) * 5.0E6);
  const double vz = -kFactor * (-0.1434) * 4.0E6;

  const Motion m1 = model1("EURA", 2000.0, x, 2001.0);
  EXPECT_NEAR(m1.vx, vx, kTol);
  EXPECT_NEAR(m1.vy, vy, kTol);
  EXPECT_NEAR(m1.vz, vz, kTol);
  EXPECT_NEAR(m1.x1, x[0] + vx, 1e-9);
  EXPECT_NEAR(m1.y1, x[1] + vy, 1e-9);
  EXPECT_NEAR(m1.z1, x[2] + vz, 1e-9);

  // The second model scales the returned velocity only.
  const Motion m2 = model2("EURA", 2000.0, x, 2001.0);
  EXPECT_NEAR(m2.vx, 0.9562 * vx, kTol);
  EXPECT_NEAR(m2.vy, 0.9562 * vy, kTol);
  EXPECT_NEAR(m2.vz, 0.9562 * vz, kTol);
  EXPECT_EQ(m2.x1, m1.x1);
  EXPECT_EQ(m2.y1, m1.y1);
  EXPECT_EQ(m2.z1, m1.z1);
}

TEST(PlateModel, EveryPlateOfTheTable) {
  struct Row {
    const char* code;
    double wx, wy, wz;
  };
  const Row rows[] = {
      {"PCFC", -0.0907, 0.2902, -0.5976}, {"AFRC", 0.0532, -0.1856, 0.2348},
      {"ANTA", -0.0494, -0.1018, 0.2218}, {"ARAB", 0.4003, -0.0311, 0.4049},
      {"AUST", 0.4695, 0.3072, 0.3762},   {"CARB", -0.0109, -0.2027, 0.0945},
      {"COCO", -0.6249, -1.2944, 0.6544}, {"EURA", -0.0590, -0.1434, 0.1887},
      {"INDI", 0.3995, 0.0026, 0.4066},   {"NAZC", -0.0921, -0.5138, 0.5756},
      {"NOAM", 0.0152, -0.2155, -0.0094}, {"SOAM", -0.0624, -0.0906, -0.0523},
      {"JUFU", 0.2995, 0.4805, -0.2936},  {"PHIL", 0.5913, -0.4412, -0.5976},
  };
  const std::array<double, 3> x = {1.1E6, -4.3E6, 4.6E6};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.code);
    const Motion m1 = model1(r.code, 1.0, x, 3.5);
    EXPECT_NEAR(m1.vx, kFactor * (r.wy * x[2] - r.wz * x[1]), kTol);
    EXPECT_NEAR(m1.vy, kFactor * (r.wz * x[0] - r.wx * x[2]), kTol);
    EXPECT_NEAR(m1.vz, kFactor * (r.wx * x[1] - r.wy * x[0]), kTol);
    EXPECT_NEAR(m1.x1, x[0] + 2.5 * m1.vx, 1e-9);
    EXPECT_NEAR(m1.y1, x[1] + 2.5 * m1.vy, 1e-9);
    EXPECT_NEAR(m1.z1, x[2] + 2.5 * m1.vz, 1e-9);
    const Motion m2 = model2(r.code, 1.0, x, 3.5);
    EXPECT_NEAR(m2.vx, 0.9562 * m1.vx, kTol);
    EXPECT_NEAR(m2.vy, 0.9562 * m1.vy, kTol);
    EXPECT_NEAR(m2.vz, 0.9562 * m1.vz, kTol);
    EXPECT_EQ(m2.x1, m1.x1);
    EXPECT_EQ(m2.y1, m1.y1);
    EXPECT_EQ(m2.z1, m1.z1);
  }
}

TEST(PlateModel, UnknownCodeGivesSixZeros) {
  for (const char* code : {"eura", "XXXX", "EUR", "", " EUR"}) {
    SCOPED_TRACE(code);
    for (const Motion& m : {model1(code, 1.0, {4.0E6, 1.0E6, 5.0E6}, 2.0),
                            model2(code, 1.0, {4.0E6, 1.0E6, 5.0E6}, 2.0)}) {
      EXPECT_EQ(m.x1, 0.0);
      EXPECT_EQ(m.y1, 0.0);
      EXPECT_EQ(m.z1, 0.0);
      EXPECT_EQ(m.vx, 0.0);
      EXPECT_EQ(m.vy, 0.0);
      EXPECT_EQ(m.vz, 0.0);
    }
  }
}

TEST(PlateModel, PositionOnTheRotationAxisDoesNotMove) {
  // Parallel to the angular velocity of the North American plate.
  const std::array<double, 3> x = {0.0152E7, -0.2155E7, -0.0094E7};
  const Motion m = model1("NOAM", 1.0, x, 2.0);
  EXPECT_NEAR(m.vx, 0.0, 1e-12);
  EXPECT_NEAR(m.vy, 0.0, 1e-12);
  EXPECT_NEAR(m.vz, 0.0, 1e-12);
  EXPECT_NEAR(m.x1, x[0], 1e-9);
  EXPECT_NEAR(m.y1, x[1], 1e-9);
  EXPECT_NEAR(m.z1, x[2], 1e-9);
}

TEST(PlateModel, SameEpochKeepsThePosition) {
  const std::array<double, 3> x = {4.0E6, 1.0E6, 5.0E6};
  const Motion m = model1("AUST", 7.0, x, 7.0);
  EXPECT_NE(m.vx, 0.0);
  EXPECT_EQ(m.x1, x[0]);
  EXPECT_EQ(m.y1, x[1]);
  EXPECT_EQ(m.z1, x[2]);
}

}  // namespace
