#include "xform/helmsweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "stations/algebra.h"
#include "stations/ellips.h"

namespace {

using rt::ChunkPool;
using helm::kChunkStations;
using helm::kMaxPar;
using helm::Residuals;

constexpr double kA = 6378137.0;
constexpr double kB = 6356752.3141;
const double kNone[3] = {0.0, 0.0, 0.0};

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// Sums compared bit for bit (a zero keeps its sign).
#define EXPECT_SAME_BITS(a, b) EXPECT_EQ(bits(a), bits(b)) << #a " = " << (a) << ", " #b " = " << (b)

// A fixed pseudo-random sequence.
struct Sequence {
  std::uint64_t state;
  double uniform() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * (1.0 / 9007199254740992.0);
  }
  double symmetric() { return 2.0 * uniform() - 1.0; }
};

// Stations over the globe, the second set a Helmert transform of the first
// with millimetres of noise, outliers of decimetres; some marked, excluded
// and rejected stations, one on the polar axis and one at the geocentre.
struct Network {
  std::vector<double> x1, x2, aux, neuMat;
  std::vector<int> code;  // ITYP values
  std::vector<char> onAxis;
  std::size_t size() const { return code.size(); }

  explicit Network(std::size_t n) {
    Sequence seq{987654321};
    for (std::size_t i = 0; i < n; ++i) {
      const double lat = std::asin(seq.symmetric());
      const double lon = 3.14159 * seq.symmetric();
      const double r = kA + 3000.0 * seq.uniform();
      const double p[3] = {r * std::cos(lat) * std::cos(lon), r * std::cos(lat) * std::sin(lon),
                           0.997 * r * std::sin(lat)};
      const double q[3] = {-0.3 + p[0] * (1.0 + 2e-6) + 1e-6 * p[1],
                           0.8 + p[1] * (1.0 + 2e-6) - 1e-6 * p[0] + 3e-7 * p[2],
                           1.2 + p[2] * (1.0 + 2e-6) - 3e-7 * p[1]};
      for (int k = 0; k < 3; ++k) {
        x1.push_back(p[k]);
        x2.push_back(q[k] + 0.002 * seq.symmetric() + (i % 211 == 17 ? 0.5 * seq.symmetric() : 0.0));
        aux.push_back(seq.symmetric());
      }
      code.push_back(helm::handlingOf(i % 97 == 5 ? 1 : (i % 89 == 7 ? 2 : (i % 101 == 3 ? -1 : 0))));
    }
    // On the polar axis, and within a centimetre of the geocentre.
    if (n > 11) {
      x1[3 * 10] = x1[3 * 10 + 1] = 0.0;
      code[10] = helm::kUsed;
      x1[3 * 11] = 0.001;
      x1[3 * 11 + 1] = 0.002;
      x1[3 * 11 + 2] = 0.003;
      code[11] = helm::kUsed;
    }
    onAxis.resize(n);
    for (std::size_t i = 0; i < n; ++i) onAxis[i] = x1[3 * i] == 0.0 && x1[3 * i + 1] == 0.0;
    // The north/east/up matrices one station after the other.
    neuMat.assign(9 * n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      if (code[i] == 2 || onAxis[i]) continue;
      double ell[3], xyz[3] = {0.0, 0.0, 0.0}, neu[3];
      XYZELL(kA, kB, kNone, kNone, 1.0, &x1[3 * i], ell);
      NEUCART(ell[0], ell[1], ell[2], kA, kB, -1, xyz, neu, &neuMat[9 * i]);
    }
  }
};

// The stations as the estimator hands them to a sweep for a residual
// system, with or without the reduction to barycentres.
helm::Stations stationsOf(const Network& net, int resTyp, bool reduce) {
  helm::Stations s;
  s.n = net.size();
  s.x1 = net.x1.data();
  s.x2 = net.x2.data();
  s.code = net.code.data();
  s.system = helm::residualSystemOf(resTyp);
  s.neuMat = net.neuMat.data();
  s.onAxis = net.onAxis.data();
  s.aux = net.aux.data();
  s.nAux = net.aux.size() - 30;  // the last stations have no aux vector
  s.iRej = 1;
  s.rLimit[0] = 0.02;
  s.rLimit[1] = 0.02;
  s.rLimit[2] = 0.04;
  const bool needBary = reduce || resTyp == 1;
  s.sub1 = s.sub2 = needBary;
  s.rotate = resTyp == 1;
  if (needBary) {
    const double b1[3] = {1234567.125, -2345678.5, 3456789.75};
    const double b2[3] = {1234566.0, -2345677.25, 3456791.5};
    for (int k = 0; k < 3; ++k) {
      s.b1[k] = b1[k];
      s.b2[k] = reduce ? b2[k] : b1[k];
    }
  }
  if (resTyp == 1) {
    double rotLat[9], rotLon[9];
    const double flip[9] = {1.0, 0.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, 1.0};
    ROTAXM(2, 0.7 - 2.0 * std::atan(1.0), rotLat);
    ROTAXM(3, 0.3 - 4.0 * std::atan(1.0), rotLon);
    MMUL33(rotLat, rotLon, s.frame);
    MMUL33(flip, s.frame, s.frame);
  }
  return s;
}

// The linearisation point of parameters p with the estimated ones flagged,
// built as the estimator builds it.
helm::Point pointOf(const double* p, const int* iPar) {
  helm::Point pt;
  for (int k = 0; k < kMaxPar; ++k) {
    if (iPar[k] == 1) pt.parOf[pt.nPar++] = k;
  }
  double r1[9], r2[9], r3[9], r21[9], rot[9];
  ROTAXM(1, p[3], r1);
  ROTAXM(2, p[4], r2);
  ROTAXM(3, p[5], r3);
  MMUL33(r2, r1, r21);
  MMUL33(r3, r21, rot);
  std::copy(rot, rot + 9, pt.rot);
  MSCAL33(rot, p[6], pt.sRot);
  for (int k = 0; k < 3; ++k) pt.t[k] = p[k];
  for (int axis = 1; axis <= 3; ++axis) {
    if (iPar[2 + axis] != 1) continue;
    double d[9], t[9];
    ROTAXD(axis, p[2 + axis], d);
    if (axis == 1) {
      MMUL33(r2, d, t);
      MMUL33(r3, t, t);
    } else if (axis == 2) {
      MMUL33(d, r1, t);
      MMUL33(r3, t, t);
    } else {
      MMUL33(d, r21, t);
    }
    MSCAL33(t, p[6], pt.deriv[axis - 1]);
  }
  return pt;
}

const double kParams[kMaxPar] = {0.31, -0.79, 1.18, 4.1e-9, -2.7e-9, 6.3e-9, 1.0 + 1.9e-6};

// The sums over all stations, one station after the other, with the
// expressions of the estimator's single loops: working copies, normal
// equations over the design matrix of every used station, then the
// residual pass.
struct Reference {
  helm::Normals normals;
  helm::Statistics stats;
};
Reference reference(const helm::Stations& s, const helm::Point& pt) {
  Reference r;
  r.normals.clear();
  r.stats.clear();
  const int nPar = pt.nPar;
  for (std::size_t j = 0; j < s.n; ++j) {
    if (s.code[j] == 2) continue;
    double w1[3], w2[3];
    for (int k = 0; k < 3; ++k) {
      w1[k] = s.x1[3 * j + k];
      w2[k] = s.x2[3 * j + k];
      if (s.sub1) w1[k] -= s.b1[k];
      if (s.sub2) w2[k] -= s.b2[k];
    }
    if (s.rotate) {
      MVEC33(w1, s.frame, w1);
      MVEC33(w2, s.frame, w2);
    }
    double y[3], z[3], l[3], a[kMaxPar][3];
    for (int k = 0; k < 3; ++k) y[k] = w2[k] + pt.t[k];
    MVEC33(y, pt.sRot, z);
    for (int k = 0; k < 3; ++k) l[k] = w1[k] - z[k];
    if (s.code[j] != 0) continue;
    for (int c = 0; c < nPar; ++c) {
      const int k = pt.parOf[c];
      if (k < 3) {
        for (int i = 0; i < 3; ++i) a[c][i] = pt.sRot[3 * k + i];
      } else if (k < 6) {
        MVEC33(y, pt.deriv[k - 3], a[c]);
      } else {
        MVEC33(y, pt.rot, a[c]);
      }
    }
    for (int c = 0; c < nPar; ++c) {
      for (int d = 0; d <= c; ++d) {
        const double sum = a[c][0] * a[d][0] + a[c][1] * a[d][1] + a[c][2] * a[d][2];
        r.normals.nrm[d * nPar + c] += sum;
      }
      r.normals.rhs[c] += a[c][0] * l[0] + a[c][1] * l[1] + a[c][2] * l[2];
    }
    double v[3] = {l[0], l[1], l[2]};
    if (s.system == helm::ResidualSystem::Equatorial ||
        s.system == helm::ResidualSystem::Projection) {
      if (s.onAxis[j]) {
        v[0] = v[1] = v[2] = 0.0;
      } else if (s.system == helm::ResidualSystem::Equatorial) {
        MVEC33(v, &s.neuMat[9 * j], v);
      } else {
        const double* dirV = s.nAux >= 3 * (j + 1) ? &s.aux[3 * j] : kNone;
        PROJDIR(v, &s.x2[3 * j], dirV, v);
      }
    }
    helm::Statistics& st = r.stats;
    st.ssq = st.ssq + v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    for (int k = 0; k < 3; ++k) {
      st.sumSq[k] += v[k] * v[k];
      st.sum[k] += v[k];
      st.minimum[k] = std::min(st.minimum[k], v[k]);
      st.maximum[k] = std::max(st.maximum[k], v[k]);
    }
    if (s.iRej == 1 && (std::fabs(v[0]) > s.rLimit[0] || std::fabs(v[1]) > s.rLimit[1] ||
                        std::fabs(v[2]) > s.rLimit[2])) {
      const double norm = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
      if (norm > st.bestNorm) {
        st.candidate = static_cast<long>(j);
        st.bestNorm = norm;
      }
    }
  }
  return r;
}

void expectSameNormals(const helm::Normals& a, const helm::Normals& b, int nPar) {
  for (int c = 0; c < nPar; ++c) {
    for (int d = 0; d <= c; ++d) EXPECT_SAME_BITS(a.nrm[d * nPar + c], b.nrm[d * nPar + c]);
    EXPECT_SAME_BITS(a.rhs[c], b.rhs[c]);
  }
}

void expectSameStatistics(const helm::Statistics& a, const helm::Statistics& b) {
  EXPECT_SAME_BITS(a.ssq, b.ssq);
  for (int k = 0; k < 3; ++k) {
    EXPECT_SAME_BITS(a.sumSq[k], b.sumSq[k]);
    EXPECT_SAME_BITS(a.sum[k], b.sum[k]);
    EXPECT_SAME_BITS(a.minimum[k], b.minimum[k]);
    EXPECT_SAME_BITS(a.maximum[k], b.maximum[k]);
  }
  EXPECT_EQ(a.candidate, b.candidate);
  EXPECT_SAME_BITS(a.bestNorm, b.bestNorm);
}

struct SweepCase {
  const char* name;
  int resTyp;
  bool reduce;
  int iPar[kMaxPar];
};
const SweepCase kCases[] = {
    {"X/Y/Z, all seven", 2, false, {1, 1, 1, 1, 1, 1, 1}},
    {"local frame, all seven", 1, false, {1, 1, 1, 1, 1, 1, 1}},
    {"reduced, rotations and scale", 2, true, {0, 0, 0, 1, 1, 1, 1}},
    {"local frame reduced, rotations about x and z", 1, true, {0, 0, 0, 1, 0, 1, 0}},
    {"reduced, scale alone", 2, true, {0, 0, 0, 0, 0, 0, 1}},
    {"translations alone", 2, false, {1, 1, 1, 0, 0, 0, 0}},
    {"translations and scale", 2, false, {1, 0, 1, 0, 0, 0, 1}},
    {"translation and a rotation", 2, false, {0, 1, 0, 0, 1, 0, 0}},
    {"projection, all seven", 3, false, {1, 1, 1, 1, 1, 1, 1}},
    {"estimation frame, nothing estimated", 0, false, {0, 0, 0, 0, 0, 0, 0}},
};

// Two full chunks and a part of one.
constexpr std::size_t kStations = 2 * kChunkStations + 700;

TEST(HelmSweep, OneChunkSumsAsOneLoopOverItsStations) {
  const Network net(kChunkStations - 5);
  ChunkPool pool(1);
  for (const SweepCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const helm::Stations s = stationsOf(net, c.resTyp, c.reduce);
    const helm::Point pt = pointOf(kParams, c.iPar);
    const Reference want = reference(s, pt);
    for (const bool portable : {false, true}) {
      helm::Sweep sweep(s, pool, portable);
      ASSERT_EQ(sweep.chunks(), 1u);
      sweep.run(pt, pt.nPar >= 1, Residuals::Statistics);
      expectSameNormals(sweep.normals(), want.normals, pt.nPar);
      expectSameStatistics(sweep.statistics(), want.stats);
    }
  }
}

TEST(HelmSweep, SumsAsOneLoopOverAllStationsWhateverTheThreadsAndKernel) {
  // Every sum is folded one station after the other over the whole network,
  // as one loop over its stations: sums of chunks added afterwards would
  // round differently.
  const Network net(kStations);
  ChunkPool one(1), two(2), three(3), eight(8);
  for (const SweepCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const helm::Stations s = stationsOf(net, c.resTyp, c.reduce);
    const helm::Point pt = pointOf(kParams, c.iPar);
    const Reference want = reference(s, pt);
    ASSERT_GE(want.stats.candidate, 0);
    for (ChunkPool* pool : {&one, &two, &three, &eight}) {
      for (const bool portable : {false, true}) {
        SCOPED_TRACE(std::to_string(pool->threads()) + (portable ? " threads, plain" : " threads"));
        helm::Sweep sweep(s, *pool, portable);
        ASSERT_EQ(sweep.chunks(), 3u);
        sweep.run(pt, pt.nPar >= 1, Residuals::Statistics);
        expectSameNormals(sweep.normals(), want.normals, pt.nPar);
        expectSameStatistics(sweep.statistics(), want.stats);
        // The normal equations alone are the same sums.
        helm::Sweep alone(s, *pool, portable);
        alone.run(pt, pt.nPar >= 1, Residuals::None);
        expectSameNormals(alone.normals(), want.normals, pt.nPar);
      }
    }
  }
}

TEST(HelmSweep, SumsSharedByAccumulatorsAsOneLoopOverAllStations) {
  // With several threads the normal equations are folded by groups of
  // accumulators, block after block of stations: networks from one station
  // to several blocks, every subset of parameter kinds.
  const int subsets[][kMaxPar] = {
      {1, 1, 1, 1, 1, 1, 1}, {1, 1, 1, 0, 0, 0, 0}, {0, 0, 0, 1, 1, 1, 1}, {0, 0, 0, 1, 1, 1, 0},
      {0, 0, 0, 0, 0, 0, 1}, {1, 0, 1, 0, 1, 0, 0}, {0, 1, 0, 0, 0, 1, 1}, {1, 1, 1, 1, 0, 0, 1}};
  ChunkPool one(1), two(2), three(3), four(4), eight(8);
  for (const std::size_t n : {1, 2, 2047, 2049, 10000, 40000}) {
    const Network net(n);
    for (const int resTyp : {1, 2}) {
      const helm::Stations s = stationsOf(net, resTyp, resTyp == 2);
      for (const auto& iPar : subsets) {
        const helm::Point pt = pointOf(kParams, iPar);
        SCOPED_TRACE(std::to_string(n) + " stations, system " + std::to_string(resTyp) + ", " +
                     std::to_string(pt.nPar) + " parameters from " + std::to_string(pt.parOf[0]));
        const Reference want = reference(s, pt);
        for (ChunkPool* pool : {&one, &two, &three, &four, &eight}) {
          SCOPED_TRACE(std::to_string(pool->threads()) + " threads");
          helm::Sweep sweep(s, *pool);
          sweep.run(pt, true, Residuals::None);
          expectSameNormals(sweep.normals(), want.normals, pt.nPar);
          sweep.run(pt, true, Residuals::Statistics);
          expectSameNormals(sweep.normals(), want.normals, pt.nPar);
          expectSameStatistics(sweep.statistics(), want.stats);
        }
      }
    }
  }
}

// The screen of the estimator for north/east/up residuals.
double screenOf(const Network& net, const helm::Stations& s) {
  ChunkPool pool(1);
  std::vector<double> neuMat(net.neuMat.size(), 0.0);
  helm::Sweep sweep(s, pool);
  const double rowSq = sweep.neuMatrices(kA, kB, kNone, kNone, 1.0, neuMat.data());
  const double smallest = std::min({s.rLimit[0], s.rLimit[1], s.rLimit[2]});
  return smallest * smallest / rowSq * (1.0 - 1.0e-9);
}

TEST(HelmSweep, CandidateAloneIsTheCandidateOfTheStatistics) {
  const Network net(kStations);
  const int all[kMaxPar] = {1, 1, 1, 1, 1, 1, 1};
  const helm::Point pt = pointOf(kParams, all);
  helm::Stations s = stationsOf(net, 2, false);
  ChunkPool pool(3);
  // Limits from generous to far below the noise; then every limit just
  // below, and then at, the largest component of the largest residual.
  std::vector<std::array<double, 3>> limits = {
      {0.02, 0.02, 0.04}, {0.5, 0.5, 0.5}, {0.001, 0.001, 0.001}, {1e-5, 0.3, 2.0}};
  {
    double largest = 0.0;
    for (std::size_t j = 0; j < s.n; ++j) {
      if (s.code[j] != 0) continue;
      double v[3];
      helm::residual(s, pt, j, v);
      for (double x : v) largest = std::max(largest, std::fabs(x));
    }
    const double below = std::nextafter(largest, 0.0);
    limits.push_back({below, below, below});
    limits.push_back({largest, largest, largest});
  }
  for (const auto& lim : limits) {
    SCOPED_TRACE(std::to_string(lim[0]) + " " + std::to_string(lim[1]) + " " +
                 std::to_string(lim[2]));
    for (int k = 0; k < 3; ++k) s.rLimit[k] = lim[k];
    s.screen = screenOf(net, s);
    ASSERT_GT(s.screen, 0.0);
    const Reference want = reference(s, pt);
    helm::Sweep sweep(s, pool);
    sweep.run(pt, true, Residuals::Candidate);
    EXPECT_EQ(sweep.statistics().candidate, want.stats.candidate);
    EXPECT_SAME_BITS(sweep.statistics().bestNorm, want.stats.bestNorm);
    expectSameNormals(sweep.normals(), want.normals, pt.nPar);
    // Without the normal equations the chunks are shared by the threads.
    helm::Sweep alone(s, pool);
    alone.run(pt, false, Residuals::Candidate);
    EXPECT_EQ(alone.statistics().candidate, want.stats.candidate);
    EXPECT_SAME_BITS(alone.statistics().bestNorm, want.stats.bestNorm);
  }
}

TEST(HelmSweep, CandidatesOfEqualNormsInDifferentChunks) {
  Network net(kStations);
  const int all[kMaxPar] = {1, 1, 1, 1, 1, 1, 1};
  const helm::Point pt = pointOf(kParams, all);
  helm::Stations s = stationsOf(net, 2, false);
  s.rLimit[0] = s.rLimit[1] = s.rLimit[2] = 0.9;
  net.code[11] = helm::kMarked;  // the station at the geocentre is only shown
  // Station 3000 (second chunk) and 4500 (third) become copies of station
  // 100 (first chunk), with an outlier of 100 metres, far beyond every other
  // residual: equal residuals.
  const std::size_t first = 100, second = 3000, third = 4500;
  for (int k = 0; k < 3; ++k) net.x2[3 * first + k] += 100.0;
  for (std::size_t j : {second, third}) {
    for (int k = 0; k < 3; ++k) {
      net.x1[3 * j + k] = net.x1[3 * first + k];
      net.x2[3 * j + k] = net.x2[3 * first + k];
    }
    for (int k = 0; k < 9; ++k) net.neuMat[9 * j + k] = net.neuMat[9 * first + k];
    net.code[j] = helm::kUsed;
  }
  net.code[first] = helm::kUsed;
  ChunkPool pool(8);
  for (const Residuals mode : {Residuals::Statistics, Residuals::Candidate}) {
    for (const bool normals : {true, false}) {
      SCOPED_TRACE(normals ? "with the normal equations" : "alone");
      s.screen = mode == Residuals::Candidate ? screenOf(net, s) : 0.0;
      helm::Sweep sweep(s, pool);
      sweep.run(pt, normals, mode);
      EXPECT_EQ(sweep.statistics().candidate, static_cast<long>(first));
      // Without the first, the second; a residual that is not a number is
      // never a candidate.
      net.code[first] = helm::kMarked;
      net.x2[3 * third + 1] = std::numeric_limits<double>::quiet_NaN();
      sweep.run(pt, normals, mode);
      EXPECT_EQ(sweep.statistics().candidate, static_cast<long>(second));
      net.code[second] = helm::kRejected;
      sweep.run(pt, normals, mode);
      EXPECT_EQ(sweep.statistics().candidate, reference(s, pt).stats.candidate);
      EXPECT_NE(sweep.statistics().candidate, static_cast<long>(third));
      net.code[first] = net.code[second] = helm::kUsed;
      net.x2[3 * third + 1] = net.x2[3 * first + 1];
    }
  }
}

TEST(HelmSweep, AfterARejectionTheSumsOfTheStationsStillUsed) {
  Network net(kStations);
  const int all[kMaxPar] = {1, 1, 1, 1, 1, 1, 1};
  const helm::Point pt = pointOf(kParams, all);
  const helm::Stations s = stationsOf(net, 2, false);
  ChunkPool pool(4);
  helm::Sweep sweep(s, pool);
  sweep.run(pt, true, Residuals::Statistics);
  for (const std::size_t j : {std::size_t{0}, kChunkStations + 17, kStations - 1}) {
    SCOPED_TRACE(j);
    ASSERT_EQ(net.code[j], 0);
    net.code[j] = helm::kRejected;
    sweep.run(pt, true, Residuals::None);
    expectSameNormals(sweep.normals(), reference(s, pt).normals, pt.nPar);
  }
}

TEST(HelmSweep, CoordinateSumsAsOneLoop) {
  const Network net(kStations);
  const helm::Stations s = stationsOf(net, 2, false);
  for (const int threads : {1, 3}) {
    ChunkPool pool(threads);
    helm::Sweep sweep(s, pool);
    double sum1[3], sum2[3], want1[3] = {0.0, 0.0, 0.0}, want2[3] = {0.0, 0.0, 0.0};
    sweep.coordinateSums(sum1, sum2);
    for (std::size_t i = 0; i < s.n; ++i) {
      if (s.code[i] != 0) continue;
      for (int k = 0; k < 3; ++k) {
        want1[k] += s.x1[3 * i + k];
        want2[k] += s.x2[3 * i + k];
      }
    }
    for (int k = 0; k < 3; ++k) {
      EXPECT_SAME_BITS(sum1[k], want1[k]);
      EXPECT_SAME_BITS(sum2[k], want2[k]);
    }
  }
}

TEST(HelmSweep, NorthEastUpMatricesAsOneStationAfterTheOther) {
  const Network net(kStations);
  const helm::Stations s = stationsOf(net, 2, false);
  double wantRowSq = 0.0;
  for (std::size_t i = 0; i < s.n; ++i) {
    const double* m = &net.neuMat[9 * i];
    for (int r = 0; r < 3; ++r) {
      wantRowSq = std::max(wantRowSq, m[r] * m[r] + m[3 + r] * m[3 + r] + m[6 + r] * m[6 + r]);
    }
  }
  for (const int threads : {1, 8}) {
    ChunkPool pool(threads);
    helm::Sweep sweep(s, pool);
    std::vector<double> neuMat(net.neuMat.size(), -7.0);
    const double rowSq = sweep.neuMatrices(kA, kB, kNone, kNone, 1.0, neuMat.data());
    EXPECT_SAME_BITS(rowSq, wantRowSq);
    EXPECT_NEAR(rowSq, 1.0, 1e-12);
    for (std::size_t i = 0; i < s.n; ++i) {
      const bool skipped = net.code[i] == 2 || net.onAxis[i];
      for (int k = 0; k < 9; ++k) {
        // Excluded stations and the one on the axis get zeros.
        ASSERT_EQ(bits(neuMat[9 * i + k]), bits(skipped ? 0.0 : net.neuMat[9 * i + k]))
            << "station " << i << ", element " << k;
      }
    }
  }
}

}  // namespace
