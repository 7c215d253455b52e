    1ALPHA             0.001  0.002  0.003
    2BRAVO
