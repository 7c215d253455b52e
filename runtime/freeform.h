// Free-form (list-directed) reading and writing.
//
// Reading: values are separated by blanks, tabs or one comma; two commas in a
// row give an empty value that leaves the target unchanged; a slash ends the
// list and leaves the remaining targets unchanged; a line that ends before
// every target has a value (and without a slash) is a failed read; a text may
// be quoted with apostrophes or double quotes and then holds blanks (a
// doubled quote inside stands for one quote); an unquoted text ends at a
// blank, tab, comma or slash; a count and an asterisk before a value repeat
// it ("3*1.0"; "3*" alone gives three empty values); a real may use E or D in
// either case as the exponent letter, or a bare signed exponent right after
// the mantissa (1.5-3 reads as 1.5E-3); a value that cannot be converted is a
// conversion error. An integer target takes only an optional sign and
// digits ("1.5" is a conversion error); a quoted text for a number, a text
// going on after its closing quote and a count of 0 are conversion errors; a
// quoted text that the line ends inside counts as a line ending too early.
// Values beyond the last target, and repeats beyond it, are ignored.
//
// Writing: each record starts with one blank; an integer is written
// right-aligned in 12 columns, a text unchanged; one blank separates a value
// from the one before it, except between two texts; a value that would run
// past column 79 starts a new record (a longer value stands alone in its
// record). A real, which no message writes, is the shortest text that reads
// back as the same value, right-aligned in 24 columns.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/format.h"

namespace rt {

// A target of free-form reading: the same kinds as a fixed-field target.
using FreeTarget = FTarget;

struct FreeRead {
  int iostat = 0;          // 0 success, kIoEnd line ended too early, kIoConversion bad value
  std::vector<bool> set;   // per target: whether it received a value
  bool ok() const { return iostat == 0; }
};

FreeRead readFree(std::string_view line, const std::vector<FreeTarget>& targets);

// The records that free-form writing makes of the items (integers and texts).
std::vector<std::string> freeRecords(const FItems& items);

// Writes them to a unit.
void writeFree(int unit, const FItems& items);

// Free-form write into a text: the first record, without cutting or filling.
std::string freeText(const FItems& items);

}  // namespace rt
