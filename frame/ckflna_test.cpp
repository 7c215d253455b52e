// Tests of the check of file names: which pairs of names and which outputs
// it refuses, and the blocks it writes.
#include "frame/ckflna.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "frame/d_inpkey.h"
#include "frame/testsupport.h"

namespace {

using namespace frametest;

// Keywords with their first values; "@" in a value stands for the case's
// own directory.
using Values = std::vector<std::pair<std::string, std::string>>;

const std::string kIn16(16, ' ');
const std::string kStopped = kIn16 + "Processing is stopped; no file has been written.\n\n";

std::string pairBlock(const std::string& out, const std::string& other, bool otherIsOutput,
                      const std::string& why) {
  return "\n *** SR CKFLNA: One file named for two purposes\n" + kIn16 + "Output file: " + out +
         "\n" + kIn16 + (otherIsOutput ? "Output file: " : "Input file:  ") + other + "\n" +
         kIn16 + why + "\n" + kStopped;
}

std::string unwritableBlock(const std::string& out, const std::string& why) {
  return "\n *** SR CKFLNA: Output file cannot be written\n" + kIn16 + "Output file: " + out +
         "\n" + kIn16 + why + "\n" + kStopped;
}

const std::string kOtherKind = "The output would replace the input by a file of another kind.";
const std::string kBeforeRead = "The output would change the input before it is read.";
const std::string kNoDirectory = "Its directory does not exist.";

// Content kinds as a caller numbers them.
constexpr int kCoordinates = 1;
constexpr int kStations = 2;

struct Case {
  std::string name;
  std::vector<t_fileKey> keys;
  Values values;
  std::function<void(const fs::path&)> setup;
  std::string blocks;  // "@" for the case's directory; empty: the names pass
};

class CkflnaTest : public FrameTest {
 protected:
  // Runs the check on the case's keys in a directory of its own.
  void check(const Case& c) {
    SCOPED_TRACE(c.name);
    restart();
    const fs::path dir = dir_ / c.name;
    fs::create_directories(dir);
    if (c.setup) c.setup(dir);
    const auto expand = [&dir](std::string text) {
      for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at))
        text.replace(at, 1, dir.string());
      return text;
    };
    INPKINIT(inpKey);
    for (const auto& [key, value] : c.values) addKey(key, {expand(value)});
    addKey("ENVIRONMENT", {"\"D\" \"" + dir.string() + "\""});
    inpKey.readState = 2;

    const int status = exitStatusOf([&c] { CKFLNA(c.keys); });

    EXPECT_EQ(status, c.blocks.empty() ? -1 : 1);
    EXPECT_EQ(console_.str(), expand(c.blocks));
  }
};

// An output that replaces an input read before it: allowed only for one
// kind of content; an input still to be read is refused whatever it holds.
TEST_F(CkflnaTest, OutputOverAnInputAlreadyRead) {
  const auto crd = [](const fs::path& d) { std::ofstream(d / "A.CRD") << "coordinates\n"; };
  const t_fileKey coordIn{.keyWord = "COORD1", .step = 1, .content = kCoordinates};
  const Values same = {{"COORD1", "@/A.CRD"}, {"RESULT", "@/./A.CRD"}};
  const std::vector<Case> cases = {
      {"same_kind",
       {coordIn, {.keyWord = "RESULT", .output = true, .step = 2, .content = kCoordinates}},
       same, crd, ""},
      {"result_of_no_kind",
       {coordIn, {.keyWord = "RESULT", .output = true, .step = 2}},
       same, crd, pairBlock("RESULT = @/./A.CRD", "COORD1 = @/A.CRD", false, kOtherKind)},
      {"result_of_another_kind",
       {coordIn, {.keyWord = "RESULT", .output = true, .step = 2, .content = kStations}},
       same, crd, pairBlock("RESULT = @/./A.CRD", "COORD1 = @/A.CRD", false, kOtherKind)},
      {"input_of_no_kind",
       {{.keyWord = "COORD1", .step = 1},
        {.keyWord = "RESULT", .output = true, .step = 2, .content = kCoordinates}},
       same, crd, pairBlock("RESULT = @/./A.CRD", "COORD1 = @/A.CRD", false, kOtherKind)},
      // The output listed first, a file that does not exist yet.
      {"input_still_to_be_read",
       {{.keyWord = "RESULT", .output = true, .step = 2, .content = kCoordinates},
        {.keyWord = "COORD", .step = 3, .content = kCoordinates}},
       {{"COORD", "@/NEW.CRD"}, {"RESULT", "${D}/NEW.CRD"}}, {},
       pairBlock("RESULT = @/NEW.CRD", "COORD = @/NEW.CRD", false, kBeforeRead)},
  };
  for (const Case& c : cases) check(c);
}

// An output whose name leads to no place where the run may write it, as
// the system resolves the name; an input is left to its reader.
TEST_F(CkflnaTest, OutputThatCannotBeWritten) {
  const t_fileKey result{.keyWord = "RESULT", .output = true, .step = 2};
  const t_fileKey renewed{
      .keyWord = "LOG", .output = true, .step = 1, .writing = rt::Writing::Renew};
  // `a` leads to other/inner; "nodir" exists beside `a` only.
  const auto linkedDirectory = [](const fs::path& d) {
    fs::create_directories(d / "other" / "inner");
    fs::create_directories(d / "nodir");
    fs::create_symlink("other/inner", d / "a");
  };
  const std::vector<Case> cases = {
      {"missing_directory", {result}, {{"RESULT", "@/nodir/X.TRN"}}, {},
       unwritableBlock("RESULT = @/nodir/X.TRN", kNoDirectory)},
      {"missing_directory_by_variable", {renewed}, {{"LOG", "  ${D}/nodir/LOG.TXT"}}, {},
       unwritableBlock("LOG = @/nodir/LOG.TXT", kNoDirectory)},
      {"dot_dot_after_a_link", {result}, {{"RESULT", "@/a/../nodir/X.TRN"}}, linkedDirectory,
       unwritableBlock("RESULT = @/a/../nodir/X.TRN", kNoDirectory)},
      {"link_into_a_missing_directory", {result}, {{"RESULT", "@/LINK.TRN"}},
       [](const fs::path& d) { fs::create_symlink("gone/X.TRN", d / "LINK.TRN"); },
       unwritableBlock("RESULT = @/LINK.TRN", kNoDirectory)},
      {"a_file_on_the_way", {result}, {{"RESULT", "@/FILE/X.TRN"}},
       [](const fs::path& d) { std::ofstream(d / "FILE") << "a file\n"; },
       unwritableBlock("RESULT = @/FILE/X.TRN", kNoDirectory)},
      {"a_directory", {result, renewed}, {{"RESULT", "@/sub/"}, {"LOG", "@/sub/.."}},
       [](const fs::path& d) { fs::create_directories(d / "sub"); },
       unwritableBlock("RESULT = @/sub/",
                       "The run may neither create nor write it: Is a directory") +
           unwritableBlock("LOG = @/sub/..",
                           "The run may neither create nor write it: Is a directory")},
      // Passes: a new file, the parent of a linked directory, an input.
      {"where_names_lead",
       {result, {.keyWord = "COORD1", .step = 1}},
       {{"RESULT", "@/a/../X.TRN"}, {"COORD1", "@/nodir2/A.CRD"}}, linkedDirectory, ""},
      // Both kinds of block, the outputs' first.
      {"both_blocks",
       {{.keyWord = "COORD1", .step = 1}, result,
        {.keyWord = "OKSTA", .output = true, .step = 3}},
       {{"COORD1", "@/A.CRD"}, {"RESULT", "@/A.CRD"}, {"OKSTA", "@/nodir/OK.FIL"}},
       [](const fs::path& d) { std::ofstream(d / "A.CRD") << "coordinates\n"; },
       unwritableBlock("OKSTA = @/nodir/OK.FIL", kNoDirectory) +
           pairBlock("RESULT = @/A.CRD", "COORD1 = @/A.CRD", false, kOtherKind)},
  };
  for (const Case& c : cases) check(c);
}

}  // namespace
