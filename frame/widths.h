// The fixed widths of the suite's texts, in characters. Texts of these
// kinds are held blank-padded to their width; each name has one meaning.
#pragma once

#include <cstddef>

// A station name (columns 6-21 of a coordinate file's station line).
inline constexpr std::size_t kStationNameLen = 16;
// A keyword name of the keyword input file.
inline constexpr std::size_t kKeywordLen = 32;
// A title: the run title, a file's title line, the banner's texts.
inline constexpr std::size_t kTitleLen = 80;
// A file name, a keyword value, a line read from an input file.
inline constexpr std::size_t kLineLen = 255;
