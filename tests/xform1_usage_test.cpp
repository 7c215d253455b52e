// The command line: -h and --help give the usage; a command line without a
// keyword input file gives the open-failure block and a one-line usage.
#include <gtest/gtest.h>

#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::RunDir;

const std::string kUsage =
    "xform1: Helmert transformation between two sets of station coordinates.\n"
    "\n"
    "Usage: xform1 KEYWORD_FILE\n"
    "       xform1 -h | --help\n"
    "\n"
    "KEYWORD_FILE is the keyword input file: it names every input and result\n"
    "file and sets every option of the run. The file names in it are taken\n"
    "relative to the working directory, not to the keyword input file's folder.\n"
    "A keyword input file named -h or --help is given as ./-h or ./--help.\n"
    "\n"
    "XFORM1_THREADS=N (a positive integer) sets the number of threads; unset,\n"
    "the program chooses by the load of the machine. The results are the same.\n"
    "\n"
    "The README, section \"The keyword input file\", explains every keyword;\n"
    "examples/XFORM1.INP is a commented example.\n";

// The open-failure block of a keyword input file that cannot be opened,
// here one with a blank name, and the stop during initialisation.
const std::string kNoFileBlock =
    "\n"
    " *** SR OPNERR: OPEN FAILED\n"
    "                FILE NAME : \n"
    "                PGM./SUBR.:   readInpf\n"
    "                IOSTAT    :      2\n"
    "                FILE UNIT :    999\n"
    "\n"
    "\n"
    " ### SR EXITRC: PROGRAM HAS BEEN STOPPED DURING INITIALIZATION\n"
    "\n";

const std::string kUsageLine = "Usage: xform1 KEYWORD_FILE   (xform1 --help for more)\n";

struct Case {
  std::string name;
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string err;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Usage : public ::testing::TestWithParam<Case> {};

TEST_P(Usage, WholeOutputs) {
  const Case& c = GetParam();
  const RunDir dir("usage");
  // A file of each name the options could be taken for: -h and --help still
  // give the usage, and nothing is read or written.
  dir.put("-h", "not a keyword input file\n");
  dir.put("--help", "not a keyword input file\n");
  const e2e::RunResult r = e2e::run(dir, c.args);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(dir.files(), (std::set<std::string>{"-h", "--help"}));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, Usage,
    ::testing::Values(Case{"ShortOption", {"-h"}, 0, kUsage, ""},
                      Case{"LongOption", {"--help"}, 0, kUsage, ""},
                      Case{"NoArgument", {}, 1, kNoFileBlock, kUsageLine},
                      Case{"BlankArgument", {" "}, 1, kNoFileBlock, kUsageLine}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

// Standard output and error on one file: the usage line comes after the
// block, as on a terminal.
TEST(Usage, LineFollowsTheBlockOnOneStream) {
  const RunDir dir("usage_one_stream");
  const e2e::RunResult r = e2e::run(dir, {}, [] { ::dup2(1, 2); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kNoFileBlock + kUsageLine);
  EXPECT_EQ(r.err, "");
}

}  // namespace
