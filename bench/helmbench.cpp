// Benchmark of the Helmert estimator: builds a synthetic network in memory
// (N stations spread over the globe, a known seven-parameter transformation,
// millimetre noise and K outliers of decimetres to metres), runs the
// estimator on it as the program does (X/Y/Z, seven parameters, rejection
// on with limits of 20/20/40 mm, report at print level 1 kept in memory),
// then times single sweeps over the network at the final parameters.
//
//   helmbench N K [SWEEPS]
//
// The number of threads is the program's: XFORM1_THREADS or the hardware.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "bench/network.h"
#include "frame/constants.h"
#include "runtime/chunkpool.h"
#include "runtime/units.h"
#include "stations/algebra.h"
#include "stations/ellips.h"
#include "stations/station.h"
#include "xform/helmsweep.h"
#include "xform/helmtr.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

constexpr double kA = 6378137.0;
constexpr double kB = 6356752.314140356;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: helmbench N K [SWEEPS]\n");
    return 2;
  }
  const long n = std::atol(argv[1]);
  const long k = std::atol(argv[2]);
  const int sweeps = argc > 3 ? std::atoi(argv[3]) : 20;
  if (n < 1 || k < 0 || k > n || sweeps < 1) {
    std::fprintf(stderr, "helmbench: need N >= 1, 0 <= K <= N, SWEEPS >= 1\n");
    return 2;
  }
  pi = 4.0 * std::atan(1.0);
  degPerRad = 180.0 / pi;
  arcsecPerRad = degPerRad * 3600.0;
  std::ostringstream report;
  rt::setConsoleOutput(&report);

  // The network.
  const auto made = Clock::now();
  const std::size_t ns = static_cast<std::size_t>(n);
  std::vector<double> x1(3 * ns), x2(3 * ns);
  bench::Network network(n, k);
  for (std::size_t i = 0; i < ns; ++i) network.next(&x1[3 * i], &x2[3 * i]);
  std::vector<t_staName> names(ns, t_staName(std::string(16, 'S')));
  std::vector<int> nums(ns, 0);
  std::vector<char> flags(2 * ns, 'R');
  std::vector<int> ityp(ns, 0);
  const double madeIn = secondsSince(made);

  // The estimator as the program runs it.
  const int iPar[7] = {1, 1, 1, 1, 1, 1, 1};
  const double limits[3] = {0.020, 0.020, 0.040};
  const double none[3] = {0.0, 0.0, 0.0};
  double param[7] = {}, rmsPar[7] = {}, rmsCmp[3] = {};
  double rmsTrn = 0.0;
  int nDof = 0;
  const int threads = rt::ChunkPool::shared().threads();
  const auto started = Clock::now();
  HELMTR("REFERENCE", "LOCAL", static_cast<int>(n), names, nums, flags, x2, x1, none, ityp, iPar,
         2, 2, "GRS80", kA, kB, none, none, 1.0, 6, 1, 1, limits, param, rmsPar, rmsTrn, nDof,
         rmsCmp);
  const double estimated = secondsSince(started);
  long rejected = 0;
  for (int code : ityp) rejected += code == -1 ? 1 : 0;
  // Solution steps: one per rejection, and those since the last one (the
  // iteration count less one).
  const std::string text = report.str();
  const std::string label = "NUMBER OF ITERATIONS  :";
  const std::size_t at = text.find(label);
  const long iterations = at == std::string::npos ? 0 : std::atol(text.c_str() + at + label.size());
  const long steps = rejected + (rejected > 0 ? iterations - 1 : iterations);

  // Single sweeps at the final parameters: normal equations with residual
  // statistics (one pass of the iteration), and normal equations alone.
  std::vector<double> neuMat(9 * ns);
  std::vector<char> onAxis(ns, 0);
  for (std::size_t i = 0; i < ns; ++i) {
    double ell[3], xyz[3] = {0.0, 0.0, 0.0}, neu[3];
    XYZELL(kA, kB, none, none, 1.0, &x1[3 * i], ell);
    NEUCART(ell[0], ell[1], ell[2], kA, kB, -1, xyz, neu, &neuMat[9 * i]);
  }
  helm::Stations st;
  st.n = ns;
  st.x1 = x1.data();
  st.x2 = x2.data();
  st.code = ityp.data();
  st.system = helm::ResidualSystem::Equatorial;
  st.neuMat = neuMat.data();
  st.onAxis = onAxis.data();
  st.iRej = 1;
  for (int c = 0; c < 3; ++c) st.rLimit[c] = limits[c];
  helm::Point point;
  point.nPar = 7;
  for (int c = 0; c < 7; ++c) point.parOf[c] = c;
  double r1[9], r2[9], r3[9];
  ROTAXM(1, param[3], r1);
  ROTAXM(2, param[4], r2);
  ROTAXM(3, param[5], r3);
  MMUL33(r2, r1, point.rot);
  MMUL33(r3, point.rot, point.rot);
  MSCAL33(point.rot, param[6], point.sRot);
  for (int c = 0; c < 3; ++c) point.t[c] = param[c];
  for (int axis = 1; axis <= 3; ++axis) {
    ROTAXD(axis, param[2 + axis], point.deriv[axis - 1]);
    MSCAL33(point.deriv[axis - 1], param[6], point.deriv[axis - 1]);
  }
  // The rows of the north/east/up matrices are of unit length, to far
  // better than this margin.
  st.screen = limits[0] * limits[0] * (1.0 - 1.0e-6);
  helm::Sweep sweep(st, rt::ChunkPool::shared());
  const helm::Residuals kinds[3] = {helm::Residuals::Statistics, helm::Residuals::Candidate,
                                    helm::Residuals::None};
  // The three sweeps with the normal equations, then the candidate alone
  // (the first sweep of every residual pass with rejection).
  double timed[4];
  for (int kind = 0; kind < 4; ++kind) {
    const bool normals = kind < 3;
    const helm::Residuals what = normals ? kinds[kind] : helm::Residuals::Candidate;
    sweep.run(point, normals, what);
    const auto begin = Clock::now();
    for (int rep = 0; rep < sweeps; ++rep) sweep.run(point, normals, what);
    timed[kind] = secondsSince(begin) / sweeps;
  }

  std::printf("stations %ld, outliers planted %ld, threads %d, chunks %zu\n", n, k, threads,
              sweep.chunks());
  std::printf("network made in             %9.3f s\n", madeIn);
  std::printf("estimator (HELMTR)          %9.3f s, %ld rejected, sigma0 %.2f mm\n", estimated,
              rejected, rmsTrn * 1000.0);
  std::printf("solution steps (at least)   %9ld, %.3f ms per step\n", steps,
              steps > 0 ? estimated * 1e3 / static_cast<double>(steps) : 0.0);
  const char* labels[4] = {"normals + statistics", "normals + candidate ", "normals alone       ",
                           "candidate alone     "};
  for (int kind = 0; kind < 4; ++kind) {
    std::printf("sweep, %s  %9.3f ms (%6.2f ns per station)\n", labels[kind],
                timed[kind] * 1e3, timed[kind] * 1e9 / static_cast<double>(n));
  }
  return 0;
}
