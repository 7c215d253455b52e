// Station coordinate file writer with merge into an existing file.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "stations/station.h"

// Optional arguments of WTSTAT; a null pointer (or an empty optional, or
// false) is an argument not given.
struct t_wtstatOpt {
  const std::vector<int>* stanum = nullptr;          // station numbers; absent: numbered by output place
  std::optional<double> timCrd{};                    // epoch (MJD); given: coordinate form
  const std::vector<t_plateName>* plate = nullptr;       // plate names
  bool pltOnly = false;                              // velocity files in the plate-only form
  const std::vector<std::string>* footer = nullptr;  // lines after the station block
  std::size_t flagLen = 1;                           // characters per station in staflg
};

// Writes nStat stations as a station coordinate file sorted by name:
// coordinate form with timCrd, otherwise velocity or plate-only form.
// Station j has its name stname[j], its values xstat[j] and its flag in
// staflg[j*flagLen .. j*flagLen+flagLen-1] (left-adjusted and cut or filled
// to five characters on writing).
// iWrite 0 writes the caller's stations only; 2 merges with the existing
// file (keyword COORD, or VELAPR without timCrd) keeping its values of
// stations in both; any other value merges and replaces them. A blank
// filePath receives the name of keyword COORDRS (VELORS without timCrd);
// no name: nothing is written. The file is written under a temporary name
// in its directory and replaces the target only once it is complete.
void WTSTAT(int iWrite, std::string& filePath, std::string_view fileTitle,
            std::string_view datumName, int nStat, std::span<const t_staName> stname,
            std::span<const std::array<double, 3>> xstat, std::span<const char> staflg,
            const t_wtstatOpt& opt = {});
