// Helmert transformation estimator with outlier rejection.
#include "xform/helmtr.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "frame/constants.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "runtime/chunkpool.h"
#include "runtime/format.h"
#include "stations/algebra.h"
#include "stations/ellips.h"
#include "stations/getco3.h"
#include "stations/gjinv.h"
#include "xform/helmrep.h"
#include "xform/helmsweep.h"

namespace {

constexpr int kMaxPar = helm::kMaxPar;
// Convergence thresholds: translations (m), rotations (rad), scale.
constexpr double kThreshold[kMaxPar] = {1.0e-6, 1.0e-6, 1.0e-6, 1.0e-8, 1.0e-8, 1.0e-8, 1.0e-15};
// Solution steps allowed since the last rejection.
constexpr int kMaxSteps = 100;
// Smallest pivot accepted in the normal matrix scaled to unit diagonal.
constexpr double kMinScaledPivot = 1.0e-12;

// Rotation matrix R = R3 R2 R1 of the current parameters, its factors and s R.
struct Rotation {
  double r1[9], r2[9], r3[9];
  double r21[9];   // R2 R1
  double rot[9];   // R
  double sRot[9];  // s R
};

void buildRotation(const std::array<double, kMaxPar>& p, Rotation& m) {
  ROTAXM(1, p[3], m.r1);
  ROTAXM(2, p[4], m.r2);
  ROTAXM(3, p[5], m.r3);
  MMUL33(m.r2, m.r1, m.r21);
  MMUL33(m.r3, m.r21, m.rot);
  MSCAL33(m.rot, p[6], m.sRot);
}

// Smallest pivot magnitude that an elimination with complete pivoting meets
// in the n by n matrix scaled to unit diagonal; 0.0 when a diagonal element
// is not positive.
double smallestScaledPivot(const double* nrm, int n) {
  double a[kMaxPar * kMaxPar];
  double root[kMaxPar];
  for (int c = 0; c < n; ++c) {
    const double d = nrm[c * n + c];
    if (!(d > 0.0)) return 0.0;
    root[c] = std::sqrt(d);
  }
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) a[j * n + i] = nrm[j * n + i] / (root[i] * root[j]);
  }
  auto el = [&a, n](int i, int j) -> double& { return a[j * n + i]; };
  double smallest = std::numeric_limits<double>::infinity();
  for (int k = 0; k < n; ++k) {
    int pr = k, pc = k;
    for (int j = k; j < n; ++j) {
      for (int i = k; i < n; ++i) {
        if (std::fabs(el(i, j)) > std::fabs(el(pr, pc))) {
          pr = i;
          pc = j;
        }
      }
    }
    for (int j = 0; j < n; ++j) std::swap(el(k, j), el(pr, j));
    for (int i = 0; i < n; ++i) std::swap(el(i, k), el(i, pc));
    const double piv = el(k, k);
    if (!(std::fabs(piv) >= kMinScaledPivot)) return std::isnan(piv) ? 0.0 : std::fabs(piv);
    smallest = std::min(smallest, std::fabs(piv));
    for (int i = k + 1; i < n; ++i) {
      const double f = el(i, k) / piv;
      for (int j = k; j < n; ++j) el(i, j) -= f * el(k, j);
    }
  }
  return smallest;
}

// Error block on the message unit, then the stop.
[[noreturn]] void stopEstimation(const char* what, int nPar, int nUsed) {
  rt::writeFmt(LFNMSG,
               "(/,' *** SR HELMTR: ',A,/,16X,'NUMBER OF PARAMETERS:',I7,/,16X,'STATIONS STILL "
               "USED :',I7,/)",
               {what, nPar, nUsed});
  EXITRC(2);
}

}  // namespace

void HELMTR(std::string_view title1, std::string_view title2, int nStat,
            std::span<const t_staName> STNAME, std::span<const int> STANUM,
            std::span<const char> STAFLG, std::span<const double> XSTA2,
            std::span<const double> XSTA1, std::span<const double> aux, std::span<int> ITYP,
            std::span<const int> iPar, int resTyp, int resUnt, std::string_view datumName,
            double aEll, double bEll, std::span<const double> dxEll, std::span<const double> drEll,
            double scEll, int printUnit, int iPrt, int iRej, std::span<const double> rLimit,
            std::span<double> param, std::span<double> rmsPar, double& rmsTrn, int& nDof,
            std::span<double> rmsCmp) {
  const std::size_t n = nStat > 0 ? static_cast<std::size_t>(nStat) : 0;
  rmsTrn = 0.0;
  double sigma0 = 0.0;

  // Estimated parameters, packed in parameter order.
  int nPar = 0;
  int parOf[kMaxPar] = {};
  for (int k = 0; k < kMaxPar; ++k) {
    if (iPar[k] == 1) parOf[nPar++] = k;
  }
  int nUsed = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (ITYP[i] == 0) ++nUsed;
  }
  const bool reduce = nPar >= 1 && iPar[0] != 1 && iPar[1] != 1 && iPar[2] != 1;
  const int nParReported = nPar + (reduce ? 3 : 0);
  nDof = 3 * nUsed - nPar;

  const HelmReport report(printUnit, iPrt, resTyp, resUnt);
  // Fewer coordinates than parameters at entry: the block (print level 1 or
  // more) and back to the caller, the run goes on; nothing is estimated.
  if (3 * nUsed < nPar) {
    if (iPrt >= 1) report.tooManyParameters(nPar, nUsed);
    return;
  }
  if (nUsed == 0) stopEstimation("NO STATION USED IN THE ESTIMATION", nPar, nUsed);

  // The stations as the sweeps see them: the input coordinates, reduced
  // and rotated into the working frame on the fly.
  helm::Stations st;
  st.n = n;
  st.x1 = XSTA1.data();
  st.x2 = XSTA2.data();
  st.code = ITYP.data();
  st.resTyp = resTyp;
  st.aux = aux.data();
  st.nAux = aux.size();
  st.iRej = iRej;
  for (int k = 0; k < 3; ++k) st.rLimit[k] = rLimit[k];
  // Reduction to the barycentres, and the local frame at the target set's
  // barycentre (the second set relative to it too, unless reduced).
  const bool needBary = reduce || resTyp == 1;
  st.sub1 = needBary;
  st.sub2 = needBary;
  st.rotate = resTyp == 1;

  // Residual system 2: the north/east/up matrix of each station depends only
  // on its input coordinates; computed once. Stations on the polar axis get
  // a zero residual.
  std::unique_ptr<double[]> neuMat;
  std::vector<char> onAxis;
  if (resTyp == 2 || resTyp == 3) {
    allocChecked(onAxis, nStat, char{0}, "onAxis", {nStat}, "HELMTR");
    for (std::size_t i = 0; i < n; ++i) {
      onAxis[i] = XSTA1[3 * i] == 0.0 && XSTA1[3 * i + 1] == 0.0;
    }
    st.onAxis = onAxis.data();
  }
  // A network of one chunk is swept by the calling thread alone: no thread
  // is started for it.
  rt::ChunkPool alone(1);
  rt::ChunkPool& pool = n > helm::kChunkStations ? rt::ChunkPool::shared() : alone;
  helm::Sweep sweep(st, pool);
  if (resTyp == 2) {
    // Every element is written there, in parallel.
    try {
      neuMat.reset(new double[9 * n]);
    } catch (const std::bad_alloc&) {
      ALCERR(1, "neuMat", {9, nStat}, "HELMTR");
    }
    const double rowSq =
        sweep.neuMatrices(aEll, bEll, dxEll.data(), drEll.data(), scEll, neuMat.get());
    st.neuMat = neuMat.get();
    // A residual of length |v| in X/Y/Z has north, east and up components
    // of at most |v| times the longest matrix row, rounding aside: below the
    // smallest limit (with a margin far above the rounding) it cannot be
    // rejected.
    const double smallest = std::min({rLimit[0], rLimit[1], rLimit[2]});
    if (smallest > 1.0e-100 && rowSq > 0.0 && std::isfinite(rowSq)) {
      st.screen = smallest * smallest / rowSq * (1.0 - 1.0e-9);
    }
  }
  double ellBary[3] = {0.0, 0.0, 0.0};

  // Barycentres over the used stations, from the input coordinates, and
  // the local frame.
  auto setUp = [&]() {
    if (!needBary) return;
    double bary1[3], bary2[3];
    sweep.coordinateSums(bary1, bary2);
    for (int k = 0; k < 3; ++k) {
      bary1[k] /= nUsed;
      bary2[k] /= nUsed;
      st.b1[k] = bary1[k];
      st.b2[k] = reduce ? bary2[k] : bary1[k];
    }
    if (resTyp != 1) return;
    XYZELL(aEll, bEll, dxEll.data(), drEll.data(), scEll, bary1, ellBary);
    double flip[9] = {1.0, 0.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, 1.0};
    double rotLat[9], rotLon[9];
    ROTAXM(2, ellBary[0] - pi / 2.0, rotLat);
    ROTAXM(3, ellBary[1] - pi, rotLon);
    MMUL33(rotLat, rotLon, st.frame);
    MMUL33(flip, st.frame, st.frame);
  };

  setUp();

  std::array<double, kMaxPar> p = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0};
  for (int k = 0; k < kMaxPar; ++k) param[k] = p[k];
  int iteration = 0;
  int stepsSinceRejection = 0;
  helm::Point point;
  point.nPar = nPar;
  for (int c = 0; c < nPar; ++c) point.parOf[c] = parOf[c];
  double qMat[kMaxPar * kMaxPar] = {};
  double dx[kMaxPar] = {};
  double rms[3] = {0.0, 0.0, 0.0}, mean[3], minimum[3], maximum[3];

  // The linearisation point of the parameters p.
  auto setPoint = [&]() {
    Rotation rot;
    buildRotation(p, rot);
    for (int k = 0; k < 3; ++k) point.t[k] = p[k];
    std::copy(rot.sRot, rot.sRot + 9, point.sRot);
    std::copy(rot.rot, rot.rot + 9, point.rot);
    for (int axis = 1; axis <= 3; ++axis) {
      if (iPar[2 + axis] != 1) continue;
      double d[9], t[9];
      ROTAXD(axis, p[2 + axis], d);
      if (axis == 1) {
        MMUL33(rot.r2, d, t);
        MMUL33(rot.r3, t, t);
      } else if (axis == 2) {
        MMUL33(d, rot.r1, t);
        MMUL33(rot.r3, t, t);
      } else {
        MMUL33(d, rot.r21, t);
      }
      MSCAL33(t, p[6], point.deriv[axis - 1]);
    }
  };

  // Statistics of a pass without rejection.
  auto statistics = [&](const helm::Statistics& sums) {
    const int nCoord = 3 * nUsed;
    for (int k = 0; k < 3; ++k) {
      minimum[k] = sums.minimum[k];
      maximum[k] = sums.maximum[k];
    }
    if (nCoord > nParReported) {
      sigma0 = std::sqrt(sums.ssq / (nCoord - nParReported));
      for (int k = 0; k < 3; ++k) {
        if (nUsed > 1) {
          rms[k] = std::sqrt(sums.sumSq[k] / (nUsed - 1));
          mean[k] = sums.sum[k] / nUsed;
        } else {
          rms[k] = mean[k] = 0.0;
        }
      }
    } else {
      sigma0 = 0.0;
      for (int k = 0; k < 3; ++k) rms[k] = mean[k] = minimum[k] = maximum[k] = 0.0;
    }
  };

  // Each solution step needs the normal equations at p over the stations now
  // used: a sweep of their own at the start and after a rejection; after a
  // step without rejection the sweep of its residual pass made them.
  setPoint();
  bool sweepNormals = true;
  for (;;) {
    // Solution step.
    if (3 * nUsed < nPar) {
      stopEstimation("FEWER COORDINATES THAN PARAMETERS TO ESTIMATE", nPar, nUsed);
    }
    if (nPar >= 1 && sweepNormals) sweep.run(point, true, helm::Residuals::None);
    sweepNormals = false;
    nDof = 3 * nUsed - nPar;

    if (nPar >= 1) {
      const helm::Normals& normals = sweep.normals();
      double nrm[kMaxPar * kMaxPar] = {};
      for (int c = 0; c < nPar; ++c) {
        for (int d = 0; d <= c; ++d) nrm[d * nPar + c] = normals.nrm[d * nPar + c];
      }
      for (int c = 0; c < nPar; ++c) {
        for (int d = 0; d < c; ++d) nrm[c * nPar + d] = nrm[d * nPar + c];
      }
      std::copy(nrm, nrm + nPar * nPar, qMat);
      int rowPiv[kMaxPar], colPiv[kMaxPar];
      double regFlag = 1.0;
      GJINV(qMat, nPar, regFlag, rowPiv, colPiv);
      bool singular = regFlag == 0.0 || smallestScaledPivot(nrm, nPar) < kMinScaledPivot;
      for (int c = 0; c < nPar && !singular; ++c) singular = !(qMat[c * nPar + c] > 0.0);
      if (singular) stopEstimation("SINGULAR NORMAL EQUATIONS", nPar, nUsed);
      for (int c = 0; c < nPar; ++c) {
        double s = 0.0;
        for (int d = 0; d < nPar; ++d) s += qMat[d * nPar + c] * normals.rhs[d];
        dx[c] = s;
      }
      for (int c = 0; c < nPar; ++c) p[parOf[c]] += dx[c];
    }
    setPoint();
    ++stepsSinceRejection;

    // Residual pass, with the normal equations of the next step. With
    // rejection the candidate is looked for first, by all threads (with the
    // bound above for north/east/up residuals); the sums, which one thread
    // takes station after station, are needed only when there is none.
    if (iRej == 1) sweep.run(point, false, helm::Residuals::Candidate);
    if (iRej != 1 || sweep.statistics().candidate < 0) {
      sweep.run(point, nPar >= 1, helm::Residuals::Statistics);
    }
    const helm::Statistics& sums = sweep.statistics();
    const long candidate = sums.candidate;
    if (candidate >= 0) {
      ITYP[candidate] = -1;
      --nUsed;
      iteration = 1;
      stepsSinceRejection = 0;
      if (nUsed == 0) stopEstimation("NO STATION USED IN THE ESTIMATION", nPar, nUsed);
      setUp();
      sweepNormals = true;
      continue;
    }
    statistics(sums);
    // Coordinates beyond the range of the computation (a value with a huge
    // exponent in a coordinate file) make the residuals or the parameters
    // overflow; nothing of such a solution can be reported.
    bool finite = std::isfinite(sums.ssq);
    for (int k = 0; k < kMaxPar && finite; ++k) finite = std::isfinite(p[k]);
    if (!finite) stopEstimation("NUMERICAL OVERFLOW IN THE ESTIMATION", nPar, nUsed);

    // Convergence test.
    ++iteration;
    bool another = false;
    for (int c = 0; c < nPar; ++c) {
      const double q = qMat[c * nPar + c];
      if (q < 0.0) break;
      if (std::fabs(dx[c]) > sigma0 * std::sqrt(q / 3.0) &&
          std::fabs(dx[c]) > kThreshold[parOf[c]]) {
        another = true;
        break;
      }
    }
    if (!another) break;
    if (stepsSinceRejection >= kMaxSteps) {
      stopEstimation("NO CONVERGENCE AFTER 100 ITERATIONS", nPar, nUsed);
    }
  }

  // Final pass: the report, with the residuals of the last pass (the same
  // parameters and stations) computed again station by station; those of
  // the rejected stations are kept for their list.
  report.head(title1, title2, datumName);
  rmsTrn = sigma0;
  if (iPrt >= 2) {
    // The rows of the table, made by the threads a block of chunks at a time
    // and written in station order.
    constexpr std::size_t kRowChunks = 8;
    std::array<std::string, kRowChunks> rows;
    for (std::size_t first = 0; first < n; first += kRowChunks * helm::kChunkStations) {
      const std::size_t last = std::min(n, first + kRowChunks * helm::kChunkStations);
      const std::size_t nChunks = (last - first + helm::kChunkStations - 1) / helm::kChunkStations;
      pool.run(nChunks, [&](std::size_t c) {
        rows[c].clear();
        const std::size_t begin = first + c * helm::kChunkStations;
        const std::size_t end = std::min(last, begin + helm::kChunkStations);
        for (std::size_t j = begin; j < end; ++j) {
          const int code = ITYP[j];
          if (code == 2) continue;
          double v[3];
          helm::residual(st, point, j, v);
          const int number = STANUM[j] != 0 ? STANUM[j] : static_cast<int>(j + 1);
          report.stationRow(rows[c], number, STNAME[j], STAFLG[2 * j], STAFLG[2 * j + 1], v, code);
        }
      });
      for (std::size_t c = 0; c < nChunks; ++c) report.writeRows(rows[c]);
    }
  }
  std::vector<double> rejected;
  for (std::size_t j = 0; j < n; ++j) {
    if (ITYP[j] != -1) continue;
    double v[3];
    helm::residual(st, point, j, v);
    rejected.insert(rejected.end(), v, v + 3);
  }
  statistics(sweep.statistics());
  rmsTrn = sigma0;
  report.tableFoot();
  report.statistics(rms, mean, minimum, maximum);
  report.counts(nParReported, 3 * nUsed, sigma0);
  if (resTyp == 1) report.barycentre(ellBary[0], ellBary[1], ellBary[2]);
  if (nPar >= 1) report.parameterHead();

  // Results.
  int c = 0;
  for (int k = 0; k < kMaxPar; ++k) {
    if (iPar[k] == 1) {
      param[k] = p[k];
      rmsPar[k] = sigma0 * std::sqrt(qMat[c * nPar + c]);
      report.parameterLine(k, param[k], rmsPar[k]);
      ++c;
    } else {
      param[k] = k < 6 ? 0.0 : 1.0;
      rmsPar[k] = 0.0;
    }
  }
  for (int k = 0; k < 3; ++k) rmsCmp[k] = rms[k];
  if (nPar >= 1) report.iterations(iteration);
  if (iRej == 1) report.rejection(nStat, ITYP, STNAME, rejected, rmsCmp.data());
}
