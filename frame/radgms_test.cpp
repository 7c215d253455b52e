#include "frame/radgms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>

#include "frame/constants.h"
#include "frame/testsupport.h"

namespace {

class RadgmsTest : public frametest::FrameTest {
 protected:
  // Program start with the constants defined.
  void SetUp() override {
    FrameTest::SetUp();
    pi = 4.0 * std::atan(1.0);
  }
};

struct SplitCase {
  int mode;
  double angle;
  char sign;  // expected sign character ('x' = left as the caller set it)
  int deg;
  int min;
  double sec;
  double tol;  // tolerance on the seconds
};

double degrees(double d) { return d * (4.0 * std::atan(1.0)) / 180.0; }

TEST_F(RadgmsTest, SplitsAnglesAndDayFractions) {
  const double p = 4.0 * std::atan(1.0);
  const SplitCase cases[] = {
      {1, p / 4, ' ', 45, 0, 0.0, 1e-9},             // about 1e-11 left over
      {1, degrees(-0.5), '-', 0, 30, 0.0, 1e-9},
      {1, 1.0, ' ', 57, 17, 44.806247, 1e-6},
      {1, -1.0, '-', 57, 17, 44.806247, 1e-6},
      // A hair below 11 degrees: the guard carries it into the units.
      {1, degrees(10.0 + 59.0 / 60.0 + 59.9999999 / 3600.0), ' ', 11, 0, 0.0, 0.0},
      {0, p, ' ', 12, 0, 0.0, 1e-9},
      {0, -p / 2, '-', 6, 0, 0.0, 1e-9},
      {2, p / 2, ' ', 100, 0, 0.0, 1e-9},
      {2, degrees(1.0), ' ', 1, 11, 11.111111, 1e-5},  // 1 degree = 1.111111 gon
      {3, 51544.75, 'x', 18, 0, 0.0, 1e-6},
      {3, 0.999999999, 'x', 23, 59, 59.9999136, 1e-7},
      {3, -0.25, 'x', -5, -59, 0.0, 0.0},           // negative fraction kept
      {11, p / 4, ' ', 45, 0, 0.0, 0.0},             // finer guard: exactly 0
      {13, 51544.75, 'x', 18, 0, 0.0, 1e-9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "mode " << c.mode << " angle " << c.angle);
    char sign = 'x';
    int deg = -99;
    int min = -99;
    double sec = -99.0;
    RADGMS(c.mode, c.angle, sign, deg, min, sec);
    EXPECT_EQ(sign, c.sign);
    EXPECT_EQ(deg, c.deg);
    EXPECT_EQ(min, c.min);
    EXPECT_NEAR(sec, c.sec, c.tol);
    EXPECT_GE(sec, 0.0);
  }
}

TEST_F(RadgmsTest, FinerGuardDoesNotCarryAHairBelowAUnit) {
  // 10 degrees 59 minutes 59.9999999 seconds: the finer guard is too small
  // to carry, so the seconds stay just below 60.
  char sign = ' ';
  int deg = 0;
  int min = 0;
  double sec = 0.0;
  RADGMS(11, degrees(10.0 + 59.0 / 60.0 + 59.9999999 / 3600.0), sign, deg, min, sec);
  EXPECT_EQ(deg, 10);
  EXPECT_EQ(min, 59);
  EXPECT_NEAR(sec, 59.9999999, 1e-6);
}

TEST_F(RadgmsTest, IllegalKindStops) {
  const std::pair<int, const char*> cases[] = {{4, " 4"},  {9, " 9"},  {14, " 4"}, {19, " 9"},
                                               {-1, "-1"}, {-9, "-9"}, {-10, "**"}, {-25, "**"}};
  for (const auto& [mode, shown] : cases) {
    SCOPED_TRACE(mode);
    restart();
    pi = 4.0 * std::atan(1.0);
    char sign = ' ';
    int deg = 0;
    int min = 0;
    double sec = 0.0;
    const auto run = [&, mode = mode] { RADGMS(mode, 1.0, sign, deg, min, sec); };
    EXPECT_EQ(frametest::exitStatusOf(run), 1);
    EXPECT_EQ(console_.str(), std::string("\n *** SR RADGMS: ILLEGAL TRANSFORMATION TYPE\n") +
                                 std::string(16, ' ') + "TRANS. TYPE:" + shown + "\n\n");
  }
}

}  // namespace
