// Check of the files that a run names by keywords, made before the run
// writes, empties or removes any file: no file may be named both for an
// output and for an input that the run still has to read when it first
// opens that output, nor for two outputs.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "frame/widths.h"

// A file that the run names by a keyword.
struct t_fileKey {
  std::string_view keyWord;
  bool output = false;    // written, emptied or removed by the run; otherwise read
  // Steps of the run, counted in its order: an input's last reading, an
  // output's first opening (emptying, removal). An input read at or after
  // the step of an output is read after that output has changed it.
  int step = 0;
  std::size_t len = kLineLen;  // length in which the run holds the name
  int share = 0;          // outputs with one non-zero value may be one file
};

// Stops the run with return code 2 when a file is named by an output and
// by an input that is read at or after the output's step, or by two
// outputs that do not share: one message block on the message unit for
// each such pair, naming both keywords and their file names. Each name is
// taken as the run takes it: the keyword's first value (GTFLNA) in its
// length, left-adjusted, its variables replaced (RPLENVAR) as the file
// opening replaces them; a missing or blank keyword names no file. Files
// are compared as rt::sameFile compares them. Nothing is written when no
// file is named twice.
void CKFLNA(std::span<const t_fileKey> keys);
