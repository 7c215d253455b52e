// File opening, inquiry and variable replacement.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "runtime/units.h"

// Opens filePath on lfn with status ("OLD", "UNKNOWN", "NEW", "SCRATCH" or
// blank), form ("FORMATTED", "UNFORMATTED", "BINARY" or blank) and action
// ("READONLY" or blank); iostat 0 when the file is open. A result file
// (role Result) is replaced whole when its unit is closed; the program
// output and the message file (role Output) are only written (rt::openUnit).
void OPNFIL(int lfn, std::string_view filePath, std::string_view status, std::string_view form,
            std::string_view action, std::string_view spare, int& iostat,
            rt::FileRole role = rt::FileRole::Ordinary);

// How an input file is read: Twice (counted first, then read), which only
// a regular file allows; Once, which a FIFO or a pipe allows as well.
enum class InputReading { Twice, Once };

// Stops the run with a block of routineName (" *** SR NAME: ...", the file
// named) when filePath, taken as OPNFIL takes it, is a file that exists and
// is not a regular file (a FIFO or pipe, a device, a socket), and for an
// input read Once when it is one of these but a FIFO or pipe: a device is
// never an input (one without end, such as /dev/zero, would be read for
// ever). The file is not opened (an open of a FIFO without writer would
// wait for one). Returns for a regular file and for a name that OPNFIL
// will not open either (a missing file, a directory), whose open failure
// OPNERR reports.
void CHKINPF(std::string_view filePath, std::string_view routineName,
             InputReading reading = InputReading::Twice);

// The name of the file that OPNFIL opens for filePath: left-adjusted, its
// variables replaced once the keyword list is read (silently: OPNFIL itself
// warns of a variable it cannot replace), without leading and trailing
// blanks. For a look at the file before it is opened.
std::string fileToOpen(std::string_view filePath);

// Inquiry by unit or by file name; every field optional.
struct InquireArgs {
  std::optional<int> unit = std::nullopt;
  std::optional<std::string> file = std::nullopt;
  std::string* name = nullptr;
  bool* exist = nullptr;
  bool* opened = nullptr;
  int* number = nullptr;
};
void INQUIRE(const InquireArgs& args);

void LEFTJS(std::string& string);
void UPPERC(std::string& string);

// Replaces variable references ("${NAME}", "$N") by values of ENVIRONMENT.
// iMode 0 silent, 1 warn, 2 stop at the first unresolved reference. The
// result is cut to kLineLen characters and keeps the length `string` has on entry.
void RPLENVAR(int iMode, std::string& string);

// Test hook: the next `opnfilFailFirst` open attempts made by OPNFIL fail
// (0, the start value: none fail).
extern int opnfilFailFirst;
