// Whole runs on a generated regional network of 5000 stations (several
// chunks of the estimator's searches) with outliers: the report and every
// result file must be, byte for byte (the clock masked), what the program
// wrote before its estimator was shared by threads (where the sets are
// reduced to their barycentres, less the transformed coordinates, which are
// no longer written, and with the warning that says so). The files are too large
// to keep here, so each is known by its length and a 64-bit FNV-1a digest
// of its masked text.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::RunDir;

struct Digest {
  std::size_t length = 0;
  std::uint64_t fnv = 0;
  bool operator==(const Digest&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Digest& d) {
  char text[64];
  std::snprintf(text, sizeof text, "{%zu, 0x%016llxULL}", d.length,
                static_cast<unsigned long long>(d.fnv));
  return os << text;
}

Digest digestOf(const std::string& text) {
  const std::string masked = e2e::maskClock(text);
  std::uint64_t h = 14695981039346656037ULL;
  for (const unsigned char c : masked) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return {masked.size(), h};
}

struct Variant {
  std::string name;
  std::vector<std::pair<std::string, std::string>> changes;  // lines of XFORM1.INP
  std::map<std::string, Digest> files;  // "console": standard output
};

class Xform1EarlierResults : public ::testing::TestWithParam<Variant> {};

void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

TEST_P(Xform1EarlierResults, SameFilesAsBefore) {
  const Variant& variant = GetParam();
  RunDir dir("earlier_results");
  ASSERT_TRUE(e2e::generateNetwork(dir, "5000 5 1 regional"));
  std::string input = dir.text("XFORM1.INP");
  input = e2e::replaced(input, "COORDRS 1 \"\"", "COORDRS 1 \"TRANSFORMED.CRD\"");
  input = e2e::replaced(input, "OKSTA 1 \"\"", "OKSTA 1 \"ACCEPTED.FIL\"");
  for (const auto& [from, to] : variant.changes) input = e2e::replaced(input, from, to);
  dir.put("XFORM1.INP", input);

  const e2e::RunResult result = e2e::run(dir, {"XFORM1.INP"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  std::map<std::string, Digest> got = {{"console", digestOf(result.out)}};
  for (const std::string& name : dir.files()) {
    if (name == "CONST." || name == "DATUM." || name == "REF.CRD" || name == "LOC.CRD" ||
        name == "XFORM1.INP")
      continue;
    got[name] = digestOf(dir.text(name));
  }
  EXPECT_EQ(got, variant.files);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, Xform1EarlierResults,
    ::testing::Values(
        // X/Y/Z, seven parameters, rejection: as the network generator sets it.
        Variant{"XyzAllParameters",
                {},
                {{"console", {64, 0xebfcc3da1c2a9474ULL}},
                 {"XFORM1.OUT", {357952, 0x0ece0aaecbc648fcULL}},
                 {"TRANSFORMED.CRD", {360306, 0x1c322f0763810e05ULL}},
                 {"ACCEPTED.FIL", {85110, 0x081cc7159e6c33c6ULL}},
                 {"REJECTED.LST", {750, 0x9170e07b00dcd87fULL}},
                 {"XFORM1.TRN", {396, 0xccd9ef9eac4586e6ULL}}}},
        // The local system at the barycentre (no transformed coordinates).
        Variant{"LocalSystem",
                {{"RESIDTYPE 1 \"XYZ\"", "RESIDTYPE 1 \"NEU\""}},
                {{"console", {64, 0xebfcc3da1c2a9474ULL}},
                 {"XFORM1.OUT", {358218, 0x7823221ad11bd0daULL}},
                 {"ACCEPTED.FIL", {85110, 0x081cc7159e6c33c6ULL}},
                 {"REJECTED.LST", {750, 0x9bb39385a77d6865ULL}},
                 {"XFORM1.TRN", {396, 0x5d884aca85508662ULL}}}},
        // No translation: both sets reduced to their barycentres. The
        // transformed coordinates are not written; the program output ends
        // with the warning that says so.
        Variant{"Reduced",
                {{"HLM_1 1 \"1\"", "HLM_1 1 \"0\""},
                 {"HLM_2 1 \"1\"", "HLM_2 1 \"0\""},
                 {"HLM_3 1 \"1\"", "HLM_3 1 \"0\""}},
                {{"console", {64, 0xebfcc3da1c2a9474ULL}},
                 {"XFORM1.OUT", {358008, 0xba834ea18369f45dULL}},
                 {"ACCEPTED.FIL", {85110, 0x081cc7159e6c33c6ULL}},
                 {"REJECTED.LST", {750, 0x9170e07b00dcd87fULL}},
                 {"XFORM1.TRN", {396, 0x20d7dad80999f783ULL}}}}),
    [](const ::testing::TestParamInfo<Variant>& info) { return info.param.name; });

}  // namespace
