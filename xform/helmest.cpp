// The Helmert estimator: solution steps, residual passes and the final pass.
#include "xform/helmest.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "frame/constants.h"
#include "frame/exitrc.h"
#include "frame/m_vand.h"
#include "runtime/format.h"
#include "stations/algebra.h"
#include "stations/ellips.h"
#include "stations/gjinv.h"

namespace helm {

namespace {

// Convergence thresholds: translations (m), rotations (rad), scale.
constexpr double kThreshold[kMaxPar] = {1.0e-6, 1.0e-6, 1.0e-6, 1.0e-8, 1.0e-8, 1.0e-8, 1.0e-15};
// Solution steps allowed since the last rejection.
constexpr int kMaxSteps = 100;
// Smallest pivot accepted in the normal matrix scaled to unit diagonal.
constexpr double kMinScaledPivot = 1.0e-12;

// Rotation matrix R = R3 R2 R1 of the parameters p, its factors and s R.
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

int estimated(std::span<const int> iPar) {
  return static_cast<int>(std::count(iPar.begin(), iPar.begin() + kMaxPar, 1));
}

// The station view of the problem, before the codes, the barycentres and
// the residual matrices are known.
Stations viewOf(const Problem& in, bool reduce) {
  Stations st;
  st.n = in.n;
  st.x1 = in.x1.data();
  st.x2 = in.x2.data();
  st.system = in.system;
  st.aux = in.aux.data();
  st.nAux = in.aux.size();
  st.iRej = in.reject ? 1 : 0;
  for (int k = 0; k < 3; ++k) st.rLimit[k] = in.rLimit[k];
  // Reduction to the barycentres, and the local frame at the target set's
  // barycentre (the second set relative to it too, unless reduced).
  const bool needBary = reduce || in.system == ResidualSystem::Local;
  st.sub1 = needBary;
  st.sub2 = needBary;
  st.rotate = in.system == ResidualSystem::Local;
  return st;
}

}  // namespace

Estimator::Estimator(const Problem& problem, const Results& results)
    : in_(problem),
      out_(results),
      report_(problem.printUnit, problem.iPrt, problem.system, problem.unit),
      nPar_(estimated(problem.iPar)),
      reduce_(reducedToBarycentres(problem.iPar)),
      nParReported_(nPar_ + (reduce_ ? 3 : 0)),
      st_(viewOf(problem, reduce_)),
      // A network of one chunk is swept by the calling thread alone: no
      // thread is started for it.
      pool_(st_.n > kChunkStations ? rt::ChunkPool::shared() : alone_),
      sweep_(st_, pool_) {
  int c = 0;
  for (int k = 0; k < kMaxPar; ++k) {
    if (in_.iPar[k] == 1) parOf_[c++] = k;
  }
  for (std::size_t i = 0; i < in_.n; ++i) {
    if (out_.ITYP[i] == kUsed) ++nUsed_;
  }
  point_.nPar = nPar_;
  for (c = 0; c < nPar_; ++c) point_.parOf[c] = parOf_[c];
}

void Estimator::run() {
  out_.rmsTrn = 0.0;
  out_.nDof = 3 * nUsed_ - nPar_;
  // Fewer coordinates than parameters at entry: the block (print level 1
  // or more) and back to the caller, the run goes on; nothing is estimated.
  if (3 * nUsed_ < nPar_) {
    if (in_.iPrt >= 1) report_.tooManyParameters(nPar_, nUsed_);
    return;
  }
  if (nUsed_ == 0) stop("NO STATION USED IN THE ESTIMATION");
  allocateWorkspace();
  if (in_.system == ResidualSystem::Equatorial) residualMatrices();
  barycentres();
  for (int k = 0; k < kMaxPar; ++k) out_.param[k] = p_[k];
  iterate();
  finalPass();
}

// The arrays of the station view: for the residuals at each station,
// which stations lie on the polar axis and room for their north/east/up
// matrices. The sweeps read the handling codes from ITYP itself.
void Estimator::allocateWorkspace() {
  const long long n = static_cast<long long>(st_.n);
  st_.code = out_.ITYP.data();
  if (in_.system != ResidualSystem::Equatorial && in_.system != ResidualSystem::Projection) return;
  allocChecked(onAxis_, n, char{0}, "onAxis", {n}, "HELMTR");
  for (std::size_t i = 0; i < st_.n; ++i) {
    onAxis_[i] = in_.x1[3 * i] == 0.0 && in_.x1[3 * i + 1] == 0.0;
  }
  st_.onAxis = onAxis_.data();
  if (in_.system == ResidualSystem::Equatorial) allocateMatrices();
}

// Room for the north/east/up matrices, 9 per station (residualMatrices
// writes every element).
void Estimator::allocateMatrices() {
  allocOrStop([&] { neuMat_.reset(new double[9 * st_.n]); }, "neuMat",
              {9, static_cast<long long>(st_.n)}, "HELMTR");
}

// Residuals north/east/up at each station: the matrix of each depends only
// on its input coordinates, computed once, in parallel.
void Estimator::residualMatrices() {
  const double rowSq =
      sweep_.neuMatrices(in_.aEll, in_.bEll, in_.dxEll, in_.drEll, in_.scEll, neuMat_.get());
  st_.neuMat = neuMat_.get();
  // A residual of length |v| in X/Y/Z has north, east and up components
  // of at most |v| times the longest matrix row, rounding aside: below the
  // smallest limit (with a margin far above the rounding) it cannot be
  // rejected.
  const double* rLimit = in_.rLimit;
  const double smallest = std::min({rLimit[0], rLimit[1], rLimit[2]});
  if (smallest > 1.0e-100 && rowSq > 0.0 && std::isfinite(rowSq)) {
    st_.screen = smallest * smallest / rowSq * (1.0 - 1.0e-9);
  }
}

// Barycentres over the used stations, from the input coordinates, and the
// local frame at the target set's barycentre.
void Estimator::barycentres() {
  if (!st_.sub1) return;
  double bary1[3], bary2[3];
  sweep_.coordinateSums(bary1, bary2);
  for (int k = 0; k < 3; ++k) {
    bary1[k] /= nUsed_;
    bary2[k] /= nUsed_;
    st_.b1[k] = bary1[k];
    st_.b2[k] = reduce_ ? bary2[k] : bary1[k];
  }
  if (in_.system != ResidualSystem::Local) return;
  XYZELL(in_.aEll, in_.bEll, in_.dxEll, in_.drEll, in_.scEll, bary1, ellBary_);
  double flip[9] = {1.0, 0.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, 1.0};
  double rotLat[9], rotLon[9];
  ROTAXM(2, ellBary_[0] - pi / 2.0, rotLat);
  ROTAXM(3, ellBary_[1] - pi, rotLon);
  MMUL33(rotLat, rotLon, st_.frame);
  MMUL33(flip, st_.frame, st_.frame);
}

// Solution steps and residual passes until the solution converges. Each
// step solves the normal equations at the point over the stations used
// now: a sweep of their own at the start and after a rejection, otherwise
// those that the residual pass of the step before made at its point.
void Estimator::iterate() {
  linearise();
  const Normals* normals = &normalEquations();
  for (;;) {
    solve(*normals);
    const Pass pass = residualPass();
    if (pass.rejected >= 0) {
      reject(pass.rejected);
      normals = &normalEquations();
      continue;
    }
    takeStatistics(*pass.sums);
    if (overflowed(*pass.sums)) stop("NUMERICAL OVERFLOW IN THE ESTIMATION");
    ++iteration_;
    if (converged()) return;
    if (stepsSinceRejection_ >= kMaxSteps) stop("NO CONVERGENCE AFTER 100 ITERATIONS");
    normals = pass.next;
  }
}

// The linearisation point of the parameters p.
void Estimator::linearise() {
  Rotation rot;
  buildRotation(p_, rot);
  for (int k = 0; k < 3; ++k) point_.t[k] = p_[k];
  std::copy(rot.sRot, rot.sRot + 9, point_.sRot);
  std::copy(rot.rot, rot.rot + 9, point_.rot);
  for (int axis = 1; axis <= 3; ++axis) {
    if (in_.iPar[2 + axis] != 1) continue;
    double d[9], t[9];
    ROTAXD(axis, p_[2 + axis], d);
    if (axis == 1) {
      MMUL33(rot.r2, d, t);
      MMUL33(rot.r3, t, t);
    } else if (axis == 2) {
      MMUL33(d, rot.r1, t);
      MMUL33(rot.r3, t, t);
    } else {
      MMUL33(d, rot.r21, t);
    }
    MSCAL33(t, p_[6], point_.deriv[axis - 1]);
  }
}

// The normal equations at the point, by a sweep of their own.
const Normals& Estimator::normalEquations() {
  if (nPar_ >= 1) sweep_.run(point_, true, Residuals::None);
  return sweep_.normals();
}

// One solution step: the corrections dx from the normal equations, p moved
// by them, and the new linearisation point.
void Estimator::solve(const Normals& normals) {
  out_.nDof = 3 * nUsed_ - nPar_;
  if (nPar_ >= 1) {
    if (!invert(normals)) stop("SINGULAR NORMAL EQUATIONS");
    for (int c = 0; c < nPar_; ++c) {
      double s = 0.0;
      for (int d = 0; d < nPar_; ++d) s += qMat_[d * nPar_ + c] * normals.rhs[d];
      dx_[c] = s;
    }
    for (int c = 0; c < nPar_; ++c) p_[parOf_[c]] += dx_[c];
  }
  linearise();
  ++stepsSinceRejection_;
}

// Q, the inverse of the normal matrix; false when the matrix is singular.
bool Estimator::invert(const Normals& normals) {
  const int n = nPar_;
  double nrm[kMaxPar * kMaxPar] = {};
  for (int c = 0; c < n; ++c) {
    for (int d = 0; d <= c; ++d) nrm[d * n + c] = normals.nrm[d * n + c];
  }
  for (int c = 0; c < n; ++c) {
    for (int d = 0; d < c; ++d) nrm[c * n + d] = nrm[d * n + c];
  }
  std::copy(nrm, nrm + n * n, qMat_);
  int rowPiv[kMaxPar], colPiv[kMaxPar];
  double regFlag = 1.0;
  GJINV(qMat_, n, regFlag, rowPiv, colPiv);
  bool singular = regFlag == 0.0 || smallestScaledPivot(nrm, n) < kMinScaledPivot;
  for (int c = 0; c < n && !singular; ++c) singular = !(qMat_[c * n + c] > 0.0);
  return !singular;
}

// The residual pass at the new point. With rejection the candidate is
// looked for first, by all threads (with the bound on north/east/up
// residuals); the sums, which one thread takes station after station, and
// with them the normal equations of the next step, are needed only when
// there is none.
Estimator::Pass Estimator::residualPass() {
  if (in_.reject) {
    sweep_.run(point_, false, Residuals::Candidate);
    const long candidate = sweep_.statistics().candidate;
    if (candidate >= 0) return {candidate, nullptr, nullptr};
  }
  sweep_.run(point_, nPar_ >= 1, Residuals::Statistics);
  const Statistics& sums = sweep_.statistics();
  if (sums.candidate >= 0) return {sums.candidate, nullptr, nullptr};
  return {-1, &sums, &sweep_.normals()};
}

// The station leaves the estimation; the iterations count again from 1 and
// the barycentres follow the stations still used.
void Estimator::reject(long station) {
  out_.ITYP[station] = kRejected;
  --nUsed_;
  iteration_ = 1;
  stepsSinceRejection_ = 0;
  if (nUsed_ == 0) stop("NO STATION USED IN THE ESTIMATION");
  barycentres();
  if (3 * nUsed_ < nPar_) stop("FEWER COORDINATES THAN PARAMETERS TO ESTIMATE");
}

// Statistics of a pass without rejection.
void Estimator::takeStatistics(const Statistics& sums) {
  const int nCoord = 3 * nUsed_;
  for (int k = 0; k < 3; ++k) {
    minimum_[k] = sums.minimum[k];
    maximum_[k] = sums.maximum[k];
  }
  if (nCoord > nParReported_) {
    sigma0_ = std::sqrt(sums.ssq / (nCoord - nParReported_));
    for (int k = 0; k < 3; ++k) {
      if (nUsed_ > 1) {
        rms_[k] = std::sqrt(sums.sumSq[k] / (nUsed_ - 1));
        mean_[k] = sums.sum[k] / nUsed_;
      } else {
        rms_[k] = mean_[k] = 0.0;
      }
    }
  } else {
    sigma0_ = 0.0;
    for (int k = 0; k < 3; ++k) rms_[k] = mean_[k] = minimum_[k] = maximum_[k] = 0.0;
  }
}

// Coordinates beyond the range of the computation (a value with a huge
// exponent in a coordinate file) make the residuals of the last pass or the
// parameters overflow: nothing of such a solution can be reported.
bool Estimator::overflowed(const Statistics& sums) const {
  bool finite = std::isfinite(sums.ssq);
  for (int k = 0; k < kMaxPar && finite; ++k) finite = std::isfinite(p_[k]);
  return !finite;
}

// The convergence test of the last step: no correction both beyond its
// formal error (at sigma0 of the pass) and beyond its kind's threshold.
bool Estimator::converged() const {
  for (int c = 0; c < nPar_; ++c) {
    const double q = qMat_[c * nPar_ + c];
    if (q < 0.0) return true;
    if (std::fabs(dx_[c]) > sigma0_ * std::sqrt(q / 3.0) &&
        std::fabs(dx_[c]) > kThreshold[parOf_[c]]) {
      return false;
    }
  }
  return true;
}

// The final pass: the report, with the residuals of the last pass (the
// same parameters and stations) computed again station by station, the
// results, and the list of rejected stations.
void Estimator::finalPass() {
  report_.head(in_.title1, in_.title2, in_.datumName);
  out_.rmsTrn = sigma0_;
  if (in_.iPrt >= 2) residualTable();
  takeStatistics(sweep_.statistics());
  out_.rmsTrn = sigma0_;
  report_.tableFoot();
  report_.statistics(rms_, mean_, minimum_, maximum_);
  report_.counts(nParReported_, 3 * nUsed_, sigma0_);
  if (in_.system == ResidualSystem::Local) report_.barycentre(ellBary_[0], ellBary_[1], ellBary_[2]);
  if (nPar_ >= 1) report_.parameterHead();
  writeResults();
  if (nPar_ >= 1) report_.iterations(iteration_);
  if (in_.reject) {
    const HelmRejections rejected = rejections();
    if (rejected.rejected == 0) {
      report_.rejection(rejected);
      removeRejectedList();
    } else {
      const bool list = openRejectedList();
      report_.rejection(rejected);
      if (list) writeRejectedList(rejected, rms_);
    }
  }
}

// The rows of the residual table, made by the threads a block of chunks at
// a time and written in station order.
void Estimator::residualTable() const {
  constexpr std::size_t kRowChunks = 8;
  std::array<std::string, kRowChunks> rows;
  const std::size_t n = st_.n;
  for (std::size_t first = 0; first < n; first += kRowChunks * kChunkStations) {
    const std::size_t last = std::min(n, first + kRowChunks * kChunkStations);
    const std::size_t nChunks = (last - first + kChunkStations - 1) / kChunkStations;
    pool_.run(nChunks, [this, &rows, first, last](std::size_t c) {
      rows[c].clear();
      const std::size_t begin = first + c * kChunkStations;
      const std::size_t end = std::min(last, begin + kChunkStations);
      for (std::size_t j = begin; j < end; ++j) {
        if (out_.ITYP[j] == kExcluded) continue;
        double v[3];
        residual(st_, point_, j, v);
        const int number = in_.numbers[j] != 0 ? in_.numbers[j] : static_cast<int>(j + 1);
        report_.stationRow(rows[c], number, in_.names[j], in_.flags[2 * j], in_.flags[2 * j + 1],
                           v, handlingOf(out_.ITYP[j]));
      }
    });
    for (std::size_t c = 0; c < nChunks; ++c) report_.writeRows(rows[c]);
  }
}

// The rejected stations with their residuals of the final pass.
HelmRejections Estimator::rejections() const {
  HelmRejections r;
  r.accepted = nUsed_;
  for (std::size_t j = 0; j < st_.n; ++j) {
    if (out_.ITYP[j] != kRejected) continue;
    double v[3];
    residual(st_, point_, j, v);
    ++r.rejected;
    r.names.push_back(in_.names[j]);
    r.residuals.insert(r.residuals.end(), v, v + 3);
  }
  return r;
}

// The parameters and their formal errors, each estimated one with its line
// of the report, and the RMS of the components.
void Estimator::writeResults() {
  int c = 0;
  for (int k = 0; k < kMaxPar; ++k) {
    if (in_.iPar[k] == 1) {
      out_.param[k] = p_[k];
      out_.rmsPar[k] = sigma0_ * std::sqrt(qMat_[c * nPar_ + c]);
      report_.parameterLine(k, out_.param[k], out_.rmsPar[k]);
      ++c;
    } else {
      out_.param[k] = k < 6 ? 0.0 : 1.0;
      out_.rmsPar[k] = 0.0;
    }
  }
  for (int k = 0; k < 3; ++k) out_.rmsCmp[k] = rms_[k];
}

// Error block on the message unit, then the stop.
void Estimator::stop(const char* what) const {
  rt::writeFmt(LFNMSG,
               "(/,' *** SR HELMTR: ',A,/,16X,'NUMBER OF PARAMETERS:',I7,/,16X,'STATIONS STILL "
               "USED :',I7,/)",
               {what, nPar_, nUsed_});
  EXITRC(2);
}

}  // namespace helm
