// Station coordinate file reader.
//
// The file: line 1 title, line 2 hyphens, line 3 datum name (columns 23-38)
// and epoch (48-66), lines 4-6 header, then one station line per station
// (number 1-3, name 6-21, X/Y/Z or velocities 22-66, flags 71-75, plate
// 76-79) up to the first line whose columns 6-22 are blank, then a footer.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "stations/station.h"

// Optional outputs of GETCO3; a null pointer is an output not asked for
// (neither allocated nor filled). Each array has one element per line of
// the station block, the caller uses the first nStat of them.
struct t_getco3Opt {
  std::string* fileTitle = nullptr;                    // kTitleLen characters, line 1
  std::string* datumName = nullptr;                    // kDatumNameLen characters, line 3
  double* timCrd = nullptr;                            // epoch (MJD), 0.0 when blank
  std::vector<int>* stanum = nullptr;                  // station numbers
  std::vector<std::array<double, 3>>* xstat = nullptr; // X, Y, Z (m) or velocities (m/year); see GETCO3
  std::vector<char>* staflg = nullptr;                 // station flag, column 71
  std::vector<t_staFlg5>* staflg5 = nullptr;           // flag characters, columns 71-75
  std::vector<t_plateName>* plate = nullptr;               // plate names, columns 76-79
  std::vector<std::string>* footer = nullptr;          // the line ending the station block and all after it
  std::size_t footerLen = kLineLen;                         // length of each footer line
};

// Reads a station coordinate, velocity or plate file. flags[0..nFlag-1]
// select the stations by their flag (column 71): "@" every station, "#" a
// non-blank flag, any other character an equal flag. nStat receives the
// number of stations taken, stname their names (kStationNameLen characters). Every
// failure stops the run; a taken station line whose number or values
// cannot be read, or that holds a NUL byte anywhere, stops it with the
// data-line block, which names the first such line in file order.
// The file carries values when its first station line (line 7) has a "."
// in column 31 or 32. A caller that asks for the values (xstat) needs
// them: a file with stations whose line 7 carries none stops the run with
// the data-line block for line 1 (the file's first station line), whether
// or not its station is taken; a caller that does not ask reads such a
// file (the plate-only form) as any other. A title or datum name asked
// for that holds a NUL byte stops the run with the header block.
void GETCO3(std::string_view filePath, int nFlag, const std::vector<std::string>& flags, int& nStat,
            std::vector<t_staName>& stname, const t_getco3Opt& opt = {});

// The flag rule of the station files: true when `flag` (column 71 of a
// station line) is accepted by flags[0..nFlag-1], "@" taking every station,
// "#" every station with a non-blank flag and any other character an equal
// flag. With nFlag below 1 nothing is accepted.
bool flagSelected(int nFlag, const std::vector<std::string>& flags, char flag);
