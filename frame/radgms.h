// Angle and time-of-day splitting.
#pragma once

void RADGMS(int mode, double angle, char& signChr, int& iDeg, int& iMin, double& sec);
