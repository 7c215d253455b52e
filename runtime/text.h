// Fixed-length, blank-padded texts held in std::string.
#pragma once

#include <string>
#include <string_view>

namespace rt {

// Cut or blank-fill to exactly n characters.
std::string fit(std::string_view s, std::size_t n);

// Length without trailing blanks and NULs.
std::size_t trimLen(std::string_view s);

// The text without trailing blanks and NULs.
std::string trimRight(std::string_view s);

// True when the text is empty or all blanks (NULs count as blanks).
bool isBlank(std::string_view s);

// True when the text holds a NUL byte. No text of the run's files holds
// one: a reader stops the run on a text it takes that does (a NUL would be
// dropped from a name, or copied into the files the run writes).
inline bool hasNul(std::string_view s) { return s.find('\0') != std::string_view::npos; }

// Compare as blank-padded texts: the shorter is taken as filled with blanks.
bool eqPadded(std::string_view a, std::string_view b);

// Leading blanks (code 32 only) moved to the end; the length is kept.
std::string leftAdjust(std::string_view s);

// Letters a-z upper-cased; every other byte unchanged.
std::string upperAZ(std::string_view s);

// The `len` characters of a line from column `from` (counted from 0), as
// far as the line has them: columns past its end are left out (a reader
// takes them as blanks).
inline std::string_view columns(std::string_view line, std::size_t from, std::size_t len) {
  return from < line.size() ? line.substr(from, len) : std::string_view();
}

// Columns first..last of a line, counted from 1 as the layouts count them,
// as far as the line has them: columns past its end and before column 1 are
// left out; empty when last < first.
inline std::string_view columnRange(std::string_view line, long first, long last) {
  if (first < 1) first = 1;
  if (last < first) return {};
  return columns(line, static_cast<std::size_t>(first - 1),
                 static_cast<std::size_t>(last - first + 1));
}

}  // namespace rt
