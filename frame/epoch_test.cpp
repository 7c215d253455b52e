#include "frame/epoch.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "frame/mjd.h"
#include "frame/testsupport.h"

namespace {

using frametest::exitStatusOf;

const std::string kPad(16, ' ');

class EpochTest : public frametest::FrameTest {
 protected:
  static std::string write(int iForm, double epoch, std::size_t len = 19,
                           std::optional<int> nDec = std::nullopt) {
    std::string text(len, '#');
    TIMST2(iForm, 1, &epoch, text, nDec);
    return text;
  }

  static double read(int iForm, std::string_view text, std::optional<int> nDec = std::nullopt) {
    double epoch = -1.0;
    ST2TIM(iForm, 1, text, &epoch, nDec);
    return epoch;
  }
};

// MJD of a date and time of day.
double mjdOf(int y, int mo, int d, int h, int mi, double s) {
  return CALMJD(y, mo, d + (h * 3600.0 + mi * 60.0 + s) / 86400.0);
}

// A tolerance of 1e-9 days (86 microseconds) for epochs read from text.
constexpr double kDayTol = 1e-9;

TEST_F(EpochTest, WritesTheThreeForms) {
  struct Case {
    int form;
    double epoch;
    std::size_t len;
    std::optional<int> nDec;
    const char* text;
  };
  const Case cases[] = {
      {1, 51544.5, 19, {}, "2000-01-01 12:00:00"},
      {2, 51544.5, 19, {}, "2000 01 01 12 00 00"},
      {3, 51544.5, 22, 2, "2000 01 01 12 00  0.00"},
      {3, mjdOf(2001, 5, 9, 14, 5, 9.25), 23, 3, "2001 05 09 14 05  9.250"},
      {3, mjdOf(2001, 5, 9, 14, 5, 9.25), 20, 0, "2001 05 09 14 05  9."},
      {1, mjdOf(2001, 5, 9, 14, 5, 9.0), 19, {}, "2001-05-09 14:05:09"},
      {1, mjdOf(2001, 5, 9, 14, 5, 9.4), 19, {}, "2001-05-09 14:05:09"},
      {1, mjdOf(2001, 5, 9, 14, 5, 9.5), 19, {}, "2001-05-09 14:05:10"},
      {1, 51544.5, 25, {}, "2000-01-01 12:00:00      "},  // the rest is blank
      {1, -0.25, 19, {}, "1858-11-16 18:00:00"},
      {1, 59000.75, 19, {}, "2020-05-31 18:00:00"},
      // Seconds that round to a full minute are carried into the date.
      {1, mjdOf(2000, 1, 1, 12, 0, 59.6), 19, {}, "2000-01-01 12:01:00"},
      {2, mjdOf(2000, 12, 31, 23, 59, 59.7), 19, {}, "2001 01 01 00 00 00"},
      {1, mjdOf(2000, 2, 28, 23, 59, 59.5), 19, {}, "2000-02-29 00:00:00"},
      {3, mjdOf(2000, 12, 31, 23, 59, 59.97), 21, 1, "2001 01 01 00 00  0.0"},
      {3, mjdOf(2000, 12, 31, 23, 59, 59.94), 21, 1, "2000 12 31 23 59 59.9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(write(c.form, c.epoch, c.len, c.nDec), c.text);
  }
  EXPECT_EQ(console_.str(), "");
}

TEST_F(EpochTest, SpecialEpochsWriteBlanksWithoutChecks) {
  for (double special : {0.0, 1.0e20}) {
    EXPECT_EQ(write(1, special), std::string(19, ' '));
    EXPECT_EQ(write(2, special, 30), std::string(30, ' '));
    EXPECT_EQ(write(3, special, 5), std::string(5, ' '));     // no nDec, too short
    EXPECT_EQ(write(4, special, 3), std::string(3, ' '));     // unknown form
  }
  EXPECT_EQ(console_.str(), "");
}

TEST_F(EpochTest, ReadsTheForms) {
  struct Case {
    int form;
    const char* text;
    std::optional<int> nDec;
    double epoch;
  };
  const double t = mjdOf(2001, 5, 9, 14, 5, 9.25);
  const Case cases[] = {
      {1, "2000-01-01 12:00:00", {}, 51544.5},
      {2, "2000 01 01 12 00 00", {}, 51544.5},
      {1, "2000 01 01 12 00 00", {}, 51544.5},  // separator columns are skipped
      {1, "2000-01-01T12:30:00", {}, mjdOf(2000, 1, 1, 12, 30, 0)},
      {1, "2000-01-01         ", {}, 51544.0},  // blank time fields read as 0
      // The edges of a date and a time of day.
      {1, "2024-02-29 00:00:00", {}, mjdOf(2024, 2, 29, 0, 0, 0)},
      {1, "2000-02-29 12:00:00", {}, mjdOf(2000, 2, 29, 12, 0, 0)},  // a leap century
      {1, "2023-12-31 23:59:59", {}, mjdOf(2023, 12, 31, 23, 59, 59)},
      {1, "2023-01-31 00:00:00", {}, mjdOf(2023, 1, 31, 0, 0, 0)},
      {3, "2023 12 31 23 59 59.999", 3, mjdOf(2023, 12, 31, 23, 59, 59.999)},
      {1, "2001-05-09 14:05:09 and more", {}, mjdOf(2001, 5, 9, 14, 5, 9)},
      {1, "1858-11-16 18:00:00", {}, -0.25},
      {3, "2001 05 09 14 05  9.250", 3, t},
      {3, "2001 05 09 14 05   9250", 3, t},    // implied decimals
      {3, "2001 05 09 14 05 9.25", {}, t},      // free-form seconds
      {3, "2001 05 09 14 05     9.25   ", {}, t},
      {3, "2001 05 09 14 05 925-2", {}, t},     // bare signed exponent
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_NEAR(read(c.form, c.text, c.nDec), c.epoch, kDayTol);
  }
  EXPECT_EQ(console_.str(), "");
}

// A text that is not a date and time of day stops the run as one that
// cannot be read: a decimal year, a month, day or time out of its range.
TEST_F(EpochTest, TextsThatAreNoDateAndTimeStop) {
  struct Case {
    int form;
    int nEpo;
    std::string text;
    std::optional<int> nDec;
    std::string shown = "";  // the text the block shows, when not the whole text
  };
  const Case cases[] = {
      {1, 1, "2024.0             ", {}},
      {1, 1, "2024.5             ", {}},
      {1, 1, "2024.00274         ", {}},
      {1, 1, "2024-13-45 00:00:00", {}},
      {1, 1, "2000-13-01 00:00:00", {}},
      {1, 1, "2000-00-10 00:00:00", {}},
      {1, 1, "2023-02-29 00:00:00", {}},  // not a leap year
      {1, 1, "1900-02-29 00:00:00", {}},  // nor is a century not divisible by 400
      {1, 1, "2024-02-30 00:00:00", {}},
      {1, 1, "2024-04-31 00:00:00", {}},
      {1, 1, "2024-01-00 00:00:00", {}},
      {1, 1, "2000-01-01 24:00:00", {}},
      {1, 1, "2000-01-01 -1:00:00", {}},
      {1, 1, "2000-01-01 12:60:00", {}},
      {1, 1, "2000-01-01 12:00:60", {}},
      {2, 1, "2000 01 01 12 00 99", {}},
      {3, 1, "2000 01 01 12 00 60.000", 3},
      {3, 1, "2000 01 01 12 00 -0.5", {}},
      // Either part of an interval.
      {1, 2, "2024.5               2024-01-01 00:00:00", {}, "2024.5"},
      {1, 2, "2024-01-01 00:00:00  2024-13-01 00:00:00", {}, "2024-13-01 00:00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    restart();
    double epochs[2] = {0.0, 0.0};
    EXPECT_EQ(exitStatusOf([&] { ST2TIM(c.form, c.nEpo, c.text, epochs, c.nDec); }), 1);
    const std::string shown =
        c.shown.empty() ? c.text.substr(0, c.text.find_last_not_of(' ') + 1) : c.shown;
    EXPECT_EQ(console_.str(), "\n *** SR ST2TIM: Cannot extract the datum/time.\n" + kPad +
                                  "String: \"" + shown + "\"\n\n");
  }
}

TEST_F(EpochTest, BlankTextReadsAsZeroWithoutChecks) {
  EXPECT_EQ(read(1, "                   "), 0.0);
  EXPECT_EQ(read(1, "   "), 0.0);
  EXPECT_EQ(read(7, ""), 0.0);
  EXPECT_EQ(read(3, " ", 50), 0.0);
  EXPECT_EQ(console_.str(), "");
}

TEST_F(EpochTest, WrittenTextsReadBackToTheSameInstant) {
  // Epochs from 1990 to 2030 at odd times of day, through every form; the
  // writing adds a guard of 1e-7 days (forms 1, 2) and rounds the seconds.
  for (double e = 47892.0; e < 62502.0; e += 97.123456789) {
    SCOPED_TRACE(e);
    EXPECT_NEAR(read(1, write(1, e)), e, 0.5 / 86400 + 1e-7 + kDayTol);
    EXPECT_NEAR(read(2, write(2, e)), e, 0.5 / 86400 + 1e-7 + kDayTol);
    EXPECT_NEAR(read(3, write(3, e, 23, 3), 3), e, 0.0005 / 86400 + kDayTol);
    EXPECT_NEAR(read(3, write(3, e, 23, 3)), e, 0.0005 / 86400 + kDayTol);
  }
}

TEST_F(EpochTest, St2timStops) {
  struct Case {
    int form;
    int nEpo;
    std::string text;
    std::optional<int> nDec;
    std::string block;
  };
  const Case cases[] = {
      {1, 1, "20x0-01-01 00:00:00", {},
       "\n *** SR ST2TIM: Cannot extract the datum/time.\n" + kPad +
           "String: \"20x0-01-01 00:00:00\"\n\n"},
      {3, 1, "2001 05 09 14 05   ", {},
       "\n *** SR ST2TIM: Cannot extract the datum/time.\n" + kPad +
           "String: \"2001 05 09 14 05\"\n\n"},
      {3, 1, "2001 05", {},
       "\n *** SR ST2TIM: Cannot extract the datum/time.\n" + kPad + "String: \"2001 05\"\n\n"},
      {1, 1, "2000-01-01 12:00:0", {},
       "\n *** SR ST2TIM: The input string is too short.\n" + kPad +
           "Current  length of the string:   18\n" + kPad +
           "Required length of the string:   19\n\n"},
      {3, 1, "2001 05 09 14 05  9.25", 3,
       "\n *** SR ST2TIM: The input string is too short.\n" + kPad +
           "Current  length of the string:   22\n" + kPad +
           "Required length of the string:   23\n\n"},
      {4, 1, "2000-01-01 12:00:00", {},
       "\n *** SR ST2TIM: Unknown format identified:    4\n" + kPad +
           "(only values between 1 and 3 are supported)\n\n"},
      // Two epochs: the texts of forms 1 and 2 need 40 characters, form 3
      // 2 * nDec + 42, and only form 3 says so with a colon.
      {1, 2, std::string(39, '1'), {},
       "\n *** SR ST2TIM: The input string is too short.\n" + kPad +
           "Current  length of the string:   39\n" + kPad +
           "Required length of the string:   40\n\n"},
      {3, 2, std::string(45, '1'), 2,
       "\n *** SR ST2TIM: The input string is too short:\n" + kPad +
           "Current  length of the string:   45\n" + kPad +
           "Required length of the string:   46\n\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    restart();
    double epochs[2] = {0.0, 0.0};
    EXPECT_EQ(exitStatusOf([&] { ST2TIM(c.form, c.nEpo, c.text, epochs, c.nDec); }), 1);
    EXPECT_EQ(console_.str(), c.block);
  }
}

TEST_F(EpochTest, Timst2Stops) {
  struct Case {
    int form;
    int nEpo;
    std::size_t len;
    std::optional<int> nDec;
    std::string block;
  };
  const Case cases[] = {
      {1, 1, 18, {},
       "\n *** SR TIMST2: The result string is too short.\n" + kPad +
           "Current  length of the string:   18\n" + kPad +
           "Required length of the string:   19\n\n"},
      {3, 1, 22, 3,
       "\n *** SR TIMST2: The result string is too short.\n" + kPad +
           "Current  length of the string:   22\n" + kPad +
           "Required length of the string:   23\n\n"},
      {3, 1, 40, {},
       "\n *** SR TIMST2: The number of fractionals for the seconds\n" + kPad +
           "in the resulting string is not specified.\n" + kPad +
           "(required optional argument for format type 3)\n\n"},
      {4, 1, 19, {},
       "\n *** SR TIMST2: Unknown format identified:    4\n" + kPad +
           "(only values between 1 and 3 are supported)\n\n"},
      // Two epochs: the lengths of the interval texts, a colon after the
      // sentence for form 3, and the fractionals block indented by 8.
      {1, 2, 39, {},
       "\n *** SR TIMST2: The result string is too short.\n" + kPad +
           "Current  length of the string:   39\n" + kPad +
           "Required length of the string:   40\n\n"},
      {3, 2, 45, 2,
       "\n *** SR TIMST2: The result string is too short:\n" + kPad +
           "Current  length of the string:   45\n" + kPad +
           "Required length of the string:   46\n\n"},
      {3, 2, 60, {},
       "\n *** SR TIMST2: The number of fractionals for the seconds\n" + std::string(8, ' ') +
           "in the resulting string is not specified.\n" + std::string(8, ' ') +
           "(required optional argument for format type 3)\n\n"},
      {0, 2, 40, {},
       "\n *** SR TIMST2: Unknown format identified:    0\n" + kPad +
           "(only values between 1 and 3 are supported)\n\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "form " << c.form << " nEpo " << c.nEpo);
    restart();
    const double epochs[2] = {51544.5, 51545.0};
    std::string text(c.len, ' ');
    EXPECT_EQ(exitStatusOf([&] { TIMST2(c.form, c.nEpo, epochs, text, c.nDec); }), 1);
    EXPECT_EQ(console_.str(), c.block);
  }
}

TEST_F(EpochTest, ReadsIntervals) {
  const std::string second = std::string(21, ' ') + "2000-01-01 12:00:00";
  double epochs[2] = {-1.0, -1.0};
  ST2TIM(1, 2, second, epochs);
  EXPECT_EQ(epochs[0], 0.0);
  EXPECT_NEAR(epochs[1], 51544.5, kDayTol);

  ST2TIM(1, 2, "2000-01-01 12:00:00" + std::string(21, ' '), epochs);
  EXPECT_NEAR(epochs[0], 51544.5, kDayTol);
  EXPECT_EQ(epochs[1], 1.0e20);

  ST2TIM(2, 2, "2000 01 01 00 00 00  2000 01 02 00 00 00", epochs);
  EXPECT_NEAR(epochs[0], 51544.0, kDayTol);
  EXPECT_NEAR(epochs[1], 51545.0, kDayTol);

  ST2TIM(1, 2, std::string(40, ' '), epochs);
  EXPECT_EQ(epochs[0], 0.0);
  EXPECT_EQ(epochs[1], 1.0e20);

  // Form 3 with nDec 1: columns 1-21 and 24-44.
  ST2TIM(3, 2, "2000 01 01 00 00  0.0  2000 01 01 06 00 30.0", epochs, 1);
  EXPECT_NEAR(epochs[0], 51544.0, kDayTol);
  EXPECT_NEAR(epochs[1], mjdOf(2000, 1, 1, 6, 0, 30), kDayTol);

  // Form 3 without nDec splits the text in halves: 44 characters give
  // columns 1-21 and 23-44.
  ST2TIM(3, 2, "2000 01 01 00 00  0.0 2000 01 01 06 00 30.25", epochs);
  EXPECT_NEAR(epochs[0], 51544.0, kDayTol);
  EXPECT_NEAR(epochs[1], mjdOf(2000, 1, 1, 6, 0, 30.25), kDayTol);
  EXPECT_EQ(console_.str(), "");
}

TEST_F(EpochTest, ReversedIntervalWarnsAndKeepsBothEpochs) {
  const std::string text = "2000-01-02 00:00:00  2000-01-01 00:00:00   ";
  double epochs[2] = {-1.0, -1.0};
  ST2TIM(1, 2, text, epochs);
  EXPECT_NEAR(epochs[0], 51545.0, kDayTol);
  EXPECT_NEAR(epochs[1], 51544.0, kDayTol);
  EXPECT_EQ(console_.str(), "\n ### SR ST2TIM: Illegal time interval:\n" + kPad + text + "\n\n");
}

TEST_F(EpochTest, WritesIntervals) {
  auto interval = [](int form, double a, double b, std::size_t len,
                     std::optional<int> nDec = std::nullopt) {
    const double epochs[2] = {a, b};
    std::string text(len, '#');
    TIMST2(form, 2, epochs, text, nDec);
    return text;
  };
  EXPECT_EQ(interval(1, 0.0, 1.0e20, 40), std::string(40, ' '));
  EXPECT_EQ(interval(4, 0.0, 1.0e20, 3), "   ");  // no checks for the open interval
  EXPECT_EQ(interval(1, 0.0, 51544.5, 40), std::string(21, ' ') + "2000-01-01 12:00:00");
  EXPECT_EQ(interval(1, 51544.5, 1.0e20, 40), "2000-01-01 12:00:00" + std::string(21, ' '));
  EXPECT_EQ(interval(2, 51544.0, 51545.0, 42), "2000 01 01 00 00 00  2000 01 02 00 00 00  ");
  EXPECT_EQ(interval(3, 51544.5, 51545.25, 46, 2),
            "2000 01 01 12 00  0.00  2000 01 02 06 00  0.00");
  EXPECT_EQ(console_.str(), "");
}

}  // namespace
