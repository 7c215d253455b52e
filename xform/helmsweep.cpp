// Sweeps of the Helmert estimator over the stations.
#include "xform/helmsweep.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <type_traits>
#include <utility>

#include "stations/algebra.h"
#include "stations/ellips.h"

namespace helm {

void Normals::clear() {
  std::fill(std::begin(nrm), std::end(nrm), 0.0);
  std::fill(std::begin(rhs), std::end(rhs), 0.0);
}

void Statistics::clear() {
  ssq = 0.0;
  for (int k = 0; k < 3; ++k) sumSq[k] = sum[k] = minimum[k] = maximum[k] = 0.0;
  candidate = -1;
  bestNorm = 0.0;
}

namespace {

// The per-station steps are inlined into each kernel, also into the one
// compiled for wide vectors.
#define XF_INLINE [[gnu::always_inline]] inline

// Working coordinates of station j.
XF_INLINE void working(const Stations& s, std::size_t j, double* w1, double* w2) {
  const double* x1 = &s.x1[3 * j];
  const double* x2 = &s.x2[3 * j];
  w1[0] = x1[0];
  w1[1] = x1[1];
  w1[2] = x1[2];
  w2[0] = x2[0];
  w2[1] = x2[1];
  w2[2] = x2[2];
  if (s.sub1) {
    w1[0] -= s.b1[0];
    w1[1] -= s.b1[1];
    w1[2] -= s.b1[2];
  }
  if (s.sub2) {
    w2[0] -= s.b2[0];
    w2[1] -= s.b2[1];
    w2[2] -= s.b2[2];
  }
  if (s.rotate) {
    MVEC33(w1, s.frame, w1);
    MVEC33(w2, s.frame, w2);
  }
}

// y := w2 + T and the residual v := w1 - s R y in the estimation frame.
XF_INLINE void frameResidual(const Point& pt, const double* w1, const double* w2, double* y,
                          double* v) {
  double z[3];
  y[0] = w2[0] + pt.t[0];
  y[1] = w2[1] + pt.t[1];
  y[2] = w2[2] + pt.t[2];
  MVEC33(y, pt.sRot, z);
  v[0] = w1[0] - z[0];
  v[1] = w1[1] - z[1];
  v[2] = w1[2] - z[2];
}

// v, in the estimation frame, into the residual system.
XF_INLINE void toResidualSystem(const Stations& s, std::size_t j, double* v) {
  if (s.system == ResidualSystem::Equatorial) {
    if (s.onAxis[j]) {
      v[0] = v[1] = v[2] = 0.0;
    } else {
      MVEC33(v, &s.neuMat[9 * j], v);
    }
  } else if (s.system == ResidualSystem::Projection) {
    if (s.onAxis[j]) {
      v[0] = v[1] = v[2] = 0.0;
    } else {
      static const double none[3] = {0.0, 0.0, 0.0};
      const double* dirV = s.nAux >= 3 * (j + 1) ? &s.aux[3 * j] : none;
      PROJDIR(v, &s.x2[3 * j], dirV, v);
    }
  }
}

// Parameter kinds: translations, rotations, scale.
enum Kinds : unsigned { kTranslations = 1, kRotations = 2, kScale = 4 };

// The sums of the normal equations fall into parts, each of its own
// accumulators: several threads can fold the parts of one sweep apart, each
// part over every used station in station order, with the same operations
// as the kernel that folds them all.
enum SumPart : unsigned {
  kPartT = 1u << 0,     // the translation block: ttAcc and rhsT
  kPartRt = 1u << 1,    // rt[d]: kPartRt << d, d = 0..2
  kPartRr = 1u << 4,    // rr[d]: kPartRr << d, d = 0..3
  kPartRhsR = 1u << 8,  // rhsR
  kAllParts = (1u << 9) - 1,
};

// The design matrix of a station has, for translation k, the k-th column
// of s R, for a rotation its derivative matrix times y and for the scale
// R y; the normal matrix grows by its columns' products and the right-hand
// side by their products with l, each product a[c] . a[d] summed as
// (a[c][0] a[d][0] + a[c][1] a[d][1]) + a[c][2] a[d][2]. The sums run over
// the parameter kinds (unpacked) and are packed into the estimated
// parameters at the end: each element still sums the same products in
// station order.

// Columns of the kinds from kFirst to kLast - 1, one by one: for the
// translations alone, or whatever kinds where vectors are not at hand. A
// rotation that is not estimated has a zero derivative matrix.
template <unsigned kKinds>
struct ScalarDesign {
  static constexpr int kFirst =
      (kKinds & kTranslations) ? 0 : ((kKinds & kRotations) ? 3 : 6);
  static constexpr int kLast = (kKinds & kScale) ? 7 : ((kKinds & kRotations) ? 6 : 3);
  const Point& pt;
  double a[kMaxPar][3] = {};
  double acc[kMaxPar][kMaxPar] = {};
  double rhs[kMaxPar] = {};

  explicit ScalarDesign(const Point& point) : pt(point) {
    for (int c = 0; c < 3; ++c) {
      for (int i = 0; i < 3; ++i) a[c][i] = pt.sRot[3 * c + i];
    }
  }
  template <unsigned kParts = kAllParts>
  XF_INLINE void add(const double* y, const double* l) {
    if constexpr (kFirst <= 3 && kLast >= 6) {
      MVEC33(y, pt.deriv[0], a[3]);
      MVEC33(y, pt.deriv[1], a[4]);
      MVEC33(y, pt.deriv[2], a[5]);
    }
    if constexpr (kLast == 7) MVEC33(y, pt.rot, a[6]);
#pragma GCC unroll 7
    for (int c = kFirst; c < kLast; ++c) {
#pragma GCC unroll 7
      for (int d = kFirst; d <= c; ++d) {
        const double p = a[c][0] * a[d][0] + a[c][1] * a[d][1] + a[c][2] * a[d][2];
        acc[c][d] += p;
      }
      rhs[c] += a[c][0] * l[0] + a[c][1] * l[1] + a[c][2] * l[2];
    }
  }
  double element(int c, int d) const { return acc[c][d]; }
  double rightSide(int c) const { return rhs[c]; }
};

// All seven kinds, the four columns of the rotations and the scale side by
// side in the lanes of a vector (lane c - 3 for kind c); each lane does the
// operations of the scalar sums in the same order.
typedef double Lanes __attribute__((vector_size(32)));

struct VectorDesign {
  Lanes m[3][3];   // element (i, n) of the derivative matrices and of R
  Lanes tCol[3][3];  // element (i, d) of s R in every lane
  Lanes tRow[3];   // elements (i, 0..2) of s R, 0
  Lanes sCol[3];   // elements (0..2, n) of s R, 0
  double t[3];     // translation
  double tt[6];    // products of the translation columns (c, d), d <= c
  // Sums.
  double ttAcc[6] = {};
  Lanes rt[3] = {};  // (c, d), c = 3..6, d = 0..2
  Lanes rr[4] = {};  // (c, d), c = 3..6, d = 3..6
  Lanes rhsT = {};   // c = 0..2
  Lanes rhsR = {};   // c = 3..6

  VectorDesign() = default;
  explicit VectorDesign(const Point& pt) {
    for (int i = 0; i < 3; ++i) {
      for (int n = 0; n < 3; ++n) {
        m[i][n] = Lanes{pt.deriv[0][3 * n + i], pt.deriv[1][3 * n + i], pt.deriv[2][3 * n + i],
                        pt.rot[3 * n + i]};
      }
      for (int d = 0; d < 3; ++d) {
        const double e = pt.sRot[3 * d + i];
        tCol[i][d] = Lanes{e, e, e, e};
      }
      tRow[i] = Lanes{pt.sRot[i], pt.sRot[3 + i], pt.sRot[6 + i], 0.0};
      sCol[i] = Lanes{pt.sRot[3 * i], pt.sRot[3 * i + 1], pt.sRot[3 * i + 2], 0.0};
      t[i] = pt.t[i];
    }
    int e = 0;
    for (int c = 0; c < 3; ++c) {
      const double* ac = &pt.sRot[3 * c];
      for (int d = 0; d <= c; ++d) {
        const double* ad = &pt.sRot[3 * d];
        tt[e++] = ac[0] * ad[0] + ac[1] * ad[1] + ac[2] * ad[2];
      }
    }
  }
  // y := w2 + T and the residual v := w1 - s R y in the estimation frame,
  // the three elements of s R y in lanes.
  XF_INLINE void frameResidual(const double* w1, const double* w2, double* y, double* v) const {
    y[0] = w2[0] + t[0];
    y[1] = w2[1] + t[1];
    y[2] = w2[2] + t[2];
    const Lanes y0 = {y[0], y[0], y[0], y[0]};
    const Lanes y1 = {y[1], y[1], y[1], y[1]};
    const Lanes y2 = {y[2], y[2], y[2], y[2]};
    const Lanes zero = {0.0, 0.0, 0.0, 0.0};
    const Lanes z = ((zero + sCol[0] * y0) + sCol[1] * y1) + sCol[2] * y2;
    v[0] = w1[0] - z[0];
    v[1] = w1[1] - z[1];
    v[2] = w1[2] - z[2];
  }
  // Adds the products of one station to the sums of the parts kParts.
  template <unsigned kParts = kAllParts>
  XF_INLINE void add(const double* y, const double* l) {
    constexpr bool kColumns = (kParts & ~kPartT) != 0;
    Lanes r[3];
    if constexpr (kColumns) {
      const Lanes y0 = {y[0], y[0], y[0], y[0]};
      const Lanes y1 = {y[1], y[1], y[1], y[1]};
      const Lanes y2 = {y[2], y[2], y[2], y[2]};
      const Lanes zero = {0.0, 0.0, 0.0, 0.0};
      for (int i = 0; i < 3; ++i) r[i] = ((zero + m[i][0] * y0) + m[i][1] * y1) + m[i][2] * y2;
    }
    if constexpr ((kParts & kPartT) != 0) {
      for (int e = 0; e < 6; ++e) ttAcc[e] += tt[e];
    }
#pragma GCC unroll 3
    for (int d = 0; d < 3; ++d) {
      if ((kParts & (kPartRt << d)) == 0) continue;
      rt[d] += (r[0] * tCol[0][d] + r[1] * tCol[1][d]) + r[2] * tCol[2][d];
    }
#pragma GCC unroll 4
    for (int d = 0; d < 4; ++d) {
      if ((kParts & (kPartRr << d)) == 0) continue;
      const Lanes b0 = {r[0][d], r[0][d], r[0][d], r[0][d]};
      const Lanes b1 = {r[1][d], r[1][d], r[1][d], r[1][d]};
      const Lanes b2 = {r[2][d], r[2][d], r[2][d], r[2][d]};
      rr[d] += (r[0] * b0 + r[1] * b1) + r[2] * b2;
    }
    if constexpr ((kParts & (kPartT | kPartRhsR)) != 0) {
      const Lanes l0 = {l[0], l[0], l[0], l[0]};
      const Lanes l1 = {l[1], l[1], l[1], l[1]};
      const Lanes l2 = {l[2], l[2], l[2], l[2]};
      if constexpr ((kParts & kPartT) != 0) rhsT += (tRow[0] * l0 + tRow[1] * l1) + tRow[2] * l2;
      if constexpr ((kParts & kPartRhsR) != 0) rhsR += (r[0] * l0 + r[1] * l1) + r[2] * l2;
    }
  }
  // Takes the sums of the parts from another design.
  void take(const VectorDesign& from, unsigned parts) {
    if ((parts & kPartT) != 0) {
      std::copy(std::begin(from.ttAcc), std::end(from.ttAcc), ttAcc);
      rhsT = from.rhsT;
    }
    for (int d = 0; d < 3; ++d) {
      if ((parts & (kPartRt << d)) != 0) rt[d] = from.rt[d];
    }
    for (int d = 0; d < 4; ++d) {
      if ((parts & (kPartRr << d)) != 0) rr[d] = from.rr[d];
    }
    if ((parts & kPartRhsR) != 0) rhsR = from.rhsR;
  }
  double element(int c, int d) const {
    if (c < 3) return ttAcc[c * (c + 1) / 2 + d];
    return d < 3 ? rt[d][c - 3] : rr[d - 3][c - 3];
  }
  double rightSide(int c) const { return c < 3 ? rhsT[c] : rhsR[c - 3]; }
};

// The parts of the vector kernel that hold the normal equations of the
// point's parameters.
unsigned partsOf(const Point& pt) {
  unsigned parts = 0;
  for (int c = 0; c < pt.nPar; ++c) {
    const int kc = pt.parOf[c];
    for (int d = 0; d <= c; ++d) {
      const int kd = pt.parOf[d];
      parts |= kc < 3 ? kPartT : (kd < 3 ? kPartRt << kd : kPartRr << (kd - 3));
    }
    parts |= kc < 3 ? kPartT : kPartRhsR;
  }
  return parts;
}

// No normal equations.
struct NoDesign {
  explicit NoDesign(const Point&) {}
  template <unsigned kParts = kAllParts>
  XF_INLINE void add(const double*, const double*) {}
  double element(int, int) const { return 0.0; }
  double rightSide(int) const { return 0.0; }
};

// The rejection test of a used station with residual v in the residual
// system: beyond a limit and of a larger norm than the best so far.
XF_INLINE void testCandidate(const Stations& s, std::size_t j, const double* v,
                             Statistics& st) {
  if (s.iRej == 1 && (std::fabs(v[0]) > s.rLimit[0] || std::fabs(v[1]) > s.rLimit[1] ||
                      std::fabs(v[2]) > s.rLimit[2])) {
    const double norm = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (norm > st.bestNorm) {
      st.candidate = static_cast<long>(j);
      st.bestNorm = norm;
    }
  }
}

// Stations [begin, end) folded into the sums of design (its parts kParts)
// and of st: the normal equations over the used stations, and the
// statistics over the used ones with the candidate, or the candidate alone.
template <unsigned kParts, class Design, Residuals kMode>
XF_INLINE void fold(const Stations& s, const Point& pt, std::size_t begin, std::size_t end,
                    Design& design, Statistics& st) {
  constexpr bool kNormals = !std::is_same_v<Design, NoDesign>;
  for (std::size_t j = begin; j < end; ++j) {
    if (s.code[j] != kUsed) continue;  // only used stations enter sums or candidates
    double w1[3], w2[3], y[3], v[3];
    working(s, j, w1, w2);
    if constexpr (std::is_same_v<Design, VectorDesign>) {
      design.frameResidual(w1, w2, y, v);
    } else {
      frameResidual(pt, w1, w2, y, v);
    }
    if constexpr (kNormals) design.template add<kParts>(y, v);
    if constexpr (kMode == Residuals::Statistics) {
      toResidualSystem(s, j, v);
      st.ssq = st.ssq + v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
#pragma GCC unroll 3
      for (int k = 0; k < 3; ++k) {
        st.sumSq[k] += v[k] * v[k];
        st.sum[k] += v[k];
        st.minimum[k] = std::min(st.minimum[k], v[k]);
        st.maximum[k] = std::max(st.maximum[k], v[k]);
      }
      testCandidate(s, j, v, st);
    } else if constexpr (kMode == Residuals::Candidate) {
      // A residual too short to exceed a limit in any system needs no
      // conversion.
      if (v[0] * v[0] + v[1] * v[1] + v[2] * v[2] < s.screen) continue;
      toResidualSystem(s, j, v);
      testCandidate(s, j, v, st);
    }
  }
}

// The normal equations of the point's parameters from the sums of design.
template <class Design>
XF_INLINE void pack(const Design& design, const Point& pt, Normals& normals) {
  const int nPar = pt.nPar;
  normals.clear();
  for (int c = 0; c < nPar; ++c) {
    for (int d = 0; d <= c; ++d) {
      normals.nrm[d * nPar + c] = design.element(pt.parOf[c], pt.parOf[d]);
    }
    normals.rhs[c] = design.rightSide(pt.parOf[c]);
  }
}

// One chunk [begin, end), every sum from zero.
template <class Design, Residuals kMode>
XF_INLINE void sweepRange(const Stations& s, const Point& pt, std::size_t begin, std::size_t end,
                          Normals& normals, Statistics& stats) {
  Design design(pt);
  Statistics st;
  st.clear();
  fold<kAllParts, Design, kMode>(s, pt, begin, end, design, st);
  if constexpr (!std::is_same_v<Design, NoDesign>) pack(design, pt, normals);
  if constexpr (kMode != Residuals::None) stats = st;
}

// A kernel kBody compiled twice: for any processor of the kind, and for
// processors with 256-bit vectors (no fused multiply-add: every operation is
// the same, so are the results). Fn is the routine's pointer type.
template <class Fn, auto kBody>
struct Compiled;
template <class... Args, auto kBody>
struct Compiled<void (*)(Args...), kBody> {
  static void base(Args... args) { kBody(args...); }
#if defined(__x86_64__)
  __attribute__((target("avx2"))) static void avx2(Args... args) {
    kBody(args...);
    // Code compiled for any processor follows: the upper halves of the
    // vector registers are cleared.
    __builtin_ia32_vzeroupper();
  }
#endif
  static auto choose(bool wide) -> void (*)(Args...) {
#if defined(__x86_64__)
    if (wide) return &avx2;
#endif
    (void)wide;
    return &base;
  }
};

using RangeFn = void (*)(const Stations&, const Point&, std::size_t, std::size_t, Normals&,
                         Statistics&);

// The processor has 256-bit vectors.
bool wideVectors() {
#if defined(__x86_64__)
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
#else
  return false;
#endif
}

template <class Design, Residuals kMode>
RangeFn rangeFor(bool wide) {
  return Compiled<RangeFn, &sweepRange<Design, kMode>>::choose(wide);
}

template <class Design>
RangeFn rangeFor(Residuals mode, bool wide) {
  switch (mode) {
    case Residuals::Statistics:
      return rangeFor<Design, Residuals::Statistics>(wide);
    case Residuals::Candidate:
      return rangeFor<Design, Residuals::Candidate>(wide);
    default:
      return rangeFor<Design, Residuals::None>(wide);
  }
}

// The plain kernel for the estimated kinds.
RangeFn scalarRange(unsigned kinds, Residuals mode) {
  switch (kinds) {
    case kTranslations:
      return rangeFor<ScalarDesign<kTranslations>>(mode, false);
    case kRotations:
      return rangeFor<ScalarDesign<kRotations>>(mode, false);
    case kScale:
      return rangeFor<ScalarDesign<kScale>>(mode, false);
    case kRotations | kScale:
      return rangeFor<ScalarDesign<kRotations | kScale>>(mode, false);
    case kTranslations | kRotations:
      return rangeFor<ScalarDesign<kTranslations | kRotations>>(mode, false);
    default:
      return rangeFor<ScalarDesign<kTranslations | kRotations | kScale>>(mode, false);
  }
}

// The routine for one sweep: normal equations of the point's parameters
// and/or what the residuals give; the vector kernel where the processor
// has wide vectors and rotations or the scale are estimated, unless the
// plain kernels are asked for.
RangeFn chooseRange(const Point& pt, bool normals, Residuals mode, bool portable) {
  unsigned kinds = 0;
  for (int c = 0; c < pt.nPar; ++c) {
    const int k = pt.parOf[c];
    kinds |= k < 3 ? kTranslations : (k < 6 ? kRotations : kScale);
  }
  if (!normals || kinds == 0) {
    return mode == Residuals::None ? nullptr : rangeFor<NoDesign>(mode, false);
  }
  if (kinds != kTranslations && !portable && wideVectors()) {
    return rangeFor<VectorDesign>(mode, true);
  }
  return scalarRange(kinds, mode);
}

// A group of parts of the normal equations (kParts), or the residuals alone
// (kParts 0, mode kMode), folded by one thread over a block of stations:
// the sums go on from those of the blocks before.
using GroupFn = void (*)(const Stations&, const Point&, std::size_t, std::size_t,
                         VectorDesign&, Statistics&);

template <unsigned kParts, Residuals kMode>
XF_INLINE void foldGroup(const Stations& s, const Point& pt, std::size_t begin, std::size_t end,
                         VectorDesign& design, Statistics& st) {
  // The sums are carried in local copies: those in memory could be the
  // coordinates for all the compiler knows.
  if constexpr (kParts == 0) {
    NoDesign none(pt);
    Statistics sums = st;
    fold<0, NoDesign, kMode>(s, pt, begin, end, none, sums);
    st = sums;
  } else {
    VectorDesign sums = design;
    fold<kParts, VectorDesign, Residuals::None>(s, pt, begin, end, sums, st);
    design = sums;
  }
}

template <unsigned kParts, Residuals kMode>
GroupFn groupFor(bool wide) {
  return Compiled<GroupFn, &foldGroup<kParts, kMode>>::choose(wide);
}

// The groups of parts that threads fold apart: the translation block, the
// products of the rotation/scale columns with the translation columns, each
// of the four columns' products with the others, and their right-hand side.
constexpr unsigned kGroups[] = {kPartT,        7 * kPartRt,   kPartRr,  kPartRr << 1,
                                kPartRr << 2, kPartRr << 3, kPartRhsR};
constexpr std::size_t kGroupCount = sizeof(kGroups) / sizeof(kGroups[0]);

template <std::size_t... I>
GroupFn groupOf(std::size_t i, bool wide, std::index_sequence<I...>) {
  GroupFn fn = nullptr;
  ((fn = i == I ? groupFor<kGroups[I], Residuals::None>(wide) : fn), ...);
  return fn;
}

GroupFn residualGroup(Residuals mode, bool wide) {
  return mode == Residuals::Statistics ? groupFor<0, Residuals::Statistics>(wide)
                                       : groupFor<0, Residuals::Candidate>(wide);
}

// One group of a split sweep: its kernel, the parts it folds (0: the
// residual sums) and its sums.
struct alignas(64) Group {
  VectorDesign design;
  Statistics stats;
  GroupFn fn;
  unsigned parts;
};

}  // namespace

void Statistics::takeCandidate(const Statistics& chunk) {
  if (chunk.candidate >= 0 && chunk.bestNorm > bestNorm) {
    candidate = chunk.candidate;
    bestNorm = chunk.bestNorm;
  }
}

void residual(const Stations& s, const Point& pt, std::size_t j, double* v) {
  double w1[3], w2[3], y[3];
  working(s, j, w1, w2);
  frameResidual(pt, w1, w2, y, v);
  toResidualSystem(s, j, v);
}

Sweep::Sweep(const Stations& stations, rt::ChunkPool& pool, bool portable)
    : s_(stations),
      pool_(pool),
      portable_(portable),
      slots_((stations.n + kChunkStations - 1) / kChunkStations) {
  normals_.clear();
  stats_.clear();
}

bool Sweep::runSplit(const Point& pt, Residuals mode) {
  // Each group of accumulators takes its share of the work on every
  // station (coordinates, residual, design columns): with two threads one
  // thread folding all sums is faster.
  // The work of a job, for the pool: each group visits every station of a
  // block (every block counted as a full one).
  const std::size_t work = std::min(s_.n, kSplitBlock) * (kGroupCount + 1);
  if (pool_.threadsFor(work) < kSplitThreads) return false;
  const unsigned needed = partsOf(pt);
  // The translations alone: the plain kernel.
  if ((needed & ~kPartT) == 0) return false;
  const bool wide = !portable_ && wideVectors();
  std::size_t nGroups = 0;
  std::array<Group, kGroupCount + 1> groups;
  for (std::size_t i = 0; i < kGroupCount; ++i) {
    if ((kGroups[i] & needed) == 0) continue;
    Group& g = groups[nGroups++];
    g.design = VectorDesign(pt);
    g.parts = kGroups[i];
    g.fn = groupOf(i, wide, std::make_index_sequence<kGroupCount>{});
  }
  if (mode != Residuals::None) {
    Group& g = groups[nGroups++];
    g.stats.clear();
    g.parts = 0;
    g.fn = residualGroup(mode, wide);
  }
  for (std::size_t begin = 0; begin < s_.n; begin += kSplitBlock) {
    const std::size_t end = std::min(begin + kSplitBlock, s_.n);
    pool_.run(
        nGroups,
        [this, &pt, &groups, begin, end](std::size_t g) {
          groups[g].fn(s_, pt, begin, end, groups[g].design, groups[g].stats);
        },
        work);
  }
  VectorDesign all(pt);
  for (std::size_t g = 0; g < nGroups; ++g) {
    if (groups[g].parts != 0) {
      all.take(groups[g].design, groups[g].parts);
    } else {
      stats_ = groups[g].stats;
    }
  }
  pack(all, pt, normals_);
  return true;
}

void Sweep::run(const Point& pt, bool normals, Residuals mode) {
  if (normals && runSplit(pt, mode)) return;
  const RangeFn range = chooseRange(pt, normals, mode, portable_);
  if (range == nullptr) return;
  if (!normals && mode == Residuals::Candidate) {
    // The candidate alone: the chunks in any order, then the first of the
    // largest in chunk order.
    pool_.run(
        slots_.size(),
        [this, &pt, range](std::size_t chunk) {
          const std::size_t begin = chunk * kChunkStations;
          const std::size_t end = std::min(begin + kChunkStations, s_.n);
          range(s_, pt, begin, end, normals_, slots_[chunk].stats);
        },
        s_.n);
    stats_.clear();
    for (const Slot& slot : slots_) stats_.takeCandidate(slot.stats);
    return;
  }
  range(s_, pt, 0, s_.n, normals_, stats_);
}

double Sweep::neuMatrices(double aEll, double bEll, const double* dxEll, const double* drEll,
                          double scEll, double* neuMat) {
  // Away from the datum's centre by more than half the semi-major axis, a
  // point of an ellipsoid of usual flattening is far from where the
  // conversion warns.
  const double e2 = (aEll * aEll - bEll * bEll) / (aEll * aEll);
  const bool usual = e2 >= 0.0 && e2 < 0.3 && aEll > 0.0 && scEll > 0.0;
  const double farSq = 0.25 * (aEll * scEll) * (aEll * scEll);
  auto wanted = [this, neuMat](std::size_t i) {
    if (s_.code[i] != kExcluded && !s_.onAxis[i]) return true;
    std::fill(&neuMat[9 * i], &neuMat[9 * i + 9], 0.0);
    return false;
  };
  auto isFar = [&](std::size_t i) {
    double sq = 0.0;
    for (int k = 0; k < 3; ++k) {
      const double d = s_.x1[3 * i + k] - dxEll[k];
      sq += d * d;
    }
    return usual && sq > farSq;
  };
  auto matrix = [&](std::size_t i, double& rowSq) {
    double ell[3], xyz[3] = {0.0, 0.0, 0.0}, neu[3];
    double* m = &neuMat[9 * i];
    XYZELL(aEll, bEll, dxEll, drEll, scEll, &s_.x1[3 * i], ell);
    NEUCART(ell[0], ell[1], ell[2], aEll, bEll, -1, xyz, neu, m);
    for (int r = 0; r < 3; ++r) {
      const double sq = m[r] * m[r] + m[3 + r] * m[3 + r] + m[6 + r] * m[6 + r];
      if (std::isnan(sq) || sq > rowSq) rowSq = sq;
    }
  };
  pool_.run(slots_.size(), [&](std::size_t chunk) {
    const std::size_t begin = chunk * kChunkStations;
    const std::size_t end = std::min(begin + kChunkStations, s_.n);
    double rowSq = 0.0;
    for (std::size_t i = begin; i < end; ++i) {
      if (wanted(i) && isFar(i)) matrix(i, rowSq);
    }
    slots_[chunk].rowSq = rowSq;
  });
  double rowSq = 0.0;
  for (const Slot& slot : slots_) {
    if (std::isnan(slot.rowSq) || slot.rowSq > rowSq) rowSq = slot.rowSq;
  }
  for (std::size_t i = 0; i < s_.n; ++i) {
    if (s_.code[i] != kExcluded && !s_.onAxis[i] && !isFar(i)) matrix(i, rowSq);
  }
  return rowSq;
}

void Sweep::coordinateSums(double* sum1, double* sum2) const {
  for (int k = 0; k < 3; ++k) sum1[k] = sum2[k] = 0.0;
  for (std::size_t i = 0; i < s_.n; ++i) {
    if (s_.code[i] != kUsed) continue;
    for (int k = 0; k < 3; ++k) {
      sum1[k] += s_.x1[3 * i + k];
      sum2[k] += s_.x2[3 * i + k];
    }
  }
}

}  // namespace helm
