// The option reader: handling codes of the paired stations, the decoded
// options and the stop after the last option when any option was bad.
#include "xform/hminpi.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "frame/d_inpkey.h"
#include "frame/reset.h"
#include "frame/widths.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace {

namespace fs = std::filesystem;

class HminpiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    rt::setConsoleOutput(&console_);
    dir_ = fs::temp_directory_path() / ("hminpi_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    inpKey.fileName = rt::fit("XFORM1.INP", 255);
    inpKey.readState = 2;
    // Options every test starts from; a test replaces some of them.
    set("RADIO_1", {"1"});
    set("RADIO_2", {"0"});
    set("USESTA", {""});
    set("OTHSTA", {"MARK"});
    set("STASELECT", {"'AAAA' '' '' ''"});
    set("RESIDTYPE", {"XYZ"});
    set("RESIDUNIT", {"M"});
    for (int k = 1; k <= 7; ++k) set("HLM_" + std::to_string(k), {"1"});
    set("REJECT", {"0"});
    set("NLIMIT", {"10"});
    set("ELIMIT", {"10"});
    set("ULIMIT", {"20"});
  }
  void TearDown() override {
    resetRunState();
    fs::remove_all(dir_);
  }

  // Replaces (or adds) a keyword of the list.
  static void set(const std::string& name, std::initializer_list<std::string> values) {
    t_key key;
    key.keyName = rt::fit(name, 32);
    for (const std::string& v : values) key.value.push_back(rt::fit(v, 255));
    for (t_key& k : inpKey.keys)
      if (k.keyName == key.keyName) {
        k = key;
        return;
      }
    inpKey.keys.push_back(key);
    inpKey.keyCount = static_cast<int>(inpKey.keys.size());
  }

  // A station selection file of the new format in the test directory.
  std::string selectionFile(const std::vector<std::string>& names) const {
    const fs::path file = dir_ / "SELECT.FIL";
    std::ofstream out(file);
    out << "SELECTED STATIONS\n" << std::string(80, '-') << "\n\nStation name\n"
        << std::string(16, '*') << "\n";
    for (const std::string& n : names) out << n << "\n";
    out << " \n";
    return file.string();
  }

  // Runs the option reader on the stations; the exit status of its stop,
  // or -1 when it returns.
  int read(const std::vector<std::string>& names) {
    for (const std::string& n : names) stname_.emplace_back(n);
    stanum_.assign(names.size(), 0);
    staflg_.assign(2 * names.size(), ' ');
    ityp_.assign(names.size(), -9);
    try {
      HMINPI(static_cast<int>(names.size()), stname_, stanum_, staflg_, ityp_, resTyp_, iPar_,
             resUnt_, iRej_, rLimit_, errCount_);
    } catch (const rt::ProgramExit& e) {
      return e.status;
    }
    return -1;
  }

  // The records written on the console so far.
  std::vector<std::string> records() {
    rt::flushAll();
    std::vector<std::string> out;
    std::istringstream in(console_.str());
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }

  // The first record of every message block (" *** SR ..." or " ### SR ...").
  std::vector<std::string> headers() {
    std::vector<std::string> out;
    for (const std::string& r : records())
      if (r.rfind(" *** ", 0) == 0 || r.rfind(" ### ", 0) == 0) out.push_back(r);
    return out;
  }

  std::ostringstream console_;
  fs::path dir_;
  std::vector<t_staName> stname_;
  std::vector<int> stanum_;
  std::vector<char> staflg_;
  std::vector<int> ityp_;
  int resTyp_ = 0;
  int resUnt_ = 0;
  int iRej_ = -1;
  int errCount_ = -1;
  std::array<int, 7> iPar_{};
  std::array<double, 3> rLimit_{};
};

TEST_F(HminpiTest, DecodesTheOptionsAndLimits) {
  set("RESIDTYPE", {"NEU"});
  set("RESIDUNIT", {"MM"});
  set("HLM_2", {"0"});
  set("HLM_7", {"0"});
  set("REJECT", {"1"});
  set("NLIMIT", {""});
  set("ELIMIT", {"0"});
  set("ULIMIT", {"5"});
  EXPECT_EQ(read({"AAAA", "BBBB"}), -1);
  EXPECT_EQ(errCount_, 0);
  EXPECT_EQ(resTyp_, 1);
  EXPECT_EQ(resUnt_, 2);
  EXPECT_EQ(iPar_, (std::array<int, 7>{1, 0, 1, 1, 1, 1, 0}));
  EXPECT_EQ(iRej_, 1);
  // Limits in metres; blank and zero mean none (9.0e9 mm).
  EXPECT_NEAR(rLimit_[0], 9.0e6, 1e-6);
  EXPECT_NEAR(rLimit_[1], 9.0e6, 1e-6);
  EXPECT_NEAR(rLimit_[2], 0.005, 1e-15);
  EXPECT_EQ(ityp_, (std::vector<int>{0, 0}));
  EXPECT_TRUE(records().empty());
}

TEST_F(HminpiTest, WithoutSelectionFileEveryStationIsUsedAndOthstaIsNotRead) {
  set("OTHSTA", {"BOGUS"});
  EXPECT_EQ(read({"AAAA", "BBBB", "CCCC"}), -1);
  EXPECT_EQ(ityp_, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(errCount_, 0);
  EXPECT_TRUE(records().empty());
}

TEST_F(HminpiTest, SelectionFileMarksOrExcludesTheUnlistedStations) {
  struct Row {
    std::string othsta;
    std::vector<std::string> listed;
    std::vector<int> codes;
  };
  const std::vector<Row> rows = {
      {"MARK", {"BBBB", "ZZZZ"}, {1, 0, 1}},
      {"EXCLUDE", {"BBBB", "CCCC"}, {2, 0, 0}},
      // A list naming none of the paired stations leaves none in use.
      {"EXCLUDE", {"ZZZZ"}, {2, 2, 2}},
      // Names compare over all 16 characters, case-sensitive.
      {"MARK", {"aaaa", "BBBB X"}, {1, 1, 1}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.othsta + " " + row.listed[0]);
    set("USESTA", {selectionFile(row.listed)});
    set("OTHSTA", {row.othsta});
    stname_.clear();
    EXPECT_EQ(read({"AAAA", "BBBB", "CCCC"}), -1);
    EXPECT_EQ(ityp_, row.codes);
  }
}

TEST_F(HminpiTest, TableGivesEachStationTheCodeOfItsLastLine) {
  set("RADIO_1", {"0"});
  set("RADIO_2", {"1"});
  set("STASELECT", {"'AAAA' 'x' 'y' ''", "'BBBB' '' '' 'M'", "'CCCC' '' '' 'e'", "'DDDD' '' '' 'm'",
                    "'ZZZZ' '' '' 'E'", "'DDDD' '' '' ''", "'EEEE' '' '' 'E'", "'EEEE' '' '' 'M'"});
  // FFFF is on no line: excluded; ZZZZ is not paired: no effect.
  EXPECT_EQ(read({"AAAA", "BBBB", "CCCC", "DDDD", "EEEE", "FFFF"}), -1);
  EXPECT_EQ(ityp_, (std::vector<int>{0, 1, 2, 0, 1, 2}));
  EXPECT_EQ(errCount_, 0);
  EXPECT_TRUE(records().empty());
}

TEST_F(HminpiTest, EveryBadOptionIsReportedBeforeTheStop) {
  struct Row {
    std::vector<std::string> table;
    std::vector<std::string> tableBlocks;
  };
  const std::vector<Row> rows = {
      // A line of three columns: the columns are not checked any further.
      {{"'AAAA' '' ''", "'BBBBBBBBBBBBBBBBB' '' '' 'X'"},
       {" *** SR CKOPTU: A set of string is expected for keyword \"STASELECT\""}},
      // A name of 17 characters and a flag X.
      {{"'BBBBBBBBBBBBBBBBB' '' '' ''", "'CCCC' '' '' 'X'"},
       {" *** SR CKOPTL: The input string for keyword \"STASELECT\" is too long.",
        " *** SR CKOPTC: The input string for keyword \"STASELECT\" is invalid."}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.table[0]);
    console_.str("");
    stname_.clear();
    set("RADIO_1", {"0"});
    set("RADIO_2", {"1"});
    t_key table;
    table.keyName = rt::fit("STASELECT", 32);
    for (const std::string& v : row.table) table.value.push_back(rt::fit(v, 255));
    for (t_key& k : inpKey.keys)
      if (k.keyName == table.keyName) k = table;
    set("RESIDTYPE", {"neu"});
    set("RESIDUNIT", {"mm"});
    set("HLM_3", {"2"});
    set("NLIMIT", {"-1"});
    EXPECT_EQ(read({"AAAA", "BBBB"}), 1);
    std::vector<std::string> want = row.tableBlocks;
    for (const char* h : {" *** SR CKOPTC: The input string for keyword \"RESIDTYPE\" is invalid.",
                          " *** SR CKOPTC: The input string for keyword \"RESIDUNIT\" is invalid.",
                          " *** SR CKOPTI: The value for keyword \"HLM_3\" exceeds the range.",
                          " *** SR CKOPTR: The value for keyword \"NLIMIT\" exceeds the range."})
      want.push_back(h);
    EXPECT_EQ(headers(), want);
    inpKey.readState = 2;
  }
}

// The residual system is decided in one place, before the run writes
// anything: the option reader returns that choice, and refuses every value
// that makes no choice.
TEST_F(HminpiTest, ResidualSystemAsChosenBeforeTheRun) {
  const std::string invalid =
      " *** SR CKOPTC: The input string for keyword \"RESIDTYPE\" is invalid.";
  struct Row {
    std::vector<std::string> values;
    std::optional<helm::ResidualSystem> chosen;
    std::string refusal;  // the first message of a refused value
  };
  const Row rows[] = {
      {{"NEU"}, helm::ResidualSystem::Local, ""},
      {{"XYZ"}, helm::ResidualSystem::Equatorial, ""},
      {{"XYZ   "}, helm::ResidualSystem::Equatorial, ""},
      {{" XYZ"}, std::nullopt, invalid},
      {{"xyz"}, std::nullopt, invalid},
      {{"XY"}, std::nullopt, invalid},
      {{""}, std::nullopt, invalid},
      {{"XYZ", "NEU"}, std::nullopt,
       " *** SR CKOPTN: Too many items found for keyword \"RESIDTYPE\"."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("'" + row.values[0] + "'");
    console_.str("");
    t_key key;
    key.keyName = rt::fit("RESIDTYPE", kKeywordLen);
    for (const std::string& v : row.values) key.value.push_back(rt::fit(v, kLineLen));
    for (t_key& k : inpKey.keys)
      if (k.keyName == key.keyName) k = key;
    EXPECT_EQ(chosenResidualSystem(), row.chosen);
    EXPECT_EQ(records(), std::vector<std::string>{});
    resTyp_ = -7;
    stname_.clear();
    const int status = read({"AAAA", "BBBB"});
    if (row.chosen) {
      EXPECT_EQ(status, -1);
      EXPECT_EQ(resTyp_, static_cast<int>(*row.chosen));
    } else {
      EXPECT_EQ(status, 1);
      ASSERT_FALSE(headers().empty());
      EXPECT_EQ(headers()[0], row.refusal);
    }
    inpKey.readState = 2;
  }
}

// Every check names its keyword, the caller and the option's description
// (and the table column), in the order in which the options are read.
TEST_F(HminpiTest, EachCheckNamesItsOptionInTheOrderOfReading) {
  // The header, "Called by:", "Option:" and "Column:" records of every block.
  const auto labels = [this]() {
    std::vector<std::string> out;
    for (const std::string& r : records())
      if (r.rfind(" *** ", 0) == 0 || r.rfind("                Called by:", 0) == 0 ||
          r.rfind("                Option:", 0) == 0 || r.rfind("                Column:", 0) == 0)
        out.push_back(r);
    return out;
  };
  const auto block = [](const std::string& header, const std::string& option,
                        const std::string& column = "") {
    std::vector<std::string> out = {" *** SR " + header, "                Called by:   hminpi",
                                    "                Option:      " + option};
    if (!column.empty()) out.push_back("                Column:      " + column);
    return out;
  };
  // The options after the station selection, each with a bad value.
  set("RESIDTYPE", {"UVW"});
  set("RESIDUNIT", {"CM"});
  for (int k = 1; k <= 7; ++k) set("HLM_" + std::to_string(k), {"2"});
  set("REJECT", {"2"});
  set("NLIMIT", {"-1"});
  set("ELIMIT", {"-2"});
  set("ULIMIT", {"-3"});
  std::vector<std::string> rest;
  const auto add = [&rest](const std::vector<std::string>& lines) {
    rest.insert(rest.end(), lines.begin(), lines.end());
  };
  add(block("CKOPTC: The input string for keyword \"RESIDTYPE\" is invalid.", "Type of residuals"));
  add(block("CKOPTC: The input string for keyword \"RESIDUNIT\" is invalid.", "Unit of residuals"));
  const char* parameters[] = {"shift in X",   "shift in Y",   "shift in Z", "rot around X",
                              "rot around Y", "rot around Z", "scale"};
  for (int k = 0; k < 7; ++k)
    add(block("CKOPTI: The value for keyword \"HLM_" + std::to_string(k + 1) +
                  "\" exceeds the range.",
              std::string("Parameter to be compute (") + parameters[k] + ")"));
  add(block("CKOPTI: The value for keyword \"REJECT\" exceeds the range.", "Outlier rejection"));
  for (const char* c : {"N", "E", "U"})
    add(block(std::string("CKOPTR: The value for keyword \"") + c + "LIMIT\" exceeds the range.",
              std::string("Maximum residuum in ") + c));

  // Selection by file with a bad OTHSTA: the unlisted stations are excluded.
  set("USESTA", {selectionFile({"BBBB"})});
  set("OTHSTA", {"OTHER"});
  EXPECT_EQ(read({"AAAA", "BBBB"}), 1);
  EXPECT_EQ(ityp_, (std::vector<int>{2, 0}));
  std::vector<std::string> want =
      block("CKOPTC: The input string for keyword \"OTHSTA\" is invalid.",
            "Handling of stations not in file list");
  want.insert(want.end(), rest.begin(), rest.end());
  EXPECT_EQ(labels(), want);

  // No radio button set; then the table with a bad name and a bad flag.
  console_.str("");
  stname_.clear();
  inpKey.readState = 2;
  set("RADIO_1", {"0"});
  set("RADIO_2", {"0"});
  EXPECT_EQ(read({"AAAA"}), 1);
  EXPECT_EQ(labels().front(), " *** SR CKOPTB: No item was selected for a set of radiobottons.");
  EXPECT_EQ(labels()[2], "                Option:      Type of station selection");

  console_.str("");
  stname_.clear();
  inpKey.readState = 2;
  set("RADIO_2", {"1"});
  set("STASELECT", {"'AAAAAAAAAAAAAAAAA' '' '' 'X'"});
  EXPECT_EQ(read({"AAAA"}), 1);
  want = block("CKOPTL: The input string for keyword \"STASELECT\" is too long.",
               "Manual station selection", "Station name");
  const std::vector<std::string> flag = block(
      "CKOPTC: The input string for keyword \"STASELECT\" is invalid.", "Manual station selection",
      "Station selection");
  want.insert(want.end(), flag.begin(), flag.end());
  want.insert(want.end(), rest.begin(), rest.end());
  EXPECT_EQ(labels(), want);
}

TEST_F(HminpiTest, RadioSetWithTwoButtonsIsAnErrorAndReadsTheFileSelection) {
  set("RADIO_2", {"1"});
  set("OTHSTA", {"BOGUS"});
  EXPECT_EQ(read({"AAAA"}), 1);
  const std::vector<std::string> h = headers();
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(h[0], " *** SR CKOPTB: More than one item was selected for a set of radiobottons.");
  EXPECT_EQ(ityp_, (std::vector<int>{0}));
}

}  // namespace
