// End-to-end: a run that names one file for two purposes (an output and an
// input that is still to be read when the output is written, a result over
// an input of another kind, or two outputs), or an output that it may not
// write, is refused before it writes, empties or removes anything; the
// names are compared as files, however they are spelled. The runs that name
// one file twice in a way that works keep working as before.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;
using e2e::Keywords;
using e2e::RunDir;

using Options = std::vector<std::pair<std::string, std::vector<std::string>>>;
using Setup = std::function<void(const RunDir&)>;

// The keywords of the test network with the variable DIR naming the run
// directory, and the options of a case.
Keywords keywordsOf(const RunDir& dir, const Options& options) {
  Keywords keywords = e2e::networkKeywords();
  keywords.set("ENVIRONMENT", {"\"DIR\" \"" + dir.path().string() + "\""});
  for (const auto& [key, values] : options) keywords.set(key, values);
  return keywords;
}

// Puts the network's inputs, the case's own files and the keyword input
// file in the directory and runs the program there.
e2e::RunResult runCase(const RunDir& dir, const Options& options, const Setup& setup) {
  e2e::putNetworkInputs(dir);
  if (setup) setup(dir);
  dir.put("XFORM1.INP", keywordsOf(dir, options).text());
  return e2e::run(dir, {"XFORM1.INP"});
}

// Every entry of the directory: what it is, and for a file its inode, its
// number of links and its content.
std::map<std::string, std::string> snapshot(const RunDir& dir) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
    const std::string name = fs::relative(entry.path(), dir.path()).string();
    const fs::file_status status = entry.symlink_status();
    if (fs::is_symlink(status)) {
      entries[name] = "link to " + fs::read_symlink(entry.path()).string();
    } else if (fs::is_regular_file(status)) {
      struct stat sb {};
      ::lstat(entry.path().c_str(), &sb);
      entries[name] = "file " + std::to_string(sb.st_ino) + " links " +
                      std::to_string(sb.st_nlink) + "\n" + e2e::fileContent(entry.path());
    } else if (fs::is_directory(status)) {
      entries[name] = "directory";
    } else {
      entries[name] = "special file";
    }
  }
  return entries;
}

// ---- Refused runs ----

// One pair of keywords that name one file; "@" at the start of a name
// stands for the run directory.
struct Clash {
  std::string output = {};
  std::string outputName = {};
  std::string other = {};
  std::string otherName = {};
  bool otherIsOutput = false;
  bool otherKind = false;  // the input, already read, holds another kind of content
};

// An output that the run may not write, with the reason of its block.
struct Unwritable {
  std::string output = {};
  std::string outputName = {};
  std::string why = {};
};

const std::string kNoDirectory = "Its directory does not exist.";
const std::string kNoAccess = "The run may neither create nor write it: Permission denied";

struct Refused {
  std::string name = {};
  Options options = {};
  Setup setup = {};
  std::vector<Clash> clashes = {};  // in the order of the blocks
  std::vector<Unwritable> unwritable = {};  // their blocks come first
};

void PrintTo(const Refused& c, std::ostream* os) { *os << c.name; }

std::string expandedName(const RunDir& dir, const std::string& name) {
  return !name.empty() && name[0] == '@' ? dir.path().string() + name.substr(1) : name;
}

// The message block of one pair.
std::string block(const RunDir& dir, const Clash& c) {
  const std::string in16(16, ' ');
  return "\n *** SR CKFLNA: One file named for two purposes\n" + in16 + "Output file: " + c.output +
         " = " + expandedName(dir, c.outputName) + "\n" + in16 +
         (c.otherIsOutput ? "Output file: " : "Input file:  ") + c.other + " = " +
         expandedName(dir, c.otherName) + "\n" + in16 +
         (c.otherIsOutput ? "Both outputs would be written to this one file."
          : c.otherKind   ? "The output would replace the input by a file of another kind."
                          : "The output would change the input before it is read.") +
         "\n" + in16 + "Processing is stopped; no file has been written.\n\n";
}

std::string block(const RunDir& dir, const Unwritable& u) {
  const std::string in16(16, ' ');
  return "\n *** SR CKFLNA: Output file cannot be written\n" + in16 + "Output file: " + u.output +
         " = " + expandedName(dir, u.outputName) + "\n" + in16 + u.why + "\n" + in16 +
         "Processing is stopped; no file has been written.\n\n";
}

// The blocks of a refused run, in their order.
std::string blocksOf(const RunDir& dir, const Refused& c) {
  std::string blocks;
  for (const Unwritable& u : c.unwritable) blocks += block(dir, u);
  for (const Clash& clash : c.clashes) blocks += block(dir, clash);
  return blocks;
}

// A link `a` to the directory other/inner: "a/../NAME" is other/NAME, as
// the system takes it, never NAME beside `a`.
void linkedDirectory(const RunDir& dir) {
  fs::create_directories(dir / "other" / "inner");
  fs::create_symlink("other/inner", dir / "a");
}

// Results of an earlier run, which a refused run leaves as they are.
void earlierResults(const RunDir& dir) {
  for (const char* name : {"REJECT.LST", "PARAM.TRN", "TRANSF.CRD", "ACCEPT.FIL"})
    dir.put(name, std::string("result of an earlier run: ") + name + "\n");
}

// Every result file of the run, under the names of earlierResults.
const Options kAllResults = {{"REJECT", {"1"}},
                             {"LISTFIL", {"REJECT.LST"}},
                             {"TRNFIL", {"PARAM.TRN"}},
                             {"COORDRS", {"TRANSF.CRD"}},
                             {"OKSTA", {"ACCEPT.FIL"}}};

// Each result over each input that the run has read before it: only the
// transformed coordinates over a coordinate set and the accepted stations
// over the station selection are of the same kind (Xform1NamesAllowed).
std::vector<Refused> otherKindCases() {
  struct Input {
    std::string keyWord, file, fixture;  // fixture: "" for a file of the network
  };
  const Input inputs[] = {{"COORD1", "NET_A.CRD", ""}, {"COORD2", "NET_B.CRD", ""},
                          {"USESTA", "SEL.FIL", "SEL.FIL"}, {"VELAPR", "NET.VEL", "NET.VEL"},
                          {"DATUM", "DATUM.TST", ""},      {"CONST", "CONST.TST", ""}};
  const std::pair<std::string, std::string> results[] = {
      {"LISTFIL", "rejected_list"}, {"TRNFIL", "parameters"},
      {"COORDRS", "coordinates"},   {"OKSTA", "accepted_stations"}};
  std::vector<Refused> cases;
  for (const auto& [result, label] : results) {
    for (const Input& in : inputs) {
      if ((result == "COORDRS" && in.keyWord.starts_with("COORD")) ||
          (result == "OKSTA" && in.keyWord == "USESTA"))
        continue;
      Refused c;
      c.name = label + "_over_" + in.keyWord;
      c.options = {{"REJECT", {"1"}}, {result, {"./" + in.file}}};
      if (!in.fixture.empty()) c.options.push_back({in.keyWord, {in.file}});
      c.setup = [in](const RunDir& dir) {
        earlierResults(dir);
        if (!in.fixture.empty()) dir.copy(in.fixture, in.file);
      };
      c.clashes = {{result, "./" + in.file, in.keyWord, in.file, false, true}};
      cases.push_back(std::move(c));
    }
  }
  return cases;
}

std::vector<Refused> refusedCases() {
  const Setup mergeFile = [](const RunDir& dir) { dir.copy("OLD.CRD", "MERGE.CRD"); };
  const Options rejection = {{"REJECT", {"1"}}};
  const Options noOutlier = {
      {"REJECT", {"1"}}, {"NLIMIT", {"100"}}, {"ELIMIT", {"100"}}, {"ULIMIT", {""}}};
  auto with = [](Options a, const Options& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  return {
      // The list of rejected stations would replace the file that the
      // coordinates are merged into before the merge reads it ...
      {.name = "rejected_list_replaces_merge_file",
       .options = with(rejection, {{"COORD", {"MERGE.CRD"}},
                                   {"COORDRS", {"MERGE.CRD"}},
                                   {"LISTFIL", {"MERGE.CRD"}}}),
       .setup = mergeFile,
       .clashes = {{"LISTFIL", "MERGE.CRD", "COORD", "MERGE.CRD"},
                   {"LISTFIL", "MERGE.CRD", "COORDRS", "MERGE.CRD", true}}},
      // ... or, without an outlier, remove it as an old list (named by a
      // variable, the merge and the output by other spellings).
      {.name = "old_list_removal_removes_merge_file",
       .options = with(noOutlier, {{"COORD", {"MERGE.CRD"}},
                                   {"COORDRS", {"./MERGE.CRD"}},
                                   {"LISTFIL", {"${DIR}/MERGE.CRD"}}}),
       .setup = mergeFile,
       .clashes = {{"LISTFIL", "@/MERGE.CRD", "COORD", "MERGE.CRD"},
                   {"LISTFIL", "@/MERGE.CRD", "COORDRS", "./MERGE.CRD", true}}},
      // The parameter file named by a link to the merge file.
      {.name = "parameters_replace_merge_file_by_link",
       .options = {{"COORD", {"MERGE.CRD"}}, {"COORDRS", {"MERGE.CRD"}}, {"TRNFIL", {"LINK.CRD"}}},
       .setup =
           [](const RunDir& dir) {
             dir.copy("OLD.CRD", "MERGE.CRD");
             fs::create_symlink("MERGE.CRD", dir / "LINK.CRD");
           },
       .clashes = {{"TRNFIL", "LINK.CRD", "COORD", "MERGE.CRD"},
                   {"TRNFIL", "LINK.CRD", "COORDRS", "MERGE.CRD", true}}},
      // A merge file that does not exist yet would be made by the
      // parameter file, and then read as coordinates.
      {.name = "parameters_make_the_merge_file",
       .options = {{"COORD", {"NEW.CRD"}}, {"COORDRS", {"OUT.CRD"}}, {"TRNFIL", {"  ./NEW.CRD"}}},
       .clashes = {{"TRNFIL", "./NEW.CRD", "COORD", "NEW.CRD"}}},
      // The program output and the message file, emptied at the start,
      // naming the inputs.
      {.name = "program_output_empties_first_set",
       .options = {{"SYSOUT", {"./NET_A.CRD"}}},
       .clashes = {{"SYSOUT", "./NET_A.CRD", "COORD1", "NET_A.CRD"}}},
      {.name = "message_file_empties_second_set",
       .options = {{"SYSERR", {"${DIR}/NET_B.CRD"}}},
       .clashes = {{"SYSERR", "@/NET_B.CRD", "COORD2", "NET_B.CRD"}}},
      {.name = "program_output_empties_constants",
       .options = {{"SYSOUT", {"sub/../CONST.TST"}}},
       .setup = [](const RunDir& dir) { fs::create_directories(dir / "sub"); },
       .clashes = {{"SYSOUT", "sub/../CONST.TST", "CONST", "CONST.TST"}}},
      {.name = "message_file_empties_datums_by_hard_link",
       .options = {{"ERRMRG", {"0"}}, {"SYSERR", {"DATUM.LNK"}}},
       .setup =
           [](const RunDir& dir) { fs::create_hard_link(dir / "DATUM.TST", dir / "DATUM.LNK"); },
       .clashes = {{"SYSERR", "DATUM.LNK", "DATUM", "DATUM.TST"}}},
      {.name = "program_output_empties_velocities",
       .options = {{"VELAPR", {"NET.VEL"}}, {"SYSOUT", {"NET.VEL"}}},
       .setup = [](const RunDir& dir) { dir.copy("NET.VEL", "NET.VEL"); },
       .clashes = {{"SYSOUT", "NET.VEL", "VELAPR", "NET.VEL"}}},
      {.name = "message_file_empties_station_selection",
       .options = {{"USESTA", {"SEL.FIL"}}, {"SYSERR", {"./SEL.FIL"}}},
       .setup = [](const RunDir& dir) { dir.copy("SEL.FIL", "SEL.FIL"); },
       .clashes = {{"SYSERR", "./SEL.FIL", "USESTA", "SEL.FIL"}}},
      // The system input is connected for the whole run: every output
      // that names it is refused; so is the pair of outputs.
      {.name = "outputs_name_the_system_input",
       .options = {{"SYSINP", {"INPUT.TXT"}},
                   {"SYSOUT", {"./INPUT.TXT"}},
                   {"OKSTA", {"INPUT.TXT"}}},
       .setup = [](const RunDir& dir) { dir.put("INPUT.TXT", "system input\n"); },
       .clashes = {{"SYSOUT", "./INPUT.TXT", "SYSINP", "INPUT.TXT"},
                   {"OKSTA", "INPUT.TXT", "SYSINP", "INPUT.TXT"},
                   {"SYSOUT", "./INPUT.TXT", "OKSTA", "INPUT.TXT", true}}},
      // Two outputs: files that do not exist yet ...
      {.name = "report_and_parameters_one_new_file",
       .options = {{"SYSOUT", {"REPORT.TXT"}}, {"TRNFIL", {"sub/../REPORT.TXT"}}},
       .setup = [](const RunDir& dir) { fs::create_directories(dir / "sub"); },
       .clashes = {{"SYSOUT", "REPORT.TXT", "TRNFIL", "sub/../REPORT.TXT", true}}},
      // ... a link to a file that does not exist yet ...
      {.name = "message_file_and_rejected_list_by_dangling_link",
       .options = with(rejection, {{"SYSERR", {"ERR.LNK"}}, {"LISTFIL", {"MSG.TXT"}}}),
       .setup = [](const RunDir& dir) { fs::create_symlink("MSG.TXT", dir / "ERR.LNK"); },
       .clashes = {{"SYSERR", "ERR.LNK", "LISTFIL", "MSG.TXT", true}}},
      // ... and an existing file under a hard link.
      {.name = "parameters_and_accepted_stations_by_hard_link",
       .options = {{"TRNFIL", {"PARAM.TRN"}}, {"OKSTA", {"HARD.TRN"}}},
       .setup =
           [](const RunDir& dir) {
             dir.put("PARAM.TRN", "parameters of an earlier run\n");
             fs::create_hard_link(dir / "PARAM.TRN", dir / "HARD.TRN");
           },
       .clashes = {{"TRNFIL", "PARAM.TRN", "OKSTA", "HARD.TRN", true}}},
      // An output in a directory that does not exist, as the system leads
      // its name: nothing is written or replaced, the list of rejected
      // stations and the other results of an earlier run stay.
      {.name = "parameters_in_a_missing_directory",
       .options = with(kAllResults, {{"TRNFIL", {"nodir/X.TRN"}}}),
       .setup = earlierResults,
       .unwritable = {{"TRNFIL", "nodir/X.TRN", kNoDirectory}}},
      {.name = "coordinates_by_a_link_into_a_missing_directory",
       .options = with(kAllResults, {{"COORDRS", {"LINK.CRD"}}}),
       .setup =
           [](const RunDir& dir) {
             earlierResults(dir);
             fs::create_symlink("gone/T.CRD", dir / "LINK.CRD");
           },
       .unwritable = {{"COORDRS", "LINK.CRD", kNoDirectory}}},
      // "nodir" exists beside the link `a`, not beside other/inner.
      {.name = "accepted_stations_through_dot_dot_after_a_link",
       .options = with(kAllResults, {{"OKSTA", {"a/../nodir/OK.FIL"}}}),
       .setup =
           [](const RunDir& dir) {
             earlierResults(dir);
             linkedDirectory(dir);
             fs::create_directories(dir / "nodir");
           },
       .unwritable = {{"OKSTA", "a/../nodir/OK.FIL", kNoDirectory}}},
      // The program output and the message file: an old log stays.
      {.name = "message_file_in_a_missing_directory",
       .options = with(kAllResults, {{"SYSOUT", {"LOG.TXT"}},
                                     {"ERRMRG", {"0"}},
                                     {"SYSERR", {"${DIR}/nodir/ERR.TXT"}}}),
       .setup =
           [](const RunDir& dir) {
             earlierResults(dir);
             dir.put("LOG.TXT", "log of an earlier run\n");
           },
       .unwritable = {{"SYSERR", "@/nodir/ERR.TXT", kNoDirectory}}},
      {.name = "program_output_and_rejected_list_in_missing_directories",
       .options = with(kAllResults, {{"SYSOUT", {"out/LOG.TXT"}}, {"LISTFIL", {"lists/REJ.LST"}}}),
       .setup = earlierResults,
       .unwritable = {{"SYSOUT", "out/LOG.TXT", kNoDirectory},
                      {"LISTFIL", "lists/REJ.LST", kNoDirectory}}},
      // Both kinds of block, the unwritable output's first.
      {.name = "missing_directory_and_parameters_over_the_first_set",
       .options = with(kAllResults, {{"TRNFIL", {"NET_A.CRD"}}, {"OKSTA", {"nodir/OK.FIL"}}}),
       .setup = earlierResults,
       .clashes = {{"TRNFIL", "NET_A.CRD", "COORD1", "NET_A.CRD", false, true}},
       .unwritable = {{"OKSTA", "nodir/OK.FIL", kNoDirectory}}},
  };
}

class Xform1Names : public ::testing::TestWithParam<Refused> {};

TEST_P(Xform1Names, RefusedBeforeAnythingIsWritten) {
  const Refused& c = GetParam();
  RunDir dir("names_" + c.name);
  e2e::putNetworkInputs(dir);
  if (c.setup) c.setup(dir);
  dir.put("XFORM1.INP", keywordsOf(dir, c.options).text());
  const auto before = snapshot(dir);

  const e2e::RunResult result = e2e::run(dir, {"XFORM1.INP"});

  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, blocksOf(dir, c));
  EXPECT_EQ(snapshot(dir), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, Xform1Names, ::testing::ValuesIn(refusedCases()),
                         [](const ::testing::TestParamInfo<Refused>& info) {
                           return info.param.name;
                         });
INSTANTIATE_TEST_SUITE_P(OtherKind, Xform1Names, ::testing::ValuesIn(otherKindCases()),
                         [](const ::testing::TestParamInfo<Refused>& info) {
                           return info.param.name;
                         });

// ---- Runs that keep working ----

// A run that names one file twice in a way that works, and a reference run
// that names other files instead: both succeed with the same report, and
// each pair of files (case, reference) holds the same records.
struct Allowed {
  std::string name = {};
  Options options = {};
  Options reference = {};
  Setup setup = {};
  std::vector<std::pair<std::string, std::string>> sameFiles = {};
};

void PrintTo(const Allowed& c, std::ostream* os) { *os << c.name; }

std::string tableLine(const std::string& name) { return "\"" + name + "\" \"\" \"\" \"\""; }

std::vector<Allowed> allowedCases() {
  const Setup mergeFile = [](const RunDir& dir) { dir.copy("OLD.CRD", "MERGE.CRD"); };
  const Setup selection = [](const RunDir& dir) { dir.copy("SEL.FIL", "SEL.FIL"); };
  const Options datumWarning = {{"COORD2", {"NET_B_ITRF2014.CRD"}}, {"RESIDTYPE", {"NEU"}}};
  const Setup secondDatum = [](const RunDir& dir) {
    dir.copy("NET_B_ITRF2014.CRD", "NET_B_ITRF2014.CRD");
  };
  auto with = [](Options a, const Options& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  return {
      // The transformed coordinates merged into the file they are read from.
      {.name = "merge_into_the_same_file",
       .options = {{"COORD", {"MERGE.CRD"}}, {"COORDRS", {"./MERGE.CRD"}}},
       .reference = {{"COORD", {"MERGE.CRD"}}, {"COORDRS", {"OUT.CRD"}}},
       .setup = mergeFile,
       .sameFiles = {{"MERGE.CRD", "OUT.CRD"}}},
      // One log for the program output and the messages (with a warning
      // in it): by the value "SYSOUT", by naming the file again, by a link.
      {.name = "one_log_by_name",
       .options = with(datumWarning, {{"SYSOUT", {"LOG.TXT"}}, {"SYSERR", {"./LOG.TXT"}}}),
       .reference = with(datumWarning, {{"SYSOUT", {"LOG.TXT"}}, {"SYSERR", {"SYSOUT"}}}),
       .setup = secondDatum,
       .sameFiles = {{"LOG.TXT", "LOG.TXT"}}},
      {.name = "one_log_by_link",
       .options = with(datumWarning, {{"SYSOUT", {"LOG.TXT"}}, {"SYSERR", {"LOG.LNK"}}}),
       .reference = with(datumWarning, {{"SYSOUT", {"LOG.TXT"}}, {"SYSERR", {"SYSOUT"}}}),
       .setup =
           [](const RunDir& dir) {
             dir.copy("NET_B_ITRF2014.CRD", "NET_B_ITRF2014.CRD");
             fs::create_symlink("LOG.TXT", dir / "LOG.LNK");
           },
       .sameFiles = {{"LOG.TXT", "LOG.TXT"}}},
      // Messages merged into the program output: the message file is not
      // opened, whatever it names.
      {.name = "message_file_unused_when_merged",
       .options = with(datumWarning, {{"ERRMRG", {"1"}}, {"SYSERR", {"NET_A.CRD"}}}),
       .reference = with(datumWarning, {{"ERRMRG", {"1"}}, {"SYSERR", {""}}}),
       .setup = secondDatum,
       .sameFiles = {{"NET_A.CRD", "NET_A.CRD"}}},
      // Results that replace inputs which the run has read completely.
      {.name = "transformed_set_replaces_first_set",
       .options = {{"COORDRS", {"NET_A.CRD"}}},
       .reference = {{"COORDRS", {"OUT.CRD"}}},
       .sameFiles = {{"NET_A.CRD", "OUT.CRD"}}},
      {.name = "accepted_stations_replace_selection",
       .options = {{"USESTA", {"SEL.FIL"}}, {"OKSTA", {"./SEL.FIL"}}},
       .reference = {{"USESTA", {"SEL.FIL"}}, {"OKSTA", {"ACCEPT.FIL"}}},
       .setup = selection,
       .sameFiles = {{"SEL.FIL", "ACCEPT.FIL"}}},
      {.name = "transformed_set_replaces_second_set",
       .options = {{"COORDRS", {"${DIR}/NET_B.CRD"}}},
       .reference = {{"COORDRS", {"OUT.CRD"}}},
       .sameFiles = {{"NET_B.CRD", "OUT.CRD"}}},
      // Files that the options leave unused are no files of the run: the
      // merge file and the transformed coordinates of a transformation in
      // the local system, the list of rejected stations without rejection
      // ...
      {.name = "files_the_options_leave_unused",
       .options = {{"RESIDTYPE", {"NEU"}},
                   {"TRNFIL", {"PARAM.TRN"}},
                   {"COORD", {"PARAM.TRN"}},
                   {"COORDRS", {"PARAM.TRN"}},
                   {"LISTFIL", {"./PARAM.TRN"}}},
       .reference = {{"RESIDTYPE", {"NEU"}}, {"TRNFIL", {"PARAM.TRN"}}, {"COORDRS", {"OUT.CRD"}}},
       .sameFiles = {{"PARAM.TRN", "PARAM.TRN"}}},
      // ... the station selection file of a selection by the table.
      {.name = "selection_file_unused_with_the_table",
       .options = {{"RADIO_1", {"0"}},
                   {"RADIO_2", {"1"}},
                   {"STASELECT",
                    {tableLine("ALFA 10001M001"), tableLine("BETA 10002M001"),
                     tableLine("GAMA 10003M001"), tableLine("DLTA 10004M001")}},
                   {"USESTA", {"SEL.FIL"}},
                   {"SYSOUT", {"SEL.FIL"}}},
       .reference = {{"RADIO_1", {"0"}},
                     {"RADIO_2", {"1"}},
                     {"STASELECT",
                      {tableLine("ALFA 10001M001"), tableLine("BETA 10002M001"),
                       tableLine("GAMA 10003M001"), tableLine("DLTA 10004M001")}},
                     {"USESTA", {"SEL.FIL"}},
                     {"SYSOUT", {"LOG.TXT"}}},
       .setup = selection,
       .sameFiles = {{"SEL.FIL", "LOG.TXT"}}},
      // Special files are written through: the null device for every result.
      {.name = "results_to_the_null_device",
       .options = {{"REJECT", {"1"}},
                   {"LISTFIL", {"/dev/null"}},
                   {"TRNFIL", {"/dev/null"}},
                   {"COORDRS", {"/dev/null"}},
                   {"OKSTA", {"/dev/null"}}},
       .reference = {{"REJECT", {"1"}}, {"LISTFIL", {""}}}},
      // ... and for the program output and the messages as well: opening a
      // result there leaves the program output where it is connected.
      {.name = "output_and_results_to_the_null_device",
       .options = {{"SYSOUT", {"/dev/null"}},
                   {"ERRMRG", {"0"}},
                   {"SYSERR", {"/dev/null"}},
                   {"REJECT", {"1"}},
                   {"LISTFIL", {"/dev/null"}},
                   {"TRNFIL", {"/dev/null"}},
                   {"COORDRS", {"/dev/null"}},
                   {"OKSTA", {"/dev/null"}}},
       .reference = {{"SYSOUT", {"/dev/null"}}, {"REJECT", {"1"}}, {"LISTFIL", {""}}}},
  };
}

class Xform1NamesAllowed : public ::testing::TestWithParam<Allowed> {};

TEST_P(Xform1NamesAllowed, RunsAsBefore) {
  const Allowed& c = GetParam();
  RunDir dir("names_" + c.name);
  RunDir ref("names_" + c.name + "_reference");
  const e2e::RunResult result = runCase(dir, c.options, c.setup);
  const e2e::RunResult expected = runCase(ref, c.reference, c.setup);
  ASSERT_EQ(expected.status, 0) << expected.out;
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(e2e::maskClock(result.out), e2e::maskClock(expected.out));
  for (const auto& [name, refName] : c.sameFiles) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(dir.exists(name));
    ASSERT_TRUE(ref.exists(refName));
    EXPECT_EQ(e2e::maskClock(dir.text(name)), e2e::maskClock(ref.text(refName)));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Xform1NamesAllowed, ::testing::ValuesIn(allowedCases()),
                         [](const ::testing::TestParamInfo<Allowed>& info) {
                           return info.param.name;
                         });

// Two results named as the standard output, a regular file here: both are
// written on it after the report, as before.
TEST(Xform1NamesStandardOutput, ResultsFollowTheReport) {
  RunDir dir("names_stdout");
  RunDir ref("names_stdout_reference");
  const e2e::RunResult result =
      runCase(dir, {{"TRNFIL", {"/dev/stdout"}}, {"OKSTA", {"/dev/stdout"}}}, {});
  const e2e::RunResult expected =
      runCase(ref, {{"TRNFIL", {"PARAM.TRN"}}, {"OKSTA", {"ACCEPT.FIL"}}}, {});
  ASSERT_EQ(expected.status, 0);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  const std::string end = "\n>>> CPU/Real time";
  const std::string report = e2e::maskClock(expected.out);
  const std::string out = e2e::maskClock(result.out);
  const std::string results = e2e::maskClock(ref.text("PARAM.TRN") + ref.text("ACCEPT.FIL"));
  ASSERT_NE(report.find(end), std::string::npos);
  EXPECT_EQ(out, report.substr(0, report.find(end)) + results + report.substr(report.find(end)));
}

// ---- Where a name leads ----

// A file that the run removes, named through a linked directory: the file
// the run named is removed, the user's file of the same name beside the
// link stays, and nothing else changes.
TEST(Xform1NamesPlaces, RemovalsThroughALinkedDirectory) {
  struct Case {
    std::string name;
    Options options;
    ::Setup setup;
    std::string removed;  // the file the run names
  };
  const Case cases[] = {
      // Nothing rejected: the old list is removed.
      {"old_rejected_list",
       {{"REJECT", {"1"}}, {"NLIMIT", {"1000"}}, {"ELIMIT", {"1000"}}, {"ULIMIT", {"1000"}},
        {"RESIDUNIT", {"MM"}}, {"LISTFIL", {"a/../REJECT.LST"}}},
       [](const RunDir& dir) {
         linkedDirectory(dir);
         dir.put("REJECT.LST", "the user's own file\n");
         dir.put("other/REJECT.LST", "old list\n");
       },
       "other/REJECT.LST"},
      // The second set, read and then removed at the end of the run.
      {"delete_files_of_the_second_set",
       {{"COORD2", {"a/../NET_B.CRD"}}, {"DELETE_FILES", {"COORD2"}}},
       [](const RunDir& dir) {
         linkedDirectory(dir);
         fs::copy_file(dir / "NET_B.CRD", dir / "other" / "NET_B.CRD");
         dir.put("NET_B.CRD", "the user's own file\n");
       },
       "other/NET_B.CRD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunDir dir("names_removal_" + c.name);
    e2e::putNetworkInputs(dir);
    c.setup(dir);
    dir.put("XFORM1.INP", keywordsOf(dir, c.options).text());
    auto expected = snapshot(dir);
    expected.erase(c.removed);

    const e2e::RunResult result = e2e::run(dir, {"XFORM1.INP"});

    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find("Program finished successfully"), std::string::npos);
    EXPECT_EQ(snapshot(dir), expected);
  }
}

// The run directory mounted a second time below itself: a new file named
// through both mounts is one file, refused as two outputs.
TEST(Xform1NamesPlaces, OneNewFileThroughASecondMountIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
  RunDir dir("names_bind");
  e2e::putNetworkInputs(dir);
  fs::create_directory(dir / "bind");
  const Options options = {{"TRNFIL", {"bind/NEW.OUT"}}, {"OKSTA", {"NEW.OUT"}}};
  dir.put("XFORM1.INP", keywordsOf(dir, options).text());
  const auto before = snapshot(dir);

  // The second mount exists for the program alone (a mount namespace of
  // its own); 124 when it cannot be made.
  const e2e::RunResult result = e2e::run(dir, {"XFORM1.INP"}, [] {
    if (!rttest::privateMountNamespace() || ::mount(".", "bind", nullptr, MS_BIND, nullptr) != 0)
      ::_exit(124);
  });
  if (result.status == 124) GTEST_SKIP() << "cannot bind-mount here";

  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, block(dir, {"TRNFIL", "bind/NEW.OUT", "OKSTA", "NEW.OUT", true}));
  EXPECT_EQ(snapshot(dir), before);
}

// The transformed coordinates named by a link OUT.CRD to the user's file
// MINE.CRD, in a directory `shared`: a link that another user planted in a
// sticky directory that everyone may write is not followed, the open fails
// and the user's file stays; the run's own link there, and another user's
// link in an ordinary directory, lead to the file.
TEST(Xform1NamesPlaces, LinksInASharedDirectory) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a link to another user";
  constexpr uid_t kOther = 65534;
  struct Case {
    std::string name;
    fs::perms mode;  // of the directory `shared`
    uid_t linkOwner;
    bool followed;
  };
  const Case cases[] = {
      {"another_users_link_in_a_sticky_directory", fs::perms::all | fs::perms::sticky_bit, kOther,
       false},
      {"own_link_in_a_sticky_directory", fs::perms::all | fs::perms::sticky_bit, 0, true},
      {"another_users_link_in_an_ordinary_directory", fs::perms::all, kOther, true},
  };
  RunDir ref("names_shared_reference");
  const e2e::RunResult reference = runCase(ref, {{"COORDRS", {"OUT.CRD"}}}, {});
  ASSERT_EQ(reference.status, 0) << reference.out;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunDir dir("names_" + c.name);
    const ::Setup setup = [&c](const RunDir& d) {
      d.put("MINE.CRD", "the user's own coordinates\n");
      fs::create_directory(d / "shared");
      fs::permissions(d / "shared", c.mode);
      fs::create_symlink("../MINE.CRD", d / "shared" / "OUT.CRD");
      ASSERT_EQ(::lchown((d / "shared" / "OUT.CRD").c_str(), c.linkOwner, 0), 0);
    };
    const e2e::RunResult result = runCase(dir, {{"COORDRS", {"shared/OUT.CRD"}}}, setup);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(fs::is_symlink(dir / "shared" / "OUT.CRD"));
    EXPECT_EQ(dir.files(), (std::set<std::string>{"CONST.TST", "DATUM.TST", "MINE.CRD",
                                                  "NET_A.CRD", "NET_B.CRD", "XFORM1.INP"}));
    if (c.followed) {
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(e2e::maskClock(dir.text("MINE.CRD")), e2e::maskClock(ref.text("OUT.CRD")));
    } else {
      // Refused by the check of names, before anything is written.
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.out, block(dir, Unwritable{"COORDRS", "shared/OUT.CRD", kNoAccess}));
      EXPECT_EQ(dir.text("MINE.CRD"), "the user's own coordinates\n");
    }
  }
}

// Outputs that the run's user may not write, as the user nobody: a new
// file in a directory of another user, a file that may only be read, the
// program output made anew in a directory of another user; and, as root,
// a new file on a read-only file system. Refused before anything is
// written: the results of an earlier run (in a directory of the user's
// own) stay as they were. The user's own file in a directory of another
// user is written where it stands.
TEST(Xform1NamesPlaces, OutputsThatTheUserMayNotWrite) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
  // Nobody runs a copy of the program in a directory that every user may
  // search, or the built program where nobody reaches it (the copy's
  // temporary directory may be private).
  const e2e::ProgramForNobody copy;
  std::string program = copy.path();
  if (!copy.why().empty()) {
    if (const std::string why = rttest::whyNobodyCannot(XF_PROGRAM, X_OK); !why.empty())
      GTEST_SKIP() << copy.why() << "; and " << why;
    program = XF_PROGRAM;
  }
  const auto asNobody = [] {
    if (!rttest::becomeNobody()) ::_exit(rttest::kCannotBecomeNobody);
  };
  // In the run directory: `mine` of the user nobody with the results of an
  // earlier run, and `root`, a directory of root that the user may read.
  const auto directories = [](const RunDir& dir) {
    fs::create_directories(dir / "mine");
    fs::create_directories(dir / "root");
    for (const char* name : {"REJECT.LST", "PARAM.TRN", "TRANSF.CRD", "ACCEPT.FIL"})
      dir.put(std::string("mine/") + name, std::string("result of an earlier run: ") + name + "\n");
    for (const auto& entry : fs::recursive_directory_iterator(dir / "mine"))
      ASSERT_EQ(::lchown(entry.path().c_str(), rttest::kNobodyUid, rttest::kNobodyGid), 0);
    ASSERT_EQ(::lchown((dir / "mine").c_str(), rttest::kNobodyUid, rttest::kNobodyGid), 0);
  };
  const Options results = {{"REJECT", {"1"}},
                           {"LISTFIL", {"mine/REJECT.LST"}},
                           {"TRNFIL", {"mine/PARAM.TRN"}},
                           {"COORDRS", {"mine/TRANSF.CRD"}},
                           {"OKSTA", {"mine/ACCEPT.FIL"}}};
  struct Case {
    std::string name;
    Options options;
    ::Setup setup;
    std::function<void()> inChild;
    std::vector<Unwritable> refused;  // empty: the run succeeds
    bool byNobody = true;             // run as the user nobody, else as root
  };
  const std::vector<Case> cases = {
      {"new_file_in_a_directory_of_another_user", {{"COORDRS", {"root/T.CRD"}}}, {}, asNobody,
       {{"COORDRS", "root/T.CRD", kNoAccess}}},
      {"file_that_may_only_be_read",
       {{"TRNFIL", {"mine/RO.TRN"}}},
       [](const RunDir& dir) { dir.put("mine/RO.TRN", "root's parameters\n"); },
       asNobody,
       {{"TRNFIL", "mine/RO.TRN", kNoAccess}}},
      {"program_output_in_a_directory_of_another_user",
       {{"SYSOUT", {"root/LOG.TXT"}}},
       [](const RunDir& dir) {
         dir.put("root/LOG.TXT", "nobody's old log\n");
         ASSERT_EQ(::chown((dir / "root" / "LOG.TXT").c_str(), rttest::kNobodyUid,
                           rttest::kNobodyGid),
                   0);
       },
       asNobody,
       {{"SYSOUT", "root/LOG.TXT", kNoAccess}}},
      {"new_file_on_a_read_only_file_system",
       {{"OKSTA", {"root/OK.FIL"}}},
       {},
       [] {
         if (!rttest::mountPrivateTmpfs("root", "mode=755", MS_RDONLY)) ::_exit(124);
       },
       {{"OKSTA", "root/OK.FIL",
         "The run may neither create nor write it: Read-only file system"}},
       false},
      {"own_file_in_a_directory_of_another_user",
       {{"COORDRS", {"root/T.CRD"}}},
       [](const RunDir& dir) {
         dir.put("root/T.CRD", "nobody's old coordinates\n");
         ASSERT_EQ(::chown((dir / "root" / "T.CRD").c_str(), rttest::kNobodyUid,
                           rttest::kNobodyGid),
                   0);
       },
       asNobody,
       {}},
  };
  RunDir ref("names_unwritable_reference");
  const e2e::RunResult reference = runCase(ref, {{"REJECT", {"1"}}, {"COORDRS", {"OUT.CRD"}}}, {});
  ASSERT_EQ(reference.status, 0) << reference.out;
  std::string notTried;  // why the cases as nobody could not be run
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunDir dir("names_" + c.name);
    e2e::putNetworkInputs(dir);
    directories(dir);
    if (c.setup) c.setup(dir);
    Options options = results;
    options.insert(options.end(), c.options.begin(), c.options.end());
    dir.put("XFORM1.INP", keywordsOf(dir, options).text());
    if (c.byNobody) {
      // The user nobody starts in the run directory and goes by names
      // relative to it: it reads the inputs and `root`, whatever the umask
      // made them, and writes `mine`.
      rttest::letEveryoneRead(dir.path());
      const rttest::WorkingDirectory inTheRun(dir.path());
      std::string why;
      for (const auto& [name, mode] : {std::pair{"XFORM1.INP", R_OK},
                                       std::pair{"root", R_OK | X_OK},
                                       std::pair{"mine", W_OK | X_OK}})
        if (why.empty()) why = rttest::whyNobodyCannot(name, mode);
      if (!why.empty()) {
        notTried = why + " (in " + dir.path().string() + ")";
        continue;
      }
    }
    const auto before = snapshot(dir);

    const e2e::RunResult result =
        e2e::run(dir, {"XFORM1.INP"}, c.inChild, c.byNobody ? program : XF_PROGRAM);
    if (result.status == rttest::kCannotBecomeNobody)
      GTEST_SKIP() << "cannot become the user nobody";
    if (result.status == 124) GTEST_SKIP() << "cannot mount a read-only file system here";

    EXPECT_EQ(result.err, "");
    if (c.refused.empty()) {
      EXPECT_EQ(result.status, 0) << result.out;
      EXPECT_EQ(e2e::maskClock(dir.text("root/T.CRD")), e2e::maskClock(ref.text("OUT.CRD")));
    } else {
      EXPECT_EQ(result.status, 1);
      std::string blocks;
      for (const Unwritable& u : c.refused) blocks += block(dir, u);
      EXPECT_EQ(result.out, blocks);
      EXPECT_EQ(snapshot(dir), before);
    }
  }
  if (!notTried.empty()) GTEST_SKIP() << "the cases as root were run; as nobody not: " << notTried;
}

}  // namespace
