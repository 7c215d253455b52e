// Physical and mathematical constants, set when the constants are defined.
#pragma once

extern double pi;            // 4 * atan(1)
extern double degPerRad;     // 180 / pi
extern double arcsecPerRad;  // 3600 * 180 / pi
extern int constantsRead;    // 1 once the constants file was read to its end
