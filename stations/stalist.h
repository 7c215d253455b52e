// Station lists: station selection and station sigma files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "frame/widths.h"
#include "stations/station.h"

// A list of station names, optionally with sigma columns per station.
struct t_stalist {
  std::string listTitle = std::string(kTitleLen, ' ');
  int nSta = 0;                                  // stations stored
  std::vector<t_staName> staNam;                 // entries 0..nSta-1 valid
  std::vector<std::vector<double>> sigma;        // sigma[i][k]: column k of station i (when asked for)
};

// Default initialisation: no stations, no arrays; the title is kept.
void STALINIT(t_stalist& staList);

// Reads a station selection or sigma file (old format without header, or
// new format with title, hyphen line and three header lines) into staList.
// nSig 0: names only; nSig > 0: that many sigma columns; nSig -1: the
// number of columns is derived from the file and returned. Every failure
// stops the run; a title or station line (or the line that would end the
// list) that holds a NUL byte stops it with a block that names the file
// and the line, counted from 1.
void READSTSG(std::string_view filePath, int& nSig, t_stalist& staList);
