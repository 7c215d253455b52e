// Check of the files that a run names by keywords, made before the run
// writes, empties or removes any file: no file may be named both for an
// output and for an input that the run still has to read when it first
// opens that output, nor for two outputs, and an output may replace an
// input already read only when both hold the same kind of content; every
// output must be one that the run may write.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "frame/widths.h"
#include "runtime/fileid.h"

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
  // What the file holds: an output may replace an input read before its
  // step only when both have one non-zero value (coordinates over
  // coordinates).
  int content = 0;
  // How an output is written: replaced as a result file, or made anew.
  rt::Writing writing = rt::Writing::Replace;
};

// Stops the run with return code 2, after one message block on the
// message unit for each fault, when
//  - an output names a file that the run may not write in its way
//    (rt::writeAccess): a directory on the way that does not exist or may
//    not be searched, a link that is not followed, a directory that takes
//    no new file, a file that may only be read, a directory: a block
//    naming the keyword and its file name;
//  - a file is named by an output and by an input that is read at or
//    after the output's step, or read before it but holding other content,
//    or by two outputs that do not share: a block naming both keywords and
//    their file names.
// Each name is taken as the run takes it: the keyword's first value
// (GTFLNA) in its length, left-adjusted, its variables replaced (RPLENVAR)
// as the file opening replaces them; a missing or blank keyword names no
// file. Names lead where rt::FilePlace::resolve leads them, and files are
// compared as rt::sameFile compares them. Nothing is written when every
// name passes.
void CKFLNA(std::span<const t_fileKey> keys);
