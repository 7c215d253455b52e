// Station coordinate file writer with merge into an existing file.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Optional arguments of WTSTAT; a null pointer (or an empty optional, or
// false) is an argument not given.
struct t_wtstatOpt {
  const std::vector<int>* stanum = nullptr;          // station numbers; absent: numbered by output place
  std::optional<double> timCrd{};                    // epoch (MJD); given: coordinate form
  const std::vector<std::string>* plate = nullptr;   // plate names (first 4 characters)
  bool pltOnly = false;                              // velocity files in the plate-only form
  const std::vector<std::string>* footer = nullptr;  // lines after the station block
};

// Writes nStat stations as a station coordinate file sorted by name:
// coordinate form with timCrd, otherwise velocity or plate-only form.
// iWrite 0 writes the caller's stations only; 2 merges with the existing
// file (keyword COORD, or VELAPR without timCrd) keeping its values of
// stations in both; any other value merges and replaces them. A blank
// filePath receives the name of keyword COORDRS (VELORS without timCrd);
// no name: nothing is written. The file is written under a temporary name
// in its directory and replaces the target only once it is complete.
void WTSTAT(int iWrite, std::string& filePath, std::string_view fileTitle,
            std::string_view datumName, int nStat, const std::vector<std::string>& stname,
            const std::vector<std::array<double, 3>>& xstat, const std::vector<std::string>& staflg,
            const t_wtstatOpt& opt = {});
