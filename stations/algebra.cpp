// Fixed-size 3x3 algebra in double precision.
#include "stations/algebra.h"

#include <cmath>

namespace {

// Element (i, j), rows and columns counted from 1, of a column-major 3x3 matrix.
inline double& at(double* m, int i, int j) { return m[3 * (j - 1) + (i - 1)]; }
inline double at(const double* m, int i, int j) { return m[3 * (j - 1) + (i - 1)]; }

// Sets the rows listed first to last (r11, r12, r13, r21, ...).
void fillRows(double* m, double r11, double r12, double r13, double r21, double r22, double r23,
              double r31, double r32, double r33) {
  at(m, 1, 1) = r11;
  at(m, 1, 2) = r12;
  at(m, 1, 3) = r13;
  at(m, 2, 1) = r21;
  at(m, 2, 2) = r22;
  at(m, 2, 3) = r23;
  at(m, 3, 1) = r31;
  at(m, 3, 2) = r32;
  at(m, 3, 3) = r33;
}

void clearRowAndColumn(double* m, int k) {
  for (int n = 1; n <= 3; ++n) {
    at(m, k, n) = 0.0;
    at(m, n, k) = 0.0;
  }
}

}  // namespace

void ROTAXM(int axis, double angle, double* rot) {
  const double s = std::sin(angle);
  const double c = std::cos(angle);
  fillRows(rot, c, s, -s, -s, c, s, s, -s, c);
  clearRowAndColumn(rot, axis);
  at(rot, axis, axis) = 1.0;
}

void ROTAXD(int axis, double angle, double* drot) {
  const double s = std::sin(angle);
  const double c = std::cos(angle);
  fillRows(drot, -s, c, -c, -c, -s, c, c, -c, -s);
  clearRowAndColumn(drot, axis);
}

void MMUL33(const double* matA, const double* matB, double* matC) {
  double work[9];
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 3; ++j) {
      double sum = 0.0;
      for (int n = 1; n <= 3; ++n) sum += at(matA, i, n) * at(matB, n, j);
      at(work, i, j) = sum;
    }
  }
  for (int k = 0; k < 9; ++k) matC[k] = work[k];
}

void MSCAL33(const double* mat, double scal, double* res) {
  for (int k = 0; k < 9; ++k) res[k] = mat[k] * scal;
}

void CROSS3(const double* u, const double* v, double* w) {
  w[0] = u[1] * v[2] - u[2] * v[1];
  w[1] = u[2] * v[0] - u[0] * v[2];
  w[2] = u[0] * v[1] - u[1] * v[0];
}

void DOTNRM(const double* x, const double* y, double& dot, double& normX, double& normY) {
  normX = std::sqrt((x[0] * x[0] + x[1] * x[1]) + x[2] * x[2]);
  normY = std::sqrt((y[0] * y[0] + y[1] * y[1]) + y[2] * y[2]);
  dot = (x[0] * y[0] + x[1] * y[1]) + x[2] * y[2];
}
