// The synthetic network of the benchmarks: N stations spread over the
// globe (or over a region of some 15 by 23 degrees) on the GRS80 ellipsoid
// (first set), the same stations moved by a known seven-parameter
// transformation with millimetre noise (second set), and K outliers of
// 0.1 m to 2 m planted in the second set, spread evenly over the network.
// The same N and K always give the same stations.
#pragma once

#include <cmath>
#include <cstdint>

namespace bench {

// A fixed pseudo-random sequence (64-bit linear congruential generator).
struct Sequence {
  std::uint64_t state;
  double uniform() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * (1.0 / 9007199254740992.0);
  }
  double normal() {
    const double u1 = uniform() + 1e-300;
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }
};

// The stations of the network, one after the other.
class Network {
 public:
  Network(long n, long k, bool regional = false)
      : k_(k), step_(k > 0 ? n / k : n + 1), regional_(regional) {}

  // The next station (station i, counted from 0, on the i-th call): its
  // position in the first set and in the second.
  void next(double* x1, double* x2) {
    // GRS80 and the transformation from the first set into the second:
    // X2 = t + (1 + s) R X1 with small rotations.
    constexpr double a = 6378137.0;
    constexpr double f = 1.0 / 298.257222101;
    constexpr double e2 = f * (2.0 - f);
    constexpr double mas = 4.84813681109536e-9;
    constexpr double t[3] = {0.046, -0.827, 1.235};
    constexpr double r[3] = {1.3 * mas, -3.4 * mas, 2.1 * mas};
    constexpr double s = -4.7e-9;

    const long i = i_++;
    const double u = seq_.uniform();
    const double w = seq_.uniform();
    const double lat = regional_ ? 0.7 + 0.25 * u : std::asin(2.0 * u - 1.0);
    const double lon = regional_ ? 0.1 + 0.4 * w : 6.283185307179586 * w - 3.141592653589793;
    const double h = 3000.0 * seq_.uniform();
    const double sl = std::sin(lat), cl = std::cos(lat);
    const double nrad = a / std::sqrt(1.0 - e2 * sl * sl);
    x1[0] = (nrad + h) * cl * std::cos(lon);
    x1[1] = (nrad + h) * cl * std::sin(lon);
    x1[2] = (nrad * (1.0 - e2) + h) * sl;
    x2[0] = t[0] + (1.0 + s) * (x1[0] + r[2] * x1[1] - r[1] * x1[2]);
    x2[1] = t[1] + (1.0 + s) * (-r[2] * x1[0] + x1[1] + r[0] * x1[2]);
    x2[2] = t[2] + (1.0 + s) * (r[1] * x1[0] - r[0] * x1[1] + x1[2]);
    for (int c = 0; c < 3; ++c) x2[c] += 0.002 * seq_.normal();
    if (k_ > 0 && i % step_ == step_ / 2 && i / step_ < k_) {
      // An outlier of 0.1 m to 2 m in a random direction.
      const double size = 0.1 + 1.9 * seq_.uniform();
      const double d[3] = {seq_.normal(), seq_.normal(), seq_.normal()};
      const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      for (int c = 0; c < 3; ++c) x2[c] += size * d[c] / len;
    }
  }

 private:
  long k_;
  long step_;  // outliers: one in the middle of every step_ stations
  bool regional_;
  long i_ = 0;
  Sequence seq_{12345};
};

}  // namespace bench
