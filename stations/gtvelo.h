// Station velocities and epoch propagation.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "stations/station.h"

// Gives every station of the list a velocity (m/year): from the velocity
// file named by keyWord (entries matched by name, selected by their flag
// with the rule of GETCO3), or, when keyWord is blank, from the velocity
// file of FIXVEL or else from the plate model (iModel 0 PLTMOV, otherwise
// PLTMV2) with the plate file of VELTRN. XVEL, VELFLG and VFOUND hold at
// least nStat entries (they are enlarged when shorter). irc 0 when a
// velocity or plate file is named, 1 when none is.
void GTVELO(std::string_view keyWord, int iModel, int nFlag, const std::vector<std::string>& flags,
            int nStat, const std::vector<std::array<double, 3>>& xstat,
            const std::vector<t_staName>& stname, std::vector<std::array<double, 3>>& XVEL,
            std::vector<char>& VELFLG, std::vector<bool>& VFOUND, int& irc);

// Moves the stations with a velocity (VFOUND) from epochRef to epochIn
// (MJD). Both epochs 0.0 only warn; exactly one of them 0.0 stops the run.
void CRDVEL(int nStat, std::vector<std::array<double, 3>>& xstat,
            const std::vector<std::array<double, 3>>& XVEL, const std::vector<bool>& VFOUND,
            double epochIn, double epochRef);
