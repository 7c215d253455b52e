// The model as the README gives it to the user, computed here in plain
// double arithmetic from the example run's own files: the transformed
// coordinates follow X' = T + s M X from the parameter file's values, and
// the estimated model X1 = s R3(rz) R2(ry) R1(rx) (X2 + T) with the same
// parameters fits the first set moved to the second set's epoch with the
// report's RMS. A change of the program's model, of its signs or of the
// parameter file's units breaks one of them.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::RunDir;
using Xyz = std::array<double, 3>;
using Matrix = std::array<Xyz, 3>;  // rows

const e2e::fs::path kExamples = e2e::fs::path(XF_SOURCE_DIR) / "examples";

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadPerMas = kPi / 180.0 / 3600.0 / 1000.0;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// A coordinate or velocity file as the README describes it: six header
// lines, then one station per line (name in columns 6-21, three values in
// columns 22-66) up to a line whose columns 6-22 are blank.
struct StationFile {
  std::string epoch;  // columns 48-66 of line 3
  std::map<std::string, Xyz> values;
};

StationFile readStations(const std::string& text) {
  const std::vector<std::string> all = lines(text);
  StationFile file;
  if (all.size() > 2 && all[2].size() > 47) file.epoch = all[2].substr(47, 19);
  for (std::size_t i = 6; i < all.size(); ++i) {
    const std::string line = all[i] + std::string(80, ' ');
    if (line.substr(5, 17).find_first_not_of(' ') == std::string::npos) break;
    file.values[line.substr(5, 16)] = {std::stod(line.substr(21, 15)), std::stod(line.substr(36, 15)),
                                       std::stod(line.substr(51, 15))};
  }
  return file;
}

// Days from 1 March of year 0 of the proleptic Gregorian calendar to the
// date, plus the time of day: differences of two give the interval in days.
double dayNumber(const std::string& epoch) {
  int y = std::stoi(epoch.substr(0, 4));
  const int m = std::stoi(epoch.substr(5, 2));
  const int d = std::stoi(epoch.substr(8, 2));
  const double seconds = std::stoi(epoch.substr(11, 2)) * 3600.0 +
                         std::stoi(epoch.substr(14, 2)) * 60.0 + std::stoi(epoch.substr(17, 2));
  if (m <= 2) --y;
  const int mp = (m + 9) % 12;
  const long days = 365L * y + y / 4 - y / 100 + y / 400 + (153 * mp + 2) / 5 + d - 1;
  return static_cast<double>(days) + seconds / 86400.0;
}

// Record 2 of the parameter file, in the README's units: translations in
// metres, scale factor, rotations in radians.
struct Parameters {
  Xyz t;
  double s;
  Xyz r;
};

Parameters readParameters(const std::string& text) {
  const std::string record = lines(text).at(1);
  const auto column = [&record](int k) { return std::stod(record.substr(10 * k, 10)); };
  Parameters p;
  for (int k = 0; k < 3; ++k) p.t[k] = column(1 + k) / 100.0;  // cm
  p.s = 1.0 + column(4) * 1.0e-9;                               // ppb
  for (int k = 0; k < 3; ++k) p.r[k] = column(5 + k) * kRadPerMas;
  return p;
}

Xyz times(const Matrix& m, const Xyz& x) {
  Xyz y{};
  for (int i = 0; i < 3; ++i) y[i] = m[i][0] * x[0] + m[i][1] * x[1] + m[i][2] * x[2];
  return y;
}

Matrix times(const Matrix& a, const Matrix& b) {
  Matrix c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) c[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
  return c;
}

// The README's axis rotations (coordinate-frame rotations).
Matrix R1(double a) { return {{{1, 0, 0}, {0, std::cos(a), std::sin(a)}, {0, -std::sin(a), std::cos(a)}}}; }
Matrix R2(double a) { return {{{std::cos(a), 0, -std::sin(a)}, {0, 1, 0}, {std::sin(a), 0, std::cos(a)}}}; }
Matrix R3(double a) { return {{{std::cos(a), std::sin(a), 0}, {-std::sin(a), std::cos(a), 0}, {0, 0, 1}}}; }

class ReadmeModel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new RunDir("readme_model");
    for (const char* name :
         {"XFORM1.INP", "CONST.", "DATUM.", "REF_2020.CRD", "LOC_2022.CRD", "REF_2020.VEL"})
      dir_->put(name, e2e::fileContent(kExamples / name));
    result_ = new e2e::RunResult(e2e::run(*dir_, {"XFORM1.INP"}));
  }
  static void TearDownTestSuite() {
    delete result_;
    delete dir_;
  }
  static RunDir* dir_;
  static e2e::RunResult* result_;
};

RunDir* ReadmeModel::dir_ = nullptr;
e2e::RunResult* ReadmeModel::result_ = nullptr;

// X' = T + s M X, M = [1 rz -ry; -rz 1 rx; ry -rx 1], for every station of
// the second set, to the last digit of the file (0.01 mm; the parameter
// file's rounding adds less than 0.001 mm).
TEST_F(ReadmeModel, TransformedCoordinatesFollowTheFirstOrderFormula) {
  ASSERT_EQ(result_->status, 0) << result_->out;
  const Parameters p = readParameters(dir_->text("XFORM1.TRN"));
  const StationFile second = readStations(dir_->text("LOC_2022.CRD"));
  const StationFile transformed = readStations(dir_->text("TRANSFORMED.CRD"));
  ASSERT_EQ(transformed.values.size(), second.values.size());
  const double rx = p.r[0], ry = p.r[1], rz = p.r[2];
  const Matrix m = {{{1.0, rz, -ry}, {-rz, 1.0, rx}, {ry, -rx, 1.0}}};
  for (const auto& [name, x] : second.values) {
    SCOPED_TRACE(name);
    ASSERT_EQ(transformed.values.count(name), 1u);
    const Xyz mx = times(m, x);
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(transformed.values.at(name)[k], p.t[k] + p.s * mx[k], 1.0e-5);
  }
}

// X1 = s R3(rz) R2(ry) R1(rx) (X2 + T), the first set moved to the second
// set's epoch by its velocities times (days between the epochs) / 365.25:
// over the accepted stations, sqrt(sum of squared differences / (3n - 7))
// is the report's RMS of the transformation (printed to 0.01 mm).
TEST_F(ReadmeModel, EstimatedModelFitsWithTheReportedRms) {
  ASSERT_EQ(result_->status, 0) << result_->out;
  const Parameters p = readParameters(dir_->text("XFORM1.TRN"));
  const StationFile first = readStations(dir_->text("REF_2020.CRD"));
  const StationFile velocities = readStations(dir_->text("REF_2020.VEL"));
  const StationFile second = readStations(dir_->text("LOC_2022.CRD"));
  const double years = (dayNumber(second.epoch) - dayNumber(first.epoch)) / 365.25;

  std::set<std::string> accepted;
  const std::vector<std::string> list = lines(dir_->text("ACCEPTED.FIL"));
  for (std::size_t i = 5; i < list.size() && list[i].find_first_not_of(' ') != std::string::npos; ++i)
    accepted.insert((list[i] + std::string(16, ' ')).substr(0, 16));
  ASSERT_EQ(accepted.size(), 28u);

  const Matrix r = times(R3(p.r[2]), times(R2(p.r[1]), R1(p.r[0])));
  double sum = 0.0;
  for (const std::string& name : accepted) {
    const Xyz& x2 = second.values.at(name);
    const Xyz shifted = {x2[0] + p.t[0], x2[1] + p.t[1], x2[2] + p.t[2]};
    const Xyz model = times(r, shifted);
    for (int k = 0; k < 3; ++k) {
      const double x1 = first.values.at(name)[k] + velocities.values.at(name)[k] * years;
      const double v = x1 - p.s * model[k];
      sum += v * v;
    }
  }
  const double rmsMm = std::sqrt(sum / (3.0 * static_cast<double>(accepted.size()) - 7.0)) * 1000.0;

  const std::string label = " RMS OF TRANSFORMATION :";
  const std::size_t at = result_->out.find(label);
  ASSERT_NE(at, std::string::npos);
  const double reportedMm = std::stod(result_->out.substr(at + label.size(), 8));
  EXPECT_NEAR(rmsMm, reportedMm, 0.01);
}

}  // namespace
