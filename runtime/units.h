// Logical units: unit numbers mapped to open files.
//
// Unit 5 is standard input and unit 6 standard output from the start (both
// can be redirected for tests). Every other unit is connected by openUnit.
// A file may also be connected to unit 5 or 6 in place of the console; once
// that file is closed the unit is the console again, and closing the console
// itself only flushes it. Reading unit 6 or writing unit 5 while they are the
// console is an error.
// A file is identified by what it is on disk, so "a/../b.txt" and "b.txt"
// name the same file. Trailing blanks of a file name are not part of it.
//
// Failures: openUnit and the *Iostat calls return a status (0 success).
// readRecord returns kIoEnd at end of file. Every other call that fails
// (a write to a full disk, a write to a unit that is not connected, a close
// or rewind that fails) throws IoFailure: an unchecked input/output failure.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

namespace rt {

enum class Disp { Keep, Delete };

struct OpenRequest {
  std::string status = "UNKNOWN";  // "OLD", "UNKNOWN", "NEW" or "SCRATCH" (upper case)
  bool formatted = true;
  bool readOnly = false;
};

// Connects `path` to `unit`. OLD: the file must exist; NEW: it must not;
// UNKNOWN: opened when it exists, created otherwise; SCRATCH: a new
// temporary file that is removed when the unit is closed (path ignored).
// The file is positioned at its start; the first write after the open, a
// rewind or a read cuts the file at the current position (sequential
// output). Without readOnly the file is opened for reading and writing; an
// existing file that may only be read is then opened for reading, and a
// write to it fails. Returns 0 or a positive status (an errno value). A
// unit that is already connected is closed first. Formatted and unformatted
// units both hold text records.
int openUnit(int unit, const std::string& path, const OpenRequest& req = {});

bool unitOpened(int unit);
// Name of the file connected to `unit` as it was given to openUnit; empty
// when the unit is not connected (units 5 and 6 have no name).
std::string unitName(int unit);

struct FileInquiry {
  bool exist = false;
  bool opened = false;
  int unit = -1;  // the unit to which the file is connected, -1 if none
};
FileInquiry inquireFile(const std::string& path);

// Close with keep or delete disposition; closing a unit that is not
// connected does nothing. closeUnit throws IoFailure when the close fails,
// closeUnitIostat returns the status instead.
void closeUnit(int unit, Disp disp = Disp::Keep);
int closeUnitIostat(int unit, Disp disp = Disp::Keep);

// The longest record that any layout reads: a line's characters after the
// first kMaxRecordLen are skipped without being held.
constexpr std::size_t kMaxRecordLen = 255;

// Reads the next record: the line without its line end, cut to its first
// kMaxRecordLen characters. A CR before the line end is dropped when the
// line is not longer than that. Returns 0, kIoEnd (-1) at end of file, or
// a positive status when the unit is not connected or not readable.
// `record` keeps its storage from one call to the next.
int readRecord(int unit, std::string& record);

// As readRecord, with the record left in the unit's own buffer: `record`
// is valid until the next operation on the unit.
int readRecordView(int unit, std::string_view& record);

// Writes one record and its line end.
void writeRecord(int unit, std::string_view record);

// Positions the file at its start; no effect on the console or on a unit
// that is not connected.
void rewindUnit(int unit);

// Flushes every connected unit and the console.
void flushAll();

// Redirection of the console for tests: nullptr restores std::cout / std::cin.
void setConsoleOutput(std::ostream* out);
void setConsoleInput(std::istream* in);

// Closes every unit without checks (between in-process tests).
void resetUnits();

}  // namespace rt
