SIGMA FILE
-----
Station name            Sigma1    Sigma2

short
ALPHA                   0.0010    0.0020
BRAVO                   ******       0.0
CHARLIE                              2.5

DELTA                      1.0       1.0
