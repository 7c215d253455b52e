#include "stations/stalist.h"

#include <gtest/gtest.h>

#include "stations/testsupport.h"

namespace {

using stationtest::fixture;
using stationtest::exitStatusOf;
using stationtest::joinLines;

class StalistTest : public stationtest::StationEnv {
 protected:
  void SetUp() override {
    StationEnv::SetUp();
    rt::setClockOverride(rt::ClockValues{2024, 3, 5, 60, 14, 7, 9, 0});
  }
  void TearDown() override {
    rt::setClockOverride(std::nullopt);
    StationEnv::TearDown();
  }

  std::vector<std::string> names(const t_stalist& list) const {
    std::vector<std::string> out;
    for (int i = 0; i < list.nSta; ++i) out.push_back(list.staNam[i].str());
    return out;
  }
  // The message block of a failed read.
  std::string failure(const std::string& file, int nSig) {
    restart();
    t_stalist list;
    EXPECT_EQ(exitStatusOf([&] { READSTSG(file, nSig, list); }), 1);
    return console();
  }
  // A message block: an empty line, the lines ("@" at the end of a line
  // stands for the file name) and an empty line.
  static std::string block(const std::string& file, const std::vector<std::string>& lines) {
    std::vector<std::string> all = {""};
    for (std::string line : lines) {
      if (line.back() == '@') line = line.substr(0, line.size() - 1) + file;
      all.push_back(line);
    }
    all.push_back("");
    return joinLines(all);
  }
};

TEST_F(StalistTest, InitialisationEmptiesTheListAndKeepsTheTitle) {
  t_stalist list;
  list.listTitle = rt::fit("KEEP", 80);
  list.nSta = 2;
  list.staNam = stationtest::staNames({"A", "B"});
  list.sigma = {{1.0}, {2.0}};
  STALINIT(list);
  EXPECT_EQ(list.nSta, 0);
  EXPECT_TRUE(list.staNam.empty());
  EXPECT_TRUE(list.sigma.empty());
  EXPECT_EQ(list.listTitle, rt::fit("KEEP", 80));
}

TEST_F(StalistTest, NewFormatSelectionEndsAtTheFirstBlankLine) {
  // The layout of the list of accepted stations.
  t_stalist list;
  int nSig = 0;
  READSTSG(fixture("stalist_new_selection.sel"), nSig, list);
  EXPECT_EQ(nSig, 0);
  EXPECT_EQ(list.listTitle, rt::fit("ACCEPTED STATIONS OF THE TEST NETWORK", 80));
  EXPECT_EQ(names(list), (std::vector<std::string>{"ALPHA           ", "BRAVO 10002M003 ",
                                                   "CHARLIE         "}));
  EXPECT_TRUE(list.sigma.empty());

  // Read again into the same list: the earlier arrays are replaced.
  READSTSG(fixture("stalist_dashes.sel"), nSig, list);
  EXPECT_EQ(names(list), (std::vector<std::string>{"ALPHA           ", "BRAVO           "}));
  EXPECT_EQ(list.staNam.size(), 2u);
  EXPECT_EQ(list.listTitle, rt::fit("", 80));  // line 1 was blank: still the new format
  EXPECT_EQ(console(), "");
}

TEST_F(StalistTest, NewFormatSigmasWithDerivedColumns) {
  t_stalist list;
  int nSig = -1;
  READSTSG(fixture("stalist_new_sigma.sig"), nSig, list);
  EXPECT_EQ(nSig, 2);  // longest header line 40 characters
  ASSERT_EQ(list.nSta, 3);
  EXPECT_EQ(names(list), (std::vector<std::string>{"ALPHA           ", "BRAVO           ",
                                                   "CHARLIE         "}));
  ASSERT_EQ(list.sigma.size(), 3u);
  EXPECT_NEAR(list.sigma[0][0], 0.001, 1e-15);
  EXPECT_NEAR(list.sigma[0][1], 0.002, 1e-15);
  EXPECT_EQ(list.sigma[1][0], 999999.0);  // asterisks read as nines
  EXPECT_EQ(list.sigma[1][1], 0.0);       // a zero sigma is accepted
  EXPECT_EQ(list.sigma[2][0], 0.0);       // a blank field leaves the preset
  EXPECT_NEAR(list.sigma[2][1], 2.5, 1e-15);
}

TEST_F(StalistTest, OldFormatSigmas) {
  t_stalist list;
  int nSig = -1;
  READSTSG(fixture("stalist_old.sig"), nSig, list);
  EXPECT_EQ(nSig, 3);  // longest line 42 characters
  // The line of three characters is no station line.
  EXPECT_EQ(names(list), (std::vector<std::string>{"ALPHA           ", "BRAVO           ",
                                                   "CHARLIE         "}));
  ASSERT_EQ(list.sigma.size(), 3u);
  EXPECT_NEAR(list.sigma[0][2], 0.003, 1e-15);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(list.sigma[1][k], 0.005, 1e-15);  // one sigma for all
  EXPECT_EQ(list.sigma[2][0], 999999.0);
  EXPECT_EQ(list.sigma[2][1], 0.0);
  EXPECT_NEAR(list.sigma[2][2], 1.5, 1e-15);

  // Names only: the sigma fields are passed over.
  t_stalist names0;
  nSig = 0;
  READSTSG(fixture("stalist_old.sig"), nSig, names0);
  EXPECT_EQ(names(names0), names(list));
  EXPECT_TRUE(names0.sigma.empty());
}

TEST_F(StalistTest, OldFormatTitles) {
  // Names relative to the test's directory, whatever the length of its path.
  const std::string shortFile = "s.sel";
  writeLines(shortFile, {"    1ALPHA"});
  const rttest::WorkingDirectory here(dir_);
  t_stalist list;
  int nSig = 0;
  READSTSG(shortFile, nSig, list);
  EXPECT_EQ(list.listTitle, rt::fit("Converted from file " + shortFile, 64) + " 05-MAR-24 14:07");
}

TEST_F(StalistTest, OldFormatTitleOfALongFileName) {
  const std::string file(60, 'n');
  writeLines(file, {"    1ALPHA"});
  const rttest::WorkingDirectory here(dir_);
  t_stalist list;
  int nSig = 0;
  READSTSG(file, nSig, list);
  EXPECT_EQ(list.listTitle, rt::fit("Converted from file .." + file.substr(19), 64) +
                                " 05-MAR-24 14:07");
  EXPECT_EQ(names(list), (std::vector<std::string>{"ALPHA           "}));
}

TEST_F(StalistTest, FilesWithoutStations) {
  for (const char* name : {"stalist_empty.sel", "stalist_short_lines.sel"}) {
    SCOPED_TRACE(name);
    t_stalist list;
    list.nSta = 5;
    int nSig = 0;
    READSTSG(fixture(name), nSig, list);
    EXPECT_EQ(list.nSta, 0);
    EXPECT_EQ(console(), "");
  }
}

TEST_F(StalistTest, NulByteInATitleOrStationLineStops) {
  // One character of a fixture replaced by a NUL: the title and the
  // station lines up to the line that ends the list are texts of the list;
  // the header lines and the lines after the end are not read as texts.
  struct Case {
    const char* what;
    const char* file;
    int nSig;
    int line;            // from 1
    std::size_t column;  // from 0
    std::string header;  // empty: the list is read
  };
  const std::string selection = " *** SR READSTSG: Error reading station selection file.";
  const Case cases[] = {
      {"title", "stalist_new_selection.sel", 0, 1, 3, selection},
      {"station name", "stalist_new_selection.sel", 0, 7, 2, selection},
      {"the blank line that ends the list", "stalist_new_selection.sel", 0, 9, 0, selection},
      {"old format, sigma file", "stalist_old.sig", -1, 2, 6,
       " *** SR READSTSG: Error reading station sigma file."},
      {"header line", "stalist_new_selection.sel", 0, 5, 3, ""},
      {"after the end of the list", "stalist_new_selection.sel", 0, 10, 1, ""},
  };
  int serial = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string text = stationtest::fileContent(fixture(c.file));
    text[stationtest::lineStart(text, c.line - 1) + c.column] = '\0';
    const std::string file = writeFile("nul" + std::to_string(serial++) + ".sel", text);
    if (c.header.empty()) {
      restart();
      t_stalist list;
      int nSig = c.nSig;
      READSTSG(file, nSig, list);
      EXPECT_EQ(list.nSta, 3);
      EXPECT_EQ(console(), "");
      continue;
    }
    EXPECT_EQ(failure(file, c.nSig),
              block(file, {c.header, "                  File name:     @",
                           "                  Line number:   " + std::to_string(c.line)}));
  }
}

TEST_F(StalistTest, NewFormatMessages) {
  struct Case {
    const char* file;
    int nSig;
    std::vector<std::string> block;
  };
  const Case cases[] = {
      {"stalist_new_extra.sel", 0,
       {" *** SR READSTSG: Error reading station selection file.",
        "                  File name:     @", "                  Station name:  BRAVO",
        "                  Only the station name is expected on the line."}},
      {"stalist_new_negative.sig", 2,
       {" *** SR READSTSG: Error reading sigmas from file",
        "                  File name:           @",
        "                  Station name:        BRAVO",
        "                  Sigma in column  2:        -0.1"}},
      {"stalist_new_unreadable.sig", -1,
       {" *** SR READSTSG: Error reading sigmas from file",
        "                  File name:           @",
        "                  Station name:        BRAVO",
        "                  Sigma in column  1:         1.x"}},
      {"stalist_new_columns.sig", 2,
       {" *** SR READSTSG: Error reading station sigma file.",
        "                  File name:                 @",
        "                  Station name:              BRAVO",
        "                  Number of colums expected:          2"}},
      // More columns than a line can hold: the fields past its end are blank.
      {"stalist_new_sigma.sig", 30,
       {" *** SR READSTSG: Error reading station sigma file.",
        "                  File name:                 @",
        "                  Station name:              ALPHA",
        "                  Number of colums expected:         30"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(failure(fixture(c.file), c.nSig), block(fixture(c.file), c.block));
  }
}

TEST_F(StalistTest, OldFormatMessages) {
  struct Case {
    const char* file;
    std::vector<std::string> block;
  };
  const Case cases[] = {
      {"stalist_old_negative1.sig",
       {" *** SR READSTSG: Error reading sigmas from file (old format)",
        "                  File name:           @",
        "                  Station name:        BRAVO",
        "                  Sigma in column  1:   -0.005"}},
      {"stalist_old_negative2.sig",
       {" *** SR READSTSG: Error reading sigmas from file (old format)",
        "                  File name:           @",
        "                  Station name:        BRAVO",
        "                  Sigma in column  2:     -0.1"}},
      {"stalist_old_columns.sig",
       {" *** SR READSTSG: Error reading station sigma file (old format).",
        "                  File name:                 @",
        "                  Station name:              BRAVO",
        "                  Number of colums expected:  3"}},
      // A name alone where sigma columns are expected is reported too.
      {"stalist_old_name_only.sig",
       {" *** SR READSTSG: Error reading station sigma file (old format).",
        "                  File name:                 @",
        "                  Station name:              BRAVO",
        "                  Number of colums expected:  3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(failure(fixture(c.file), -1), block(fixture(c.file), c.block));
  }
}

TEST_F(StalistTest, UnknownFormat) {
  const std::string file = fixture("stalist_unknown.sel");
  const std::string head = "\n *** SR READSTSG: The format of the file is unknown.\n";
  const std::string tail = "                  File name:           " + file + "\n\n";
  EXPECT_EQ(failure(file, 0),
            head + "                  A station selection file is expected here.\n" + tail);
  EXPECT_EQ(failure(file, 4),
            head + "                  A station sigma file with  4 columns is expected here.\n" + tail);
  EXPECT_EQ(failure(file, -1), head + tail);
}

TEST_F(StalistTest, MissingFileStops) {
  t_stalist list;
  int nSig = 0;
  EXPECT_EQ(exitStatusOf([&] { READSTSG(path("absent.sel"), nSig, list); }), 1);
  EXPECT_NE(console().find("readstsg"), std::string::npos);
}

}  // namespace
