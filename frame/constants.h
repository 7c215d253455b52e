// Physical and mathematical constants, set when the constants are defined.
#pragma once

#include <array>

extern double pi;            // 4 * atan(1)
extern double degPerRad;     // 180 / pi
extern double arcsecPerRad;  // 3600 * 180 / pi
extern int constantsRead;    // 1 once the constants file was read to its end

// One variable per key of the constants file (all 0.0 at program start;
// reset to 0.0 and read again at every reading of the file). The arrays
// are indexed from 0: FREQ[0] holds the value of key FREQ1.
extern double C;                    // key C
extern std::array<double, 3> FREQ;  // keys FREQ1, FREQ2, FREQ5
extern double FREQP;                // key FREQP
extern double FREQG1;               // key FREQG1
extern double FREQG2;               // key FREQG2
extern double DFRQG1;               // key DFRQG1
extern double DFRQG2;               // key DFRQG2
extern double FREQGP;               // key FREQGP
extern std::array<double, 5> FRQE;  // keys FRQE1, FRQE5, FRQE5a, FRQE5b, FRQE6
extern std::array<double, 2> FRQS;  // keys FRQS1, FRQS5
extern std::array<double, 4> FRQC;  // keys FRQC1, FRQC2, FRQC5b, FRQC6
extern std::array<double, 4> FRQJ;  // keys FRQJ1, FRQJ2, FRQJ5, FRQJ6
extern double GM;                   // key GM
extern double GMS;                  // key GMS
extern double GMM;                  // key GMM
extern double AU;                   // key AU
extern double AE;                   // key AE
extern double J2;                   // key J2
extern double CONRE;                // key CONRE
extern double FACTEC;               // key FACTEC
extern double P0;                   // key P0
extern double OMEGA;                // key OMEGA
extern double ETUTC;                // key ET-UTC
extern double WGTPHA;               // key WGTPHA
extern double WGTCOD;               // key WGTCOD
extern double HREF;                 // key HREF
extern double PREF;                 // key PREF
extern double TREF;                 // key TREF
extern double HUMREF;               // key HUMREF

// Values derived at the end of the constants file, with wl1 = C / FREQ1 and
// wl2 = C / FREQ2: wl1, wl2, wl1*wl2/(wl2+wl1), wl1-wl2, wl1*wl2/(wl2-wl1).
extern std::array<double, 5> refWavelength;

// Per-satellite tables, slot k at index k-1; slots 1 to 100 are filled at
// the end of the constants file, the others stay 0.0.
constexpr int kSatSlots = 999;
constexpr int kSatSlotsFilled = 100;
extern std::array<std::array<double, 2>, kSatSlots> satFrequency;   // FREQ1, FREQ2 per slot
extern std::array<std::array<double, 5>, kSatSlots> satWavelength;  // refWavelength per slot
