#include "xform/helmtr.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/constants.h"
#include "frame/d_inpkey.h"
#include "frame/reset.h"
#include "frame/runid.h"
#include "runtime/process.h"
#include "runtime/testsanitizer.h"
#include "runtime/testsupport.h"
#include "runtime/text.h"
#include "runtime/units.h"
#include "stations/algebra.h"
#include "stations/ellips.h"

namespace fs = std::filesystem;

namespace {

using Vec = std::array<double, 3>;
using Mat = std::array<double, 9>;
using Params = std::array<double, 7>;
using Flags = std::array<int, 7>;

constexpr double kA = 6378137.0;
constexpr double kB = 6356752.3141;
const Vec kNoShift = {0.0, 0.0, 0.0};
const Vec kNoRot = {0.0, 0.0, 0.0};
const Flags kAll = {1, 1, 1, 1, 1, 1, 1};
const Flags kNoTranslation = {0, 0, 0, 1, 1, 1, 1};
const Flags kNone = {0, 0, 0, 0, 0, 0, 0};
constexpr double kNoLimit = 9.0e6;

// Stations of one call: names, numbers, flags (2 per station) and both sets.
struct Network {
  std::vector<t_staName> names;
  std::vector<int> nums;
  std::vector<char> flags;
  std::vector<double> x1;  // target set
  std::vector<double> x2;  // set that is transformed
  std::vector<int> ityp;
  int size() const { return static_cast<int>(names.size()); }
  Vec target(int i) const { return {x1[3 * i], x1[3 * i + 1], x1[3 * i + 2]}; }
  void add(const std::string& name, int num, const Vec& p1, const Vec& p2, int code = 0,
           char f1 = 'A', char f2 = 'A') {
    names.emplace_back(name);
    nums.push_back(num);
    flags.push_back(f1);
    flags.push_back(f2);
    x1.insert(x1.end(), p1.begin(), p1.end());
    x2.insert(x2.end(), p2.begin(), p2.end());
    ityp.push_back(code);
  }
};

struct Result {
  Params param = {-9, -9, -9, -9, -9, -9, -9};
  Params rmsPar = {-9, -9, -9, -9, -9, -9, -9};
  double rmsTrn = -9.0;
  int nDof = -99;
  Vec rmsCmp = {-9, -9, -9};
};

Vec toCartesian(double lat, double lon, double hgt) {
  const double e2 = (kA * kA - kB * kB) / (kA * kA);
  const double n = kA / std::sqrt(1.0 - e2 * std::sin(lat) * std::sin(lat));
  return {(n + hgt) * std::cos(lat) * std::cos(lon), (n + hgt) * std::cos(lat) * std::sin(lon),
          (n * (1.0 - e2) + hgt) * std::sin(lat)};
}

// Rows north, east, up at the ellipsoidal position of a geocentric point.
Mat localFrame(const Vec& p) {
  Vec ell{};
  XYZELL(kA, kB, kNoShift.data(), kNoRot.data(), 1.0, p.data(), ell.data());
  const double sp = std::sin(ell[0]), cp = std::cos(ell[0]);
  const double sl = std::sin(ell[1]), cl = std::cos(ell[1]);
  const double rows[3][3] = {{-sp * cl, -sp * sl, cp}, {-sl, cl, 0.0}, {cp * cl, cp * sl, sp}};
  Mat m{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m[3 * j + i] = rows[i][j];
  }
  return m;
}

Vec mul(const Mat& m, const Vec& v) {
  Vec r{};
  MVEC33(v.data(), m.data(), r.data());
  return r;
}
Vec mulT(const Mat& m, const Vec& v) {
  Vec r{};
  MTVEC3(v.data(), m.data(), r.data());
  return r;
}

// R3(rz) R2(ry) R1(rx) of a parameter vector.
Mat rotation(const Params& p) {
  Mat r1{}, r2{}, r3{}, r{};
  ROTAXM(1, p[3], r1.data());
  ROTAXM(2, p[4], r2.data());
  ROTAXM(3, p[5], r3.data());
  MMUL33(r2.data(), r1.data(), r.data());
  MMUL33(r3.data(), r.data(), r.data());
  return r;
}

// A regional network over Europe: target coordinates of n stations.
std::vector<Vec> europe(int n) {
  const double d2r = std::atan(1.0) / 45.0;
  std::vector<Vec> pts;
  for (int i = 0; i < n; ++i) {
    const double lat = 38.0 + std::fmod(i * 7.31, 20.0);
    const double lon = -8.0 + std::fmod(i * 11.17, 32.0);
    const double hgt = std::fmod(i * 173.0, 1500.0);
    pts.push_back(toCartesian(lat * d2r, lon * d2r, hgt));
  }
  return pts;
}

// Builds the transformed set so that the model holds exactly with the given
// parameters in the frame the estimator works in: geocentric (resTyp 2) or
// north/east/up at the target barycentre (resTyp 1), reduced to the
// barycentres when no translation is estimated.
// The barycentres are those of the first nBary stations (all by default).
Network synthetic(const std::vector<Vec>& target, const Params& truth, int resTyp, bool reduced,
                  std::size_t nBary = 0) {
  const std::size_t n = target.size();
  if (nBary == 0) nBary = n;
  Vec bary = {0, 0, 0};
  for (std::size_t i = 0; i < nBary; ++i) {
    for (int k = 0; k < 3; ++k) bary[k] += target[i][k];
  }
  for (int k = 0; k < 3; ++k) bary[k] /= static_cast<double>(nBary);
  const Mat frame = resTyp == 1 ? localFrame(bary) : Mat{1, 0, 0, 0, 1, 0, 0, 0, 1};
  const Mat rot = rotation(truth);
  const Vec offset2 = {-1234.5, 987.6, 543.2};  // barycentre of the second set when reduced
  Network net;
  for (std::size_t i = 0; i < n; ++i) {
    Vec rel = target[i];
    for (int k = 0; k < 3; ++k) rel[k] -= bary[k];
    const Vec w1 = resTyp == 1 ? mul(frame, rel) : (reduced ? rel : target[i]);
    Vec w2 = mulT(rot, w1);
    for (int k = 0; k < 3; ++k) {
      w2[k] = w2[k] / truth[6] - (reduced ? 0.0 : truth[k]);
    }
    Vec x2{};
    if (resTyp == 1) {
      x2 = mulT(frame, w2);
      for (int k = 0; k < 3; ++k) x2[k] += reduced ? bary[k] + offset2[k] : bary[k];
    } else {
      x2 = w2;
      for (int k = 0; k < 3; ++k) x2[k] += reduced ? bary[k] + offset2[k] : 0.0;
    }
    net.add("ST" + std::to_string(i + 1), i + 1, target[i], x2);
  }
  return net;
}

// n stations S1, S2, ... with the same coordinates in both sets.
Network identicalSets(int n) {
  Network net;
  const auto target = europe(n);
  for (int i = 0; i < n; ++i) net.add('S' + std::to_string(i + 1), 0, target[i], target[i]);
  return net;
}

// Moves target station i by (north, east, up) at its own position.
void plant(Network& net, int i, const Vec& neu) {
  const Vec base = net.target(i);
  Vec moved = base;
  for (int pass = 0; pass < 3; ++pass) {
    const Vec d = mulT(localFrame(moved), neu);
    for (int k = 0; k < 3; ++k) moved[k] = base[k] + d[k];
  }
  for (int k = 0; k < 3; ++k) net.x1[3 * i + k] = moved[k];
}

// A zero printed with the sign of a tiny negative value ("-0.0000") reads as
// an unsigned zero: such a sign comes from rounding noise, not from the data.
std::string unsignedZeros(std::string s) {
  for (std::size_t pos = s.find("-0."); pos != std::string::npos; pos = s.find("-0.", pos + 1)) {
    std::size_t end = pos + 3;
    while (end < s.size() && s[end] == '0') ++end;
    const bool allZero = end > pos + 3 && (end == s.size() || !std::isdigit(s[end]));
    if (allZero && (pos == 0 || s[pos - 1] == ' ')) s[pos] = ' ';
  }
  return s;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int countOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t pos = text.find(what); pos != std::string::npos;
       pos = text.find(what, pos + 1)) {
    ++n;
  }
  return n;
}

class HelmertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    restartRun();
    static int counter = 0;
    dir_ = fs::path("/tmp") / ("hl" + std::to_string(::getpid()) + "_" + std::to_string(++counter));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    resetRunState();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // A fresh run state with the constants set and the console captured.
  void restartRun() {
    resetRunState();
    pi = 4.0 * std::atan(1.0);
    degPerRad = 180.0 / pi;
    arcsecPerRad = degPerRad * 3600.0;
    console_.str("");
    rt::setConsoleOutput(&console_);
  }

  // Names the list of rejected stations in the keyword list.
  fs::path useListFile(const std::string& name) {
    const fs::path path = dir_ / name;
    t_key key;
    key.keyName = rt::fit("LISTFIL", 32);
    key.value = {rt::fit(path.string(), 255)};
    inpKey.keys.push_back(key);
    inpKey.keyCount = static_cast<int>(inpKey.keys.size());
    inpKey.readState = 2;
    return path;
  }

  Result run(Network& net, const Flags& iPar, int resTyp, int resUnt = 1, int iRej = 0,
             const Vec& limits = {kNoLimit, kNoLimit, kNoLimit}, int iPrt = 2) {
    Result r;
    const Vec aux = {0.0, 0.0, 0.0};
    HELMTR(rt::fit("ITRF.CRD: TARGET COORDINATES", 80),
           rt::fit("LOCAL.CRD: COORDINATES TO TRANSFORM", 80), net.size(), net.names, net.nums,
           net.flags, net.x2, net.x1, aux, net.ityp, iPar, resTyp, resUnt, rt::fit("WGS - 84", 16),
           kA, kB, kNoShift, kNoRot, 1.0, 6, iPrt, iRej, limits, r.param, r.rmsPar, r.rmsTrn,
           r.nDof, r.rmsCmp);
    return r;
  }

  // Runs a call that must stop the run; returns the exit status.
  int runStopping(Network& net, const Flags& iPar, int resTyp, int iRej, const Vec& limits) {
    try {
      run(net, iPar, resTyp, 1, iRej, limits);
    } catch (const rt::ProgramExit& e) {
      return e.status;
    }
    ADD_FAILURE() << "the run did not stop";
    return -1;
  }

  std::ostringstream console_;
  fs::path dir_;
};

void expectParams(const Result& r, const Params& truth, const Flags& iPar) {
  const double tol[7] = {1e-6, 1e-6, 1e-6, 1e-10, 1e-10, 1e-10, 1e-12};
  for (int k = 0; k < 7; ++k) {
    const double want = iPar[k] == 1 ? truth[k] : (k < 6 ? 0.0 : 1.0);
    EXPECT_NEAR(r.param[k], want, tol[k]) << "parameter " << k + 1;
    if (iPar[k] != 1) {
      EXPECT_EQ(r.rmsPar[k], 0.0) << "parameter " << k + 1;
    }
  }
}

// One arc second in radians.
const double kSec = 4.0 * std::atan(1.0) / (180.0 * 3600.0);

// Residual system and estimated parameters of a synthetic solution.
struct SolutionCase {
  int resTyp;
  Flags iPar;
  std::string name() const {
    return "resTyp " + std::to_string(resTyp) + (iPar[0] ? " with" : " without") + " translations";
  }
};
const SolutionCase kBothSystemsWithAndWithoutTranslations[] = {
    {1, kAll}, {2, kAll}, {1, kNoTranslation}, {2, kNoTranslation}};

// ---------------------------------------------------------------------------

TEST_F(HelmertTest, RecoversKnownParametersInBothSystems) {
  const Params truth = {23.4, -41.7, 67.2, 1.8 * kSec, -2.6 * kSec, 3.1 * kSec, 1.0 + 4.2e-6};
  const auto target = europe(15);
  for (const SolutionCase& c : kBothSystemsWithAndWithoutTranslations) {
    SCOPED_TRACE(c.name());
    console_.str("");
    Network net = synthetic(target, truth, c.resTyp, c.iPar[0] == 0);
    const Result r = run(net, c.iPar, c.resTyp);
    expectParams(r, truth, c.iPar);
    EXPECT_LT(r.rmsTrn, 1e-6);
    EXPECT_EQ(r.nDof, 45 - (c.iPar[0] ? 7 : 4));
    for (int k = 0; k < 3; ++k) EXPECT_LT(r.rmsCmp[k], 1e-6);
    EXPECT_EQ(net.ityp, std::vector<int>(15, 0));
    // Reduced sets count three more parameters in the report.
    EXPECT_NE(console_.str().find(" NUMBER OF PARAMETERS  :     7\n"), std::string::npos);
    EXPECT_NE(console_.str().find(" NUMBER OF COORDINATES :    45\n"), std::string::npos);
  }
}

TEST_F(HelmertTest, LargestOutlierIsRejectedFirstOnePerPass) {
  const Params truth = {12.0, -30.5, 18.25, -0.9 * kSec, 1.4 * kSec, 0.6 * kSec, 1.0 - 2.1e-6};
  Network net = synthetic(europe(12), truth, 2, false);
  plant(net, 4, {0.30, 0.20, -0.35});
  plant(net, 11, {2.0, -3.0, 5.0});
  const Vec limits = {0.1, 0.1, 0.1};

  // With both outliers in the solution several good stations exceed the
  // limits: rejecting every exceeding station at once, or the first one in
  // index order, would throw good stations out.
  {
    Network all = net;
    const Result r = run(all, kAll, 2);
    const Mat rot = rotation(r.param);
    int exceeding = 0;
    for (int i = 0; i < all.size(); ++i) {
      Vec y = {all.x2[3 * i] + r.param[0], all.x2[3 * i + 1] + r.param[1],
               all.x2[3 * i + 2] + r.param[2]};
      const Vec z = mul(rot, y);
      Vec v{};
      for (int k = 0; k < 3; ++k) v[k] = all.x1[3 * i + k] - r.param[6] * z[k];
      const Vec neu = mul(localFrame(all.target(i)), v);
      if (std::fabs(neu[0]) > 0.1 || std::fabs(neu[1]) > 0.1 || std::fabs(neu[2]) > 0.1) {
        ++exceeding;
      }
    }
    ASSERT_GT(exceeding, 2);
  }

  console_.str("");
  const Result r = run(net, kAll, 2, 2, 1, limits);
  std::vector<int> want(12, 0);
  want[4] = -1;
  want[11] = -1;
  EXPECT_EQ(net.ityp, want);
  expectParams(r, truth, kAll);
  EXPECT_EQ(r.nDof, 30 - 7);

  // The report lists the final residuals in millimetres, in station order;
  // no list file is named, so none is written.
  const std::string out = console_.str();
  EXPECT_NE(out.find("\n"
                     " ACCEPTED STATIONS     :    10\n"
                     " REJECTED STATIONS     :     2\n"
                     "\n"
                     "\n"
                     " LIST OF REJECTED STATIONS\n"
                     " -------------------------\n"
                     "\n"
                     " STATION                        RESIDUALS (MILLIMETERS)\n"
                     "                                 N         E         U\n"
                     " \n"
                     " ST5                         300.00    200.00   -350.00\n"
                     " ST12                       2000.00  -3000.00   5000.00\n"
                     " \n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(" |   5 | ST5              | A A |     300.00    200.00   -350.00 | * |\n"),
            std::string::npos);
  EXPECT_EQ(countOf(out, " FILE 1: "), 1);
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(HelmertTest, RejectedStationLeavesNoTraceInTheSolution) {
  // After the rejection the barycentres, the reduction and the local frame
  // are those of the stations still used: the solution is exact again.
  const Params truth = {-8.5, 14.0, 3.5, 1.2 * kSec, 0.4 * kSec, -0.8 * kSec, 1.0 + 2.0e-6};
  for (const SolutionCase& c : kBothSystemsWithAndWithoutTranslations) {
    SCOPED_TRACE(c.name());
    Network net = synthetic(europe(20), truth, c.resTyp, c.iPar[0] == 0, 19);
    plant(net, 19, {1.5, -2.0, 1.8});
    const Result r = run(net, c.iPar, c.resTyp, 1, 1, {0.01, 0.01, 0.01});
    std::vector<int> want(20, 0);
    want[19] = -1;
    EXPECT_EQ(net.ityp, want);
    expectParams(r, truth, c.iPar);
    EXPECT_LT(r.rmsTrn, 1e-6);
    for (int k = 0; k < 3; ++k) EXPECT_LT(r.rmsCmp[k], 1e-6);
  }
}

TEST_F(HelmertTest, MarkedAndExcludedStations) {
  const Params truth = {5.5, 6.5, -7.5, 0.7 * kSec, 0.2 * kSec, -1.1 * kSec, 1.0 + 0.8e-6};
  for (int resTyp : {1, 2}) {
    SCOPED_TRACE("resTyp " + std::to_string(resTyp));
    console_.str("");
    // The marked and the excluded station stay out of the barycentre, so
    // the model holds for the others alone. In the equatorial system the
    // marked station is made to differ by 10 m in height.
    auto target = europe(resTyp == 2 ? 11 : 10);
    Network net = synthetic(target, truth, resTyp, false);
    if (resTyp == 2) {
      net.names[10] = t_staName("MARKED");
      net.nums[10] = 0;
      net.flags[20] = 'M';
      net.flags[21] = 'm';
      net.ityp[10] = 1;
      plant(net, 10, {0.0, 0.0, 10.0});
    } else {
      net.add("MARKED", 0, toCartesian(0.8, 0.2, 300.0), toCartesian(0.8, 0.2, 290.0), 1, 'M', 'm');
    }
    net.add("EXCLUDED", 0, {0.0, 0.0, 0.0}, {1.0e6, -2.0e6, 3.0e6}, 2);
    const Result r = run(net, kAll, resTyp, 1, 1, {0.001, 0.001, 0.001});
    expectParams(r, truth, kAll);
    std::vector<int> want(12, 0);
    want[10] = 1;
    want[11] = 2;
    EXPECT_EQ(net.ityp, want);
    EXPECT_EQ(r.nDof, 30 - 7);
    const std::string out = unsignedZeros(console_.str());
    EXPECT_NE(out.find(" |  11 | MARKED           | M m | "), std::string::npos) << out;
    EXPECT_EQ(out.find("EXCLUDED"), std::string::npos);
    EXPECT_NE(out.find("\n\n NO OUTLIER DETECTED\n\n"), std::string::npos);
    if (resTyp == 2) {
      // The marked station shows its 10 m difference in height.
      EXPECT_NE(out.find(" |  11 | MARKED           | M m |     0.0000    0.0000   10.0000 | M |"),
                std::string::npos)
          << out;
    }
  }
}

TEST_F(HelmertTest, CodeOutsideTheLegendIsHandledAsMarked) {
  // A handling code that is none of the four shows its station like a
  // marked one: the same report and results as with code 1, the code
  // itself left as it came.
  const Params truth = {5.5, 6.5, -7.5, 0.7 * kSec, 0.2 * kSec, -1.1 * kSec, 1.0 + 0.8e-6};
  std::string want;
  for (const int code : {1, 7, -5}) {
    SCOPED_TRACE("code " + std::to_string(code));
    console_.str("");
    Network net = synthetic(europe(11), truth, 2, false);
    net.ityp[10] = code;
    plant(net, 10, {0.0, 0.0, 10.0});
    const Result r = run(net, kAll, 2, 1, 1, {0.001, 0.001, 0.001});
    expectParams(r, truth, kAll);
    std::vector<int> codes(11, 0);
    codes[10] = code;
    EXPECT_EQ(net.ityp, codes);
    const std::string out = console_.str();
    if (code == 1) want = out;
    EXPECT_EQ(out, want);
  }
}

TEST_F(HelmertTest, NothingEstimatedRejectsUntilNoStationExceeds) {
  Network net = identicalSets(6);
  // Differences of the two sets at stations 2, 3 and 5.
  plant(net, 1, {0.0, 0.0, 0.06});
  plant(net, 2, {0.2, 0.1, 0.1});
  plant(net, 4, {0.0, -0.03, 0.0});
  const Result r = run(net, kNone, 2, 2, 1, {0.02, 0.02, 0.05});
  EXPECT_EQ(net.ityp, (std::vector<int>{0, -1, -1, 0, -1, 0}));
  EXPECT_EQ(r.param, (Params{0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(r.rmsPar, (Params{0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(r.nDof, 9);
  const std::string out = unsignedZeros(console_.str());
  EXPECT_EQ(countOf(out, " FILE 1: "), 1);
  EXPECT_NE(out.find(" NUMBER OF PARAMETERS  :     0\n NUMBER OF COORDINATES :     9\n"),
            std::string::npos);
  EXPECT_EQ(out.find("PARAMETERS:"), std::string::npos);
  EXPECT_EQ(out.find("ITERATIONS"), std::string::npos);
  EXPECT_NE(out.find(" S2                            0.00      0.00     60.00\n"
                     " S3                          200.00    100.00    100.00\n"
                     " S5                            0.00    -30.00      0.00\n"),
            std::string::npos)
      << out;
}

TEST_F(HelmertTest, RejectionOffKeepsOutliersAndAnOldList) {
  const fs::path list = useListFile("old.lst");
  std::ofstream(list) << "kept\n";
  Network net = synthetic(europe(8), {1, 2, 3, 0, 0, 0, 1}, 2, false);
  plant(net, 3, {1.0, 1.0, 1.0});
  run(net, kAll, 2, 1, 0, {0.01, 0.01, 0.01});
  EXPECT_EQ(net.ityp, std::vector<int>(8, 0));
  EXPECT_EQ(console_.str().find("OUTLIER"), std::string::npos);
  EXPECT_EQ(console_.str().find("STATIONS     :"), std::string::npos);
  EXPECT_EQ(rttest::fileContent(list), "kept\n");
}

TEST_F(HelmertTest, NoOutlierRemovesAnOldList) {
  // A path longer than 32 characters is taken whole, not cut.
  const fs::path list = useListFile("rejected_stations_of_an_earlier_run.lst");
  ASSERT_GT(list.string().size(), 40u);
  std::ofstream(list) << "from an earlier run\n";
  Network net = synthetic(europe(8), {1, 2, 3, 0, 0, 0, 1}, 1, false);
  run(net, kAll, 1, 1, 1, {0.01, 0.01, 0.01});
  EXPECT_FALSE(fs::exists(list));
  EXPECT_TRUE(fs::is_empty(dir_));
  const std::string out = console_.str();
  const std::string tail = " NUMBER OF ITERATIONS  :     2\n\n\n\n NO OUTLIER DETECTED\n\n";
  ASSERT_GT(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

// An old list that cannot be reached for its removal stops the run after
// the report has said that no outlier was found.
TEST_F(HelmertTest, OldListThatCannotBeRemovedStopsAfterTheReport) {
  const fs::path list = useListFile("none/r.lst");
  Network net = synthetic(europe(8), {1, 2, 3, 0, 0, 0, 1}, 1, false);
  EXPECT_EQ(runStopping(net, kAll, 1, 1, {0.01, 0.01, 0.01}), 1);
  const std::string out = console_.str();
  const std::size_t noOutlier = out.find("\n NO OUTLIER DETECTED\n");
  const std::size_t failed = out.find("\n *** SR OPNERR: OPEN FAILED\n");
  ASSERT_NE(noOutlier, std::string::npos) << out;
  ASSERT_NE(failed, std::string::npos) << out;
  EXPECT_LT(noOutlier, failed);
}

TEST_F(HelmertTest, ListFileThatCannotBeOpenedStops) {
  const fs::path list = useListFile("none/r.lst");
  Network net = synthetic(europe(8), {1, 2, 3, 0, 0, 0, 1}, 2, false);
  plant(net, 3, {1.0, 1.0, 1.0});
  int status = 0;
  try {
    run(net, kAll, 2, 1, 1, {0.01, 0.01, 0.01});
  } catch (const rt::ProgramExit& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 1);
  const std::string out = console_.str();
  EXPECT_NE(out.find("\n *** SR OPNERR: OPEN FAILED\n"
                     "                FILE NAME : " +
                     list.string() +
                     "\n"
                     "                PGM./SUBR.:     HELMTR\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("REJECTED STATIONS"), std::string::npos);
}

TEST_F(HelmertTest, TooManyParametersWritesOnlyItsBlock) {
  Network net = synthetic(europe(2), {1, 2, 3, 0, 0, 0, 1}, 2, false);
  const Result r = run(net, kAll, 2, 1, 1, {0.01, 0.01, 0.01});
  EXPECT_EQ(console_.str(),
            "\n"
            " *** SR HELMTR: TOO MANY PARAMETERS TO ESTIMATE\n"
            "                NUMBER OF PARAMETERS:      7\n"
            "                NUMBER OF STATIONS  :      2\n"
            "\n");
  EXPECT_EQ(r.param[0], -9.0);
  EXPECT_EQ(r.rmsPar[0], -9.0);
  EXPECT_EQ(r.rmsTrn, 0.0);
  EXPECT_EQ(r.nDof, -1);
  EXPECT_EQ(net.ityp, (std::vector<int>{0, 0}));
}

TEST_F(HelmertTest, StopsWithAnErrorBlock) {
  struct Case {
    const char* what;
    Network net;
    Flags iPar;
    int iRej;
    Vec limits;
    const char* block;
  };
  const auto target = europe(6);
  std::vector<Case> cases;
  {
    Network net;
    for (int i = 0; i < 3; ++i) net.add('M' + std::to_string(i), 0, target[i], target[i], 1);
    cases.push_back({"every station marked",
                     net,
                     kNone,
                     0,
                     {1, 1, 1},
                     "\n"
                     " *** SR HELMTR: NO STATION USED IN THE ESTIMATION\n"
                     "                NUMBER OF PARAMETERS:      0\n"
                     "                STATIONS STILL USED :      0\n"
                     "\n"});
  }
  {
    Network net;
    for (int i = 0; i < 2; ++i) net.add('R' + std::to_string(i), 0, target[i], target[i]);
    plant(net, 0, {0.5, 0.0, 0.0});
    plant(net, 1, {0.0, 0.4, 0.0});
    cases.push_back({"every station rejected",
                     net,
                     kNone,
                     1,
                     {0.1, 0.1, 0.1},
                     "\n"
                     " *** SR HELMTR: NO STATION USED IN THE ESTIMATION\n"
                     "                NUMBER OF PARAMETERS:      0\n"
                     "                STATIONS STILL USED :      0\n"
                     "\n"});
  }
  {
    // Four stations, seven parameters and limits of zero: the second
    // rejection leaves six coordinates.
    Network net = synthetic(europe(4), {1, 2, 3, 0, 0, 0, 1}, 2, false);
    plant(net, 0, {0.01, -0.02, 0.03});
    plant(net, 2, {-0.02, 0.01, 0.015});
    cases.push_back({"rejections leave too few coordinates",
                     net,
                     kAll,
                     1,
                     {0, 0, 0},
                     "\n"
                     " *** SR HELMTR: FEWER COORDINATES THAN PARAMETERS TO ESTIMATE\n"
                     "                NUMBER OF PARAMETERS:      7\n"
                     "                STATIONS STILL USED :      2\n"
                     "\n"});
  }
  {
    // Stations on one straight line leave the rotation about it undefined.
    Network net;
    const Vec a = target[0], b = target[3];
    for (int i = 0; i < 5; ++i) {
      Vec p{};
      for (int k = 0; k < 3; ++k) p[k] = a[k] + (b[k] - a[k]) * i / 4.0;
      Vec q = p;
      q[0] += 1.0 + 0.001 * i;
      net.add('L' + std::to_string(i), 0, p, q);
    }
    cases.push_back({"collinear stations",
                     net,
                     kAll,
                     1,
                     {0.1, 0.1, 0.1},
                     "\n"
                     " *** SR HELMTR: SINGULAR NORMAL EQUATIONS\n"
                     "                NUMBER OF PARAMETERS:      7\n"
                     "                STATIONS STILL USED :      5\n"
                     "\n"});
  }
  {
    // A coordinate of 1e300 m (a huge exponent in a coordinate file): the
    // solution overflows and no number of it could be reported.
    Network net = identicalSets(6);
    net.x1[3] = 1.0e300;
    cases.push_back({"overflow of the solution",
                     net,
                     kAll,
                     0,
                     {kNoLimit, kNoLimit, kNoLimit},
                     "\n"
                     " *** SR HELMTR: NUMERICAL OVERFLOW IN THE ESTIMATION\n"
                     "                NUMBER OF PARAMETERS:      7\n"
                     "                STATIONS STILL USED :      6\n"
                     "\n"});
  }
  {
    // Nothing estimated: the residual of that station is not a number, so
    // it exceeds no limit and rejection cannot remove it.
    Network net = identicalSets(6);
    net.x1[3] = 1.0e300;
    cases.push_back({"overflow of the residuals",
                     net,
                     kNone,
                     1,
                     {0.1, 0.1, 0.1},
                     "\n"
                     " *** SR HELMTR: NUMERICAL OVERFLOW IN THE ESTIMATION\n"
                     "                NUMBER OF PARAMETERS:      0\n"
                     "                STATIONS STILL USED :      6\n"
                     "\n"});
  }
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    restartRun();
    const fs::path list = useListFile("stop.lst");
    EXPECT_EQ(runStopping(c.net, c.iPar, 2, c.iRej, c.limits), 1);
    EXPECT_EQ(console_.str(), c.block);
    EXPECT_FALSE(fs::exists(list));
  }
}

TEST_F(HelmertTest, FailedAllocationStopsWithItsBlock) {
  // In a fresh process whose address space leaves no room for the
  // north/east/up matrices (108 kB for 1500 stations): the allocation block
  // and the stop, not a crash.
  XF_SKIP_UNDER_SANITIZER(
      "its runtime holds terabytes of address space and ends the process when a mapping of "
      "its own fails, so no address-space limit leaves room for the run and none for the "
      "matrices");
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Network net = synthetic(europe(1500), {1, 2, 3, 0, 0, 0, 1}, 2, false);
  auto runWithoutRoom = [&] {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t room =
        static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + 32768;
    rlimit old{};
    ::getrlimit(RLIMIT_AS, &old);
    const rlimit limit = {room, old.rlim_max};
    int status = 3;
    if (pages > 0 && ::setrlimit(RLIMIT_AS, &limit) == 0) {
      try {
        run(net, kAll, 2);
        status = 4;
      } catch (const rt::ProgramExit& e) {
        const std::string text = console_.str();
        const bool helmtr = text.find("PGM./SUBR.    : HELMTR") != std::string::npos;
        status = e.status == 1 && helmtr ? 0 : 5;
        if (::write(2, text.data(), text.size()) < 0) status = 6;
      }
      ::setrlimit(RLIMIT_AS, &old);
    }
    // The fresh process made a folder of its own in SetUp; TearDown does
    // not run there.
    std::error_code ec;
    fs::remove_all(dir_, ec);
    ::_exit(status);
  };
  EXPECT_EXIT(runWithoutRoom(), ::testing::ExitedWithCode(0),
              "SR ALCERR: ALLOCATION OF AN ARRAY FAILED");
}

TEST_F(HelmertTest, MarkedStationBeyondRangeShowsAsterisks) {
  // The marked station's coordinates of about 1e300 m give a residual too
  // large for its field (local system) or not a number at all (equatorial
  // system); either way its row must not pretend a perfect fit.
  for (int resTyp : {1, 2}) {
    SCOPED_TRACE("resTyp " + std::to_string(resTyp));
    console_.str("");
    Network net = identicalSets(5);
    net.add("FAR", 0, {1.0e300, 0.0, 1.0e300}, {0.5e300, 0.0, 1.0e300}, 1);
    run(net, kAll, resTyp);
    const std::string out = console_.str();
    EXPECT_NE(out.find(" |   6 | FAR              | A A | ****************************** | M |\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("NaN"), std::string::npos) << out;
    EXPECT_EQ(out.find("Inf"), std::string::npos) << out;
  }
}

TEST_F(HelmertTest, OneUsedStationOrNoRedundancyPrintsZeros) {
  const auto target = europe(2);
  Network net;
  net.add("ONLY", 0, target[0], {target[0][0] - 0.03, target[0][1] + 0.04, target[0][2]});
  net.add("SHOWN", 0, target[1], target[1], 1);
  Result r = run(net, kNone, 2);
  EXPECT_EQ(r.rmsCmp, (Vec{0, 0, 0}));
  EXPECT_NEAR(r.rmsTrn, 0.05 / std::sqrt(3.0), 1e-9);
  std::string out = console_.str();
  EXPECT_NE(out.find(" |     | RMS / COMPONENT  |     |     0.0000    0.0000    0.0000 |   |\n"
                     " |     | MEAN             |     |     0.0000    0.0000    0.0000 |   |\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("nan"), std::string::npos);

  // Three translations from three coordinates: no degree of freedom.
  console_.str("");
  r = run(net, {1, 1, 1, 0, 0, 0, 0}, 2);
  EXPECT_NEAR(r.param[0], 0.03, 1e-9);
  EXPECT_NEAR(r.param[1], -0.04, 1e-9);
  EXPECT_EQ(r.rmsTrn, 0.0);
  EXPECT_EQ(r.rmsPar, (Params{0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(r.rmsCmp, (Vec{0, 0, 0}));
  EXPECT_EQ(r.nDof, 0);
  out = console_.str();
  EXPECT_NE(out.find(" RMS OF TRANSFORMATION :     0.0000 M  \n"), std::string::npos) << out;
  EXPECT_NE(out.find(" TRANSLATION IN  X     :           0.0300   +-  0.0000  M  \n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("ROTATION"), std::string::npos);
  EXPECT_EQ(out.find("SCALE FACTOR"), std::string::npos);
  EXPECT_EQ(out.find("nan"), std::string::npos);

  // Every residual component positive: the minima print the start value,
  // an unsigned 0.0.
  console_.str("");
  Network up;
  up.add("ONLY", 0, target[0], target[0]);
  plant(up, 0, {0.02, 0.03, 0.05});
  run(up, kNone, 2);
  out = console_.str();
  EXPECT_NE(out.find(" |     | MIN              |     |     0.0000    0.0000    0.0000 |   |\n"
                     " |     | MAX              |     |     0.0200    0.0300    0.0500 |   |\n"),
            std::string::npos)
      << out;
}

TEST_F(HelmertTest, StationDraggedOverItsLimitIsKeptOnceTheOutlierGoes) {
  // Translations only. Station 4 exceeds only its up limit and has the
  // largest residual; station 2 exceeds its up limit only while station 4
  // pulls the solution. Rejecting station 2 first (the first in index order)
  // would leave station 4 over its limit and reject both.
  Network net = identicalSets(6);
  plant(net, 1, {0.0, 0.0, -0.47});
  plant(net, 3, {0.0, 0.0, 0.9});
  const Result r = run(net, {1, 1, 1, 0, 0, 0, 0}, 2, 2, 1, {0.1, 0.1, 0.5});
  EXPECT_EQ(net.ityp, (std::vector<int>{0, 0, 0, -1, 0, 0}));
  EXPECT_EQ(r.nDof, 15 - 3);
  const std::string out = console_.str();
  EXPECT_NE(out.find(" REJECTED STATIONS     :     1\n"), std::string::npos) << out;
  // The kept station is a used one, its final up residual well inside the
  // limit; the outlier's row carries the rejection marker.
  const std::size_t row = out.find(" |   2 | S2               | A A |");
  ASSERT_NE(row, std::string::npos) << out;
  const std::string line = out.substr(row, out.find('\n', row) - row);
  ASSERT_EQ(line.size(), 70u) << line;
  EXPECT_EQ(line.substr(64), " |   |");
  EXPECT_NEAR(std::stod(line.substr(54, 10)), -376.0, 10.0) << line;
  EXPECT_NE(out.find(" |   4 | S4               | A A |"), std::string::npos);
  EXPECT_NE(out.find(" | * |\n"), std::string::npos);
}

// The small case of the whole-report tests: six used stations, one of them
// an outlier, a marked and an excluded station.
Network smallCase() {
  const std::vector<Vec> x1 = {
      {4331307.4278, 567535.9529, 4633126.2804},  {4075595.3431, 931863.9334, 4801553.6751},
      {4194443.7651, 1162670.3636, 4647235.5772}, {3370679.9400, 711911.3175, 5349768.9501},
      {4641969.8137, 1393010.9327, 4133276.3362}, {4027879.3575, 307029.2296, 4919488.0105},
      {4849804.4624, -335048.7732, 4116049.4074}, {4033497.3046, 23653.9348, 4924279.2915}};
  const std::vector<Vec> x2 = {
      {4331290.8982, 567537.8570, 4633117.7519},  {4075578.6183, 931864.2345, 4801544.9694},
      {4194426.4120, 1162670.5044, 4647227.6341}, {3370665.1697, 711909.9224, 5349758.4058},
      {4641951.3191, 1393011.9476, 4133270.3392}, {0.0000, 0.0000, 0.0000},
      {4849788.7570, -335042.9783, 4116041.4456}, {4033482.3636, 23656.2736, 4924269.1495}};
  struct Station {
    const char* name;
    int num;
    char f1, f2;
    int code;
  };
  const Station stations[] = {
      {"ZIMM 14001M004", 1, 'A', 'B', 0}, {"WTZR 14201M010", 0, 'A', 'A', 0},
      {"GRAZ 11001M002", 3, 'C', '#', 0}, {"ONSA 10402M004", 1001, 'A', 'B', 0},
      {"MATE 12734M008", 5, 'M', 'N', 1}, {"BRUS 13101M004", 6, 'A', 'A', 2},
      {"VILL 13406M001", 7, 'V', 'W', 0}, {"HERS 13212M007", 0, 'H', 'I', 0}};
  Network net;
  for (std::size_t i = 0; i < x1.size(); ++i) {
    const Station& s = stations[i];
    net.add(s.name, s.num, x1[i], x2[i], s.code, s.f1, s.f2);
  }
  return net;
}

// Compares a report with its fixture line by line, every column exactly. In
// the local system the used stations' residuals have a mean of zero (the
// translations are estimated), so only there the sign of the printed mean
// comes from rounding and is not compared.
void expectReportLines(const std::vector<std::string>& got, const std::vector<std::string>& want,
                       int resTyp) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    const bool meanRow = want[i].starts_with(" |     | MEAN ");
    if (resTyp == 1 && meanRow) {
      EXPECT_EQ(unsignedZeros(got[i]), unsignedZeros(want[i])) << "line " << i + 1;
    } else {
      EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
    }
  }
}

// The report of one small case, whole and line by line, for each choice of
// system and unit, with the list of rejected stations it writes.
TEST_F(HelmertTest, WholeReportForEachSystemAndUnit) {
  struct Case {
    int resTyp;
    int resUnt;
    const char* fixture;
    const char* rejectedRow;
    const char* rmsRow;
  };
  const Case cases[] = {
      {1, 1, "helm_report_local_m.txt", " ONSA 10402M004             -106.67    228.17   -316.54",
       " RMS of accepted stations      3.51      3.13      4.91"},
      {1, 2, "helm_report_local_mm.txt", " ONSA 10402M004             -106.67    228.17   -316.54",
       " RMS of accepted stations      3.51      3.13      4.91"},
      {2, 1, "helm_report_equatorial_m.txt",
       " ONSA 10402M004              -68.13    240.63   -317.95",
       " RMS of accepted stations      3.45      3.35      4.81"},
      {2, 2, "helm_report_equatorial_mm.txt",
       " ONSA 10402M004              -68.13    240.63   -317.95",
       " RMS of accepted stations      3.45      3.35      4.81"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    console_.str("");
    runTitle = rt::fit("TRANSFORMATION TEST RUN", 80);
    const fs::path list = useListFile("rej.lst");
    Network net = smallCase();
    const Result r = run(net, kAll, c.resTyp, c.resUnt, 1, {0.1, 0.1, 0.1});
    EXPECT_EQ(net.ityp, (std::vector<int>{0, 0, 0, -1, 1, 2, 0, 0}));
    EXPECT_EQ(r.nDof, 15 - 7);

    const auto want = linesOf(rttest::fileContent(fs::path(XF_SOURCE_DIR) / "xform/testdata" / c.fixture));
    const auto got = linesOf(console_.str());
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(got.size(), want.size()) << console_.str();
    expectReportLines(got, want, c.resTyp);

    const std::string header = rt::fit("TRANSFORMATION TEST RUN", 80) + "\n" +
                               std::string(80, '-') + "\n" +
                               "\n"
                               " Number of accepted stations :       5\n"
                               " Number of rejected stations :       1\n"
                               "\n"
                               "\n"
                               " List of rejected stations\n"
                               " -------------------------\n"
                               "\n"
                               " Station                        Residuals (millimeters)\n"
                               "                                 N         E         U\n"
                               " \n";
    EXPECT_EQ(rttest::fileContent(list), header + c.rejectedRow + "\n\n" + c.rmsRow + "\n \n");
    restartRun();
  }
}

TEST_F(HelmertTest, PrintLevelOneLeavesOutSystemBlockAndTable) {
  Network net = smallCase();
  run(net, kAll, 1, 1, 1, {0.1, 0.1, 0.1}, 1);
  auto want = linesOf(rttest::fileContent(fs::path(XF_SOURCE_DIR) / "xform/testdata/helm_report_local_m.txt"));
  ASSERT_EQ(want[21], " |     | RMS / COMPONENT  |     |     0.0035    0.0031    0.0049 |   |");
  want.erase(want.begin() + 3, want.begin() + 21);
  const auto got = linesOf(console_.str());
  ASSERT_EQ(got.size(), want.size()) << console_.str();
  expectReportLines(got, want, 1);
}

TEST_F(HelmertTest, LargeNetworkWithRejectionsStaysLinear) {
  const Params truth = {3.0, -4.0, 5.0, 0.5 * kSec, -0.4 * kSec, 0.3 * kSec, 1.0 + 1.5e-6};
  const int n = 100000;
  std::vector<Vec> target;
  target.reserve(n);
  const double d2r = std::atan(1.0) / 45.0;
  for (int i = 0; i < n; ++i) {
    target.push_back(toCartesian((35.0 + std::fmod(i * 0.7071, 30.0)) * d2r,
                                 (-10.0 + std::fmod(i * 0.3183, 40.0)) * d2r,
                                 std::fmod(i * 13.0, 2000.0)));
  }
  Network net = synthetic(target, truth, 2, false);
  plant(net, 500, {0.9, 0.1, -0.2});
  plant(net, 70000, {0.1, 1.5, 0.3});
  plant(net, 99999, {-0.2, 0.1, 2.5});
  const auto start = std::chrono::steady_clock::now();
  const Result r = run(net, kAll, 2, 1, 1, {0.05, 0.05, 0.05}, 1);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(net.ityp[500], -1);
  EXPECT_EQ(net.ityp[70000], -1);
  EXPECT_EQ(net.ityp[99999], -1);
  EXPECT_EQ(std::count(net.ityp.begin(), net.ityp.end(), -1), 3);
  expectParams(r, truth, kAll);
  XF_SKIP_UNDER_SANITIZER("the time limit would measure the sanitizer (" +
                          std::to_string(seconds) + " s)");
  EXPECT_LT(seconds, 10.0);
}

}  // namespace
