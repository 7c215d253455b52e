SIGMA FILE
-----
Station name            Sigma1    Sigma2

short
ALPHA                   0.0010    0.0020
BRAVO                      1.x       0.1
