// The bundled example: its input files are what the generator makes, the
// program recovers the generating transformation within the noise, rejects
// exactly the two outliers and writes the transformed coordinates of
// tests/data/expected/example/.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"  // std::regex too: see there

namespace {

using e2e::RunDir;

const e2e::fs::path kExamples = e2e::fs::path(XF_SOURCE_DIR) / "examples";
const std::vector<std::string> kInputs = {"XFORM1.INP", "DATUM.",       "REF_2020.CRD",
                                          "LOC_2022.CRD", "REF_2020.VEL", "GENERATED.PAR"};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The numbers of a record of the parameter file: ten columns each, after
// the first `skip` columns.
std::vector<double> columns(const std::string& record, std::size_t skip, int count) {
  std::vector<double> out;
  for (int k = 0; k < count; ++k) out.push_back(std::stod(record.substr(skip + 10 * k, 10)));
  return out;
}

TEST(Xform1Example, GeneratorMakesTheCommittedInputFiles) {
  if (std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
  RunDir dir("example_generator");
  dir.put("make_example.py", e2e::fileContent(kExamples / "make_example.py"));
  const std::string command = "cd '" + dir.path().string() + "' && python3 make_example.py";
  ASSERT_EQ(std::system(command.c_str()), 0);
  for (const std::string& name : kInputs) {
    SCOPED_TRACE(name);
    EXPECT_EQ(dir.text(name), e2e::fileContent(kExamples / name));
  }
}

// Runs the program on a copy of the example's input files.
e2e::RunResult runExample(const RunDir& dir) {
  for (const std::string& name : kInputs) dir.put(name, e2e::fileContent(kExamples / name));
  dir.put("CONST.", e2e::fileContent(kExamples / "CONST."));
  return e2e::run(dir, {"XFORM1.INP"});
}

std::string trimRight(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

TEST(Xform1Example, RecoversTheGeneratingTransformation) {
  RunDir dir("example_run");
  const e2e::RunResult result = runExample(dir);
  ASSERT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.err, "");

  // Generating values (cm, ppb, mas in the order of the parameter file) and
  // the outliers.
  std::map<std::string, double> truth;
  std::vector<std::string> outliers;
  for (const std::string& line : lines(dir.text("GENERATED.PAR"))) {
    if (line.empty() || line[0] == '!') continue;
    std::istringstream in(line);
    std::string key;
    in >> key;
    if (key == "OUTLIER") {
      std::string rest;
      std::getline(in, rest);
      outliers.push_back(rest.substr(1));
    } else {
      in >> truth[key];
    }
  }
  ASSERT_EQ(outliers.size(), 2u);

  const std::vector<std::string> trn = lines(dir.text("XFORM1.TRN"));
  ASSERT_EQ(trn.size(), 4u);
  const std::vector<double> value = columns(trn[1], 10, 7);
  const std::vector<double> sigma = columns(trn[3], 10, 7);
  EXPECT_NEAR(columns(trn[1], 0, 1)[0], 2022.49966, 1e-9);  // 2022-07-01 12:00
  const char* keys[] = {"TX", "TY", "TZ", "SC", "RX", "RY", "RZ"};
  for (int k = 0; k < 7; ++k) {
    SCOPED_TRACE(keys[k]);
    // Formal errors of the millimetre noise: a few hundredths of cm, ppb or mas.
    EXPECT_GT(sigma[k], 0.005);
    EXPECT_LT(sigma[k], 0.1);
    EXPECT_NEAR(value[k], truth[keys[k]], 3.0 * sigma[k]);
  }

  // The two outliers are rejected and left out of the accepted stations.
  const std::vector<std::string> rejected = lines(dir.text("REJECTED.LST"));
  std::vector<std::string> listed;
  const std::regex row(R"(^ (\S{4} \d{5}M\d{3}) +-?\d+\.\d\d .*)");
  for (const std::string& line : rejected) {
    std::smatch m;
    if (std::regex_match(line, m, row)) listed.push_back(m[1]);
  }
  EXPECT_EQ(listed, outliers);
  const std::vector<std::string> accepted = lines(dir.text("ACCEPTED.FIL"));
  ASSERT_EQ(accepted.size(), 5u + 28u + 1u);
  for (std::size_t i = 5; i + 1 < accepted.size(); ++i)
    for (const std::string& name : outliers) EXPECT_NE(accepted[i].substr(0, 14), name);

  // The transformed coordinates, every station of the second set, byte for
  // byte as the reference holds them (the clock masked).
  const std::string transformed = dir.text("TRANSFORMED.CRD");
  EXPECT_EQ(lines(transformed).size(), 6u + 30u + 1u);
  EXPECT_EQ(e2e::maskClock(transformed),
            e2e::fileContent(e2e::dataDir() / "expected" / "example" / "TRANSFORMED.CRD"));
}

// The report excerpt of the README is what the example run prints: its
// lines in order (without trailing blanks, the clock masked), where a line
// "..." stands for lines left out.
TEST(Xform1Example, ReadmeShowsTheReportAsPrinted) {
  RunDir dir("example_readme");
  const e2e::RunResult result = runExample(dir);
  ASSERT_EQ(result.status, 0) << result.out;
  std::vector<std::string> report;
  for (const std::string& line : lines(e2e::maskClock(result.out)))
    report.push_back(trimRight(line));

  const std::vector<std::string> readme =
      lines(e2e::fileContent(e2e::fs::path(XF_SOURCE_DIR) / "README.md"));
  const auto heading = std::find(readme.begin(), readme.end(), "## The report");
  ASSERT_NE(heading, readme.end());
  const auto open = std::find(heading, readme.end(), "```");
  ASSERT_NE(open, readme.end());
  const auto close = std::find(open + 1, readme.end(), "```");
  ASSERT_NE(close, readme.end());
  ASSERT_GT(close - open, 10);

  std::size_t next = 0;
  bool skip = true;  // the excerpt may start anywhere
  for (auto it = open + 1; it != close; ++it) {
    const std::string line = e2e::maskClock(*it);
    if (trimRight(line) == " ...") {
      skip = true;
      continue;
    }
    if (skip)
      while (next < report.size() && report[next] != line) ++next;
    ASSERT_LT(next, report.size()) << "README line not in the report: " << line;
    EXPECT_EQ(report[next], line);
    ++next;
    skip = false;
  }
}

}  // namespace
