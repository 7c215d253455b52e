// Helmert transformation estimator with outlier rejection.
#include "xform/helmtr.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "frame/constants.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "runtime/format.h"
#include "stations/algebra.h"
#include "stations/ellips.h"
#include "stations/gjinv.h"
#include "xform/helmrep.h"

namespace {

constexpr int kMaxPar = 7;
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

  // Working copies (3 per station) and the residuals of the last pass.
  std::vector<double> work1(3 * n), work2(3 * n), resid(3 * n, 0.0);
  double bary1[3] = {0.0, 0.0, 0.0};
  double ellBary[3] = {0.0, 0.0, 0.0};

  // Barycentres over the used stations, reduction and local frame, always
  // from the input coordinates (redone after every rejection).
  auto setUp = [&]() {
    double bary2[3] = {0.0, 0.0, 0.0};
    for (int k = 0; k < 3; ++k) bary1[k] = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      if (ITYP[i] != 0) continue;
      for (int k = 0; k < 3; ++k) {
        bary1[k] += XSTA1[3 * i + k];
        bary2[k] += XSTA2[3 * i + k];
      }
    }
    for (int k = 0; k < 3; ++k) {
      bary1[k] /= nUsed;
      bary2[k] /= nUsed;
    }
    std::copy(XSTA1.begin(), XSTA1.begin() + 3 * n, work1.begin());
    std::copy(XSTA2.begin(), XSTA2.begin() + 3 * n, work2.begin());
    if (reduce) {
      for (std::size_t i = 0; i < n; ++i) {
        if (ITYP[i] == 2) continue;
        for (int k = 0; k < 3; ++k) {
          work1[3 * i + k] -= bary1[k];
          work2[3 * i + k] -= bary2[k];
        }
      }
    }
    if (resTyp != 1) return;
    XYZELL(aEll, bEll, dxEll.data(), drEll.data(), scEll, bary1, ellBary);
    double flip[9] = {1.0, 0.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, 1.0};
    double rotLat[9], rotLon[9], frame[9];
    ROTAXM(2, ellBary[0] - pi / 2.0, rotLat);
    ROTAXM(3, ellBary[1] - pi, rotLon);
    MMUL33(rotLat, rotLon, frame);
    MMUL33(flip, frame, frame);
    for (std::size_t i = 0; i < n; ++i) {
      if (ITYP[i] == 2) continue;
      double* w[2] = {&work1[3 * i], &work2[3 * i]};
      for (double* v : w) {
        if (!reduce) {
          for (int k = 0; k < 3; ++k) v[k] -= bary1[k];
        }
        MVEC33(v, frame, v);
      }
    }
  };

  // Residual system 2: the north/east/up matrix of each station depends only
  // on its input coordinates; computed once. Stations on the polar axis get
  // a zero residual.
  std::vector<double> neuMat;
  std::vector<char> onAxis(n, 0);
  if (resTyp == 2 || resTyp == 3) {
    for (std::size_t i = 0; i < n; ++i) {
      onAxis[i] = XSTA1[3 * i] == 0.0 && XSTA1[3 * i + 1] == 0.0;
    }
  }
  if (resTyp == 2) {
    neuMat.assign(9 * n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      if (ITYP[i] == 2 || onAxis[i]) continue;
      double ell[3], xyz[3] = {0.0, 0.0, 0.0}, neu[3];
      XYZELL(aEll, bEll, dxEll.data(), drEll.data(), scEll, &XSTA1[3 * i], ell);
      NEUCART(ell[0], ell[1], ell[2], aEll, bEll, -1, xyz, neu, &neuMat[9 * i]);
    }
  }

  setUp();

  std::array<double, kMaxPar> p = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0};
  for (int k = 0; k < kMaxPar; ++k) param[k] = p[k];
  int iteration = 0;
  int stepsSinceRejection = 0;
  Rotation rot;
  double qMat[kMaxPar * kMaxPar] = {};
  double dx[kMaxPar] = {};
  double rms[3] = {0.0, 0.0, 0.0}, mean[3], minimum[3], maximum[3];

  // One residual pass; returns the rejection candidate or -1.
  auto residualPass = [&](bool final, double& ssq, double* sumSq, double* sum) -> long {
    ssq = 0.0;
    for (int k = 0; k < 3; ++k) sumSq[k] = sum[k] = minimum[k] = maximum[k] = 0.0;
    long candidate = -1;
    double bestNorm = 0.0;
    for (std::size_t j = 0; j < n; ++j) {
      const int code = ITYP[j];
      if (code == 2) continue;
      double y[3], z[3], v[3];
      for (int k = 0; k < 3; ++k) y[k] = work2[3 * j + k] + p[k];
      MVEC33(y, rot.sRot, z);
      for (int k = 0; k < 3; ++k) v[k] = work1[3 * j + k] - z[k];
      if (resTyp == 2) {
        if (onAxis[j]) {
          v[0] = v[1] = v[2] = 0.0;
        } else {
          MVEC33(v, &neuMat[9 * j], v);
        }
      } else if (resTyp == 3) {
        if (onAxis[j]) {
          v[0] = v[1] = v[2] = 0.0;
        } else {
          // A caller that passes fewer aux vectors gets zero components.
          static const double none[3] = {0.0, 0.0, 0.0};
          const double* dirV = aux.size() >= 3 * (j + 1) ? &aux[3 * j] : none;
          PROJDIR(v, &XSTA2[3 * j], dirV, v);
        }
      }
      if (code == 0) {
        ssq = ssq + v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
        for (int k = 0; k < 3; ++k) {
          sumSq[k] += v[k] * v[k];
          sum[k] += v[k];
          minimum[k] = std::min(minimum[k], v[k]);
          maximum[k] = std::max(maximum[k], v[k]);
        }
      }
      if (final) {
        const int number = STANUM[j] != 0 ? STANUM[j] : static_cast<int>(j + 1);
        report.stationRow(number, STNAME[j], STAFLG[2 * j], STAFLG[2 * j + 1], v, code);
      }
      for (int k = 0; k < 3; ++k) resid[3 * j + k] = v[k];
      if (!final && iRej == 1 && code == 0 &&
          (std::fabs(v[0]) > rLimit[0] || std::fabs(v[1]) > rLimit[1] ||
           std::fabs(v[2]) > rLimit[2])) {
        const double norm = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        if (norm > bestNorm) {
          candidate = static_cast<long>(j);
          bestNorm = norm;
        }
      }
    }
    return candidate;
  };

  // Statistics of a pass without rejection.
  auto statistics = [&](double ssq, const double* sumSq, const double* sum) {
    const int nCoord = 3 * nUsed;
    if (nCoord > nParReported) {
      sigma0 = std::sqrt(ssq / (nCoord - nParReported));
      for (int k = 0; k < 3; ++k) {
        if (nUsed > 1) {
          rms[k] = std::sqrt(sumSq[k] / (nUsed - 1));
          mean[k] = sum[k] / nUsed;
        } else {
          rms[k] = mean[k] = 0.0;
        }
      }
    } else {
      sigma0 = 0.0;
      for (int k = 0; k < 3; ++k) rms[k] = mean[k] = minimum[k] = maximum[k] = 0.0;
    }
  };

  double ssq = 0.0, sumSq[3], sum[3];
  for (;;) {
    // Solution step.
    if (3 * nUsed < nPar) {
      stopEstimation("FEWER COORDINATES THAN PARAMETERS TO ESTIMATE", nPar, nUsed);
    }
    buildRotation(p, rot);
    double deriv[3][9];
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
      MSCAL33(t, p[6], deriv[axis - 1]);
    }

    double nrm[kMaxPar * kMaxPar] = {};
    double rhs[kMaxPar] = {};
    int nCoord = 0;
    for (std::size_t j = 0; j < n; ++j) {
      if (ITYP[j] != 0) continue;
      nCoord += 3;
      double y[3], z[3], l[3];
      double a[kMaxPar][3];
      for (int k = 0; k < 3; ++k) y[k] = work2[3 * j + k] + p[k];
      MVEC33(y, rot.sRot, z);
      for (int k = 0; k < 3; ++k) l[k] = work1[3 * j + k] - z[k];
      for (int c = 0; c < nPar; ++c) {
        const int k = parOf[c];
        if (k < 3) {
          for (int i = 0; i < 3; ++i) a[c][i] = rot.sRot[3 * k + i];
        } else if (k < 6) {
          MVEC33(y, deriv[k - 3], a[c]);
        } else {
          MVEC33(y, rot.rot, a[c]);
        }
      }
      for (int c = 0; c < nPar; ++c) {
        for (int d = 0; d <= c; ++d) {
          const double s = a[c][0] * a[d][0] + a[c][1] * a[d][1] + a[c][2] * a[d][2];
          nrm[d * nPar + c] += s;
        }
        rhs[c] += a[c][0] * l[0] + a[c][1] * l[1] + a[c][2] * l[2];
      }
    }
    for (int c = 0; c < nPar; ++c) {
      for (int d = 0; d < c; ++d) nrm[c * nPar + d] = nrm[d * nPar + c];
    }
    nDof = nCoord - nPar;

    if (nPar >= 1) {
      std::copy(nrm, nrm + nPar * nPar, qMat);
      int rowPiv[kMaxPar], colPiv[kMaxPar];
      double regFlag = 1.0;
      GJINV(qMat, nPar, regFlag, rowPiv, colPiv);
      bool singular = regFlag == 0.0 || smallestScaledPivot(nrm, nPar) < kMinScaledPivot;
      for (int c = 0; c < nPar && !singular; ++c) singular = !(qMat[c * nPar + c] > 0.0);
      if (singular) stopEstimation("SINGULAR NORMAL EQUATIONS", nPar, nUsed);
      for (int c = 0; c < nPar; ++c) {
        double s = 0.0;
        for (int d = 0; d < nPar; ++d) s += qMat[d * nPar + c] * rhs[d];
        dx[c] = s;
      }
      for (int c = 0; c < nPar; ++c) p[parOf[c]] += dx[c];
    }
    buildRotation(p, rot);
    ++stepsSinceRejection;

    // Residual pass.
    const long candidate = residualPass(false, ssq, sumSq, sum);
    if (candidate >= 0) {
      ITYP[candidate] = -1;
      --nUsed;
      iteration = 1;
      stepsSinceRejection = 0;
      if (nUsed == 0) stopEstimation("NO STATION USED IN THE ESTIMATION", nPar, nUsed);
      setUp();
      continue;
    }
    statistics(ssq, sumSq, sum);
    // Coordinates beyond the range of the computation (a value with a huge
    // exponent in a coordinate file) make the residuals or the parameters
    // overflow; nothing of such a solution can be reported.
    bool finite = std::isfinite(ssq);
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

  // Final pass: the report.
  report.head(title1, title2, datumName);
  rmsTrn = sigma0;
  residualPass(true, ssq, sumSq, sum);
  statistics(ssq, sumSq, sum);
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
  if (iRej == 1) report.rejection(nStat, ITYP, STNAME, resid, rmsCmp.data());
}
