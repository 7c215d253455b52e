// Whole runs of the program on the test network: the report on the program
// output and every result file are compared byte for byte with the expected
// files of tests/data/expected/<case>/ (the clock masked), and the run
// directory must hold exactly the input files and the expected results.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::Keywords;
using e2e::RunDir;

// A table line of the manual station selection: name, two unused cells, flag.
std::string tableLine(const std::string& name, const std::string& flag) {
  return "\"" + name + "\" \"\" \"\" \"" + flag + "\"";
}

// Keywords with their new values.
using Options = std::vector<std::pair<std::string, std::vector<std::string>>>;

struct Copy {
  std::string fixture;
  std::string name;
};

struct Case {
  std::string name = {};
  Options options = {};                        // changed keywords
  std::vector<std::string> removed = {};       // keywords left out
  std::vector<Copy> extra = {};                // fixtures besides the constants, datums and both sets
  std::vector<Copy> before = {};               // files that exist before the run (from tests/data)
  int status = 0;                              // exit status
  std::vector<std::string> results = {};       // result files written by the run
  std::vector<std::string> kept = {};          // files of `before` that must survive unchanged
};

// Test names show the case's name only.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// File names longer than 32 characters.
const std::string kLongName1 = "first_solution_of_the_test_network_2020.CRD";
const std::string kLongName2 = "second_solution_of_the_test_network_2020.CRD";
const std::string kLongParam = "transformation_parameters_of_the_test_network.TRN";
const std::string kLongList = "rejected_stations_of_the_test_network_2020.LST";
const std::string kLongAccepted = "accepted_stations_of_the_test_network_2020.FIL";
const std::string kLongTransformed = "transformed_coordinates_of_the_test_network.CRD";
const std::string kLongExisting = "existing_coordinates_of_the_test_network_2020.CRD";
const std::string kLongSelection = "stations_of_the_datum_definition_of_the_network.FIL";
const std::string kLongVelocities = "velocities_of_the_first_solution_of_the_network.VEL";

std::vector<Case> cases() {
  const std::vector<std::string> onlyTranslations = {"1", "1", "1", "0", "0", "0", "0"};
  auto params = [](const std::vector<std::string>& flags) {
    Options out;
    for (std::size_t k = 0; k < flags.size(); ++k)
      out.push_back({"HLM_" + std::to_string(k + 1), {flags[k]}});
    return out;
  };
  auto with = [](Options a, const Options& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const Options byTable = {{"RADIO_1", {"0"}}, {"RADIO_2", {"1"}}};
  return {
      // X/Y/Z in metres, all seven parameters, no rejection; file names
      // longer than 32 characters; an old list of rejected stations stays
      // when rejection is off.
      {.name = "xyz_metres",
       .options = {{"COORD1", {kLongName1}},
                   {"COORD2", {kLongName2}},
                   {"TRNFIL", {kLongParam}},
                   {"COORDRS", {kLongTransformed}},
                   {"OKSTA", {"ACCEPT.FIL"}}},
       .extra = {{"NET_A.CRD", kLongName1}, {"NET_B.CRD", kLongName2}},
       .before = {{"OLD_REJECT.LST", "REJECT.LST"}},
       .results = {kLongParam, kLongTransformed, "ACCEPT.FIL"},
       .kept = {"REJECT.LST"}},
      // X/Y/Z in millimetres with rejection: the outlier is rejected and
      // listed, and left out of the accepted stations (both lists under
      // names longer than 32 characters).
      {.name = "xyz_millimetres_rejection",
       .options = {{"RESIDUNIT", {"MM"}},
                   {"REJECT", {"1"}},
                   {"LISTFIL", {kLongList}},
                   {"TRNFIL", {"PARAM.TRN"}},
                   {"OKSTA", {kLongAccepted}}},
       .results = {kLongList, "PARAM.TRN", kLongAccepted}},
      // North/east/up in metres with rejection; a transformed coordinate
      // file cannot be written in the local system (warning only).
      {.name = "neu_metres_rejection",
       .options = {{"RESIDTYPE", {"NEU"}},
                   {"REJECT", {"1"}},
                   {"COORDRS", {"TRANSF.CRD"}},
                   {"OKSTA", {"ACCEPT.FIL"}}},
       .results = {"REJECT.LST", "ACCEPT.FIL"}},
      // North/east/up in millimetres, rotations and scale only (both sets
      // reduced to their barycentres).
      {.name = "neu_millimetres_rotations_scale",
       .options = with({{"RESIDTYPE", {"NEU"}}, {"RESIDUNIT", {"MM"}}, {"TRNFIL", {"PARAM.TRN"}}},
                       params({"0", "0", "0", "1", "1", "1", "1"})),
       .results = {"PARAM.TRN"}},
      // Selection by a station file (its name longer than 32 characters):
      // the unlisted stations are marked ...
      {.name = "select_file_mark",
       .options = {{"USESTA", {kLongSelection}}, {"OTHSTA", {"MARK"}}, {"OKSTA", {"ACCEPT.FIL"}}},
       .extra = {{"SEL.FIL", kLongSelection}},
       .results = {"ACCEPT.FIL"}},
      // ... or excluded.
      {.name = "select_file_exclude",
       .options = {{"USESTA", {"SEL.FIL"}}, {"OTHSTA", {"EXCLUDE"}}, {"OKSTA", {"ACCEPT.FIL"}}},
       .extra = {{"SEL.FIL", "SEL.FIL"}},
       .results = {"ACCEPT.FIL"}},
      // Selection by the table: used, marked, excluded, a station on no line
      // (excluded), a line for a station that is not paired, and two lines
      // for one station of which the last decides.
      {.name = "select_table",
       .options = with(byTable, {{"STASELECT",
                                  {tableLine("ALFA 10001M001", ""), tableLine("BETA 10002M001", "M"),
                                   tableLine("GAMA 10003M001", "E"), tableLine("DLTA 10004M001", "m"),
                                   tableLine("EPSI 10005M001", ""), tableLine("XXXX 10099M001", "e"),
                                   tableLine("DLTA 10004M001", "")}},
                                 {"OKSTA", {"ACCEPT.FIL"}}}),
       .results = {"ACCEPT.FIL"}},
      // Velocities: the first set (2020-01-01) is moved to the second set's
      // epoch (2021-07-02 12:00); one station has no velocity and stays.
      {.name = "velocities",
       .options = {{"COORD2", {"NET_B_2021.CRD"}},
                   {"VELAPR", {kLongVelocities}},
                   {"TRNFIL", {"PARAM.TRN"}},
                   {"COORDRS", {"TRANSF.CRD"}}},
       .extra = {{"NET_B_2021.CRD", "NET_B_2021.CRD"}, {"NET.VEL", kLongVelocities}},
       .results = {"PARAM.TRN", "TRANSF.CRD"}},
      // The transformed coordinates merged with an existing coordinate file.
      {.name = "merge_coord",
       .options = {{"COORD", {kLongExisting}}, {"COORDRS", {"MERGED.CRD"}}},
       .extra = {{"OLD.CRD", kLongExisting}},
       .results = {"MERGED.CRD"}},
      // A second file name without extension: its title begins with the
      // name and a lone dot, in the report and on the transformed file.
      {.name = "name_without_extension",
       .options = {{"COORD2", {"NETWORKB"}}, {"COORDRS", {"TRANSF.CRD"}}},
       .extra = {{"NET_B.CRD", "NETWORKB"}},
       .results = {"TRANSF.CRD"}},
      // Different datum names: a warning, and the first file's datum is
      // the datum of the run and of the transformed coordinates.
      {.name = "different_datums",
       .options = {{"COORD2", {"NET_B_ITRF2014.CRD"}}, {"COORDRS", {"TRANSF.CRD"}}},
       .extra = {{"NET_B_ITRF2014.CRD", "NET_B_ITRF2014.CRD"}},
       .results = {"TRANSF.CRD"}},
      // Only the translations: the parameter file holds a zero scale and
      // zero rotations, with zero errors.
      {.name = "only_translations",
       .options = with({{"RESIDUNIT", {"MM"}}, {"TRNFIL", {"PARAM.TRN"}}},
                       params(onlyTranslations)),
       .results = {"PARAM.TRN"}},
      // Program output and messages in files of their own: the console
      // keeps only the timing line; the warning goes to the message file.
      {.name = "system_files",
       .options = {{"SYSOUT", {"XFORM1.OUT"}},
                   {"SYSERR", {"XFORM1.ERR"}},
                   {"RESIDTYPE", {"NEU"}},
                   {"COORDRS", {"TRANSF.CRD"}}},
       .results = {"XFORM1.OUT", "XFORM1.ERR"}},
      // Every result file registered for removal: each is written (the
      // list of accepted stations is still open then) and removed at the
      // end of the run.
      {.name = "result_files_deleted",
       .options = {{"REJECT", {"1"}},
                   {"TRNFIL", {"PARAM.TRN"}},
                   {"COORDRS", {"TRANSF.CRD"}},
                   {"OKSTA", {"ACCEPT.FIL"}},
                   {"DELETE_FILES", {"TRNFIL", "COORDRS", "OKSTA", "LISTFIL"}}}},
      // Rejection on without an outlier: the old list file is removed.
      {.name = "old_listfil_removed",
       .options = {{"REJECT", {"1"}}, {"NLIMIT", {"100"}}, {"ELIMIT", {"100"}}, {"ULIMIT", {""}}},
       .before = {{"OLD_REJECT.LST", "REJECT.LST"}}},
      // Two used stations for seven parameters: nothing is estimated and no
      // result file is written.
      {.name = "too_few_coordinates",
       .options = with(byTable, {{"STASELECT",
                                  {tableLine("ALFA 10001M001", ""), tableLine("BETA 10002M001", "")}},
                                 {"TRNFIL", {"PARAM.TRN"}},
                                 {"COORDRS", {"TRANSF.CRD"}},
                                 {"OKSTA", {"ACCEPT.FIL"}}}),
       .status = 1},
      // One station, three translations: no degree of freedom, so the list
      // of accepted stations stops the run after the other result files.
      {.name = "no_redundancy",
       .options = with(with(byTable, {{"STASELECT", {tableLine("ALFA 10001M001", "")}},
                                      {"TRNFIL", {"PARAM.TRN"}},
                                      {"COORDRS", {"TRANSF.CRD"}},
                                      {"OKSTA", {"ACCEPT.FIL"}}}),
                       params(onlyTranslations)),
       .status = 1,
       .results = {"PARAM.TRN", "TRANSF.CRD"}},
      // One station, two translations: one degree of freedom is enough.
      {.name = "one_degree_of_freedom",
       .options = with(with(byTable, {{"STASELECT", {tableLine("ALFA 10001M001", "")}},
                                      {"OKSTA", {"ACCEPT.FIL"}}}),
                       params({"1", "1", "0", "0", "0", "0", "0"})),
       .results = {"ACCEPT.FIL"}},
      // Errors that stop the run: their blocks, exit status 1, no result.
      {.name = "missing_coord1", .removed = {"COORD1"}, .status = 1},
      {.name = "unknown_datum",
       .options = {{"DATUM", {"DATUM_ED50.TST"}}},
       .extra = {{"DATUM_ED50.TST", "DATUM_ED50.TST"}},
       .status = 1},
      {.name = "duplicate_station",
       .options = {{"COORD2", {"DUP.CRD"}}},
       .extra = {{"DUP.CRD", "DUP.CRD"}},
       .status = 1},
      // A coordinate with a huge exponent: the solution overflows, the run
      // stops and no result file is written.
      {.name = "coordinate_out_of_range",
       .options = {{"COORD1", {"NET_A_OVERFLOW.CRD"}},
                   {"TRNFIL", {"PARAM.TRN"}},
                   {"COORDRS", {"TRANSF.CRD"}},
                   {"OKSTA", {"ACCEPT.FIL"}}},
       .extra = {{"NET_A_OVERFLOW.CRD", "NET_A_OVERFLOW.CRD"}},
       .status = 1},
      {.name = "bad_option_values",
       .options = {{"RESIDUNIT", {"mm"}}, {"NLIMIT", {"-5"}}, {"TRNFIL", {"PARAM.TRN"}}},
       .status = 1},
  };
}

class Xform1Run : public ::testing::TestWithParam<Case> {};

TEST_P(Xform1Run, ReportAndResultFiles) {
  const Case& c = GetParam();
  const e2e::fs::path expected = e2e::dataDir() / "expected" / c.name;
  RunDir dir(c.name);

  Keywords keywords = e2e::networkKeywords();
  for (const auto& [key, values] : c.options) keywords.set(key, values);
  for (const std::string& key : c.removed) keywords.remove(key);
  dir.put("XFORM1.INP", keywords.text());
  std::set<std::string> inputs = {"XFORM1.INP"};
  std::vector<Copy> copies = {{"CONST.TST", "CONST.TST"},
                              {"DATUM.TST", "DATUM.TST"},
                              {"NET_A.CRD", "NET_A.CRD"},
                              {"NET_B.CRD", "NET_B.CRD"}};
  copies.insert(copies.end(), c.extra.begin(), c.extra.end());
  copies.insert(copies.end(), c.before.begin(), c.before.end());
  for (const Copy& copy : copies) {
    dir.copy(copy.fixture, copy.name);
    inputs.insert(copy.name);
  }
  for (const Copy& copy : c.before) inputs.erase(copy.name);

  const e2e::RunResult result = e2e::run(dir, {"XFORM1.INP"});

  // Where asked, the actual files are kept for inspection.
  if (const char* keep = std::getenv("XF_E2E_ACTUAL_DIR")) {
    const e2e::fs::path out = e2e::fs::path(keep) / c.name;
    e2e::fs::create_directories(out);
    e2e::writeFile(out / "REPORT", e2e::maskClock(result.out));
    for (const std::string& name : c.results)
      if (dir.exists(name)) e2e::writeFile(out / name, e2e::maskClock(dir.text(name)));
  }

  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(e2e::maskClock(result.out), e2e::fileContent(expected / "REPORT"));
  for (const std::string& name : c.results) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(dir.exists(name));
    EXPECT_EQ(e2e::maskClock(dir.text(name)), e2e::fileContent(expected / name));
  }
  for (const Copy& copy : c.before) {
    const bool keep = std::find(c.kept.begin(), c.kept.end(), copy.name) != c.kept.end();
    EXPECT_EQ(dir.exists(copy.name), keep) << copy.name;
    if (keep) {
      EXPECT_EQ(dir.text(copy.name), e2e::fileContent(e2e::dataDir() / copy.fixture));
    }
  }

  // Nothing else was written, and nothing of the input was removed.
  std::set<std::string> want = inputs;
  want.insert(c.results.begin(), c.results.end());
  want.insert(c.kept.begin(), c.kept.end());
  EXPECT_EQ(dir.files(), want);
}

// Without an argument there is no keyword input file to open: the block,
// and the one-line usage on standard error.
TEST(Xform1Run, NoArgument) {
  RunDir dir("no_argument");
  const e2e::RunResult result = e2e::run(dir, {});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Usage: xform1 KEYWORD_FILE   (xform1 --help for more)\n");
  EXPECT_EQ(e2e::maskClock(result.out),
            e2e::fileContent(e2e::dataDir() / "expected" / "no_argument" / "REPORT"));
  EXPECT_TRUE(dir.files().empty());
}

// The list of accepted stations of one run is the station selection file of
// the next: with the other stations excluded, the second run uses exactly
// the stations the first one accepted and accepts them all again.
TEST(Xform1Run, AcceptedStationsSelectTheNextRun) {
  RunDir dir("accepted_as_selection");
  e2e::putNetworkInputs(dir);
  Keywords first = e2e::networkKeywords();
  first.set("REJECT", {"1"}).set("OKSTA", {"FIRST.FIL"});
  dir.put("FIRST.INP", first.text());
  ASSERT_EQ(e2e::run(dir, {"FIRST.INP"}).status, 0);

  Keywords second = e2e::networkKeywords();
  second.set("USESTA", {"FIRST.FIL"}).set("OTHSTA", {"EXCLUDE"}).set("OKSTA", {"SECOND.FIL"});
  dir.put("SECOND.INP", second.text());
  const e2e::RunResult result = e2e::run(dir, {"SECOND.INP"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  // The rejected station is left out of the second run altogether.
  EXPECT_EQ(result.out.find("GAMA 10003M001"), std::string::npos);
  EXPECT_NE(result.out.find(" NUMBER OF COORDINATES :    24\n"), std::string::npos) << result.out;
  const std::string names = "\nStation name\n****************\n";
  const std::string list1 = dir.text("FIRST.FIL");
  const std::string list2 = dir.text("SECOND.FIL");
  ASSERT_NE(list1.find(names), std::string::npos) << list1;
  EXPECT_EQ(list2.substr(list2.find(names)), list1.substr(list1.find(names)));
}

// A run directory with the test network's input files and the keyword
// input file `text`; the program's result.
e2e::RunResult runNetwork(const RunDir& dir, const std::string& text,
                          const std::vector<std::string>& extra = {}) {
  e2e::putNetworkInputs(dir);
  for (const std::string& name : extra) dir.copy(name, name);
  dir.put("XFORM1.INP", text);
  return e2e::run(dir, {"XFORM1.INP"});
}

// A keyword line with a negative number of values is a keyword without a
// value, as with the number 0: the option checks report the same blocks,
// the run ends with the same status and writes the same files.
TEST(Xform1Run, NegativeValueCountIsCountZero) {
  struct CountCase {
    std::string key;
    Options options;  // makes the keyword's check take part
    int status;       // exit status with no value
  };
  const std::vector<CountCase> table = {
      {"RESIDTYPE", {}, 1},
      {"RESIDUNIT", {}, 1},
      {"OTHSTA", {{"USESTA", {"SEL.FIL"}}}, 1},
      {"HLM_2", {}, 1},
      {"NLIMIT", {{"REJECT", {"1"}}}, 0},  // blank: no limit
  };
  for (const CountCase& c : table) {
    SCOPED_TRACE(c.key);
    Keywords keywords = e2e::networkKeywords();
    keywords.set("OKSTA", {"ACCEPT.FIL"}).set("TRNFIL", {"PARAM.TRN"});
    for (const auto& [key, values] : c.options) keywords.set(key, values);
    keywords.remove(c.key);

    RunDir zero("count_zero_" + c.key);
    const e2e::RunResult expected = runNetwork(zero, keywords.text() + c.key + " 0\n", {"SEL.FIL"});
    RunDir negative("count_negative_" + c.key);
    const e2e::RunResult result =
        runNetwork(negative, keywords.text() + c.key + " -1\n", {"SEL.FIL"});

    EXPECT_EQ(expected.status, c.status);
    if (c.status != 0) {
      EXPECT_NE(expected.out.find("keyword \"" + c.key + "\""), std::string::npos)
          << expected.out;
    }
    EXPECT_EQ(result.status, expected.status);
    EXPECT_EQ(result.err, expected.err);
    EXPECT_EQ(e2e::maskClock(result.out), e2e::maskClock(expected.out));
    std::set<std::string> written = negative.files();
    written.erase("XFORM1.INP");
    std::set<std::string> wanted = zero.files();
    wanted.erase("XFORM1.INP");
    EXPECT_EQ(written, wanted);
    for (const std::string& name : wanted)
      EXPECT_EQ(e2e::maskClock(negative.text(name)), e2e::maskClock(zero.text(name))) << name;
  }
}

// Blanks before a file name are not part of it, as blanks after it are not:
// the run reads and writes the same files and gives the same report.
TEST(Xform1Run, FileNamesWithLeadingBlanks) {
  const std::vector<std::string> results = {"PARAM.TRN", "TRANSF.CRD", "ACCEPT.FIL", "REJECT.LST"};
  Keywords bare = e2e::networkKeywords();
  bare.set("REJECT", {"1"})
      .set("TRNFIL", {"PARAM.TRN"})
      .set("COORDRS", {"TRANSF.CRD"})
      .set("OKSTA", {"ACCEPT.FIL"});
  Keywords padded = bare;
  padded.set("COORD1", {"  NET_A.CRD"})
      .set("COORD2", {"   NET_B.CRD"})
      .set("TRNFIL", {" PARAM.TRN"})
      .set("COORDRS", {"  TRANSF.CRD"})
      .set("OKSTA", {"  ACCEPT.FIL"})
      .set("LISTFIL", {"  REJECT.LST"});

  RunDir bareDir("names_bare");
  const e2e::RunResult expected = runNetwork(bareDir, bare.text());
  RunDir paddedDir("names_leading_blanks");
  const e2e::RunResult result = runNetwork(paddedDir, padded.text());

  EXPECT_EQ(expected.status, 0);
  EXPECT_NE(expected.out.find(" FILE 1: NET_A.CRD: "), std::string::npos) << expected.out;
  EXPECT_EQ(result.status, expected.status);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(e2e::maskClock(result.out), e2e::maskClock(expected.out));
  EXPECT_EQ(paddedDir.files(), bareDir.files());
  for (const std::string& name : results) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(paddedDir.exists(name));
    EXPECT_EQ(e2e::maskClock(paddedDir.text(name)), e2e::maskClock(bareDir.text(name)));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Xform1Run, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
