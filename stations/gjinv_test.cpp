#include "stations/gjinv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Column-major n by n matrix from rows listed first to last.
std::vector<double> fromRows(int n, std::initializer_list<double> r) {
  std::vector<double> v(r);
  std::vector<double> m(v.size());
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) m[j * n + i] = v[i * n + j];
  }
  return m;
}

double invert(std::vector<double>& m, int n) {
  std::vector<int> rowPiv(n > 0 ? n : 1, -7), colPiv(n > 0 ? n : 1, -7);
  double flag = -1.0;
  GJINV(m.data(), n, flag, rowPiv.data(), colPiv.data());
  return flag;
}

TEST(GaussJordanInverse, IdentityAndDiagonal) {
  auto m = fromRows(3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
  EXPECT_EQ(invert(m, 3), 1.0);
  EXPECT_EQ(m, fromRows(3, {1, 0, 0, 0, 1, 0, 0, 0, 1}));

  auto d = fromRows(3, {2, 0, 0, 0, -4, 0, 0, 0, 0.5});
  EXPECT_EQ(invert(d, 3), 1.0);
  EXPECT_EQ(d, fromRows(3, {0.5, 0, 0, 0, -0.25, 0, 0, 0, 2}));
}

TEST(GaussJordanInverse, LargestElementOffTheDiagonal) {
  auto m = fromRows(2, {0, 2, 3, 0});
  EXPECT_EQ(invert(m, 2), 1.0);
  const auto want = fromRows(2, {0, 1.0 / 3.0, 0.5, 0});
  for (int k = 0; k < 4; ++k) EXPECT_DOUBLE_EQ(m[k], want[k]) << k;
}

TEST(GaussJordanInverse, GeneralMatricesWithRowAndColumnInterchanges) {
  // Products with the original matrix give the identity.
  const std::vector<std::vector<double>> cases = {
      fromRows(3, {1, 2, 3, 4, 5, 6, 7, 8, 10}),
      fromRows(4, {0.5, -3, 1, 2, 7, 1, 0, -1, 2, 2, 9, 0.25, -4, 0, 3, 1}),
      fromRows(7, {4, 1, 0, 2, 0, 1, 3, 1, 5, 1, 0, 2, 0, 1, 0, 1, 6, 1, 0, 2, 0, 2, 0, 1, 7,
                   1, 0, 2, 0, 2, 0, 1, 8, 1, 0, 1, 0, 2, 0, 1, 9, 1, 3, 1, 0, 2, 0, 1, 10}),
  };
  for (const auto& a : cases) {
    const int n = static_cast<int>(std::lround(std::sqrt(static_cast<double>(a.size()))));
    auto inv = a;
    ASSERT_EQ(invert(inv, n), 1.0);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        double s = 0.0;
        for (int k = 0; k < n; ++k) s += a[k * n + i] * inv[j * n + k];
        EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-13) << "n " << n << " (" << i << "," << j << ")";
      }
    }
  }
}

TEST(GaussJordanInverse, ExactlyZeroPivotGivesFlagZero) {
  // A zero on the diagonal: the remaining submatrix is all zero at step 3.
  auto d = fromRows(3, {2, 0, 0, 0, 0, 0, 0, 0, 5});
  EXPECT_EQ(invert(d, 3), 0.0);
  // Dependent rows.
  auto s = fromRows(2, {1, 2, 2, 4});
  EXPECT_EQ(invert(s, 2), 0.0);
  auto z = fromRows(3, {0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(invert(z, 3), 0.0);
}

TEST(GaussJordanInverse, OneAndZeroDimensions) {
  std::vector<double> one = {4.0};
  EXPECT_EQ(invert(one, 1), 1.0);
  EXPECT_EQ(one[0], 0.25);
  std::vector<double> zero = {0.0};
  EXPECT_EQ(invert(zero, 1), 0.0);
  std::vector<double> untouched = {9.0};
  EXPECT_EQ(invert(untouched, 0), 1.0);
  EXPECT_EQ(untouched[0], 9.0);
}

}  // namespace
