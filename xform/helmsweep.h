// Sweeps of the Helmert estimator over the stations.
//
// One sweep visits the stations at one set of parameters (the linearisation
// point) and yields the sums of the normal equations and/or the residual
// statistics with the rejection candidate. Every sum is folded one station
// after the other in station order, exactly as one loop over the stations:
// sums of parts added afterwards would round differently and change the
// printed results. Threads share the sums by accumulator instead: each
// folds its own accumulators over every station, so each sum is the one of
// the single loop whatever the number of threads. What does not depend on
// the order (the rejection candidate alone, the north/east/up matrices) is
// shared by the threads of a pool over fixed chunks of kChunkStations,
// combined in chunk order.
#pragma once

#include <cstddef>
#include <vector>

#include "runtime/chunkpool.h"
#include "xform/helmcodes.h"

namespace helm {

constexpr int kMaxPar = 7;
// Stations per chunk.
constexpr std::size_t kChunkStations = 2048;

// The stations and the frame in which the estimation works. Station j has
// its coordinates at x1[3j], x2[3j] and its handling at code[j]. The
// working coordinates are derived on the fly: w = frame * (x - b), the
// subtraction only where sub1 / sub2 is set and the rotation only where
// rotate is set.
struct Stations {
  std::size_t n = 0;
  const double* x1 = nullptr;  // target set
  const double* x2 = nullptr;  // set that is transformed
  const int* code = nullptr;  // ITYP values (helmcodes.h: any other value is marked)
  bool sub1 = false, sub2 = false, rotate = false;
  double b1[3] = {0.0, 0.0, 0.0};
  double b2[3] = {0.0, 0.0, 0.0};
  double frame[9] = {};
  // Residual system: Equatorial with the north/east/up matrix of station j
  // at neuMat[9j]; Projection on x2 and aux[3j] (zeros past nAux values);
  // the others: the estimation frame. onAxis[j] (Equatorial, Projection):
  // the station lies on the polar axis and gets a zero residual.
  ResidualSystem system = ResidualSystem::Frame;
  const double* neuMat = nullptr;
  const char* onAxis = nullptr;
  const double* aux = nullptr;
  std::size_t nAux = 0;
  // Rejection: iRej 1 with the limits of north, east and up.
  int iRej = 0;
  double rLimit[3] = {0.0, 0.0, 0.0};
  // A residual whose squared length in the estimation frame is below this
  // cannot exceed a limit in the residual system (0: no such bound).
  double screen = 0.0;
};

// What a sweep yields from the residuals: nothing, the rejection candidate
// alone, or the statistics with the candidate.
enum class Residuals { None, Candidate, Statistics };

// The linearisation point: translation, s R, R and the derivative matrices
// of the estimated rotations (s R3 R2 R1 differentiated by rx, ry, rz), and
// the estimated parameters in parameter order (0-2 translations, 3-5
// rotations, 6 scale).
struct Point {
  double t[3] = {0.0, 0.0, 0.0};
  double sRot[9] = {};
  double rot[9] = {};
  double deriv[3][9] = {};
  int nPar = 0;
  int parOf[kMaxPar] = {};
};

// Normal matrix (element (c, d), d <= c, at nrm[d * nPar + c]; the others
// stay 0) and right-hand side.
struct Normals {
  double nrm[kMaxPar * kMaxPar];
  double rhs[kMaxPar];
  void clear();
};

// Residual statistics of the used stations and the rejection candidate: the
// used station with the largest norm among those beyond a limit (-1: none),
// the first in station order of equal norms. A sweep for the candidate alone
// leaves the sums 0.
struct Statistics {
  double ssq;
  double sumSq[3];
  double sum[3];
  double minimum[3];  // from 0.0
  double maximum[3];  // from 0.0
  long candidate;
  double bestNorm;
  void clear();
  // Takes the candidate of a later chunk (the sums are not added: they are
  // folded station after station).
  void takeCandidate(const Statistics& chunk);
};

// Residual of one shown station (not excluded) at the point, in the
// residual system.
void residual(const Stations& s, const Point& pt, std::size_t j, double* v);

// Sweeps over the stations of a network.
class Sweep {
 public:
  // portable: the plain kernels only, also where the processor has wide
  // vectors (they give the same results; for comparisons).
  Sweep(const Stations& stations, rt::ChunkPool& pool, bool portable = false);

  std::size_t chunks() const { return slots_.size(); }

  // Normal equations (normals) and/or what the residuals give at the point.
  // A sweep for the candidate alone is shared by the threads over chunks of
  // stations; a sweep with normal equations of rotations or the scale by
  // groups of accumulators; every other sweep folds its sums on the calling
  // thread.
  void run(const Point& pt, bool normals, Residuals residuals);

  const Normals& normals() const { return normals_; }
  const Statistics& statistics() const { return stats_; }

  // The north/east/up matrix (XYZELL and NEUCART from X/Y/Z) in the datum
  // at the target coordinates of every station that is not excluded and
  // not on the polar axis, 9 per station into neuMat (zeros for the
  // others); returns the largest squared length of a matrix row (not a
  // number if one is not). A station near the geocentre, where the
  // conversion may write a warning, is done after the others, one by one
  // in station order.
  double neuMatrices(double aEll, double bEll, const double* dxEll, const double* drEll,
                     double scEll, double* neuMat);

  // Sums of the input coordinates of the used stations (3 each set).
  void coordinateSums(double* sum1, double* sum2) const;

 private:
  struct alignas(64) Slot {
    Statistics stats;
    double rowSq;
  };

  // The sums of the normal equations folded by several threads, each its
  // own group of accumulators over all used stations in station order
  // (block after block of kSplitBlock stations, the groups of a block shared
  // by the pool's threads); the residual sums are one more group. Returns
  // false where the one-thread kernel serves: a pool that would use fewer
  // than kSplitThreads threads now, or the translations alone.
  static constexpr std::size_t kSplitBlock = 16384;
  static constexpr int kSplitThreads = 3;
  bool runSplit(const Point& pt, Residuals mode);

  const Stations& s_;
  rt::ChunkPool& pool_;
  bool portable_;
  std::vector<Slot> slots_;
  Normals normals_;
  Statistics stats_;
};

}  // namespace helm
