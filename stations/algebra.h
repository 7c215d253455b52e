// Fixed-size 3x3 algebra in double precision.
//
// Vectors hold 3 values; matrices 3 by 3 values stored column by column, so
// element (i, j) (rows and columns counted from 1) is at index
// 3 * (j - 1) + (i - 1). The axis rotations are frame rotations:
//   R1(a) = [[1, 0, 0], [0, c, s], [0, -s, c]]
//   R2(a) = [[c, 0, -s], [0, 1, 0], [s, 0, c]]
//   R3(a) = [[c, s, 0], [-s, c, 0], [0, 0, 1]]
// Every routine is re-entrant: the products build their result in local
// work storage, so a result may overwrite an operand. The matrix-vector
// products are inline, for the per-station loops of the estimator.
#pragma once

// rot := Rk(angle), k = axis (1, 2 or 3).
void ROTAXM(int axis, double angle, double* rot);

// drot := derivative of Rk with respect to the angle (row and column k zero).
void ROTAXD(int axis, double angle, double* drot);

// matC := matA * matB; matC may be matA or matB.
void MMUL33(const double* matA, const double* matB, double* matC);

// res := mat * vec; res may be vec. Each element is summed from 0.0 over
// the three products in column order.
[[gnu::always_inline]] inline void MVEC33(const double* vec, const double* mat, double* res) {
  const double v0 = vec[0], v1 = vec[1], v2 = vec[2];
  const double r0 = ((0.0 + mat[0] * v0) + mat[3] * v1) + mat[6] * v2;
  const double r1 = ((0.0 + mat[1] * v0) + mat[4] * v1) + mat[7] * v2;
  const double r2 = ((0.0 + mat[2] * v0) + mat[5] * v1) + mat[8] * v2;
  res[0] = r0;
  res[1] = r1;
  res[2] = r2;
}

// res := transpose(mat) * vec; res may be vec. Summed like MVEC33.
[[gnu::always_inline]] inline void MTVEC3(const double* vec, const double* mat, double* res) {
  const double v0 = vec[0], v1 = vec[1], v2 = vec[2];
  const double r0 = ((0.0 + mat[0] * v0) + mat[1] * v1) + mat[2] * v2;
  const double r1 = ((0.0 + mat[3] * v0) + mat[4] * v1) + mat[5] * v2;
  const double r2 = ((0.0 + mat[6] * v0) + mat[7] * v1) + mat[8] * v2;
  res[0] = r0;
  res[1] = r1;
  res[2] = r2;
}

// res := scal * mat, element by element; res may be mat.
void MSCAL33(const double* mat, double scal, double* res);

// w := u x v; w must not be u or v.
void CROSS3(const double* u, const double* v, double* w);

// dot := x . y, normX := |x|, normY := |y|.
void DOTNRM(const double* x, const double* y, double& dot, double& normX, double& normY);
