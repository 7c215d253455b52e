#include "frame/mjd.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/process.h"

namespace {

// The conversions below work on whole days and binary fractions (0.25, 0.5,
// 0.75), which every step represents exactly, so the results are compared
// exactly.

struct CalCase {
  int year;
  int month;
  double day;
  double mjd;
};

TEST(Calmjd, KnownDatesAndOutOfRangeFields) {
  const CalCase cases[] = {
      {2000, 1, 1.0, 51544.0},    {1858, 11, 17.0, 0.0},     {1900, 1, 1.0, 15020.0},
      {2000, 1, 1.5, 51544.5},    // a fraction passes into the result
      {1900, 2, 29.0, 15079.0},   {1900, 3, 1.0, 15079.0},   // 1900 is not a leap year
      {2000, 2, 29.0, 51603.0},   {2000, 3, 0.0, 51603.0},   // 2000 is
      {2000, 13, 1.0, 51910.0},   {2001, 1, 1.0, 51910.0},   // month 13 is next January
      {2000, 0, 1.0, 51513.0},    // month 0 is December before
      {2000, 1, 32.0, 51575.0},   // day 32 of January is 1 February
      {1582, 10, 4.0, -100851.0}, {1582, 10, 15.0, -100840.0},  // no Julian calendar
      {1, 1, 1.0, -678575.0},     {2020, 5, 31.75, 59000.75},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CALMJD(c.year, c.month, c.day), c.mjd)
        << c.year << "-" << c.month << "-" << c.day;
  }
}

struct MjdCase {
  double mjd;
  int year;
  int month;
  double day;
};

TEST(Mjdcal, KnownDatesAndNegativeFractions) {
  const MjdCase cases[] = {
      {51544.5, 2000, 1, 1.5},   {59000.75, 2020, 5, 31.75}, {15020.0, 1900, 1, 1.0},
      {0.0, 1858, 11, 17.0},     {51603.0, 2000, 2, 29.0},   {-678575.0, 1, 1, 1.0},
      // A negative fraction is added to the day of the integer part.
      {-0.25, 1858, 11, 16.75},  {-16.25, 1858, 11, 0.75},
  };
  for (const auto& c : cases) {
    int year = 0;
    int month = 0;
    double day = 0.0;
    MJDCAL(c.mjd, year, month, day);
    EXPECT_EQ(year, c.year) << c.mjd;
    EXPECT_EQ(month, c.month) << c.mjd;
    EXPECT_EQ(day, c.day) << c.mjd;
    EXPECT_EQ(CALMJD(year, month, day), c.mjd) << c.mjd;
  }
}

TEST(Mjdcal, RoundTripsEveryDayFrom1858To2132) {
  for (int n = 0; n <= 100000; ++n) {
    for (double frac : {0.0, 0.75}) {
      const double mjd = n + frac;
      int year = 0;
      int month = 0;
      double day = 0.0;
      MJDCAL(mjd, year, month, day);
      ASSERT_GE(month, 1) << mjd;
      ASSERT_LE(month, 12) << mjd;
      ASSERT_GE(day, 1.0) << mjd;
      ASSERT_LT(day, 32.0) << mjd;
      ASSERT_EQ(day - static_cast<int>(day), frac) << mjd;
      ASSERT_EQ(CALMJD(year, month, day), mjd) << mjd;
    }
  }
}

TEST(Mjdcal, ConsecutiveDaysStepThroughTheCalendar) {
  // From 1 January 2000 to 31 December 2003 the days count up one by one
  // with the Gregorian month lengths.
  const int monthDays[2][12] = {{31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
  double mjd = 51544.0;
  for (int year = 2000; year <= 2003; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int d = 1; d <= monthDays[year == 2000 ? 0 : 1][month - 1]; ++d) {
        int y = 0;
        int m = 0;
        double day = 0.0;
        MJDCAL(mjd, y, m, day);
        ASSERT_EQ(y, year) << mjd;
        ASSERT_EQ(m, month) << mjd;
        ASSERT_EQ(day, d) << mjd;
        mjd += 1.0;
      }
    }
  }
}

TEST(Fullyr, WindowFrom1960To2059) {
  const std::pair<int, int> cases[] = {{0, 2000},   {59, 2059},   {60, 1960}, {99, 1999},
                                       {100, 100},  {1995, 1995}, {-1, 1999}, {2059, 2059}};
  for (const auto& [in, out] : cases) EXPECT_EQ(FULLYR(in), out) << in;
}

TEST(Remaind, KeepsTheSignOfX) {
  EXPECT_EQ(REMAIND(7.5, 2.0), 1.5);
  EXPECT_EQ(REMAIND(-7.5, 2.0), -1.5);
  EXPECT_EQ(REMAIND(7.5, -2.0), 1.5);
  EXPECT_EQ(REMAIND(51544.75, 1.0), 0.75);
  EXPECT_EQ(REMAIND(-0.25, 1.0), -0.25);
}

class ClockTest : public ::testing::Test {
 protected:
  void TearDown() override { rt::setClockOverride(std::nullopt); }
};

TEST_F(ClockTest, DatvalReturnsTheClockValues) {
  const rt::ClockValues clock = {2001, 3, 5, 60, 14, 5, 9, 250};
  rt::setClockOverride(clock);
  std::array<int, 8> values{};
  DATVAL(values);
  EXPECT_EQ(values, clock);
}

TEST_F(ClockTest, DattimGivesRunDateAndTime) {
  struct Case {
    rt::ClockValues clock;
    const char* date;
    const char* time;
  };
  const Case cases[] = {
      {{2001, 3, 5, 60, 14, 5, 9, 0}, "05-MAR-01", "14:05"},
      {{2010, 1, 9, 0, 8, 7, 0, 999}, "09-JAN-10", "08:07"},
      {{1999, 12, 31, -300, 23, 59, 59, 999}, "31-DEC-99", "23:59"},
      {{2000, 7, 14, 120, 0, 0, 0, 0}, "14-JUL-00", "00:00"},
  };
  for (const auto& c : cases) {
    rt::setClockOverride(c.clock);
    std::string date = "x";
    std::string time;
    DATTIM(date, time);
    EXPECT_EQ(date, c.date);
    EXPECT_EQ(time, c.time);
  }
}

}  // namespace
