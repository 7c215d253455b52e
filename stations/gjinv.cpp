// In-place Gauss-Jordan inversion with complete pivoting.
#include "stations/gjinv.h"

#include <cmath>

void GJINV(double* mat, int n, double& regFlag, int* rowPiv, int* colPiv) {
  // Element (i, j), counted from 1.
  auto a = [mat, n](int i, int j) -> double& { return mat[(j - 1) * n + (i - 1)]; };
  // Row p takes row q, row q takes the negated old row p (likewise columns).
  auto exchangeRows = [&a, n](int p, int q) {
    for (int j = 1; j <= n; ++j) {
      const double old = a(p, j);
      a(p, j) = a(q, j);
      a(q, j) = -old;
    }
  };
  auto exchangeColumns = [&a, n](int p, int q) {
    for (int i = 1; i <= n; ++i) {
      const double old = a(i, p);
      a(i, p) = a(i, q);
      a(i, q) = -old;
    }
  };

  regFlag = 1.0;
  for (int k = 1; k <= n; ++k) {
    // Pivot search, column by column; of equal magnitudes the first stays.
    int r = k;
    int c = k;
    double big = a(k, k);
    for (int j = k; j <= n; ++j) {
      for (int i = k; i <= n; ++i) {
        if (std::fabs(a(i, j)) > std::fabs(big)) {
          big = a(i, j);
          r = i;
          c = j;
        }
      }
    }
    rowPiv[k - 1] = r;
    colPiv[k - 1] = c;
    if (r > k) exchangeRows(k, r);
    if (c > k) exchangeColumns(k, c);

    if (big == 0.0) {
      regFlag = 0.0;
      return;
    }

    for (int i = 1; i <= n; ++i) {
      if (i != k) a(i, k) = a(i, k) / (-big);
    }
    for (int i = 1; i <= n; ++i) {
      if (i == k) continue;
      for (int j = 1; j <= n; ++j) {
        if (j != k) a(i, j) = a(i, k) * a(k, j) + a(i, j);
      }
    }
    for (int j = 1; j <= n; ++j) {
      if (j != k) a(k, j) = a(k, j) / big;
    }
    a(k, k) = 1.0 / big;
  }

  // Undo the interchanges: a row interchange as a column interchange (column
  // k takes the negated column r, column r the old column k) and a column
  // interchange as a row interchange.
  for (int k = n - 1; k >= 1; --k) {
    const int r = rowPiv[k - 1];
    if (r > k) exchangeColumns(r, k);
    const int c = colPiv[k - 1];
    if (c > k) exchangeRows(c, k);
  }
}
