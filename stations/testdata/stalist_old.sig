    1ALPHA             0.001  0.002  0.003
    2BRAVO             0.005
  x
    3CHARLIE          ******  0.000    1.5

    4DELTA
