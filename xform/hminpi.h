// Option reader of the Helmert transformation program.
#pragma once

#include <span>

#include "stations/station.h"

// Reads the options of the transformation from the keyword list and checks
// each of them (mode 1, caller "hminpi"):
// - station selection by file (RADIO_1: USESTA, OTHSTA "MARK" or "EXCLUDE")
//   or by table (RADIO_2: STASELECT, four columns: name, two unused
//   columns, flag blank, M/m or E/e), which gives every paired station its
//   handling code ITYP: 0 used, 1 marked, 2 excluded;
// - resTyp from RESIDTYPE (1 "NEU", 2 "XYZ"), resUnt from RESIDUNIT
//   (1 "M", 2 "MM");
// - iPar[0..6] from the check boxes HLM_1 to HLM_7 (translations X, Y, Z,
//   rotations about X, Y, Z, scale), iRej from REJECT;
// - rLimit[0..2] from NLIMIT, ELIMIT, ULIMIT, entered in millimetres and
//   returned in metres; a blank or zero limit means none (9.0e6 m).
// STANUM and STAFLG (2 per station) are accepted and not read. Returns only
// with valid options (errCount 0): after the last option the run stops with
// return code 2 when any check counted an error.
void HMINPI(int nStat, std::span<const t_staName> STNAME, std::span<const int> STANUM,
            std::span<const char> STAFLG, std::span<int> ITYP, int& resTyp, std::span<int> iPar,
            int& resUnt, int& iRej, std::span<double> rLimit, int& errCount);
