// The Helmert estimator behind HELMTR: iterated least squares with outlier
// rejection, as a sequence of named steps over the stations.
//
// Steps, and the sweeps over the stations (xform/helmsweep.h) each makes:
//   residual matrices  (residuals at each station) the north/east/up matrix
//                      of every shown station, once
//   barycentres        the coordinate sums of the used stations; again after
//                      each rejection
//   linearise          rotation, s R and derivative matrices at p; no sweep
//   normal equations   a sweep of their own, at the start and after a
//                      rejection
//   solve              N dx = b and p += dx, then linearise; no sweep
//   residual pass      at the new point, with rejection first a sweep for
//                      the candidate alone; without a candidate a sweep for
//                      the statistics that makes the normal equations at the
//                      same point: those the next solve uses
//   final pass         the residuals again, station by station, for the
//                      report; the results and the rejection part
// Every sum is folded in station order, whatever the number of threads.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "runtime/chunkpool.h"
#include "stations/station.h"
#include "xform/helmcodes.h"
#include "xform/helmrep.h"
#include "xform/helmsweep.h"

namespace helm {

// What the estimator is given: HELMTR's input arguments, with the residual
// system and unit converted (see xform/helmtr.h for units and layouts).
struct Problem {
  std::size_t n = 0;  // stations
  std::string_view title1, title2;
  std::span<const t_staName> names;
  std::span<const int> numbers;
  std::span<const char> flags;  // 2 per station
  std::span<const double> x2, x1, aux;
  std::span<const int> iPar;  // 7: 1 estimated
  ResidualSystem system = ResidualSystem::Frame;
  ResidualUnit unit = ResidualUnit::Metres;
  std::string_view datumName;
  double aEll = 0.0, bEll = 0.0, scEll = 0.0;
  const double* dxEll = nullptr;
  const double* drEll = nullptr;
  int printUnit = 0;
  int iPrt = 0;
  bool reject = false;
  const double* rLimit = nullptr;  // north, east, up
};

// Where the estimator puts its results: HELMTR's output arguments.
struct Results {
  std::span<int> ITYP;  // rejected stations set to kRejected
  std::span<double> param, rmsPar, rmsCmp;
  double& rmsTrn;
  int& nDof;
};

class Estimator {
 public:
  Estimator(const Problem& problem, const Results& results);
  Estimator(const Estimator&) = delete;
  Estimator& operator=(const Estimator&) = delete;

  // The whole estimation, the report and the list of rejected stations;
  // stops the run as HELMTR states.
  void run();

 private:
  // What a residual pass yields: the station to reject (-1: none) or the
  // statistics of the residuals and the normal equations at the same point.
  struct Pass {
    long rejected;
    const Statistics* sums;
    const Normals* next;
  };

  void allocateWorkspace();
  void allocateMatrices();
  void residualMatrices();
  void barycentres();
  void iterate();
  void linearise();
  const Normals& normalEquations();
  void solve(const Normals& normals);
  bool invert(const Normals& normals);
  Pass residualPass();
  void reject(long station);
  void takeStatistics(const Statistics& sums);
  bool overflowed(const Statistics& sums) const;
  bool converged() const;
  void finalPass();
  void residualTable() const;
  HelmRejections rejections() const;
  void writeResults();
  [[noreturn]] void stop(const char* what) const;

  const Problem in_;
  const Results out_;
  const HelmReport report_;
  const int nPar_;
  // Both sets reduced to their barycentres: the three translations that
  // this implies count as parameters in the report and in sigma0.
  const bool reduce_;
  const int nParReported_;
  int parOf_[kMaxPar] = {};
  int nUsed_ = 0;

  // The station view and its sweep.
  std::vector<char> onAxis_;
  std::unique_ptr<double[]> neuMat_;
  Stations st_;
  rt::ChunkPool alone_{1};
  rt::ChunkPool& pool_;
  Sweep sweep_;
  double ellBary_[3] = {0.0, 0.0, 0.0};

  // The solution: parameters, linearisation point, inverse normal matrix
  // and the last corrections.
  std::array<double, kMaxPar> p_ = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0};
  Point point_;
  double qMat_[kMaxPar * kMaxPar] = {};
  double dx_[kMaxPar] = {};
  int iteration_ = 0;
  int stepsSinceRejection_ = 0;

  // Statistics of the last pass without rejection.
  double sigma0_ = 0.0;
  double rms_[3] = {0.0, 0.0, 0.0};
  double mean_[3] = {0.0, 0.0, 0.0};
  double minimum_[3] = {0.0, 0.0, 0.0};
  double maximum_[3] = {0.0, 0.0, 0.0};
};

}  // namespace helm
