// Whole runs whose results could be silently wrong: parameters too large for
// the ten columns of the parameter file (written as asterisks, and named in
// a warning), and transformed coordinates of sets reduced to their
// barycentres (not written, with a warning; translations alone are still
// written, and right). The second coordinate set of these runs is made here
// from the first one of the test network by a known transformation.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::Keywords;
using e2e::RunDir;

using Xyz = std::array<double, 3>;

// One station line of a coordinate file: number, name, X/Y/Z, the rest.
struct StationLine {
  std::string head;  // columns 1-21: number and name
  Xyz x;
  std::string tail;  // from column 67: the flag
};

// The header (six lines) and the station lines of a coordinate file.
struct CoordinateFile {
  std::vector<std::string> header;
  std::vector<StationLine> stations;
};

CoordinateFile readCoordinates(const std::string& text) {
  CoordinateFile file;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (file.header.size() < 6) {
      file.header.push_back(line);
    } else if (line.size() >= 66 && line.find_first_not_of(' ') != std::string::npos) {
      file.stations.push_back({line.substr(0, 21),
                               {std::stod(line.substr(21, 15)), std::stod(line.substr(36, 15)),
                                std::stod(line.substr(51, 15))},
                               line.substr(66)});
    }
  }
  return file;
}

std::string coordinateText(const CoordinateFile& file) {
  std::string text;
  for (const std::string& line : file.header) text += line + "\n";
  for (const StationLine& s : file.stations) {
    char xyz[64];
    std::snprintf(xyz, sizeof xyz, "%15.5f%15.5f%15.5f", s.x[0], s.x[1], s.x[2]);
    text += s.head + xyz + s.tail + "\n";
  }
  return text + " \n";
}

// A transformation in the program's model x1 = s R3(rz) R2(ry) R1(rx) (x2 + t):
// translations (m), rotations (arc seconds), scale deviation (ppm).
struct Transformation {
  Xyz t;
  Xyz rArcsec;
  double scalePpm;
};

// The second set that the transformation takes into NET_A.CRD: x2 =
// R^T x1 / s - t, with a fixed millimetre pattern added so that the
// residuals are not all zero.
std::string secondSet(const Transformation& tr, const std::string& title) {
  CoordinateFile file = readCoordinates(e2e::fileContent(e2e::dataDir() / "NET_A.CRD"));
  file.header[0] = title;
  const double rad = std::acos(-1.0) / 180.0 / 3600.0;
  const auto axis = [](int k, double a) {
    const double c = std::cos(a), s = std::sin(a);
    std::array<Xyz, 3> m{};
    const int i = (k + 1) % 3, j = (k + 2) % 3;
    m[k][k] = 1.0;
    m[i][i] = c;
    m[i][j] = s;
    m[j][i] = -s;
    m[j][j] = c;
    return m;
  };
  const auto mul = [](const std::array<Xyz, 3>& a, const std::array<Xyz, 3>& b) {
    std::array<Xyz, 3> m{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) m[i][j] += a[i][k] * b[k][j];
    return m;
  };
  const std::array<Xyz, 3> r =
      mul(axis(2, tr.rArcsec[2] * rad), mul(axis(1, tr.rArcsec[1] * rad), axis(0, tr.rArcsec[0] * rad)));
  const double s = 1.0 + tr.scalePpm * 1.0e-6;
  int i = 0;
  for (StationLine& st : file.stations) {
    Xyz x2{};
    for (int k = 0; k < 3; ++k) {
      for (int j = 0; j < 3; ++j) x2[k] += r[j][k] * st.x[j];
      x2[k] = x2[k] / s - tr.t[k] + 0.001 * ((i * 7 + k * 3) % 5 - 2);
    }
    st.x = x2;
    ++i;
  }
  return coordinateText(file);
}

// The transformation between an old national datum and a global frame.
const Transformation kDatumSize{{-87.0, -98.0, -121.0}, {0.25, -1.75, 2.0}, -5.0};
// A shift alone.
const Transformation kShift{{-87.0, -98.0, -121.0}, {0.0, 0.0, 0.0}, 0.0};

// A run directory with the test network's constants, datums and first set,
// the second set made by `tr` as OLD.CRD, and the keyword input file.
e2e::RunResult runOn(const RunDir& dir, const Transformation& tr, const Keywords& keywords) {
  for (const char* name : {"CONST.TST", "DATUM.TST", "NET_A.CRD"}) dir.copy(name, name);
  dir.put("OLD.CRD", secondSet(tr, "TEST NETWORK, OLD NATIONAL DATUM"));
  dir.put("XFORM1.INP", keywords.text());
  return e2e::run(dir, {"XFORM1.INP"});
}

Keywords withParameters(Keywords keywords, const std::string& flags) {
  for (std::size_t k = 0; k < flags.size(); ++k)
    keywords.set("HLM_" + std::to_string(k + 1), {std::string(1, flags[k])});
  return keywords;
}

// A datum-size transformation: translations of about 100 m and a scale of
// -5 ppm do not fit the parameter file's ten columns (nor a rotation of
// -1.75"); they are written as asterisks, the run names each of them in a
// warning and ends as before.
TEST(Xform1Values, ValuesTooLargeForTheParameterFileAreNamed) {
  RunDir dir("datum_size");
  Keywords keywords = e2e::networkKeywords();
  keywords.set("COORD2", {"OLD.CRD"}).set("TRNFIL", {"PARAM.TRN"});
  const e2e::RunResult result = runOn(dir, kDatumSize, keywords);
  const e2e::fs::path expected = e2e::dataDir() / "expected" / "datum_size";
  // Where asked, the actual files are kept for inspection.
  if (const char* keep = std::getenv("XF_E2E_ACTUAL_DIR")) {
    const e2e::fs::path out = e2e::fs::path(keep) / "datum_size";
    e2e::fs::create_directories(out);
    e2e::writeFile(out / "REPORT", e2e::maskClock(result.out));
    e2e::writeFile(out / "PARAM.TRN", dir.text("PARAM.TRN"));
  }
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(e2e::maskClock(result.out), e2e::fileContent(expected / "REPORT"));
  EXPECT_EQ(dir.text("PARAM.TRN"), e2e::fileContent(expected / "PARAM.TRN"));
}

// The distance (m) of each station of a transformed file from its partner
// in NET_A.CRD; the largest of them. Every station with a flag is there.
double largestDistanceFromTheFirstSet(const std::string& transformed) {
  const CoordinateFile first = readCoordinates(e2e::fileContent(e2e::dataDir() / "NET_A.CRD"));
  const CoordinateFile out = readCoordinates(transformed);
  double largest = 0.0;
  std::size_t flagged = 0;  // the stations taken from the first file
  for (const StationLine& a : first.stations)
    if (a.tail.find_first_not_of(' ') != std::string::npos) ++flagged;
  std::size_t matched = 0;
  for (const StationLine& a : first.stations)
    for (const StationLine& b : out.stations)
      if (a.head.substr(5) == b.head.substr(5)) {
        ++matched;
        largest = std::max(largest, std::hypot(a.x[0] - b.x[0], a.x[1] - b.x[1], a.x[2] - b.x[2]));
      }
  EXPECT_EQ(matched, flagged);
  return largest;
}

const std::string kReducedWarning =
    "\n ### PG XFORM1: COORDINATE OUTPUT FILE NOT CREATED\n"
    "                FILE NAME : TRANSF.CRD\n"
    "                ROTATIONS OR SCALE ESTIMATED WITHOUT TRANSLATIONS:\n"
    "                TRANSLATIONS MUST BE ESTIMATED TO TRANSFORM COORDINATES\n\n";
const std::string kLocalWarning =
    "\n ### PG XFORM1: COORDINATE OUTPUT FILE NOT CREATED\n"
    "                TRANSFORMATION MUST BE DONE IN X/Y/Z, NOT N/E/U SYSTEM\n\n";

// Rotations or scale without translations: both sets are reduced to their
// barycentres, and t + s M x with t = 0 is not in the first set's system.
// The file is then neither created nor replaced, and a warning says why;
// translations alone are written, and right.
TEST(Xform1Values, TransformedCoordinatesOnlyWhereTranslationsAreEstimated) {
  struct Case {
    std::string name;
    std::string parameters;  // HLM_1 to HLM_7
    std::string coordrs;     // the COORDRS value
    std::string residType = "XYZ";
    bool existing = false;   // a file of that name before the run
    std::string warning = "";
    bool written = false;
  };
  const std::string before = "an older file of that name\n";
  const Case cases[] = {
      {"rotations_scale", "0001111", "TRANSF.CRD", "XYZ", false, kReducedWarning},
      {"rotations_scale_existing", "0001111", "TRANSF.CRD", "XYZ", true, kReducedWarning},
      {"scale", "0000001", "TRANSF.CRD", "XYZ", true, kReducedWarning},
      {"rotations", "0001110", "TRANSF.CRD", "XYZ", false, kReducedWarning},
      // A file that is not written is no file of the run: it may be an input.
      {"input_named", "0001111", "NET_A.CRD", "XYZ", false,
       e2e::replaced(kReducedWarning, "TRANSF.CRD", "NET_A.CRD")},
      // No file named: nothing to say.
      {"blank", "0001111", "", "XYZ", false, ""},
      // In the local system that is what the warning names.
      {"local", "0001111", "TRANSF.CRD", "NEU", true, kLocalWarning},
      {"translations", "1110000", "TRANSF.CRD", "XYZ", false, "", true},
      {"translations_existing", "1110000", "TRANSF.CRD", "XYZ", true, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunDir dir("reduced_" + c.name);
    if (c.existing) dir.put("TRANSF.CRD", before);
    Keywords keywords = withParameters(e2e::networkKeywords(), c.parameters);
    keywords.set("COORD2", {"OLD.CRD"}).set("COORDRS", {c.coordrs}).set("RESIDTYPE", {c.residType});
    const e2e::RunResult result = runOn(dir, kShift, keywords);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    // The warning, if any, is the last block before the end of the run.
    if (c.warning.empty())
      EXPECT_EQ(result.out.find("COORDINATE OUTPUT FILE"), std::string::npos) << result.out;
    else
      EXPECT_NE(result.out.find(c.warning + "\n>>> CPU/Real time"), std::string::npos) << result.out;
    std::set<std::string> files = {"CONST.TST", "DATUM.TST", "NET_A.CRD", "OLD.CRD", "XFORM1.INP"};
    if (c.existing || c.written) files.insert("TRANSF.CRD");
    EXPECT_EQ(dir.files(), files);
    EXPECT_EQ(dir.text("NET_A.CRD"), e2e::fileContent(e2e::dataDir() / "NET_A.CRD"));
    if (c.written) {
      // Within the millimetre pattern of the second set, not 180 m off.
      EXPECT_LT(largestDistanceFromTheFirstSet(dir.text("TRANSF.CRD")), 0.005);
    } else if (c.existing) {
      EXPECT_EQ(dir.text("TRANSF.CRD"), before);
    }
  }
}

// An epoch of a coordinate file that is not a date and time of day (a
// decimal year, 29 February of a common year) stops the run while the file
// is read: the block names the text, and no result file is written.
TEST(Xform1Values, CoordinateFileEpochThatIsNoDateStopsTheRun) {
  struct Case {
    std::string key;    // the set whose epoch is changed
    std::string epoch;  // columns 48-66 of the datum line
  };
  const Case cases[] = {
      {"COORD1", "2024.0"},
      {"COORD2", "2024.5"},
      {"COORD2", "2023-02-29 00:00:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + " " + c.epoch);
    RunDir dir("epoch");
    for (const char* name : {"CONST.TST", "DATUM.TST", "NET_A.CRD"}) dir.copy(name, name);
    CoordinateFile file = readCoordinates(e2e::fileContent(e2e::dataDir() / "NET_A.CRD"));
    file.header[2] = file.header[2].substr(0, 47) + c.epoch;
    dir.put("DATED.CRD", coordinateText(file));
    Keywords keywords = e2e::networkKeywords();
    keywords.set(c.key, {"DATED.CRD"}).set(c.key == "COORD1" ? "COORD2" : "COORD1", {"NET_A.CRD"});
    keywords.set("TRNFIL", {"PARAM.TRN"});
    dir.put("XFORM1.INP", keywords.text());
    const e2e::RunResult result = e2e::run(dir, {"XFORM1.INP"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("\n *** SR ST2TIM: Cannot extract the datum/time.\n"
                              "                String: \"" + c.epoch + "\"\n\n"),
              std::string::npos)
        << result.out;
    EXPECT_FALSE(dir.exists("PARAM.TRN"));
  }
}

}  // namespace
