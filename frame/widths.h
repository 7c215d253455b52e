// The fixed widths of the suite's texts, in characters. Texts of these
// kinds are held blank-padded to their width; each name has one meaning.
#pragma once

#include <cstddef>

#include "runtime/units.h"

// A station name (columns 6-21 of a coordinate file's station line).
inline constexpr std::size_t kStationNameLen = 16;
// A geodetic datum name (columns 23-38 of a coordinate file's line 3, the
// first field of a datum file's entry).
inline constexpr std::size_t kDatumNameLen = 16;
// A keyword name of the keyword input file.
inline constexpr std::size_t kKeywordLen = 32;
// A title: the run title, a file's title line, the banner's texts.
inline constexpr std::size_t kTitleLen = 80;
// A line of a message or of the end-of-run report, cut to this width.
inline constexpr std::size_t kMessageLineLen = 80;
// A file name, a keyword value, a line read from an input file: the longest
// record that the units read.
inline constexpr std::size_t kLineLen = rt::kMaxRecordLen;
