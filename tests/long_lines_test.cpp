// Over-long lines in the input files: a line is read up to the longest
// record that the layouts use, and the rest of it is skipped without being
// held, so a run on files with huge lines gives the same files as without
// them, in little memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::RunDir;

const e2e::fs::path kExamples = e2e::fs::path(XF_SOURCE_DIR) / "examples";
const std::vector<std::string> kInputs = {"XFORM1.INP", "CONST.",       "DATUM.",
                                          "REF_2020.CRD", "LOC_2022.CRD", "REF_2020.VEL"};
const std::vector<std::string> kOutputs = {"ACCEPTED.FIL", "REJECTED.LST", "TRANSFORMED.CRD",
                                           "XFORM1.TRN"};

void putExample(const RunDir& dir) {
  for (const std::string& name : kInputs) dir.put(name, e2e::fileContent(kExamples / name));
}

// Appends `count` characters to line `lineNo` (counted from 1) of a file.
void lengthenLine(const RunDir& dir, const std::string& name, int lineNo, std::size_t count, char fill) {
  const std::string text = dir.text(name);
  std::size_t end = 0;  // the line end of line lineNo
  for (int k = 1; k <= lineNo; ++k) end = text.find('\n', k == 1 ? 0 : end + 1);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(end));
  const std::string block(1 << 20, fill);
  for (std::size_t left = count; left > 0;) {
    const std::size_t n = std::min(left, block.size());
    out.write(block.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
  out.write(text.data() + end, static_cast<std::streamsize>(text.size() - end));
}

TEST(LongLines, FiftyMegabyteLinesChangeNothingAndTakeLittleMemory) {
  constexpr std::size_t kFifty = 50u << 20;
  RunDir plain("long_lines_plain");
  putExample(plain);
  const e2e::RunResult expected = e2e::run(plain, {"XFORM1.INP"});
  ASSERT_EQ(expected.status, 0) << expected.out;

  RunDir longer("long_lines");
  putExample(longer);
  // A station line of the second coordinate file (columns 80 on are no
  // field of the layout) and a comment line of the keyword input file.
  lengthenLine(longer, "LOC_2022.CRD", 9, kFifty, 'X');
  lengthenLine(longer, "XFORM1.INP", 1, kFifty, '!');
  ASSERT_GT(e2e::fs::file_size(longer / "LOC_2022.CRD"), kFifty);
  const e2e::RunResult result = e2e::run(longer, {"XFORM1.INP"});

  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(e2e::maskClock(result.out), e2e::maskClock(expected.out));
  EXPECT_EQ(result.err, expected.err);
  for (const std::string& name : kOutputs) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(plain.exists(name));
    EXPECT_EQ(e2e::maskClock(longer.text(name)), e2e::maskClock(plain.text(name)));
  }
  // The peak memory of a child counts the memory of the test process
  // that it was forked from, which the sanitizer's runtime alone brings
  // to about the bound (and the program to 42 MB).
  XF_SKIP_UNDER_SANITIZER("the peak memory of the run is not the program's own");
  // Less than one of the lines: neither is ever held whole (a reader that
  // held them peaked at about 96 MB).
  EXPECT_LT(result.maxRssKb, static_cast<long>(kFifty / 1024)) << "peak memory in kilobytes";
}

}  // namespace
