#include "stations/algebra.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace {

using Mat = std::array<double, 9>;
using Vec = std::array<double, 3>;

// Builds a column-major matrix from its rows listed first to last.
Mat rows(double a11, double a12, double a13, double a21, double a22, double a23, double a31,
         double a32, double a33) {
  return {a11, a21, a31, a12, a22, a32, a13, a23, a33};
}

void expectMatNear(const Mat& got, const Mat& want, double tol) {
  for (int k = 0; k < 9; ++k) {
    EXPECT_NEAR(got[k], want[k], tol) << "element (" << k % 3 + 1 << ", " << k / 3 + 1 << ")";
  }
}

TEST(AxisRotation, MatchesTheFrameRotationOfEachAxis) {
  const double a = 0.3;
  const double c = std::cos(a), s = std::sin(a);
  const Mat want[3] = {rows(1, 0, 0, 0, c, s, 0, -s, c), rows(c, 0, -s, 0, 1, 0, s, 0, c),
                       rows(c, s, 0, -s, c, 0, 0, 0, 1)};
  for (int axis = 1; axis <= 3; ++axis) {
    Mat r{};
    ROTAXM(axis, a, r.data());
    expectMatNear(r, want[axis - 1], 0.0);
    ROTAXM(axis, 0.0, r.data());
    expectMatNear(r, rows(1, 0, 0, 0, 1, 0, 0, 0, 1), 0.0);
  }
}

TEST(AxisRotation, FixedPointTurnsTheOtherWay) {
  // Turning the axes by +90 degrees about Z moves the X axis point to -Y.
  Mat r{};
  ROTAXM(3, 2.0 * std::atan(1.0), r.data());
  Vec v = {1.0, 0.0, 0.0};
  MVEC33(v.data(), r.data(), v.data());
  EXPECT_NEAR(v[0], 0.0, 1e-16);
  EXPECT_NEAR(v[1], -1.0, 1e-16);
  EXPECT_NEAR(v[2], 0.0, 1e-16);
}

TEST(AxisRotation, DerivativeAtZeroAndAgainstDifferenceQuotient) {
  const Mat atZero[3] = {rows(0, 0, 0, 0, 0, 1, 0, -1, 0), rows(0, 0, -1, 0, 0, 0, 1, 0, 0),
                         rows(0, 1, 0, -1, 0, 0, 0, 0, 0)};
  const double a = -0.7, h = 1e-6;
  for (int axis = 1; axis <= 3; ++axis) {
    Mat d{};
    ROTAXD(axis, 0.0, d.data());
    expectMatNear(d, atZero[axis - 1], 0.0);

    Mat plus{}, minus{}, quotient{};
    ROTAXM(axis, a + h, plus.data());
    ROTAXM(axis, a - h, minus.data());
    for (int k = 0; k < 9; ++k) quotient[k] = (plus[k] - minus[k]) / (2 * h);
    ROTAXD(axis, a, d.data());
    expectMatNear(d, quotient, 1e-9);
  }
}

TEST(MatrixProduct, ExactProductAndInverseRotation) {
  const Mat a = rows(1, 2, 3, 4, 5, 6, 7, 8, 10);
  const Mat b = rows(2, 0, 1, -1, 3, 0, 0, 1, -2);
  const Mat want = rows(0, 9, -5, 3, 21, -8, 6, 34, -13);
  Mat c{};
  MMUL33(a.data(), b.data(), c.data());
  expectMatNear(c, want, 0.0);

  Mat r{}, rInv{}, prod{};
  ROTAXM(3, 0.8, r.data());
  ROTAXM(3, -0.8, rInv.data());
  MMUL33(r.data(), rInv.data(), prod.data());
  expectMatNear(prod, rows(1, 0, 0, 0, 1, 0, 0, 0, 1), 1e-16);
}

TEST(MatrixProduct, OutputMayBeEitherInput) {
  const Mat a = rows(1, 2, 3, 4, 5, 6, 7, 8, 10);
  const Mat b = rows(2, 0, 1, -1, 3, 0, 0, 1, -2);
  const Mat want = rows(0, 9, -5, 3, 21, -8, 6, 34, -13);
  Mat a1 = a;
  MMUL33(a1.data(), b.data(), a1.data());
  expectMatNear(a1, want, 0.0);
  Mat b1 = b;
  MMUL33(a.data(), b1.data(), b1.data());
  expectMatNear(b1, want, 0.0);
}

TEST(MatrixVector, ProductAndTransposedProductInPlace) {
  const Mat m = rows(1, 2, 3, 4, 5, 6, 7, 8, 10);
  Vec v = {1.0, -1.0, 2.0};
  Vec res{};
  MVEC33(v.data(), m.data(), res.data());
  EXPECT_EQ(res, (Vec{5.0, 11.0, 19.0}));
  MVEC33(v.data(), m.data(), v.data());
  EXPECT_EQ(v, (Vec{5.0, 11.0, 19.0}));

  Vec w = {1.0, -1.0, 2.0};
  MTVEC3(w.data(), m.data(), res.data());
  EXPECT_EQ(res, (Vec{11.0, 13.0, 17.0}));
  MTVEC3(w.data(), m.data(), w.data());
  EXPECT_EQ(w, (Vec{11.0, 13.0, 17.0}));
}

TEST(MatrixScale, ElementByElementInPlace) {
  Mat m = rows(1, 2, 3, 4, 5, 6, 7, 8, 10);
  MSCAL33(m.data(), -0.5, m.data());
  expectMatNear(m, rows(-0.5, -1, -1.5, -2, -2.5, -3, -3.5, -4, -5), 0.0);
}

TEST(CrossProduct, BasisVectorsAndParallelVectors) {
  const Vec x = {1, 0, 0}, y = {0, 1, 0};
  Vec w{};
  CROSS3(x.data(), y.data(), w.data());
  EXPECT_EQ(w, (Vec{0, 0, 1}));
  CROSS3(y.data(), x.data(), w.data());
  EXPECT_EQ(w, (Vec{0, 0, -1}));
  const Vec u = {1, -2, 3}, v = {2, 3, 4};
  CROSS3(u.data(), v.data(), w.data());
  EXPECT_EQ(w, (Vec{-17, 2, 7}));
  const Vec p = {2, -4, 6};
  CROSS3(u.data(), p.data(), w.data());
  EXPECT_EQ(w, (Vec{0, 0, 0}));
}

TEST(DotAndNorms, ValuesAndZeroVector) {
  const Vec x = {3, 4, 12}, y = {1, 2, 2};
  double dot = -1, nx = -1, ny = -1;
  DOTNRM(x.data(), y.data(), dot, nx, ny);
  EXPECT_EQ(dot, 35.0);
  EXPECT_EQ(nx, 13.0);
  EXPECT_EQ(ny, 3.0);
  const Vec zero = {0, 0, 0};
  DOTNRM(zero.data(), y.data(), dot, nx, ny);
  EXPECT_EQ(dot, 0.0);
  EXPECT_EQ(nx, 0.0);
  EXPECT_EQ(ny, 3.0);
}

}  // namespace
