// Option reader of the Helmert transformation program.
#pragma once

#include <array>
#include <optional>
#include <span>

#include "stations/station.h"
#include "xform/helmcodes.h"

// Reads the options of the transformation from the keyword list and checks
// each of them (mode 1, caller "hminpi"):
// - station selection by file (RADIO_1: USESTA, OTHSTA "MARK" or "EXCLUDE")
//   or by table (RADIO_2: STASELECT, four columns: name, two unused
//   columns, flag blank, M/m or E/e), which gives every paired station its
//   handling code ITYP: used, marked or excluded (xform/helmcodes.h);
// - resTyp from RESIDTYPE (chosenResidualSystem), resUnt from RESIDUNIT
//   ("M" metres, "MM" millimetres), as the integers of xform/helmcodes.h;
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

// The residual system that keyword RESIDTYPE chooses, found without a word
// written: Local for its one value "NEU", Equatorial for "XYZ" (compared as
// the option check compares a choice: blank-padded, case and leading blanks
// significant); nothing for any other value, which HMINPI refuses. The one
// decision for the option reader and for the file-name check of the run.
std::optional<helm::ResidualSystem> chosenResidualSystem();

// The parameters that keywords HLM_1 to HLM_7 choose to estimate (1) or not
// (0), found without a word written, as CKOPTB_ITEM decides a check box. The
// one decision for the file-name check of the run; HMINPI checks and reads
// them with its messages.
std::array<int, 7> chosenParameters();
