// In-place inversion of a square matrix by Gauss-Jordan elimination with
// complete pivoting.
#pragma once

// mat: n by n values stored column by column (element (i, j), counted from
// 1, at index (j - 1) * n + (i - 1)). rowPiv and colPiv: work arrays of at
// least n integers. On return regFlag is 1.0 and mat holds the inverse, or
// regFlag is 0.0 when an exactly zero pivot stopped the elimination (mat is
// then partly transformed). Only an exactly zero pivot is detected.
void GJINV(double* mat, int n, double& regFlag, int* rowPiv, int* colPiv);
