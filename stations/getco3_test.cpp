#include "stations/getco3.h"

#include <gtest/gtest.h>

#include "stations/testsupport.h"

namespace {

using stationtest::fixture;
using stationtest::exitStatusOf;
using stationtest::joinLines;
using stationtest::texts;

class Getco3Test : public stationtest::StationEnv {};

TEST_F(Getco3Test, ReadsEveryOutputOfACoordinateFile) {
  int nStat = -1;
  std::vector<t_staName> names;
  std::string title, datum;
  double epoch = -1.0;
  std::vector<int> num;
  std::vector<std::array<double, 3>> x;
  std::vector<char> flg;
  std::vector<t_staFlg5> flg5;
  std::vector<t_plateName> plate;
  std::vector<std::string> footer;
  GETCO3(fixture("getco3_coord.crd"), 1, {"@"}, nStat, names,
         {.fileTitle = &title, .datumName = &datum, .timCrd = &epoch, .stanum = &num,
          .xstat = &x, .staflg = &flg, .staflg5 = &flg5, .plate = &plate, .footer = &footer,
          .footerLen = 20});

  ASSERT_EQ(nStat, 4);
  EXPECT_EQ(texts(names), (std::vector<std::string>{"ALPHA 10001M001 ", "BRAVO           ",
                                                    "CHARLIE         ", "DELTA           "}));
  EXPECT_EQ(title, rt::fit("TEST NETWORK COORDINATES", 80));
  EXPECT_EQ(datum, "IGS14           ");
  EXPECT_NEAR(epoch, 55197.5, 1e-9);
  EXPECT_EQ(num, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_NEAR(x[0][0], 4027893.73215, 1e-6);
  EXPECT_NEAR(x[0][1], 307045.61321, 1e-6);
  EXPECT_NEAR(x[0][2], 4919474.99567, 1e-6);
  EXPECT_NEAR(x[2][0], -1234567.12345, 1e-6);
  EXPECT_NEAR(x[3][1], -2.5, 1e-12);
  EXPECT_EQ(flg, (std::vector<char>{'A', ' ', 'X', 'A'}));
  EXPECT_EQ(texts(flg5), (std::vector<std::string>{"A    ", "     ", "X  YZ", "A    "}));
  EXPECT_EQ(texts(plate), (std::vector<std::string>{"    ", "    ", "EURA", "    "}));
  // The footer begins with the line that ended the station block; its
  // lines have the asked length.
  EXPECT_EQ(footer, (std::vector<std::string>{rt::fit("", 20), rt::fit("FOOTER LINE ONE", 20),
                                              rt::fit("", 20), rt::fit("FOOTER LINE THREE", 20)}));
}

TEST_F(Getco3Test, FlagSelection) {
  struct Case {
    std::vector<std::string> flags;
    int nFlag;
    std::vector<std::string> taken;
  };
  const Case cases[] = {
      {{"@"}, 1, {"ALPHA 10001M001", "BRAVO", "CHARLIE", "DELTA"}},
      {{"#"}, 1, {"ALPHA 10001M001", "CHARLIE", "DELTA"}},
      {{" "}, 1, {"BRAVO"}},
      {{"A"}, 1, {"ALPHA 10001M001", "DELTA"}},
      {{"X", " "}, 2, {"BRAVO", "CHARLIE"}},
      {{"X", " "}, 1, {"CHARLIE"}},  // only nFlag entries count
      {{"Y"}, 1, {}},                // column 71 only, not the other flag characters
      {{"@"}, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.flags) + " nFlag " + std::to_string(c.nFlag));
    int nStat = -1;
    std::vector<t_staName> names;
    std::vector<std::array<double, 3>> x;
    GETCO3(fixture("getco3_coord.crd"), c.nFlag, c.flags, nStat, names, {.xstat = &x});
    ASSERT_EQ(nStat, static_cast<int>(c.taken.size()));
    for (int i = 0; i < nStat; ++i) EXPECT_EQ(names[i].str(), rt::fit(c.taken[i], 16));
    // The arrays keep one element per line of the station block.
    EXPECT_EQ(names.size(), 4u);
    EXPECT_EQ(x.size(), 4u);
  }
}

TEST_F(Getco3Test, PlateOnlyFileIsReadWithoutValues) {
  // A caller that does not ask for the values reads a file whose line 7
  // carries none.
  int nStat = 0;
  std::vector<t_staName> names;
  std::vector<char> flg;
  std::vector<t_plateName> plate;
  std::vector<int> num;
  double epoch = -1.0;
  GETCO3(fixture("getco3_plates.crd"), 1, {"@"}, nStat, names,
         {.timCrd = &epoch, .stanum = &num, .staflg = &flg, .plate = &plate});
  ASSERT_EQ(nStat, 3);
  EXPECT_EQ(epoch, 0.0);  // no epoch on the datum line
  EXPECT_EQ(num, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(flg, (std::vector<char>{' ', 'V', ' '}));
  EXPECT_EQ(texts(plate), (std::vector<std::string>{"EURA", "NOAM", "PCFC"}));
}

TEST_F(Getco3Test, ValuesAskedForNeedALineSevenThatCarriesThem) {
  const std::vector<std::string> head = {"T", std::string(80, '-'), "LOCAL GEODETIC DATUM: D", "",
                                         "NUM  STATION NAME", ""};
  const std::string withValues =
      "  1  ALPHA                   1.00000        2.00000        3.00000    A";
  const std::string pointInColumn32 =
      "  1  ALPHA                   12.0000        2.00000        3.00000    A";
  const std::string noValues =
      "  1  ALPHA                                                            A";
  // The line of withValues one column to the left, and with the blanks
  // between name and X written as a tab.
  const std::string shifted = withValues.substr(1);
  const std::string tabbed = "  1  ALPHA\t1.00000        2.00000        3.00000    A";
  const std::string second =
      "  2  BRAVO                   4.00000        5.00000        6.00000    B";
  struct Case {
    const char* what;
    std::string line7;
    std::vector<std::string> flags;
    std::vector<std::array<double, 3>> x;  // empty: the run stops
  };
  const Case cases[] = {
      {"line 7 carries values", withValues, {"@"}, {{1.0, 2.0, 3.0}, {4.0, 5.0, 6.0}}},
      {"point in column 32", pointInColumn32, {"@"}, {{12.0, 2.0, 3.0}, {4.0, 5.0, 6.0}}},
      // Decided on line 7 whether or not its station is taken.
      {"line 7 left out, with values", withValues, {"B"}, {{4.0, 5.0, 6.0}, {0.0, 0.0, 0.0}}},
      {"line 7 without values", noValues, {"@"}, {}},
      {"line 7 left out, without values", noValues, {"B"}, {}},
      {"line 7 shifted by a column", shifted, {"@"}, {}},
      {"line 7 with a tab", tabbed, {"@"}, {}},
  };
  int serial = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    restart();
    std::vector<std::string> lines = head;
    lines.push_back(c.line7);
    lines.push_back(second);
    lines.push_back(" ");
    // A file of its own: the unit of a stopped read is left open.
    const std::string file = writeLines("values" + std::to_string(serial++) + ".crd", lines);
    int nStat = 0;
    std::vector<t_staName> names;
    std::vector<std::array<double, 3>> x;
    const auto read = [&] { GETCO3(file, 1, c.flags, nStat, names, {.xstat = &x}); };
    if (c.x.empty()) {
      EXPECT_EQ(exitStatusOf(read), 1);
      EXPECT_EQ(console(), joinLines({"", " *** SR GETCO3: Error reading data lines for coordinate file",
                                      "                File name:   " + file,
                                      "                Line number:      1", ""}));
      // Names alone are read from the same file.
      restart();
      GETCO3(file, 1, c.flags, nStat, names);
      EXPECT_EQ(names.size(), 2u);
      EXPECT_EQ(console(), "");
      continue;
    }
    read();
    ASSERT_EQ(x.size(), 2u);
    for (int i = 0; i < 2; ++i) {
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(x[i][k], c.x[i][k], 1e-12) << i << " " << k;
    }
  }

  // A file without stations needs no values.
  restart();
  const std::string empty = writeLines("empty.crd", {"T", std::string(80, '-'), "D", "", "H", "", ""});
  int nStat = -1;
  std::vector<t_staName> names;
  std::vector<std::array<double, 3>> x;
  GETCO3(empty, 1, {"@"}, nStat, names, {.xstat = &x});
  EXPECT_EQ(nStat, 0);
  EXPECT_EQ(console(), "");
}

TEST_F(Getco3Test, NulInATitleOrDatumAskedForIsAHeaderError) {
  // getco3_coord.crd with a NUL in the title (line 1) or in the datum name
  // (line 3).
  struct Case {
    const char* what;
    int line;            // from 0
    std::size_t column;  // from 0
    bool askTitle, askDatum;
    bool stops;
  };
  const Case cases[] = {
      {"title", 0, 4, true, false, true},
      {"datum name", 2, 24, false, true, true},
      {"title not asked for", 0, 4, false, true, false},
      {"datum not asked for", 2, 24, true, false, false},
  };
  const std::string original = stationtest::fileContent(fixture("getco3_coord.crd"));
  int serial = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    restart();
    std::string text = original;
    text[stationtest::lineStart(text, c.line) + c.column] = '\0';
    const std::string file = writeFile("nulhead" + std::to_string(serial++) + ".crd", text);
    int nStat = 0;
    std::vector<t_staName> names;
    std::string title, datum;
    const auto read = [&] {
      GETCO3(file, 1, {"@"}, nStat, names,
             {.fileTitle = c.askTitle ? &title : nullptr, .datumName = c.askDatum ? &datum : nullptr});
    };
    if (!c.stops) {
      read();
      EXPECT_EQ(nStat, 4);
      EXPECT_EQ(console(), "");
      continue;
    }
    EXPECT_EQ(exitStatusOf(read), 1);
    EXPECT_EQ(console(), joinLines({"", " *** SR GETCO3: Error reading header of coordinate file",
                                    "                File name:  " + file, ""}));
  }
}

TEST_F(Getco3Test, EndOfTheStationBlockAndFooter) {
  struct Case {
    const char* file;
    int nStat;
    std::size_t arraySize;
    std::vector<std::string> footer;
  };
  const Case cases[] = {
      // Empty line 7: no stations, the footer starts with it.
      {"getco3_no_stations.crd", 0, 0, {"", "ONLY FOOTER"}},
      // A line holding only a number ends the block and opens the footer;
      // every line after it stays in the footer.
      {"getco3_number_ends.crd", 1, 3,
       {"  5", "  2  BRAVO                   4.00000        5.00000        6.00000    A", "",
        "AFTER BLANK"}},
      // A file that ends with its station lines has no footer.
      {"getco3_no_blank_end.crd", 2, 2, {}},
      // Six header lines only: no stations and no footer.
      {"getco3_header_only.crd", 0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    int nStat = -1;
    std::vector<t_staName> names;
    std::vector<std::string> footer;
    GETCO3(fixture(c.file), 1, {"@"}, nStat, names, {.footer = &footer});
    EXPECT_EQ(nStat, c.nStat);
    EXPECT_EQ(names.size(), c.arraySize);
    std::vector<std::string> expected;
    for (const auto& l : c.footer) expected.push_back(rt::fit(l, 255));
    EXPECT_EQ(footer, expected);
  }
}

TEST_F(Getco3Test, HeaderError) {
  const std::string file = fixture("getco3_short_header.crd");
  int nStat = 0;
  std::vector<t_staName> names;
  EXPECT_EQ(exitStatusOf([&] { GETCO3(file, 1, {"@"}, nStat, names); }), 1);
  EXPECT_EQ(console(), joinLines({"", " *** SR GETCO3: Error reading header of coordinate file",
                                  "                File name:  " + file, ""}));
}

TEST_F(Getco3Test, DataLineErrorCountsTheTakenStations) {
  const std::string file = fixture("getco3_bad_number.crd");
  int nStat = 0;
  std::vector<t_staName> names;
  std::vector<int> num;
  // BRAVO has no flag and is not taken: the failing line is the second taken.
  EXPECT_EQ(exitStatusOf([&] { GETCO3(file, 1, {"#"}, nStat, names, {.stanum = &num}); }), 1);
  EXPECT_EQ(console(),
            joinLines({"", " *** SR GETCO3: Error reading data lines for coordinate file",
                       "                File name:   " + file,
                       "                Line number:      2", ""}));

  // Without station numbers the same line reads without complaint.
  restart();
  std::vector<std::array<double, 3>> x;
  GETCO3(file, 1, {"#"}, nStat, names, {.xstat = &x});
  EXPECT_EQ(nStat, 2);
  EXPECT_NEAR(x[1][2], 9.0, 1e-12);
  EXPECT_EQ(console(), "");
}

TEST_F(Getco3Test, DataLineErrorDeepInALargeFileNamesTheFirstBadStation) {
  // Every third station has a blank flag and is not taken with "#"; the
  // numbers and values of large files are converted in blocks of lines.
  constexpr int kLines = 60000;
  struct Case {
    const char* what;
    std::vector<int> badNumber;  // station lines (counted from 0) with a letter in the number
    std::vector<int> badValue;   // station lines with a letter in a value
    int reported;                // taken stations up to the first bad one (line k: k - k / 3)
  };
  const Case cases[] = {
      {"none", {}, {}, 0},
      {"early number", {4}, {}, 3},
      {"value in a later share", {}, {23002}, 15335},
      {"earlier value before a later number", {50000}, {31000}, 20667},
      {"two chunks of one block: the earlier chunk's", {20000}, {6001}, 4001},
      {"one chunk: the earlier line", {3200}, {3100}, 2067},
      {"a bad line that is not taken counts for nothing", {30}, {45001}, 30001},
  };
  int serial = 0;
  char buf[128];
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    restart();
    std::string text = joinLines({"LARGE", std::string(80, '-'),
                                  "LOCAL GEODETIC DATUM: IGS14             EPOCH: 2010-01-01 00:00:00",
                                  "", "NUM  STATION NAME           X (M)          Y (M)          Z (M)     FLAG",
                                  ""});
    for (int i = 0; i < kLines; ++i) {
      std::snprintf(buf, sizeof buf, "%3d  ST%06d%-8s%15.5f%15.5f%15.5f    %s", i % 1000, i, "",
                    4.0e6 + i, 1.0e6, 4.8e6, i % 3 == 0 ? "" : "A");
      std::string line = rt::trimRight(buf);
      for (int b : c.badNumber)
        if (b == i) line[1] = 'X';
      for (int b : c.badValue)
        if (b == i) line[40] = 'Y';
      text += line + "\n";
    }
    // A file of its own: the unit of a stopped read is left open.
    const std::string file = writeFile("large" + std::to_string(serial++) + ".crd", text);
    int nStat = 0;
    std::vector<t_staName> names;
    std::vector<int> num;
    std::vector<std::array<double, 3>> x;
    if (c.reported == 0) {
      GETCO3(file, 1, {"#"}, nStat, names, {.stanum = &num, .xstat = &x});
      ASSERT_EQ(nStat, kLines - kLines / 3);
      EXPECT_EQ(num[nStat - 1], (kLines - 1) % 1000);
      EXPECT_NEAR(x[nStat - 1][0], 4.0e6 + kLines - 1, 1e-9);
      EXPECT_NEAR(x[12345][0], 4.0e6 + 12345 / 2 * 3 + 12345 % 2 + 1, 1e-9);
      continue;
    }
    EXPECT_EQ(exitStatusOf([&] { GETCO3(file, 1, {"#"}, nStat, names, {.stanum = &num, .xstat = &x}); }), 1);
    char number[16];
    std::snprintf(number, sizeof number, "%6d", c.reported);
    EXPECT_EQ(console(), joinLines({"", " *** SR GETCO3: Error reading data lines for coordinate file",
                                    "                File name:   " + file,
                                    std::string("                Line number: ") + number, ""}));
  }
}

TEST_F(Getco3Test, UnreadableValueIsADataLineError) {
  const std::string file = fixture("getco3_bad_value.crd");
  int nStat = 0;
  std::vector<t_staName> names;
  std::vector<std::array<double, 3>> x;
  EXPECT_EQ(exitStatusOf([&] { GETCO3(file, 1, {"@"}, nStat, names, {.xstat = &x}); }), 1);
  EXPECT_EQ(console(),
            joinLines({"", " *** SR GETCO3: Error reading data lines for coordinate file",
                       "                File name:   " + file,
                       "                Line number:      2", ""}));
}

TEST_F(Getco3Test, NulByteInATakenLineIsADataLineError) {
  // The lines of getco3_coord.crd with single characters replaced: a NUL in
  // a taken station line (name, flags, plate) stops the run as a number
  // that cannot be read does, at the first such line in file order; a
  // line that the flags leave out is not looked at.
  struct Change {
    int station;  // station line, from 0
    std::size_t column;  // from 0
    char by;
  };
  struct Case {
    const char* what;
    std::vector<Change> changes;
    std::string flag;  // the selection
    int reported;      // the taken station reported; 0: the file is read
  };
  const Case cases[] = {
      {"in a name", {{1, 8, '\0'}}, "@", 2},
      {"in the flag, taken by \"#\"", {{3, 70, '\0'}}, "#", 3},
      {"in the plate", {{2, 77, '\0'}}, "@", 3},
      {"a number before it is reported first", {{0, 1, 'x'}, {1, 8, '\0'}}, "@", 1},
      {"in a line that is not taken", {{1, 8, '\0'}}, "A", 0},
  };
  const std::string original = stationtest::fileContent(fixture("getco3_coord.crd"));
  int serial = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    restart();
    std::string text = original;
    for (const Change& ch : c.changes) {
      text[stationtest::lineStart(text, 6 + ch.station) + ch.column] = ch.by;
    }
    // A file of its own: the unit of a stopped read is left open.
    const std::string file = writeFile("nul" + std::to_string(serial++) + ".crd", text);
    int nStat = 0;
    std::vector<t_staName> names;
    std::vector<int> num;
    const auto read = [&] { GETCO3(file, 1, {c.flag}, nStat, names, {.stanum = &num}); };
    if (c.reported == 0) {
      read();
      ASSERT_EQ(nStat, 2);
      EXPECT_EQ(names[1].str(), "DELTA           ");
      EXPECT_EQ(console(), "");
      continue;
    }
    EXPECT_EQ(exitStatusOf(read), 1);
    EXPECT_EQ(console(), joinLines({"", " *** SR GETCO3: Error reading data lines for coordinate file",
                                    "                File name:   " + file,
                                    "                Line number:      " + std::to_string(c.reported),
                                    ""}));
  }
}

TEST_F(Getco3Test, DuplicateNameReportsTheFirstPairInFileOrder) {
  // ALPHA BRAVO BRAVO ALPHA: ALPHA is the first station with a later twin.
  const std::string file = fixture("getco3_duplicate.crd");
  int nStat = 0;
  std::vector<t_staName> names;
  EXPECT_EQ(exitStatusOf([&] { GETCO3(file, 1, {"@"}, nStat, names); }), 1);
  EXPECT_EQ(console(), joinLines({"", " *** SR GETCO3: More than one entry for station \"ALPHA\"",
                                  "                found in file: " + file,
                                  "                Processing is stopped.", ""}));
}

TEST_F(Getco3Test, DuplicateLeftOutByTheFlagsIsAccepted) {
  const std::string file = fixture("getco3_duplicate_blank_flag.crd");
  int nStat = 0;
  std::vector<t_staName> names;
  GETCO3(file, 1, {"#"}, nStat, names);
  EXPECT_EQ(nStat, 1);
  EXPECT_EQ(console(), "");
  EXPECT_EQ(exitStatusOf([&] { GETCO3(file, 1, {"@"}, nStat, names); }), 1);
}

TEST_F(Getco3Test, MissingFileStopsWithTheOpenFailure) {
  const std::string file = path("absent.crd");
  int nStat = 0;
  std::vector<t_staName> names;
  EXPECT_EQ(exitStatusOf([&] { GETCO3(file, 1, {"@"}, nStat, names); }), 1);
  EXPECT_EQ(console(), joinLines({"", " *** SR OPNERR: OPEN FAILED",
                                  "                FILE NAME : " + file,
                                  "                PGM./SUBR.:     getco3",
                                  "                IOSTAT    :      2",
                                  "                FILE UNIT :    999", ""}));
}

TEST_F(Getco3Test, LongFileNameIsUsedWhole) {
  // Relative to the test's directory, whatever the length of its path.
  const std::string name = std::string(120, 'd') + "/" + std::string(60, 'f') + ".crd";
  writeFile(name, stationtest::fileContent(fixture("getco3_coord.crd")));
  ASSERT_GT(name.size(), 180u);
  const rttest::WorkingDirectory here(dir_);
  int nStat = 0;
  std::vector<t_staName> names;
  GETCO3(name, 1, {"#"}, nStat, names);
  EXPECT_EQ(nStat, 3);
}

}  // namespace
